// Internal pieces of the decoders, open to the tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace torvakit::codec {

// The longest decoded file name kept (the usual file-system limit).
inline constexpr size_t kMaxDecodedName = 255;
// At most this many leading quote characters and spaces are stripped.
inline constexpr size_t kStripAll = 1000;

inline constexpr std::string_view kDecodeLog = "decode.log";
inline constexpr std::string_view kDecodeTmp = "decode.tmp";

// Turns a name taken from an item into a file name that stays inside the
// output folder: path separators, wildcards, quotes and control bytes become
// "$"; "." and ".." become "$" and "$$"; the log's own names get a "$" in
// front; a name longer than kMaxDecodedName is cut, keeping a short
// extension. An empty name gets a fresh name that does not exist in folder
// yet; nothing when none can be made.
std::optional<std::string> cleanDecodedName(std::string_view raw, std::string_view folder);

// Removes up to limit leading spaces and quote characters; returns how many.
size_t stripQuotes(std::string_view& line, char quote, size_t limit);

// Puts "dd Mon hh:mm:ss : name" for the file at the top of folder's decode
// log. The old log is only replaced once the new one is complete, so a
// failure loses at most the new entry.
void addDecodeLogEntry(std::string_view folder, std::string_view outputPath);

}  // namespace torvakit::codec
