// Filling the compose window for its mode, and the files it reads and
// writes on the user's request: attachments, text files, templates.
#include "compose/mailform.h"

#include "main/mainhost.h"
#include "platform/fsys.h"
#include "store/torvakit.h"
#include "ui/dialogs.h"
#include "viewer/bodytext.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <QTextCursor>

namespace {

constexpr int kFieldLimit = 256;
constexpr const char* kTextFilter = "text files (*.txt);;all files (*)";
constexpr const char* kAllFilesFilter = "all files (*)";

// Bytes from a file or header: UTF-8 when they are, else ISO-8859-1 (the
// usual charset of older mail), so no byte is lost.
QString textOf(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (utf8.hasError()) text = QString::fromLatin1(bytes);
    return text;
}

// A value the store has decoded already (UTF-8), or a raw one.
QString headerText(const std::string& value) { return textOf(QByteArray::fromStdString(value)); }

bool readText(const QString& path, QString& text) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    text = textOf(file.readAll());
    return true;
}

// A text without its final line end, as a text pane shows it.
QString withoutFinalLineEnd(QString text) {
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    if (text.endsWith('\n')) text.chop(1);
    return text;
}

QString templateBodyPath(const QString& templatePath) {
    QString body = templatePath;
    if (!body.isEmpty()) body[body.size() - 1] = 'D';
    return body;
}

QString withTemplateExtension(const QString& path) {
    return QFileInfo(path).suffix().isEmpty() ? path + compose::kTemplateExtension : path;
}

// The whole Newsgroups value of an item's header, or empty.
std::string newsgroupsOf(const std::string& bodyPath) {
    QString header = QString::fromStdString(bodyPath);
    if (header.isEmpty()) return {};
    header[header.size() - 1] = 'h';
    QFile file(QString::fromStdString(platform::resolvePath(header.toStdString())));
    if (!file.open(QIODevice::ReadOnly)) return {};
    while (!file.atEnd()) {
        std::string line = file.readLine().toStdString();
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (int n = torvakit::headercompare(line, "Newsgroups:")) {
            std::string value = line.substr(static_cast<size_t>(n));
            return value.empty() || value.front() != ' ' ? value : value.substr(1);
        }
    }
    return {};
}

}  // namespace

using namespace compose;

void Tmailform::loadFields() {
    m_references.clear();
    for (QLineEdit* e : {dto, dsub, dcc, datt, drep, dfol}) e->clear();
    memo->clear();
    const std::string source = m_source.toStdString();
    const int type = source.empty() ? 0 : torvakit::HeaderType(source);
    switch (m_mode) {
    case kReply:
    case kFollowUp: loadReply(type); break;
    case kForward: loadForward(); break;
    case kNewArticle: dto->setText(m_source); break;
    case kRecompose: loadRecompose(type); break;
    default: break;
    }
}

void Tmailform::loadReply(int type) {
    const std::string source = m_source.toStdString();
    std::string from, recipient, subject, cc, name, date, id;
    torvakit::GetHeaderFieldsDecoded(source, from, recipient, subject, cc, name, date, id, kFieldLimit, 0);
    if (m_mode == kReply) dto->setText(headerText(from));
    else if (type != 2) dto->setText(headerText(recipient));
    dsub->setText(headerText(subject));
    dcc->setText(headerText(cc));
    // The quote is of the text as the viewer shows it, not of its encoding.
    QTemporaryFile text;
    torvakit::ReadableText info;
    std::string quoted;
    if (text.open() && viewer::writeReadableText(source, text.fileName(), info) &&
        torvakit::IndentFile(text.fileName().toStdString(), quoted, '>') == 1)
        loadBodyFile(QString::fromStdString(quoted));
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText("on " + headerText(date) + ", " + headerText(name) + " wrote...\n\n");
    m_references = QString::fromStdString(id);
}

void Tmailform::loadForward() {
    const std::string source = m_source.toStdString();
    std::string from, recipient, subject, cc, replyTo, date, id;
    torvakit::GetHeaderFieldsDecoded(source, from, recipient, subject, cc, replyTo, date, id, kFieldLimit, 2);
    dsub->setText(headerText(subject));
    QTemporaryFile readable;
    torvakit::ReadableText info;
    std::string text;
    // A forward text cut short still holds the original header: it is shown.
    if (readable.open() && viewer::writeReadableText(source, readable.fileName(), info))
        torvakit::ForwardTextFile(source, readable.fileName().toStdString(), text);
    else
        torvakit::ForwardFile(source, text);
    if (!text.empty()) loadBodyFile(QString::fromStdString(text));
    m_references = QString::fromStdString(id);
}

void Tmailform::loadRecompose(int type) {
    const std::string source = m_source.toStdString();
    std::string from, recipient, subject, cc, replyTo, date, id;
    torvakit::GetHeaderFieldsDecoded(source, from, recipient, subject, cc, replyTo, date, id, kFieldLimit, 1);
    // Every group an article went to, not only the first.
    const std::string groups = newsgroupsOf(source);
    dto->setText(headerText(groups.empty() ? recipient : groups));
    dsub->setText(headerText(subject));
    dcc->setText(headerText(cc));
    drep->setText(headerText(replyTo));
    loadBodyFile(m_source);
    m_references.clear();
    m_mode = type == 2 ? kNewMessage : kNewArticle;
}

bool Tmailform::loadBodyFile(const QString& path) {
    QString text;
    if (!readText(path, text)) return false;
    memo->setPlainText(withoutFinalLineEnd(text));
    return true;
}

// A file's text goes into the body through the invisible editor and the
// system clipboard, which keeps it afterwards.
void Tmailform::pasteFileText(const QString& path, bool append) {
    QString text;
    if (!readText(path, text)) return;
    ClipMemo->setPlainText(withoutFinalLineEnd(text));
    ClipMemo->selectAll();
    if (ClipMemo->textCursor().hasSelection()) ClipMemo->copy();
    if (append) {
        memo->moveCursor(QTextCursor::End);
        if (!memo->document()->isEmpty()) memo->insertPlainText("\n");
    }
    memo->paste();
    ClipMemo->clear();
}

QString Tmailform::choose(const QString& title, QString& directory, const QString& filter, bool save) {
    QString path;
    if (m_chooseFile) {
        path = m_chooseFile(title, directory, filter, save);
    } else {
        QFileDialog dialog(this, title, directory, filter);
        dialog.setObjectName("filedialog");
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) path = dialog.selectedFiles().front();
    }
    if (!path.isEmpty()) directory = QFileInfo(path).absolutePath();
    return path;
}

void Tmailform::attbtnClick() {
    const QString path = choose("select file to attach", m_attachDir, kAllFilesFilter, false);
    if (!path.isEmpty()) datt->setText(QFileInfo(path).absoluteFilePath());
    datt->setFocus();
}

void Tmailform::inserttextfile1Click() {
    const QString path = choose("select file to insert", m_textDir, kTextFilter, false);
    if (!path.isEmpty()) pasteFileText(path, false);
}

void Tmailform::appendtextfile1Click() {
    const QString path = choose("select file to append", m_textDir, kTextFilter, false);
    if (!path.isEmpty()) pasteFileText(path, true);
}

void Tmailform::saveastemplatefile1Click() {
    QString path = choose("save as template", m_templateDir, QString(kTemplateFilter) + ";;", true);
    if (path.isEmpty()) return;
    path = withTemplateExtension(path);
    QByteArray lines;
    for (QLineEdit* e : {dto, dsub, dcc, datt, drep}) lines += e->text().toUtf8() + "\r\n";
    QFile file(path);
    QFile body(templateBodyPath(path));
    QByteArray text = memo->toPlainText().toUtf8().replace("\n", "\r\n");
    if (!text.isEmpty()) text += "\r\n";
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(lines) != lines.size() ||
        !body.open(QIODevice::WriteOnly | QIODevice::Truncate) || body.write(text) != text.size())
        ui::informationBox(this, "cannot write template file " + path);
}

void Tmailform::mergetemplatefile1Click() {
    QString path = choose("select template to merge", m_templateDir, QString(kTemplateFilter) + ";;", false);
    if (path.isEmpty()) return;
    path = withTemplateExtension(path);
    QString text;
    if (!readText(path, text)) {
        ui::informationBox(this, "cannot read template file " + path);
        return;
    }
    QStringList lines = withoutFinalLineEnd(text).split('\n');
    while (lines.size() < kTemplateLines) lines.push_back({});
    auto join = [](QLineEdit* field, const QString& line) {
        if (field->text().isEmpty()) field->setText(line);
        else if (!line.isEmpty()) field->setText(field->text() + "," + line);
    };
    join(dto, lines[0]);
    if (dsub->text().isEmpty()) dsub->setText(lines[1]);
    join(dcc, lines[2]);
    datt->setText(lines[3]);
    drep->setText(lines[4]);
    const QString body = templateBodyPath(path);
    if (QFileInfo::exists(body)) pasteFileText(body, false);
}
