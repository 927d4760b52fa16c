#include "desktop/mailto.h"

#include <QStringList>
#include <QUrl>

namespace desktop {

namespace {

constexpr int kSchemeLength = 7;  // "mailto:"

// Percent-escapes are UTF-8 bytes; '+' is a plus sign here, not a space.
QString decoded(const QString& text) { return QUrl::fromPercentEncoding(text.toUtf8()); }

QString oneLine(QString text) {
    for (QChar& c : text)
        if (c == '\r' || c == '\n' || c == '\t' || c.category() == QChar::Other_Control) c = ' ';
    return text.trimmed();
}

void addAddresses(QString& field, const QString& addresses) {
    for (const QString& part : oneLine(addresses).split(',', Qt::SkipEmptyParts)) {
        const QString address = part.trimmed();
        if (address.isEmpty()) continue;
        if (!field.isEmpty()) field += ',';
        field += address;
    }
}

QString bodyText(QString text) {
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return text;
}

}  // namespace

std::optional<MailtoFields> parseMailto(const QString& link) {
    if (!link.startsWith("mailto:", Qt::CaseInsensitive)) return std::nullopt;
    MailtoFields fields;
    const QString rest = link.mid(kSchemeLength);
    const qsizetype query = rest.indexOf('?');
    addAddresses(fields.to, decoded(rest.left(query)));
    if (query < 0) return fields;
    bool haveSubject = false;
    bool haveBody = false;
    for (const QString& pair : rest.mid(query + 1).split('&', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf('=');
        const QString name = decoded(pair.left(eq)).toLower();
        const QString value = eq < 0 ? QString() : decoded(pair.mid(eq + 1));
        if (name == "to") {
            addAddresses(fields.to, value);
        } else if (name == "cc") {
            addAddresses(fields.cc, value);
        } else if (name == "subject" && !haveSubject) {
            fields.subject = oneLine(value);
            haveSubject = true;
        } else if (name == "body" && !haveBody) {
            fields.body = bodyText(value);
            haveBody = true;
        }
    }
    return fields;
}

}  // namespace desktop
