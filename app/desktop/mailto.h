// mailto: links (RFC 6068): the recipients, copy recipients, subject and
// body a new message starts with.
#pragma once

#include <QString>

#include <optional>

namespace desktop {

struct MailtoFields {
    QString to;       // addresses joined by ","
    QString cc;
    QString subject;  // one line
    QString body;     // lines ended by "\n"
};

// The fields of a link; nullopt when it is not a mailto: link. Header
// lines cannot be smuggled in: line breaks in the address and subject
// fields become spaces. Only to, cc, subject and body are taken: a link's
// bcc would send mail to recipients the user never sees, and attachment
// fields would let a web page mail local files away.
std::optional<MailtoFields> parseMailto(const QString& link);

}  // namespace desktop
