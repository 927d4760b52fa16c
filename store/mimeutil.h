// Character sets, encoded header words and MIME header parameters: the
// pieces behind the readable text of an item, its decoded header values and
// its attachment names. Internal to torvakit; the public interface is
// torvakit.h.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace torvakit::mime {

// --- charset.cpp ----------------------------------------------------------

// Appends bytes in charset to out as UTF-8. A charset the C library does not
// know gives the bytes as Latin-1 (nothing lost) and false. Inside a known
// charset, a byte sequence that is not valid becomes U+FFFD. An empty
// charset, "us-ascii" and the "unknown" labels mean undeclared (below).
bool appendUtf8(std::string_view bytes, std::string_view charset, std::string& out);
// Undeclared bytes: kept when they are valid UTF-8, else taken as Latin-1.
void appendUndeclared(std::string_view bytes, std::string& out);
void appendLatin1(std::string_view bytes, std::string& out);
bool isValidUtf8(std::string_view bytes);
bool hasEightBit(std::string_view bytes);
// The text cut to at most limit bytes without splitting a UTF-8 sequence.
std::string cutUtf8(std::string_view text, std::size_t limit);
// Drops a UTF-8 sequence cut off at the end of the text.
void trimIncompleteUtf8(std::string& text);

// --- encword.cpp ----------------------------------------------------------

// Decodes the encoded words of a header value (unfolded or not) to UTF-8;
// see DecodeHeaderValue. Returns true when anything was decoded or
// converted, false when out is the value unchanged.
bool decodeWords(std::string_view value, std::string& out, bool addressSafe);
// The first address of a list: up to the first comma outside quotes and
// comments, so a decoded "Doe, John" stays whole.
std::string_view firstAddress(std::string_view list);
// The display name (extractrealname) of an address, cut at a character
// boundary.
std::string displayNameOf(std::string_view address);

// The author, recipient and subject headers of an item with their
// continuation lines, fed every header line while a list record is made,
// then used to decode those fields of the record. A field whose header has
// no encoded word and no 8-bit byte is left exactly as it was made.
class RecordText {
public:
    void feed(std::string_view line);
    void decode(bool fromReplyTo, bool news, std::string& author, std::string& recipient,
                std::string& subject) const;

private:
    std::string m_from, m_replyTo, m_to, m_subject;
    std::string* m_current = nullptr;
    bool m_news = false;
};

// --- mimeparams.cpp -------------------------------------------------------

// A structured MIME header value ("text/plain; charset=utf-8; name=...")
// split into its lower-cased first token and its parameters (lower-cased
// names; values unquoted, RFC 2231 sections joined and decoded, encoded
// words in quoted values decoded; all UTF-8 except "boundary", which is
// kept byte for byte).
struct HeaderParams {
    std::string value;
    std::map<std::string, std::string> params;
    std::set<std::string> extended;  // names given in RFC 2231 form ("name*=...")
    const std::string* find(const std::string& name) const {
        auto it = params.find(name);
        return it == params.end() ? nullptr : &it->second;
    }
};
HeaderParams parseParams(std::string_view headerValue);

}  // namespace torvakit::mime
