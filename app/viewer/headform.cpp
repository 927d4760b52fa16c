#include "viewer/headform.h"

#include "settings/gen.h"
#include "ui/dialogs.h"
#include "ui/waitcursor.h"
#include "viewer/bodytext.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace {

const char* const kCaptions[] = {"view item header", "edit item header", "edit signature", "edit item body"};
constexpr int kWidth = 560;
constexpr int kHeight = 360;

// A retrieved item's header file begins with the server's reply line;
// composed items begin with "To:" or "Newsgroups:".
void dropReplyLine(QString& text) {
    if (text.isEmpty() || text.startsWith('T') || text.startsWith('N')) return;
    qsizetype end = text.indexOf('\n');
    text = end < 0 ? QString() : text.mid(end + 1);
}

}  // namespace

Theadform::Theadform(const omail::GeneralSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setObjectName("headform");
    auto* layout = new QVBoxLayout(this);
    memo = new QPlainTextEdit(this);
    memo->setObjectName("memo");
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(memo, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    okbtn = new QPushButton("ok", this);
    okbtn->setObjectName("okbtn");
    cancelbtn = new QPushButton("exit", this);
    cancelbtn->setObjectName("cancelbtn");
    buttons->addWidget(okbtn);
    buttons->addWidget(cancelbtn);
    layout->addLayout(buttons);
    connect(okbtn, &QPushButton::clicked, this, &Theadform::okbtnClick);
    connect(cancelbtn, &QPushButton::clicked, this, [this] { done(ui::kResultCancel); });
    resize(kWidth, kHeight);
}

void Theadform::showEvent(QShowEvent* event) {
    ui::WaitCursor wait;
    QPalette p = memo->palette();
    p.setColor(QPalette::Base, colorFromSetting(m_settings.backcol));
    p.setColor(QPalette::Text, colorFromSetting(m_settings.normcol));
    memo->setPalette(p);
    QString text;
    QFile file(path);
    m_utf8 = true;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        text = viewer::textOfBytes(bytes);
        m_utf8 = text.toUtf8() == bytes;
        if (mode == ViewHeader) dropReplyLine(text);
    }
    text.replace("\r\n", "\n");
    memo->setPlainText(text);
    const int m = (mode >= ViewHeader && mode <= EditBody) ? mode : ViewHeader;
    setWindowTitle(kCaptions[m]);
    okbtn->setVisible(m != ViewHeader);
    cancelbtn->setText(m == ViewHeader ? "exit" : "cancel");
    memo->setReadOnly(m == ViewHeader);
    memo->setFocus();
    QDialog::showEvent(event);
}

// The file gets the pane's lines with CR LF breaks, through a temporary file
// so a failed write leaves the old one whole. An empty pane is a cancel.
void Theadform::okbtnClick() {
    QString text = memo->toPlainText();
    if (text.isEmpty()) {
        done(ui::kResultCancel);
        return;
    }
    if (!text.endsWith('\n')) text += '\n';
    text.replace('\n', "\r\n");
    QSaveFile file(path);
    // A file that was not UTF-8 was read as Latin-1: it is written back so,
    // unless a character was typed that Latin-1 cannot hold.
    bool latin = !m_utf8;
    for (QChar c : text) latin = latin && c.unicode() < 0x100;
    const QByteArray bytes = latin ? text.toLatin1() : text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ui::informationBox(this, "cannot save " + path);
        return;
    }
    done(ui::kResultOk);
}
