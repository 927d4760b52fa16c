// The text the viewer shows, prints, quotes and forwards for an item: the
// message text as its author wrote it (MIME text parts decoded, character
// sets converted, an HTML-only text turned into plain text), with the other
// parts listed beside it. The stored files are only read.
//
// textOfBytes reads raw bytes as UTF-8 where they form valid UTF-8, and each
// other byte as the Latin-1 character of the same value, so no byte is
// dropped or shown as a replacement mark.
#pragma once

#include "store/torvakit.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace viewer {

QString textOfBytes(const QByteArray& bytes);
// The whole file as text; false (and empty text) when it cannot be read.
bool readBodyText(const QString& path, QString& text);

// The readable text of the item whose header or body file is itemPath
// (relative to the data directory or absolute); info gets the other parts.
// False (empty text) when the body cannot be read.
bool readableText(const std::string& itemPath, QString& text, torvakit::ReadableText& info);
// The same text written as UTF-8 with CR LF line ends into outputPath, for
// the store's quoting and forwarding routines.
bool writeReadableText(const std::string& itemPath, const QString& outputPath, torvakit::ReadableText& info);
// One line naming a part: "name (type, size)".
QString partLabel(const torvakit::MimePart& part);

}  // namespace viewer
