// Text is UTF-8 throughout the program; what leaves it must say so. A
// composed item whose body holds bytes outside ASCII declares a UTF-8 text
// body, and header values outside ASCII go into the header file as encoded
// words (the store's EncodeHeaderValue and EncodeAddressValue). The outbox
// list keeps the readable text. A pure-ASCII item is left exactly as the
// store wrote it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace compose {

inline constexpr std::string_view kMimeVersionLine = "MIME-Version: 1.0\r\n";
inline constexpr std::string_view kTextPlainLine = "Content-Type: text/plain; charset=UTF-8\r\n";
inline constexpr std::string_view kEightBitLine = "Content-Transfer-Encoding: 8bit\r\n";
// An encoded word may be at most 75 characters long.
inline constexpr size_t kMaxEncodedWord = 75;

bool isAscii(std::string_view text);

// Rewrites a composed header file: encoded words in its header values, and,
// when declareBody is set and the item is not MIME already, the three lines
// of a UTF-8 text body before its "Date:" line. True when the file is as it
// should be (also when nothing needed changing).
bool declareUtf8(const std::string& headerPath, bool declareBody);

}  // namespace compose
