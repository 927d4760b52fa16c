// The store's line reader. Every text file of the store is read with it, so
// that list records, header files and the subscription file split into lines
// the same way everywhere:
//
//  - bytes are taken until LF, CR or the end of the file;
//  - CR LF is one line end; a CR followed by anything else ends the line and
//    that byte starts the next line;
//  - at most kMaxLine (2047) bytes are kept; when that many have been kept and
//    the line goes on, the rest of it up to and including the next LF (or to
//    the end of the file) is skipped. A CR in the skipped part is not a line
//    end. A line of exactly kMaxLine bytes is kept whole.
//
// Two forms: readLine keeps the bytes of the line without its end;
// readLineCrLf keeps the same bytes and then appends CR LF (the copying form,
// at most kMaxLine + 2 bytes). Files are opened in binary mode.
//
// Both return the number of bytes kept in `line` (the copying form counts the
// CR LF), or kEndOfFile when the file was already at its end: no byte and no
// line end could be read. `line` is cleared first in every case, so a caller
// that reads past the end sees empty lines.
//
// The memory form (nextLine) follows the same rule over a buffer and returns
// a view into it; it is what the sorter uses on a list read in one piece.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace torvakit::lines {

inline constexpr std::size_t kMaxLine = 2047;
inline constexpr int kEndOfFile = -1;

int readLine(std::FILE* file, std::string& line);
int readLineCrLf(std::FILE* file, std::string& line);

// Reads the line starting at pos in data and advances pos past its end (and
// past any skipped rest). Returns false, with an empty view, when pos is
// already at the end of data.
bool nextLine(std::string_view data, std::size_t& pos, std::string_view& line);

}  // namespace torvakit::lines
