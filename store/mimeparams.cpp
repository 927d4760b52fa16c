// Parameters of structured MIME header values, with RFC 2231 sections
// ("name*0*=utf-8''...; name*1*=...") and encoded words in quoted values,
// which many mailers write for file names.
#include "store/codec/codec.h"
#include "store/mimeutil.h"

#include <cstdlib>

namespace torvakit::mime {
namespace {

// More sections than any real header holds; a hostile one gets no further.
constexpr int kMaxSections = 1000;

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = codec::lowerAscii(c);
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Reads a value at pos: a quoted string (escapes removed) or the text up to
// the next ";". quoted tells which.
std::string readValue(std::string_view v, std::size_t& pos, bool& quoted) {
    while (pos < v.size() && (v[pos] == ' ' || v[pos] == '\t')) ++pos;
    std::string out;
    quoted = pos < v.size() && v[pos] == '"';
    if (!quoted) {
        std::size_t end = v.find(';', pos);
        if (end == std::string_view::npos) end = v.size();
        out = trimmed(v.substr(pos, end - pos));
        pos = end;
        return out;
    }
    for (++pos; pos < v.size() && v[pos] != '"'; ++pos) {
        if (v[pos] == '\\' && pos + 1 < v.size()) ++pos;
        out += v[pos];
    }
    if (pos < v.size()) ++pos;  // the closing quote
    std::size_t end = v.find(';', pos);
    pos = end == std::string_view::npos ? v.size() : end;
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = codec::lowerAscii(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct Section {
    bool extended = false;
    std::string value;
};

struct Collected {
    std::string plain;
    bool hasPlain = false;
    std::map<int, Section> sections;  // -1: "name*" without a number
};

// The sections of one parameter joined: the charset named by the first
// extended section converts the whole.
std::string joinSections(const std::map<int, Section>& sections) {
    std::string charset, bytes;
    bool first = true;
    for (const auto& [number, section] : sections) {
        std::string_view value = section.value;
        if (section.extended && first) {
            std::size_t q1 = value.find('\'');
            std::size_t q2 = q1 == std::string_view::npos ? q1 : value.find('\'', q1 + 1);
            if (q2 != std::string_view::npos) {
                charset = value.substr(0, q1);
                value.remove_prefix(q2 + 1);
            }
        }
        bytes += section.extended ? percentDecoded(value) : std::string(value);
        first = false;
    }
    std::string out;
    appendUtf8(bytes, charset, out);
    return out;
}

// The section number of a parameter name's tail ("0", "1"), or -1.
int sectionNumber(std::string_view rest) {
    if (rest.empty() || rest.size() > 4) return -1;
    int n = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

void storeParameter(std::map<std::string, Collected>& all, std::string_view rawName,
                    std::string value, bool quoted) {
    std::string name = lowered(trimmed(rawName));
    std::size_t star = name.find('*');
    if (star == std::string::npos) {
        Collected& c = all[name];
        c.plain = std::move(value);
        c.hasPlain = true;
        return;
    }
    std::string base = name.substr(0, star);
    std::string_view rest = std::string_view(name).substr(star + 1);
    Section section;
    // "name*" is one extended value; "name*0", "name*1*" are numbered
    // sections, extended when they end in "*".
    section.extended = rest.empty() || rest.back() == '*';
    if (!rest.empty() && rest.back() == '*') rest.remove_suffix(1);
    // A quoted extended value is against the rules but written by mailers;
    // only a quoted section after the first is taken as it stands.
    if (quoted && sectionNumber(rest) > 0) section.extended = false;
    section.value = std::move(value);
    int number = -1;
    if (!rest.empty()) {
        char* end = nullptr;
        std::string digits(rest);
        long n = std::strtol(digits.c_str(), &end, 10);
        if (*end != '\0' || n < 0 || n >= kMaxSections) return;
        number = static_cast<int>(n);
    }
    all[base].sections[number] = std::move(section);
}

}  // namespace

HeaderParams parseParams(std::string_view v) {
    HeaderParams result;
    std::size_t semi = v.find(';');
    result.value = lowered(trimmed(v.substr(0, semi)));
    std::map<std::string, Collected> all;
    std::size_t pos = semi == std::string_view::npos ? v.size() : semi + 1;
    while (pos < v.size()) {
        std::size_t eq = v.find('=', pos);
        std::size_t nextSemi = v.find(';', pos);
        if (eq == std::string_view::npos) break;
        if (nextSemi != std::string_view::npos && nextSemi < eq) {
            pos = nextSemi + 1;  // a parameter without "=": passed over
            continue;
        }
        std::string_view name = v.substr(pos, eq - pos);
        pos = eq + 1;
        bool quoted = false;
        std::string value = readValue(v, pos, quoted);
        storeParameter(all, name, std::move(value), quoted);
        if (pos < v.size()) ++pos;  // the ";"
    }
    for (auto& [name, c] : all) {
        std::string value;
        if (!c.sections.empty()) {
            value = joinSections(c.sections);
            result.extended.insert(name);
        } else if (name == "boundary") {
            value = std::move(c.plain);
        } else {
            decodeWords(c.plain, value, false);
        }
        result.params[name] = std::move(value);
    }
    return result;
}

}  // namespace torvakit::mime
