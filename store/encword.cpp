// Encoded words in header values ("=?charset?B?...?=", "=?charset?Q?...?="),
// decoded to UTF-8, and the decoded header values of an item.
#include "store/codec/codec.h"
#include "store/mimeutil.h"
#include "store/storeutil.h"
#include "store/torvakit.h"

namespace torvakit::mime {
namespace {

constexpr std::size_t kMaxCharsetLength = 75;
// Longer than any encoded word a mailer writes; a lone "=?" in a long value
// is not searched to its end.
constexpr std::size_t kMaxWordText = 2048;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool allBlank(std::string_view text) {
    for (char c : text)
        if (!isBlank(c)) return false;
    return true;
}

struct Word {
    std::string_view charset;
    char encoding = 0;  // 'b' or 'q'
    std::string_view text;
    std::size_t end = 0;  // just after "?="
};

bool validBase64Text(std::string_view text) {
    for (char c : text)
        if (!codec::isBase64Char(c) && c != '=') return false;
    return text.size() % 4 != 1;
}

// The encoded word starting at "=?" at pos, if there is a well-formed one.
bool parseWord(std::string_view v, std::size_t pos, Word& w) {
    std::size_t q1 = v.find('?', pos + 2);
    if (q1 == std::string_view::npos || q1 == pos + 2 || q1 - pos - 2 > kMaxCharsetLength) return false;
    w.charset = v.substr(pos + 2, q1 - pos - 2);
    for (char c : w.charset)
        if (isBlank(c) || static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '(' || c == ')')
            return false;
    if (q1 + 2 >= v.size() || v[q1 + 2] != '?') return false;
    w.encoding = codec::lowerAscii(v[q1 + 1]);
    if (w.encoding != 'b' && w.encoding != 'q') return false;
    std::size_t start = q1 + 3;
    std::size_t close = v.find("?=", start);
    if (close == std::string_view::npos || close - start > kMaxWordText) return false;
    w.text = v.substr(start, close - start);
    for (char c : w.text)
        if (c == '\r' || c == '\n' || (w.encoding == 'b' && isBlank(c))) return false;
    if (w.encoding == 'b' && !validBase64Text(w.text)) return false;
    w.end = close + 2;
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = codec::lowerAscii(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

void decodeQ(std::string_view text, std::string& bytes) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '_') {
            bytes += ' ';
        } else if (c == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            bytes += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            bytes += c;
        }
    }
}

void decodeB(std::string_view text, std::string& bytes) {
    std::size_t at = bytes.size();
    bytes.resize(at + text.size() / 4 * 3 + 3);
    std::size_t n = codec::decodeBase64Line(text, reinterpret_cast<unsigned char*>(&bytes[at]));
    bytes.resize(at + n);
}

// Control bytes never reach a decoded value: a CR or LF in it would split a
// list record.
void blankControls(std::string& text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7f) text[i] = ' ';
}

// Quote and comment state of an address header, followed over its plain text.
struct AddressContext {
    bool inQuote = false;
    int commentDepth = 0;
    void follow(std::string_view plain) {
        for (std::size_t i = 0; i < plain.size(); ++i) {
            char c = plain[i];
            if (c == '\\') {
                ++i;
            } else if (inQuote) {
                if (c == '"') inQuote = false;
            } else if (c == '"' && commentDepth == 0) {
                inQuote = true;
            } else if (c == '(') {
                ++commentDepth;
            } else if (c == ')' && commentDepth > 0) {
                --commentDepth;
            }
        }
    }
};

bool hasSpecials(std::string_view text) {
    return text.find_first_of(",;<>\"()@:[]\\") != std::string_view::npos;
}

// Appends a decoded run where an address parser will still split it right:
// a phrase with specials becomes a quoted string; inside quotes, quotes
// and backslashes are escaped.
void appendAddressSafe(std::string_view text, const AddressContext& ctx, std::string& out) {
    if (ctx.commentDepth > 0 || (!ctx.inQuote && !hasSpecials(text))) {
        out += text;
        return;
    }
    if (!ctx.inQuote) out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    if (!ctx.inQuote) out += '"';
}

class WordDecoder {
public:
    WordDecoder(std::string& out, bool addressSafe) : m_out(out), m_addressSafe(addressSafe) {}

    void plain(std::string_view text) {
        flush();
        std::size_t at = m_out.size();
        appendUndeclared(text, m_out);
        blankControls(m_out, at);
        if (m_addressSafe) m_context.follow(text);
    }

    void word(const Word& w) {
        if (!m_pending.empty() && !sameCharset(w.charset)) flush();
        m_charset = w.charset;
        if (w.encoding == 'q') {
            flushCarry();
            decodeQ(w.text, m_pending);
            return;
        }
        // A base64 text cut in the middle of a group continues in the next
        // word: mailers that split long words by length do that.
        std::string text = m_carry + std::string(w.text);
        std::size_t whole = text.find('=') == std::string::npos ? text.size() / 4 * 4 : text.size();
        decodeB(std::string_view(text).substr(0, whole), m_pending);
        m_carry = text.substr(whole);
    }

    void flush() {
        flushCarry();
        if (m_pending.empty() && m_charset.empty()) return;
        std::string text;
        appendUtf8(m_pending, m_charset, text);
        blankControls(text, 0);
        if (m_addressSafe) appendAddressSafe(text, m_context, m_out);
        else m_out += text;
        m_pending.clear();
        m_charset = {};
    }

private:
    bool sameCharset(std::string_view charset) const {
        if (charset.size() != m_charset.size()) return false;
        return codec::startsWithNoCase(charset, m_charset);
    }
    void flushCarry() {
        if (m_carry.empty()) return;
        decodeB(m_carry, m_pending);
        m_carry.clear();
    }

    std::string& m_out;
    bool m_addressSafe;
    AddressContext m_context;
    std::string m_pending;  // decoded bytes of adjacent words in one charset
    std::string_view m_charset;
    std::string m_carry;
};

}  // namespace

bool decodeWords(std::string_view value, std::string& out, bool addressSafe) {
    out.clear();
    std::size_t first = value.find("=?");
    if (first == std::string_view::npos && !hasEightBit(value)) {
        out = value;
        return false;
    }
    WordDecoder decoder(out, addressSafe);
    bool decodedAny = false, afterWord = false;
    std::size_t plainStart = 0, pos = first;
    while (pos != std::string_view::npos) {
        Word w;
        if (!parseWord(value, pos, w)) {
            pos = value.find("=?", pos + 2);
            continue;
        }
        std::string_view between = value.substr(plainStart, pos - plainStart);
        // Blanks between two encoded words are folding, not text.
        if (!(afterWord && allBlank(between))) decoder.plain(between);
        decoder.word(w);
        decodedAny = afterWord = true;
        plainStart = w.end;
        pos = value.find("=?", plainStart);
    }
    decoder.plain(value.substr(plainStart));
    decoder.flush();
    if (!decodedAny && out == value) return false;
    return true;
}

std::string_view firstAddress(std::string_view list) {
    bool quoted = false;
    int depth = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (c == '\\') ++i;
        else if (quoted) quoted = c != '"';
        else if (c == '"') quoted = true;
        else if (c == '(') ++depth;
        else if (c == ')' && depth > 0) --depth;
        else if (c == ',' && depth == 0) return list.substr(0, i);
    }
    return list;
}

std::string displayNameOf(std::string_view address) {
    std::string name;
    extractrealname(address, 0, name);
    trimIncompleteUtf8(name);
    return name;
}

// Unfolded values grow no further than this.
constexpr std::size_t kMaxRecordValue = 16 * 1024;

void RecordText::feed(std::string_view line) {
    if (m_current && !line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        if (m_current->size() + line.size() <= kMaxRecordValue) m_current->append(line);
        return;
    }
    m_current = nullptr;
    struct Slot {
        std::string_view name;
        std::string RecordText::*field;
    };
    static constexpr Slot kSlots[] = {{"From:", &RecordText::m_from},
                                      {"Reply-To:", &RecordText::m_replyTo},
                                      {"To:", &RecordText::m_to},
                                      {"Subject:", &RecordText::m_subject}};
    if (headercompare(line, "Newsgroups:")) m_news = true;
    for (const Slot& slot : kSlots) {
        const int length = headercompare(line, slot.name);
        if (length == 0) continue;
        if (slot.field == &RecordText::m_to && m_news) return;
        m_current = &(this->*slot.field);
        *m_current = util::headerValue(line, static_cast<std::size_t>(length));
        return;
    }
}

void RecordText::decode(bool fromReplyTo, bool news, std::string& author, std::string& recipient,
                        std::string& subject) const {
    std::string decoded;
    if (decodeWords(fromReplyTo ? m_replyTo : m_from, decoded, true))
        author = displayNameOf(firstAddress(decoded));
    if (!news && decodeWords(m_to, decoded, true)) recipient = displayNameOf(firstAddress(decoded));
    if (decodeWords(m_subject, decoded, false)) subject = cutUtf8(decoded, util::kMaxValue);
}

namespace {

// UTF-8 bytes per encoded word: 45 give 60 base64 characters, so a word
// with its "=?UTF-8?B?" and "?=" stays within the 75 the format allows.
constexpr std::size_t kWordBytes = 45;

bool needsEncoding(std::string_view word) {
    return hasEightBit(word) || word.find("=?") != std::string_view::npos;
}

// Appends text as encoded words separated by spaces, each cut at a
// character boundary.
void appendEncodedWords(std::string_view text, std::string& out) {
    while (!text.empty()) {
        std::string piece = cutUtf8(text, kWordBytes);
        if (piece.empty()) piece = std::string(text.substr(0, 1));  // a stray byte
        char line[80];
        std::size_t n = codec::encodeBase64Line(reinterpret_cast<const unsigned char*>(piece.data()),
                                                piece.size(), line);
        out += "=?UTF-8?B?";
        out.append(line, n);
        out += "?=";
        text.remove_prefix(piece.size());
        if (!text.empty()) out += ' ';
    }
}

// Unstructured text: runs of words that need it (with the blanks inside the
// run) become encoded words; other words stay as they are.
void encodeText(std::string_view text, std::string& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t wordEnd = text.find(' ', i);
        if (wordEnd == std::string_view::npos) wordEnd = text.size();
        if (!needsEncoding(text.substr(i, wordEnd - i))) {
            out += text.substr(i, wordEnd - i);
            if (wordEnd < text.size()) out += ' ';
            i = wordEnd + 1;
            continue;
        }
        // Extend the run over following words that need encoding too, with
        // every blank between them: blanks between two encoded words are
        // dropped by decoders, so they must travel inside the words.
        std::size_t runEnd = wordEnd;
        while (runEnd < text.size()) {
            const std::size_t start = text.find_first_not_of(' ', runEnd);
            if (start == std::string_view::npos) break;
            std::size_t next = text.find(' ', start);
            if (next == std::string_view::npos) next = text.size();
            if (!needsEncoding(text.substr(start, next - start))) break;
            runEnd = next;
        }
        appendEncodedWords(text.substr(i, runEnd - i), out);
        if (runEnd < text.size()) out += ' ';
        i = runEnd + 1;
    }
}

}  // namespace

}  // namespace torvakit::mime

namespace torvakit {

int EncodeHeaderValue(std::string_view value, std::string& out) {
    out.clear();
    if (!mime::needsEncoding(value)) {
        out = value;
        return 0;
    }
    mime::encodeText(value, out);
    return 1;
}

int EncodeAddressValue(std::string_view value, std::string& out) {
    out.clear();
    if (!mime::needsEncoding(value)) {
        out = value;
        return 0;
    }
    // Addresses in angle brackets and the separators between addresses stay;
    // a quoted name that needs encoding loses its quotes, which encoded words
    // may not stand in.
    std::size_t i = 0;
    while (i < value.size()) {
        const char c = value[i];
        if (c == '<') {
            std::size_t close = value.find('>', i);
            close = close == std::string_view::npos ? value.size() : close + 1;
            out += value.substr(i, close - i);
            i = close;
        } else if (c == '"') {
            std::string inner;
            std::size_t j = i + 1;
            for (; j < value.size() && value[j] != '"'; ++j) {
                if (value[j] == '\\' && j + 1 < value.size()) ++j;
                inner += value[j];
            }
            std::size_t end = std::min(j + 1, value.size());
            if (mime::needsEncoding(inner)) mime::appendEncodedWords(inner, out);
            else out += value.substr(i, end - i);
            i = end;
        } else if (c == ',' || c == ';') {
            out += c;
            ++i;
        } else {
            std::size_t end = value.find_first_of("<\",;", i);
            if (end == std::string_view::npos) end = value.size();
            mime::encodeText(value.substr(i, end - i), out);
            i = end;
        }
    }
    return 1;
}


int DecodeHeaderValue(std::string_view value, std::string& out) {
    return mime::decodeWords(value, out, false) ? 1 : 0;
}

int DecodeAddressValue(std::string_view value, std::string& out) {
    return mime::decodeWords(value, out, true) ? 1 : 0;
}

}  // namespace torvakit
