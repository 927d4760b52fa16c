#include "viewer/bodytext.h"

#include "platform/fsys.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QTextDocument>

namespace viewer {

namespace {

// Length of the valid UTF-8 sequence at p (end excluded), or 0. Overlong
// forms, surrogates and code points past U+10FFFF are not valid.
int utf8Length(const unsigned char* p, const unsigned char* end, char32_t& cp) {
    unsigned char c = p[0];
    int len;
    char32_t min;
    if (c < 0x80) { cp = c; return 1; }
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
    else return 0;
    if (end - p < len) return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

QString textOfBytes(const QByteArray& bytes) {
    QString text;
    text.resize(bytes.size());  // never more UTF-16 units than bytes
    QChar* out = text.data();
    qsizetype n = 0;
    auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto* end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            out[n++] = QChar(*p++);
            continue;
        }
        char32_t cp = 0;
        int len = utf8Length(p, end, cp);
        if (len == 0) {
            out[n++] = QChar(*p++);  // Latin-1
        } else if (cp >= 0x10000) {
            out[n++] = QChar(QChar::highSurrogate(cp));
            out[n++] = QChar(QChar::lowSurrogate(cp));
            p += len;
        } else {
            out[n++] = QChar(static_cast<char16_t>(cp));
            p += len;
        }
    }
    text.truncate(n);
    return text;
}

bool readBodyText(const QString& path, QString& text) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        text.clear();
        return false;
    }
    text = textOfBytes(file.readAll());
    return true;
}

bool readableText(const std::string& itemPath, QString& text, torvakit::ReadableText& info) {
    text.clear();
    info = {};
    // The store writes the text to a file; a private temporary one, so
    // nothing of the message stays behind or meets another scratch file.
    QTemporaryFile scratch;
    if (!scratch.open()) return false;
    const std::string path = scratch.fileName().toStdString();
    scratch.close();
    if (torvakit::MakeReadableText(platform::resolvePath(itemPath), path, info) != 1) return false;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return false;
    text = textOfBytes(file.readAll());
    if (info.html) {
        QTextDocument document;
        document.setHtml(text);
        text = document.toPlainText();
        text.replace(QChar::Nbsp, ' ');
        text.replace("\r\n", "\n");
        text.replace('\n', "\r\n");
    }
    return true;
}

bool writeReadableText(const std::string& itemPath, const QString& outputPath, torvakit::ReadableText& info) {
    QString text;
    if (!readableText(itemPath, text, info)) return false;
    const QByteArray bytes = text.toUtf8();
    QSaveFile file(outputPath);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

QString partLabel(const torvakit::MimePart& part) {
    const QString name = part.name.empty() ? QString("(no name)") : QString::fromStdString(part.name);
    return QString("%1 (%2, %3 bytes)").arg(name, QString::fromStdString(part.type)).arg(part.size);
}

}  // namespace viewer
