#include "store/codec/codec.h"

namespace torvakit::codec {

size_t encodeBase64Line(const unsigned char* data, size_t size, char* out) {
    const char* alphabet = kBase64Alphabet.data();
    char* p = out;
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        p[0] = alphabet[v >> 18];
        p[1] = alphabet[(v >> 12) & 63];
        p[2] = alphabet[(v >> 6) & 63];
        p[3] = alphabet[v & 63];
        p += 4;
    }
    size_t rest = size - i;
    if (rest > 0) {
        uint32_t v = uint32_t{data[i]} << 16;
        if (rest == 2) v |= uint32_t{data[i + 1]} << 8;
        p[0] = alphabet[v >> 18];
        p[1] = alphabet[(v >> 12) & 63];
        p[2] = rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        p[3] = '=';
        p += 4;
    }
    return static_cast<size_t>(p - out);
}

size_t encodeUuLine(const unsigned char* data, size_t size, char* out) {
    char* p = out;
    *p++ = uuChar(static_cast<unsigned>(size));
    for (size_t i = 0; i < size; i += 3) {
        // The last group is padded with zero bytes.
        uint32_t b0 = data[i];
        uint32_t b1 = i + 1 < size ? data[i + 1] : 0;
        uint32_t b2 = i + 2 < size ? data[i + 2] : 0;
        uint32_t v = (b0 << 16) | (b1 << 8) | b2;
        p[0] = uuChar(v >> 18);
        p[1] = uuChar((v >> 12) & 63);
        p[2] = uuChar((v >> 6) & 63);
        p[3] = uuChar(v & 63);
        p += 4;
    }
    return static_cast<size_t>(p - out);
}

namespace {

inline uint32_t base64Value(char c) {
    int8_t v = kBase64Values[static_cast<unsigned char>(c)];
    return v < 0 ? 0u : static_cast<uint32_t>(v);
}

}  // namespace

size_t decodeBase64Line(std::string_view line, unsigned char* out) {
    unsigned char* p = out;
    const char* s = line.data();
    size_t n = line.size();
    size_t i = 0;
    // Whole groups without padding: the common case, kept tight.
    for (; i + 4 <= n; i += 4) {
        if (s[i + 3] == '=') break;
        uint32_t v = (base64Value(s[i]) << 18) | (base64Value(s[i + 1]) << 12) |
                     (base64Value(s[i + 2]) << 6) | base64Value(s[i + 3]);
        p[0] = static_cast<unsigned char>(v >> 16);
        p[1] = static_cast<unsigned char>(v >> 8);
        p[2] = static_cast<unsigned char>(v);
        p += 3;
    }
    // A padded group, more groups after it (concatenated encodings), or an
    // unpadded tail of two or three characters.
    while (i < n) {
        size_t group = std::min<size_t>(4, n - i);
        if (group < 2) break;
        const char* g = s + i;
        size_t bytes = 3;
        if (group == 4) {
            if (g[3] == '=') bytes = g[2] == '=' ? 1 : 2;
        } else {
            bytes = group - 1;
        }
        uint32_t v = (base64Value(g[0]) << 18) | (base64Value(g[1]) << 12);
        if (group > 2 && g[2] != '=') v |= base64Value(g[2]) << 6;
        if (group > 3 && g[3] != '=') v |= base64Value(g[3]);
        p[0] = static_cast<unsigned char>(v >> 16);
        if (bytes > 1) p[1] = static_cast<unsigned char>(v >> 8);
        if (bytes > 2) p[2] = static_cast<unsigned char>(v);
        p += bytes;
        i += group;
    }
    return static_cast<size_t>(p - out);
}

size_t decodeUuLine(std::string_view line, unsigned char* out) {
    const size_t wanted = uuDeclaredLength(line);
    const char* s = line.data();
    size_t written = 0;
    size_t k = 1;
    // Whole groups present in the line: no bounds checks per character.
    for (; written + 3 <= wanted && k + 4 <= line.size(); k += 4, written += 3) {
        uint32_t v = (uuValue(s[k]) << 18) | (uuValue(s[k + 1]) << 12) | (uuValue(s[k + 2]) << 6) |
                     uuValue(s[k + 3]);
        out[written] = static_cast<unsigned char>(v >> 16);
        out[written + 1] = static_cast<unsigned char>(v >> 8);
        out[written + 2] = static_cast<unsigned char>(v);
    }
    // The last group, or characters a mailer removed from the line's end.
    auto at = [&](size_t i) -> uint32_t { return i < line.size() ? uuValue(s[i]) : 0u; };
    for (; written < wanted; k += 4) {
        uint32_t v = (at(k) << 18) | (at(k + 1) << 12) | (at(k + 2) << 6) | at(k + 3);
        for (int shift = 16; shift >= 0 && written < wanted; shift -= 8)
            out[written++] = static_cast<unsigned char>(v >> shift);
    }
    return written;
}

std::string_view baseName(std::string_view path) {
    size_t cut = path.find_last_of("/\\:");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lowerAscii(text[i]) != lowerAscii(prefix[i])) return false;
    return true;
}

size_t findNoCase(std::string_view text, std::string_view needle, size_t from) {
    if (needle.empty() || text.size() < needle.size()) return std::string_view::npos;
    for (size_t i = from; i + needle.size() <= text.size(); ++i)
        if (startsWithNoCase(text.substr(i), needle)) return i;
    return std::string_view::npos;
}

}  // namespace torvakit::codec
