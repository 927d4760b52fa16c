// The text the viewer shows, prints and searches for an item's body file.
// Today this is the raw file: UTF-8 where its bytes form valid UTF-8, and
// each other byte as the Latin-1 character of the same value, so no byte is
// dropped or shown as a replacement mark. A reader that decodes MIME parts
// and character sets can take its place here.
#pragma once

#include <QByteArray>
#include <QString>

namespace viewer {

QString textOfBytes(const QByteArray& bytes);
// The whole body file; false (and empty text) when it cannot be read.
bool readBodyText(const QString& path, QString& text);

}  // namespace viewer
