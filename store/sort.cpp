// Index files: a list's records ordered by one of their lines.
//
// The list is read in one piece and passed over once; every key goes into one
// pool and every record into one entry of one array, so sorting allocates a
// handful of blocks however many records there are. Text keys are compared as
// plain bytes: under a byte-order collation they are the lowered text itself,
// under any other collation its strxfrm form, which compares byte by byte the
// way strcoll compares the text.
#include "platform/fsys.h"
#include "store/lines.h"
#include "store/storeutil.h"
#include "store/torvakit.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace torvakit {
namespace {

constexpr std::string_view kReplyPrefix = "re: ";
// Under byte order a reply's text is followed by this byte, which sorts after
// every other byte.
constexpr char kReplyMark = '\xff';
// Under a collation: the transformed text, a NUL that ends it (so a text that
// is a prefix of another sorts first), then the original-or-reply byte.
constexpr char kOriginalMark = '1';
constexpr char kReplyFlag = '2';

struct Entry {
    std::size_t keyOffset;  // into the key pool
    std::size_t keyLength;
    uint64_t listOffset;
    uint32_t ordinal;
};

// Whether the collation in effect orders strings by their bytes.
bool byteOrderCollation() {
    static constexpr char kProbe[] = "aB 1.z";
    char out[64];
    const std::size_t n = std::strxfrm(out, kProbe, sizeof out);
    return n == sizeof kProbe - 1 && std::memcmp(out, kProbe, n) == 0;
}

bool readWhole(std::string_view path, std::string& data) {
    platform::UniqueFile file = platform::openFile(path, "rb");
    if (!file) return false;
    const int64_t size = platform::fileSize(path);
    if (size < 0) return false;
    data.resize(static_cast<std::size_t>(size));
    const std::size_t got = std::fread(data.data(), 1, data.size(), file.get());
    data.resize(got);
    return !std::ferror(file.get());
}

// The digits of a numeric key without leading zeros: compared by length,
// then byte by byte, they order by value however long they are.
std::string_view significantDigits(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] < '0' || line[i] > '9')) ++i;
    std::size_t end = i;
    while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
    while (i < end && line[i] == '0') ++i;
    return line.substr(i, end - i);
}

class KeyBuilder {
public:
    KeyBuilder(bool numeric, bool appendDate, std::size_t expected)
        : m_numeric(numeric), m_appendDate(appendDate), m_byteOrder(byteOrderCollation()) {
        m_pool.reserve(expected);
    }

    // Adds the key of one record to the pool and returns where it lies.
    void add(std::string_view keyLine, std::string_view date, Entry& entry) {
        entry.keyOffset = m_pool.size();
        if (m_numeric) {
            m_pool += significantDigits(keyLine);
        } else {
            m_text.assign(keyLine);
            util::lowerAscii(m_text);
            const bool reply = m_text.compare(0, kReplyPrefix.size(), kReplyPrefix) == 0;
            if (reply) m_text.erase(0, kReplyPrefix.size());
            m_byteOrder ? addBytes(reply) : addCollated(reply);
            if (m_appendDate) m_pool += date;
        }
        entry.keyLength = m_pool.size() - entry.keyOffset;
    }

    std::string_view key(const Entry& e) const { return {m_pool.data() + e.keyOffset, e.keyLength}; }
    bool numeric() const { return m_numeric; }

private:
    void addBytes(bool reply) {
        m_pool += m_text;
        if (reply) m_pool += kReplyMark;
    }

    void addCollated(bool reply) {
        // strxfrm stops at a NUL, as the collation itself would.
        const std::size_t at = m_pool.size();
        std::size_t room = m_text.size() * 4 + 16;
        for (;;) {
            m_pool.resize(at + room);
            const std::size_t n = std::strxfrm(m_pool.data() + at, m_text.c_str(), room);
            if (n < room) {
                m_pool.resize(at + n);
                break;
            }
            room = n + 1;
        }
        m_pool += '\0';
        m_pool += reply ? kReplyFlag : kOriginalMark;
    }

    bool m_numeric;
    bool m_appendDate;
    bool m_byteOrder;
    std::string m_text;  // reused for every record
    std::string m_pool;
};

bool keyLess(std::string_view a, std::string_view b, bool numeric) {
    if (numeric && a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

void collectKeys(std::string_view data, int32_t linesPerRecord, int32_t keyLine,
                 std::vector<Entry>& entries, KeyBuilder& keys) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Entry& e = entries[i];
        e.listOffset = pos;
        e.ordinal = static_cast<uint32_t>(i);
        std::string_view line, key, date;
        for (int32_t n = 1; n <= linesPerRecord; ++n) {
            lines::nextLine(data, pos, line);
            if (n == keyLine) key = line;
            if (n == util::kSortableDateLine) date = line;
        }
        keys.add(key, date, e);
    }
}

bool writeIndex(std::string_view indexPath, const std::vector<Entry>& entries) {
    std::string out;
    out.resize(entries.size() * util::kIndexRecordSize);
    char* p = out.data();
    char record[util::kIndexRecordSize + 8];
    for (const Entry& e : entries) {
        std::snprintf(record, sizeof record, "%010llu  %010llu\r\n",
                      static_cast<unsigned long long>(e.listOffset),
                      static_cast<unsigned long long>(e.ordinal));
        const std::size_t n = std::strlen(record);
        if (n != static_cast<std::size_t>(util::kIndexRecordSize)) {
            // An offset of more than ten digits no longer fits the record.
            return false;
        }
        std::memcpy(p, record, n);
        p += n;
    }
    platform::UniqueFile file = platform::openFile(indexPath, "wb");
    if (!file) return false;
    const bool ok = util::writeAll(file.get(), out) && std::fclose(file.release()) == 0;
    if (!ok) platform::deleteFile(indexPath);
    return ok;
}

int sortRecords(std::string_view listPath, int32_t linesPerRecord, int32_t keyLine, bool numeric,
                std::string_view indexPath, int32_t count) {
    std::string data;
    if (!readWhole(listPath, data)) return -1;
    // A record takes at least one byte a line; a count beyond what the list
    // could hold comes from a damaged count file and would only add empty
    // records at its end.
    const std::size_t possible = data.size() / static_cast<std::size_t>(linesPerRecord) + 1;
    const std::size_t records = std::min(static_cast<std::size_t>(count), possible);
    const bool appendDate = linesPerRecord > 1 && keyLine != util::kSortableDateLine &&
                            keyLine != util::kSizeLine;
    std::vector<Entry> entries(records);
    KeyBuilder keys(numeric, appendDate, data.size() + records * 2);
    collectKeys(data, linesPerRecord, keyLine, entries, keys);
    data = std::string();  // the keys are all in the pool now
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        const std::string_view ka = keys.key(a), kb = keys.key(b);
        if (ka != kb) return keyLess(ka, kb, numeric);
        return a.ordinal < b.ordinal;
    });
    if (!writeIndex(indexPath, entries)) return -1;
    return static_cast<int>(entries.size());
}

}  // namespace

int sort(std::string_view listPath, int32_t linesPerRecord, int32_t keyLine, int32_t numeric,
         std::string_view indexPath, int32_t count) {
    if (linesPerRecord < 1 || count < 0) return -1;
    try {
        return sortRecords(listPath, linesPerRecord, keyLine, numeric == 1, indexPath, count);
    } catch (const std::bad_alloc&) {
        return -1;
    } catch (const std::length_error&) {
        return -1;
    }
}

int SortList(std::string_view listPath, int32_t sortType) {
    if (sortType < 1 || sortType > util::kListRecordLines) return -1;
    const std::size_t sep = listPath.find_last_of("\\/");
    const std::string folder(sep == std::string_view::npos ? std::string_view{}
                                                           : listPath.substr(0, sep + 1));
    uint32_t count = 0;
    GetFile(util::countPath(folder), count);
    if (count == 0) return 0;
    const int32_t records = count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
    const bool numeric = sortType == util::kSortableDateLine || sortType == util::kSizeLine;
    return sort(listPath, util::kListRecordLines, sortType, numeric ? 1 : 0,
                util::indexPath(folder, sortType), records);
}

}  // namespace torvakit
