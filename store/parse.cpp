// Header lines, addresses and dates, and the readers of single header fields.
#include "platform/clock.h"
#include "platform/fsys.h"
#include "store/lines.h"
#include "store/mimeutil.h"
#include "store/storeutil.h"
#include "store/torvakit.h"

#include <cstdio>

namespace torvakit {
namespace {

constexpr int kBaseYear = 1900;
constexpr std::size_t kMonthNameLength = 3;
constexpr std::size_t kReplyToNameLength = 9;  // "Reply-To:"

std::size_t clampedPosition(std::string_view text, int32_t position) {
    if (position < 0) return 0;
    return std::min(static_cast<std::size_t>(position), text.size());
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The digits routine behind extractlong and extractint, in wrapping 32-bit arithmetic.
int extractDigits(std::string_view text, int32_t& position, uint32_t& value) {
    std::size_t i = clampedPosition(text, position);
    while (i < text.size() && !isDigit(text[i])) ++i;
    value = 0;
    if (i == text.size()) {
        position = static_cast<int32_t>(i);
        return 0;
    }
    for (; i < text.size() && isDigit(text[i]); ++i) value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    position = static_cast<int32_t>(i);
    return 1;
}

int extractSigned(std::string_view text, int32_t& position, int32_t& value) {
    uint32_t raw = 0;
    const int found = extractDigits(text, position, raw);
    value = static_cast<int32_t>(raw);
    return found;
}

// The lines of a header file, read with the store's line reader.
class HeaderFile {
public:
    explicit HeaderFile(std::string_view path) : m_file(platform::openFile(path, "rb")) {}
    bool isOpen() const { return m_file != nullptr; }
    bool next(std::string& line) { return lines::readLine(m_file.get(), line) != lines::kEndOfFile; }
    int firstByte() {
        const int c = std::fgetc(m_file.get());
        if (c != EOF) std::ungetc(c, m_file.get());
        return c;
    }

private:
    platform::UniqueFile m_file;
};

// Sets value from line when the line is the named header; true on a match.
bool takeValue(std::string_view line, std::string_view name, std::string& value) {
    const int length = headercompare(line, name);
    if (length == 0) return false;
    value = util::capped(util::headerValue(line, static_cast<std::size_t>(length)));
    return true;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Appends one continuation line of a Cc header, its leading blanks dropped,
// while the whole stays below the limit.
void appendCc(std::string& cc, std::string_view line, int32_t limit) {
    while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
    if (static_cast<int64_t>(cc.size() + line.size()) + 2 >= limit) return;
    if (!cc.empty() && cc.back() != ',' && cc.back() != ' ') cc += ' ';
    cc += line;
}

bool startsWithReply(std::string_view subject) {
    return subject.size() >= 3 && util::lowerAscii(subject[0]) == 'r' &&
           util::lowerAscii(subject[1]) == 'e' && subject[2] == ':';
}

struct Fields {
    std::string from, recipient, subject, cc, replyTo, date, messageId, followupTo;
};

void readFields(HeaderFile& header, Fields& f, int32_t ccLimit) {
    std::string line;
    bool inCc = false;
    while (header.next(line)) {
        if (inCc && !line.empty() && isBlank(line.front())) {
            appendCc(f.cc, line, ccLimit);
            continue;
        }
        inCc = false;
        std::string value;
        if (takeValue(line, "Cc:", f.cc)) {
            inCc = true;
        } else if (takeValue(line, "From:", f.from) || takeValue(line, "Reply-To:", f.replyTo) ||
                   takeValue(line, "Subject:", f.subject) || takeValue(line, "Date:", f.date) ||
                   takeValue(line, "Message-Id:", f.messageId)) {
        } else if (takeValue(line, "Newsgroups:", value)) {
            f.recipient = util::upToComma(value);
        } else if (takeValue(line, "Followup-To:", value)) {
            f.followupTo = util::upToComma(value);
        } else if (takeValue(line, "To:", value)) {
            if (f.recipient.empty()) f.recipient = util::upToComma(value);
        }
    }
}

void prepareReply(Fields& f) {
    if (!startsWithReply(f.subject)) f.subject = util::capped("Re: " + f.subject);
    if (!f.replyTo.empty()) f.from = f.replyTo;
    if (!f.followupTo.empty()) f.recipient = f.followupTo;
    extractrealname(f.from, 0, f.replyTo);
}

// Decoded values are read whole: a header's continuation lines are joined
// to it (encoded words are often split over them), up to this length.
constexpr std::size_t kMaxUnfolded = 16 * 1024;

// The header values GetHeaderFieldsDecoded and GetAuthorDecoded need, with
// their continuation lines, chosen by the same rules as readFields.
struct UnfoldedFields {
    std::string from, replyTo, subject, cc, date, messageId, newsgroups, to, followupTo;
    bool haveTo = false, haveNewsgroups = false;
};

std::string* unfoldedSlot(std::string_view line, UnfoldedFields& u, std::size_t& nameLength) {
    struct Slot {
        std::string_view name;
        std::string UnfoldedFields::*field;
    };
    static constexpr Slot kSlots[] = {
        {"Cc:", &UnfoldedFields::cc},           {"From:", &UnfoldedFields::from},
        {"Reply-To:", &UnfoldedFields::replyTo}, {"Subject:", &UnfoldedFields::subject},
        {"Date:", &UnfoldedFields::date},        {"Message-Id:", &UnfoldedFields::messageId},
        {"Newsgroups:", &UnfoldedFields::newsgroups}, {"Followup-To:", &UnfoldedFields::followupTo},
        {"To:", &UnfoldedFields::to},
    };
    for (const Slot& slot : kSlots) {
        if (headercompare(line, slot.name) == 0) continue;
        nameLength = slot.name.size();
        if (slot.field == &UnfoldedFields::to) {
            // The first To counts, as in readFields.
            if (u.haveTo) return nullptr;
            u.haveTo = true;
        }
        if (slot.field == &UnfoldedFields::newsgroups) u.haveNewsgroups = true;
        return &(u.*slot.field);
    }
    return nullptr;
}

void readUnfolded(HeaderFile& header, UnfoldedFields& u) {
    std::string line;
    std::string* current = nullptr;
    while (header.next(line)) {
        if (current && !line.empty() && isBlank(line.front())) {
            if (current->size() + line.size() <= kMaxUnfolded) *current += line;
            continue;
        }
        std::size_t nameLength = 0;
        current = unfoldedSlot(line, u, nameLength);
        if (current) *current = util::headerValue(line, nameLength);
    }
}

std::string decodedValue(std::string_view raw, bool address, std::size_t limit) {
    std::string out;
    mime::decodeWords(raw, out, address);
    return mime::cutUtf8(out, limit);
}

std::string decodedName(std::string_view decodedAddress) {
    return mime::displayNameOf(decodedAddress);
}

}  // namespace

int stringlower(std::string& text) {
    util::lowerAscii(text);
    return 1;
}

int stringcompare(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (util::lowerAscii(a[i]) != util::lowerAscii(b[i])) return 0;
    return 1;
}

int headercompare(std::string_view line, std::string_view name) {
    if (name.empty() || line.size() < name.size()) return 0;
    return stringcompare(line.substr(0, name.size()), name) ? static_cast<int>(name.size()) : 0;
}

int substringcompare(std::string_view text, std::string_view pattern) {
    if (text.empty() || pattern.empty()) return -2;
    const std::size_t at = text.find(pattern);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

int skip(std::string_view text, int32_t& position, char byte) {
    std::size_t i = clampedPosition(text, position);
    while (i < text.size() && text[i] == byte) ++i;
    position = static_cast<int32_t>(i);
    return 0;
}

int extractlong(std::string_view text, int32_t& position, uint32_t& value) {
    return extractDigits(text, position, value);
}
int extractlong(std::string_view text, int32_t& position, int32_t& value) {
    return extractSigned(text, position, value);
}
int extractint(std::string_view text, int32_t& position, int32_t& value) {
    return extractSigned(text, position, value);
}
int extractint(std::string_view text, int32_t& position, uint32_t& value) {
    return extractDigits(text, position, value);
}

int extractmonth(std::string_view text, int32_t& position, std::string& name) {
    const std::size_t at = clampedPosition(text, position);
    name = std::string(text.substr(at, kMonthNameLength));
    position = static_cast<int32_t>(at + name.size());
    for (int m = 1; m <= 12; ++m)
        if (stringcompare(name, util::kMonthNames[m - 1])) return m;
    return 0;
}

int extractdate(std::string_view text, int32_t& position, int32_t& day, int32_t& month,
                int32_t& year, int32_t& hour, int32_t& minute, int32_t& second) {
    std::string name;
    extractint(text, position, day);
    skip(text, position, ' ');
    month = extractmonth(text, position, name);
    skip(text, position, ' ');
    extractint(text, position, year);
    skip(text, position, ' ');
    if (year > kBaseYear) year -= kBaseYear;
    extractint(text, position, hour);
    skip(text, position, ':');
    extractint(text, position, minute);
    skip(text, position, ':');
    extractint(text, position, second);
    return 0;
}

int createunixdate(std::string& out, std::string_view timeZone) {
    out = util::unixDate(platform::currentLocalCalendar(), &timeZone);
    return 0;
}

int createunixdate(std::string& out, int noZone) {
    (void)noZone;
    out = util::unixDate(platform::currentLocalCalendar(), nullptr);
    return 0;
}

int extractfrompath(std::string_view path, std::string& directory, std::string& name) {
    directory.clear();
    name.clear();
    if (path.size() < 2) return 0;
    const std::size_t sep = path.find_last_of("\\/:");
    if (sep == std::string_view::npos || sep == 0) {
        name = path;
    } else {
        directory = path.substr(0, sep + 1);
        name = path.substr(sep + 1);
    }
    return 1;
}

int extractrealname(std::string_view text, int32_t start, std::string& name) {
    std::string_view s = text.substr(clampedPosition(text, start));
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    const std::size_t first = s.find_first_of(",<\"(");
    std::string_view result;
    if (!s.empty() && s.front() == '<') {
        result = s.substr(1, s.find('>', 1) - 1);
    } else if (first != std::string_view::npos && s[first] == '<') {
        result = s.substr(0, first);
        if (!result.empty() && result.back() == ' ') result.remove_suffix(1);
    } else if (first != std::string_view::npos && s[first] != ',') {
        const std::string_view rest = s.substr(first + 1);
        result = rest.substr(0, rest.find_first_of("<\")"));
    } else {
        result = s.substr(0, first);
    }
    name = util::capped(result);
    return 1;
}

int extractemailaddr(std::string_view text, std::string& address) {
    // Blanks around a bare address are not part of it.
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    const std::size_t lt = text.rfind('<'), gt = text.rfind('>');
    const std::size_t open = text.rfind('('), close = text.rfind(')');
    constexpr std::size_t npos = std::string_view::npos;
    std::string result;
    if (lt != npos && gt != npos && lt < gt) {
        result = text.substr(lt, gt - lt + 1);
    } else if (open == npos || close == npos || open > close) {
        result = "<" + std::string(text) + ">";
    } else {
        result = "<" + std::string(text.substr(0, text.find_first_of(" (") )) + ">";
    }
    address = util::capped(result);
    return 1;
}

int HeaderType(std::string_view path) {
    if (path.empty()) return 0;
    HeaderFile header(util::withLastChar(path, 'h'));
    if (!header.isOpen()) return 0;
    const int first = header.firstByte();
    return (first == '+' || first == 'T') ? 2 : 1;
}

int GetHeaderFields(std::string_view itemPath, std::string& from, std::string& recipient,
                    std::string& subject, std::string& cc, std::string& replyTo,
                    std::string& date, std::string& messageId, int32_t ccLimit, int32_t mode) {
    from.clear(), recipient.clear(), subject.clear(), cc.clear();
    replyTo.clear(), date.clear(), messageId.clear();
    if (itemPath.empty()) return 0;
    HeaderFile header(util::withLastChar(itemPath, 'h'));
    if (!header.isOpen()) return 0;
    const int first = header.firstByte();
    Fields f;
    readFields(header, f, ccLimit);
    std::string sortable;
    util::recordDates(f.date, f.date, sortable);
    if (mode == 0) prepareReply(f);
    if (mode == 2) f.subject = util::capped("Fwd: " + f.subject);
    from = f.from, recipient = f.recipient, subject = f.subject, cc = f.cc;
    replyTo = f.replyTo, date = f.date, messageId = f.messageId;
    return first == EOF ? 0 : static_cast<unsigned char>(first);
}

int GetReference(std::string& itemPath, std::string& messageId) {
    messageId.clear();
    if (itemPath.empty()) return 0;
    itemPath.back() = 'h';
    HeaderFile header(itemPath);
    if (!header.isOpen()) return 0;
    std::string line;
    while (header.next(line))
        if (takeValue(line, "Message-Id:", messageId)) break;
    return 1;
}

int GetAuthor(std::string& itemPath, std::string& name, std::string& address) {
    name.clear();
    address.clear();
    if (itemPath.empty()) return 0;
    itemPath.back() = 'h';
    HeaderFile header(itemPath);
    if (!header.isOpen()) return 0;
    std::string line, from, replyTo;
    while (header.next(line)) {
        if (takeValue(line, "From:", from)) continue;
        // Reply-To is matched without its colon; its value still starts at 10.
        if (headercompare(line, "Reply-To") != 0)
            replyTo = util::capped(util::headerValue(line, kReplyToNameLength));
    }
    const std::string& who = replyTo.empty() ? from : replyTo;
    extractrealname(who, 0, name);
    std::string bracketed;
    extractemailaddr(who, bracketed);
    address = bracketed.size() >= 2 ? bracketed.substr(1, bracketed.size() - 2) : std::string();
    return 1;
}

int GetHeaderFieldsDecoded(std::string_view itemPath, std::string& from, std::string& recipient,
                           std::string& subject, std::string& cc, std::string& replyTo,
                           std::string& date, std::string& messageId, int32_t ccLimit,
                           int32_t mode) {
    from.clear(), recipient.clear(), subject.clear(), cc.clear();
    replyTo.clear(), date.clear(), messageId.clear();
    if (itemPath.empty()) return 0;
    HeaderFile header(util::withLastChar(itemPath, 'h'));
    if (!header.isOpen()) return 0;
    const int first = header.firstByte();
    UnfoldedFields u;
    readUnfolded(header, u);
    Fields f;
    const std::size_t ccCap = ccLimit > 2 ? static_cast<std::size_t>(ccLimit) - 2 : 0;
    f.from = decodedValue(u.from, true, util::kMaxValue);
    f.replyTo = decodedValue(u.replyTo, true, util::kMaxValue);
    f.subject = decodedValue(u.subject, false, util::kMaxValue);
    f.cc = decodedValue(u.cc, true, std::min(ccCap, util::kMaxValue));
    const std::string& rawRecipient = u.haveNewsgroups ? u.newsgroups : u.to;
    f.recipient = mime::cutUtf8(mime::firstAddress(decodedValue(rawRecipient, true, std::string::npos)),
                                util::kMaxValue);
    f.followupTo = util::capped(util::upToComma(u.followupTo));
    f.messageId = util::capped(u.messageId);
    std::string sortable;
    util::recordDates(util::capped(u.date), f.date, sortable);
    if (mode == 0) prepareReply(f);
    if (mode == 2) f.subject = mime::cutUtf8("Fwd: " + f.subject, util::kMaxValue);
    if (mode == 0) {
        mime::trimIncompleteUtf8(f.subject);
        f.replyTo = decodedName(f.from);
    }
    from = f.from, recipient = f.recipient, subject = f.subject, cc = f.cc;
    replyTo = f.replyTo, date = f.date, messageId = f.messageId;
    return first == EOF ? 0 : static_cast<unsigned char>(first);
}

int GetAuthorDecoded(std::string& itemPath, std::string& name, std::string& address) {
    const int rc = GetAuthor(itemPath, name, address);
    if (rc != 1) return rc;
    HeaderFile header(itemPath);
    if (!header.isOpen()) return 0;
    UnfoldedFields u;
    readUnfolded(header, u);
    const std::string& who = u.replyTo.empty() ? u.from : u.replyTo;
    name = decodedName(decodedValue(who, true, std::string::npos));
    return 1;
}

namespace util {

std::string unixDate(const platform::CalendarTime& t, const std::string_view* zone) {
    const char* month = (t.month >= 1 && t.month <= 12) ? kMonthNames[t.month - 1] : "???";
    const char* weekday = (t.weekday >= 0 && t.weekday <= 6) ? kWeekdayNames[t.weekday] : "???";
    char buf[128];
    if (!zone) {
        std::snprintf(buf, sizeof buf, "%02d %s %02d:%02d:%02d", t.day, month, t.hour, t.minute,
                      t.second);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d ", weekday, t.day, month, t.year,
                  t.hour, t.minute, t.second);
    return buf + std::string(*zone);
}

}  // namespace util
}  // namespace torvakit
