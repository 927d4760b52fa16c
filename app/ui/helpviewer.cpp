#include "ui/helpviewer.h"

#include "ui/dialogs.h"

#include <QFile>
#include <QPointer>
#include <QTextBrowser>

#ifndef OMAIL_VERSION
#define OMAIL_VERSION "0"
#endif

namespace ui {
namespace {

constexpr const char* kHelpResource = ":/help/mail.md";
constexpr const char* kHelpCaption = "orrindel mail help";
constexpr int kHelpWidth = 600;
constexpr int kHelpHeight = 520;

QPointer<QTextBrowser> g_viewer;

}  // namespace

QString helpDocument() {
    QFile file(kHelpResource);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

void showHelp() {
    if (!g_viewer) {
        g_viewer = new QTextBrowser;
        g_viewer->setObjectName("helpviewer");
        g_viewer->setAttribute(Qt::WA_DeleteOnClose);
        g_viewer->setWindowTitle(kHelpCaption);
        g_viewer->setOpenLinks(true);
        g_viewer->setMarkdown(helpDocument());
        g_viewer->resize(kHelpWidth, kHelpHeight);
    }
    g_viewer->show();
    g_viewer->raise();
    g_viewer->activateWindow();
}

void closeHelp() {
    if (g_viewer) g_viewer->close();
}

bool helpShown() { return g_viewer && g_viewer->isVisible(); }

QString aboutText() {
    return QString("orrindel mail\nversion %1\n\nmail and news for one person on one machine").arg(OMAIL_VERSION);
}

void aboutBox(QWidget* parent) { informationBox(parent, aboutText()); }

}  // namespace ui
