#include "ui/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>

namespace ui {
namespace {
std::function<void(const QString&)> g_informationHook;
std::function<int(const QString&)> g_questionHook;
std::function<int(const QString&, QString&)> g_entryHook;
std::function<int(QDialog&)> g_dialogHook;
}  // namespace

void informationBox(QWidget* parent, const QString& text) {
    if (g_informationHook) {
        g_informationHook(text);
        return;
    }
    QMessageBox::information(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

int questionBox(QWidget* parent, const QString& text) {
    if (g_questionHook) return g_questionHook(text);
    auto answer = QMessageBox::question(parent, QApplication::applicationName(), text,
                                        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes ? kResultOk : kResultCancel;
}

void setInformationHook(std::function<void(const QString&)> hook) { g_informationHook = std::move(hook); }
void setQuestionHook(std::function<int(const QString&)> hook) { g_questionHook = std::move(hook); }
void setEntryHook(std::function<int(const QString&, QString&)> hook) { g_entryHook = std::move(hook); }
void setDialogHook(std::function<int(QDialog&)> hook) { g_dialogHook = std::move(hook); }

int execDialog(QDialog& dialog) {
    const int result = g_dialogHook ? g_dialogHook(dialog) : dialog.exec();
    // Closing by the window frame counts as cancel.
    return result == kResultOk ? kResultOk : kResultCancel;
}

const std::function<int(const QString&)>& questionHook() { return g_questionHook; }
const std::function<int(const QString&, QString&)>& entryHook() { return g_entryHook; }

QHBoxLayout* okCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel) {
    auto* row = new QHBoxLayout;
    ok = new QPushButton("ok", dialog);
    ok->setObjectName("okbtn");
    ok->setDefault(true);
    cancel = new QPushButton("cancel", dialog);
    cancel->setObjectName("cancelbtn");
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    QObject::connect(cancel, &QPushButton::clicked, dialog, [dialog] { dialog->done(kResultCancel); });
    return row;
}

}  // namespace ui
