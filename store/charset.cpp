// Conversion of text in any character set the C library knows to UTF-8,
// through iconv. Conversion descriptors are opened once per charset and
// kept, since opening one loads the C library's conversion module.
#include "store/mimeutil.h"
#include "store/torvakit.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace torvakit::mime {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::size_t kMaxCharsetName = 40;
constexpr std::size_t kCachedConverters = 24;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string lowerName(std::string_view name) {
    // A charset label may carry an RFC 2231 language ("utf-8*en") and
    // blanks or quotes a mailer left around it.
    name = name.substr(0, name.find('*'));
    while (!name.empty() && (name.front() == ' ' || name.front() == '"')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '"')) name.remove_suffix(1);
    std::string out;
    for (char c : name) out += lower(c);
    return out;
}

// Labels that mean "no charset said" and the ones mail uses under names the
// C library spells otherwise or whose common use is a wider set.
bool isUndeclared(const std::string& name) {
    return name.empty() || name == "us-ascii" || name == "ascii" || name == "unknown" ||
           name == "unknown-8bit" || name == "x-unknown" || name == "default" ||
           name == "x-user-defined";
}

std::string iconvName(const std::string& name) {
    struct Alias {
        std::string_view label, iconv;
    };
    static constexpr Alias kAliases[] = {
        {"gb2312", "GB18030"},        {"gbk", "GB18030"},          {"x-gbk", "GB18030"},
        {"cp936", "GB18030"},         {"euc-cn", "GB18030"},       {"shift_jis", "CP932"},
        {"shift-jis", "CP932"},       {"sjis", "CP932"},           {"x-sjis", "CP932"},
        {"windows-31j", "CP932"},     {"ks_c_5601-1987", "CP949"}, {"euc-kr", "CP949"},
        {"iso-8859-8-i", "ISO-8859-8"}, {"iso-8859-6-i", "ISO-8859-6"},
        {"windows-874", "CP874"},     {"x-mac-roman", "MACINTOSH"}, {"utf8", "UTF-8"},
        {"big5", "BIG5-HKSCS"},       {"x-big5", "BIG5-HKSCS"},
    };
    for (const Alias& a : kAliases)
        if (a.label == name) return std::string(a.iconv);
    return name;
}

// Only names made of these characters reach iconv: a "//" suffix or other
// syntax of the C library's names must not come from a message.
bool isSafeName(const std::string& name) {
    if (name.empty() || name.size() > kMaxCharsetName) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                  c == '.' || c == ':' || c == '+';
        if (!ok) return false;
    }
    return true;
}

struct Converter {
    std::string name;
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    bool valid() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

struct ConverterCache {
    std::vector<Converter> entries;
    ~ConverterCache() {
        for (Converter& c : entries)
            if (c.valid()) iconv_close(c.cd);
    }
    // The descriptor for the label, or an invalid one when unknown (the
    // miss is remembered too, so unknown labels cost one lookup).
    const Converter& get(const std::string& label) {
        for (const Converter& c : entries)
            if (c.name == label) return c;
        if (entries.size() >= kCachedConverters) {
            if (entries.front().valid()) iconv_close(entries.front().cd);
            entries.erase(entries.begin());
        }
        Converter c;
        c.name = label;
        if (isSafeName(label)) c.cd = iconv_open("UTF-8", iconvName(label).c_str());
        entries.push_back(c);
        return entries.back();
    }
};

ConverterCache& cache() {
    thread_local ConverterCache instance;
    return instance;
}

void convert(iconv_t cd, std::string_view bytes, std::string& out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::array<char, 16384> buffer;
    while (inLeft > 0) {
        char* to = buffer.data();
        std::size_t toLeft = buffer.size();
        std::size_t rc = iconv(cd, &in, &inLeft, &to, &toLeft);
        out.append(buffer.data(), buffer.size() - toLeft);
        if (rc != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ: a byte that is not valid here; EINVAL: a sequence cut off
        // at the end. Either way one byte gives way to U+FFFD.
        out += kReplacement;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* to = buffer.data();
    std::size_t toLeft = buffer.size();
    iconv(cd, nullptr, nullptr, &to, &toLeft);  // the shift back of stateful sets
    out.append(buffer.data(), buffer.size() - toLeft);
}

// The length of the valid UTF-8 sequence at p (at most n bytes), or 0.
std::size_t utf8Sequence(const unsigned char* p, std::size_t n) {
    unsigned char c = p[0];
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c == 0xE0) len = 3, lo = 0xA0;
    else if (c >= 0xE1 && c <= 0xEC) len = 3;
    else if (c == 0xED) len = 3, hi = 0x9F;
    else if (c >= 0xEE && c <= 0xEF) len = 3;
    else if (c == 0xF0) len = 4, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) len = 4;
    else if (c == 0xF4) len = 4, hi = 0x8F;
    else return 0;
    if (n < len) return 0;
    if (p[1] < lo || p[1] > hi) return 0;
    for (std::size_t i = 2; i < len; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return len;
}

}  // namespace

bool hasEightBit(std::string_view bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

bool isValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size(), i = 0;
    while (i < n) {
        // Runs of ASCII eight bytes at a time: most text is mostly ASCII.
        while (i + 8 <= n) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i >= n) break;
        std::size_t len = utf8Sequence(p + i, n - i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

void appendLatin1(std::string_view bytes, std::string& out) {
    out.reserve(out.size() + bytes.size());
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

void appendUndeclared(std::string_view bytes, std::string& out) {
    if (isValidUtf8(bytes)) out.append(bytes);
    else appendLatin1(bytes, out);
}

bool appendUtf8(std::string_view bytes, std::string_view charset, std::string& out) {
    const std::string name = lowerName(charset);
    if (isUndeclared(name)) {
        appendUndeclared(bytes, out);
        return true;
    }
    if (name == "utf-8" || name == "utf8") {
        if (isValidUtf8(bytes)) {
            out.append(bytes);
            return true;
        }
    }
    if (name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1" || name == "l1") {
        appendLatin1(bytes, out);
        return true;
    }
    const Converter& c = cache().get(name);
    if (!c.valid()) {
        appendLatin1(bytes, out);
        return false;
    }
    convert(c.cd, bytes, out);
    return true;
}

std::string cutUtf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t cut = limit;
    // Step back over continuation bytes to the start of the cut sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut));
}

void trimIncompleteUtf8(std::string& text) {
    std::size_t lead = text.size();
    for (int back = 0; back < 4 && lead > 0; ++back) {
        --lead;
        const auto c = static_cast<unsigned char>(text[lead]);
        if ((c & 0xC0) != 0x80) {
            const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (text.size() - lead < need) text.resize(lead);
            return;
        }
    }
}

}  // namespace torvakit::mime

namespace torvakit {

int ConvertToUtf8(std::string_view bytes, std::string_view charset, std::string& out) {
    out.clear();
    return mime::appendUtf8(bytes, charset, out) ? 1 : 0;
}

}  // namespace torvakit
