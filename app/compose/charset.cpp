#include "compose/charset.h"

#include "platform/fsys.h"
#include "store/torvakit.h"

#include <cctype>
#include <fstream>
#include <iterator>

namespace compose {
namespace {

constexpr std::string_view kWordStart = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";
// 45 bytes make 60 base64 characters: the word stays within 75.
constexpr size_t kBytesPerWord = 45;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(std::string_view bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64[(n >> 18) & 63];
        out += kBase64[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kBase64[n & 63] : '=';
    }
    return out;
}

bool unbase64(std::string_view text, std::string& out) {
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        const char* p = std::char_traits<char>::find(kBase64, 64, c);
        if (!p) return false;
        bits = (bits << 6) | static_cast<uint32_t>(p - kBase64);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return true;
}

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// One run of text as encoded words, split between characters, never inside one.
std::string encodeRun(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        size_t take = std::min(kBytesPerWord, text.size());
        while (take < text.size() && take > 0 && isContinuation(static_cast<unsigned char>(text[take]))) --take;
        if (take == 0) take = std::min(kBytesPerWord, text.size());
        if (!out.empty()) out += ' ';
        out += std::string(kWordStart) + base64(text.substr(0, take)) + std::string(kWordEnd);
        text.remove_prefix(take);
    }
    return out;
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Decodes one "=?charset?enc?text?=" at the start of text; its length in used.
bool decodeOne(std::string_view text, std::string& out, size_t& used) {
    if (text.substr(0, 2) != "=?") return false;
    const size_t q1 = text.find('?', 2);
    if (q1 == std::string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?') return false;
    const size_t end = text.find("?=", q1 + 3);
    if (end == std::string_view::npos) return false;
    const std::string charset = lower(text.substr(2, q1 - 2));
    const char encoding = static_cast<char>(std::tolower(static_cast<unsigned char>(text[q1 + 1])));
    const std::string_view payload = text.substr(q1 + 3, end - q1 - 3);
    std::string bytes;
    if (encoding == 'b') {
        if (!unbase64(payload, bytes)) return false;
    } else if (encoding == 'q') {
        for (size_t i = 0; i < payload.size(); ++i) {
            if (payload[i] == '_') bytes += ' ';
            else if (payload[i] == '=' && i + 2 < payload.size() && std::isxdigit(static_cast<unsigned char>(payload[i + 1])) &&
                     std::isxdigit(static_cast<unsigned char>(payload[i + 2]))) {
                bytes += static_cast<char>(std::stoi(std::string(payload.substr(i + 1, 2)), nullptr, 16));
                i += 2;
            } else bytes += payload[i];
        }
    } else {
        return false;
    }
    if (charset == "iso-8859-1" || charset == "latin1") out += latin1ToUtf8(bytes);
    else if (charset == "utf-8" || charset == "us-ascii") out += bytes;
    else return false;
    used = end + 2;
    return true;
}

std::string_view valueOf(std::string_view line, size_t nameLength) {
    std::string_view value = line.substr(nameLength);
    if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    return value;
}

}  // namespace

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string encodeText(std::string_view value) {
    if (isAscii(value)) return std::string(value);
    std::string out;
    size_t i = 0;
    while (i < value.size()) {
        if (value[i] == ' ') {
            out += ' ';
            ++i;
            continue;
        }
        size_t end = value.find(' ', i);
        if (end == std::string_view::npos) end = value.size();
        if (isAscii(value.substr(i, end - i))) {
            out.append(value.substr(i, end - i));
            i = end;
            continue;
        }
        // Spaces between words outside ASCII go inside the encoded run, so
        // the decoded text keeps them.
        size_t runEnd = end;
        while (runEnd < value.size()) {
            size_t next = value.find_first_not_of(' ', runEnd);
            if (next == std::string_view::npos) break;
            size_t wordEnd = value.find(' ', next);
            if (wordEnd == std::string_view::npos) wordEnd = value.size();
            if (isAscii(value.substr(next, wordEnd - next))) break;
            runEnd = wordEnd;
        }
        out += encodeRun(value.substr(i, runEnd - i));
        i = runEnd;
    }
    return out;
}

std::string encodeAddresses(std::string_view value) {
    if (isAscii(value)) return std::string(value);
    std::string out;
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i <= value.size(); ++i) {
        if (i < value.size() && value[i] == '"') quoted = !quoted;
        if (i < value.size() && (value[i] != ',' || quoted)) continue;
        std::string_view element = value.substr(start, i - start);
        const size_t angle = element.find('<');
        if (!isAscii(element) && angle != std::string_view::npos && !isAscii(element.substr(0, angle))) {
            const size_t lead = element.find_first_not_of(' ');
            std::string_view name = element.substr(lead, angle - lead);
            while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
            out.append(element.substr(0, lead));
            out += encodeRun(name) + " ";
            out.append(element.substr(angle));
        } else {
            out.append(element);
        }
        if (i < value.size()) out += ',';
        start = i + 1;
    }
    return out;
}

std::string decodeWords(std::string_view value) {
    std::string out;
    size_t i = 0;
    while (i < value.size()) {
        size_t used = 0;
        std::string decoded;
        if (decodeOne(value.substr(i), decoded, used)) {
            out += decoded;
            i += used;
            // Blanks between two encoded words are not part of the text.
            size_t next = value.find_first_not_of(" \t", i);
            if (next != std::string_view::npos && next > i) {
                std::string ignored;
                size_t nextUsed = 0;
                if (decodeOne(value.substr(next), ignored, nextUsed)) i = next;
            }
            continue;
        }
        out += value[i++];
    }
    return out;
}

bool declareUtf8(const std::string& headerPath, bool declareBody) {
    std::string text;
    if (!platform::fileExists(headerPath)) return false;
    {
        std::ifstream in(platform::resolvePath(headerPath), std::ios::binary);
        if (!in) return false;
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    bool mime = false;
    for (std::string& line : lines) {
        if (torvakit::headercompare(line, "MIME-Version:")) mime = true;
        for (const char* name : {"Subject:", "Organization:", "X-Attachment:"})
            if (int n = torvakit::headercompare(line, name)) line = std::string(name) + " " + encodeText(valueOf(line, n));
        for (const char* name : {"From:", "Reply-To:", "To:", "Cc:"})
            if (int n = torvakit::headercompare(line, name))
                line = std::string(name) + " " + encodeAddresses(valueOf(line, n));
    }
    std::string out;
    for (const std::string& line : lines) {
        if (declareBody && !mime && torvakit::headercompare(line, "Date:")) {
            out += kMimeVersionLine;
            out += kTextPlainLine;
            out += kEightBitLine;
        }
        out += line + "\r\n";
    }
    if (out == text) return true;
    const std::string resolved = platform::resolvePath(headerPath);
    const std::string temp = resolved + ".tmp";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!(file << out) || !file.flush()) return false;
    }
    return platform::renameReplace(temp, resolved);
}

}  // namespace compose
