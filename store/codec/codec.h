// Pieces shared by the attachment encoders and decoders: the alphabets, the
// line codecs and small text helpers.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/storeutil.h"

namespace torvakit::codec {

inline constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Input bytes per encoded line: 57 give 76 base64 characters, 45 give a
// uuencoded line of 60 characters after its length character.
inline constexpr size_t kBase64LineBytes = 57;
inline constexpr size_t kUuLineBytes = 45;
// The uuencode file mode from which a "begin" line counts (644, 666, ...).
inline constexpr long kMinBeginMode = 600;

using util::kCrLf;

// Value of a base64 character, or -1 for one outside the alphabet.
inline constexpr std::array<int8_t, 256> kBase64Values = [] {
    std::array<int8_t, 256> table{};
    table.fill(-1);
    for (size_t i = 0; i < kBase64Alphabet.size(); ++i)
        table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int8_t>(i);
    return table;
}();

inline bool isBase64Char(char c) { return kBase64Values[static_cast<unsigned char>(c)] >= 0; }

// Six-bit value of a uuencoded character: "`" and the space are both 0.
inline unsigned uuValue(char c) { return (static_cast<unsigned char>(c) - 32u) & 63u; }
// The character for a six-bit value: 0 is "`", never a space, so that mail
// gateways that strip trailing spaces cannot damage a line.
inline char uuChar(unsigned v) { return v == 0 ? '`' : static_cast<char>(v + 32); }

// Encodes up to 57 bytes as one base64 line without line end; out holds at
// least 76 bytes. Returns the characters written.
size_t encodeBase64Line(const unsigned char* data, size_t size, char* out);
// Encodes up to 45 bytes as one uuencoded line (length character first)
// without line end; out holds at least 61 bytes. Returns the characters.
size_t encodeUuLine(const unsigned char* data, size_t size, char* out);

// Decodes one base64 line in groups of four characters; characters outside
// the alphabet count as 0, "=" at the end of a group shortens it. out holds
// at least line.size() / 4 * 3 + 2 bytes. Returns the bytes written.
size_t decodeBase64Line(std::string_view line, unsigned char* out);
// The number of bytes a uuencoded line declares (its length character).
inline size_t uuDeclaredLength(std::string_view line) {
    return line.empty() ? 0 : uuValue(line[0]);
}
// The characters a well-formed uuencoded line of that declared length has.
inline size_t uuEncodedLength(size_t bytes) { return 1 + (bytes + 2) / 3 * 4; }
// Decodes one uuencoded line; characters missing at its end (trailing
// spaces removed by a mailer) count as 0. out holds at least 64 bytes.
// Returns the bytes written (the declared length).
size_t decodeUuLine(std::string_view line, unsigned char* out);

// The text after the last "/", "\" or ":".
std::string_view baseName(std::string_view path);

// Case-insensitive (A-Z only) prefix and search helpers.
inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool startsWithNoCase(std::string_view text, std::string_view prefix);
// Index of the first occurrence of needle at or after from, or npos.
size_t findNoCase(std::string_view text, std::string_view needle, size_t from = 0);

}  // namespace torvakit::codec
