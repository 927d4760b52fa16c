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
#include <memory>
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
    uint64_t prefix;        // the key's first bytes, big-endian, zero-padded
    std::size_t keyOffset;  // into the key pool
    std::size_t keyLength;
    uint64_t listOffset;
    uint32_t ordinal;
};

// The first eight bytes of a key as a number that orders like the bytes; a
// shorter key is padded with zero bytes, which keeps that order. Most
// comparisons are decided here without touching the pool.
uint64_t keyPrefix(std::string_view key) {
    uint64_t prefix = 0;
    for (std::size_t i = 0; i < sizeof prefix; ++i)
        prefix = (prefix << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    return prefix;
}

// Whether the collation in effect orders strings by their bytes.
bool byteOrderCollation() {
    static constexpr char kProbe[] = "aB 1.z";
    char out[64];
    const std::size_t n = std::strxfrm(out, kProbe, sizeof out);
    return n == sizeof kProbe - 1 && std::memcmp(out, kProbe, n) == 0;
}

// The whole file in one block (not zero-filled first: it is read over at once).
struct WholeFile {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    std::string_view view() const { return {bytes.get(), size}; }
};

bool readWhole(std::string_view path, WholeFile& data) {
    platform::UniqueFile file = platform::openFile(path, "rb");
    if (!file) return false;
    const int64_t size = platform::fileSize(path);
    if (size < 0) return false;
    data.bytes = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size) + 1);
    data.size = std::fread(data.bytes.get(), 1, static_cast<std::size_t>(size), file.get());
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

// All keys one after another in one block, grown by doubling and never
// zero-filled (every byte is written before it is read).
class KeyPool {
public:
    explicit KeyPool(std::size_t capacity) { reserve(capacity); }
    std::size_t size() const { return m_size; }
    const char* data() const { return m_bytes.get(); }
    // Room for n more bytes at the end; commit() how many were used.
    char* room(std::size_t n) {
        if (m_size + n > m_capacity) reserve(std::max(m_capacity * 2, m_size + n));
        return m_bytes.get() + m_size;
    }
    void commit(std::size_t n) { m_size += n; }
    void append(std::string_view text) {
        if (text.empty()) return;
        std::memcpy(room(text.size()), text.data(), text.size());
        commit(text.size());
    }
    void append(char c) { append(std::string_view(&c, 1)); }

private:
    void reserve(std::size_t capacity) {
        auto bigger = std::make_unique_for_overwrite<char[]>(capacity + 1);
        if (m_size) std::memcpy(bigger.get(), m_bytes.get(), m_size);
        m_bytes = std::move(bigger);
        m_capacity = capacity;
    }
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// Numeric keys (digits without leading zeros) order by length, then by their
// digits: the length in the top byte and the first seven digits below it give
// the same order. Lengths from 255 on all share one prefix, which leaves the
// decision to the full comparison.
constexpr std::size_t kDigitsInPrefix = 7;

uint64_t numericPrefix(std::string_view digits) {
    constexpr std::size_t kLongest = 255;
    if (digits.size() >= kLongest) return uint64_t{kLongest} << 56;
    return (uint64_t{digits.size()} << 56) | (keyPrefix(digits) >> 8);
}

// Collated keys are several times longer than their text.
constexpr std::size_t kCollatedGrowth = 4;

class KeyBuilder {
public:
    KeyBuilder(bool numeric, bool appendDate, std::size_t listSize, std::size_t records)
        : m_numeric(numeric),
          m_appendDate(appendDate),
          m_byteOrder(numeric || byteOrderCollation()),
          m_pool(m_byteOrder ? listSize + records * 2 : listSize * kCollatedGrowth) {}

    // Adds the key of one record to the pool and notes where it lies.
    void add(std::string_view keyLine, std::string_view date, Entry& entry) {
        entry.keyOffset = m_pool.size();
        if (m_numeric) {
            m_pool.append(significantDigits(keyLine));
        } else {
            m_text.assign(keyLine);
            util::lowerAscii(m_text);
            const bool reply = m_text.compare(0, kReplyPrefix.size(), kReplyPrefix) == 0;
            if (reply) m_text.erase(0, kReplyPrefix.size());
            m_byteOrder ? addBytes(reply) : addCollated(reply);
            if (m_appendDate) m_pool.append(date);
        }
        entry.keyLength = m_pool.size() - entry.keyOffset;
        entry.prefix = m_numeric ? numericPrefix(key(entry)) : keyPrefix(key(entry));
    }

    std::string_view key(const Entry& e) const { return {m_pool.data() + e.keyOffset, e.keyLength}; }
    bool numeric() const { return m_numeric; }

private:
    void addBytes(bool reply) {
        m_pool.append(m_text);
        if (reply) m_pool.append(kReplyMark);
    }

    void addCollated(bool reply) {
        // strxfrm stops at a NUL, as the collation itself would.
        std::size_t room = m_text.size() * kCollatedGrowth * 2 + 16;
        for (;;) {
            const std::size_t n = std::strxfrm(m_pool.room(room), m_text.c_str(), room);
            if (n < room) {
                m_pool.commit(n);
                break;
            }
            room = n + 1;
        }
        m_pool.append('\0');
        m_pool.append(reply ? kReplyFlag : kOriginalMark);
    }

    bool m_numeric;
    bool m_appendDate;
    bool m_byteOrder;
    std::string m_text;  // reused for every record
    KeyPool m_pool;
};

// Orders entries by key, equal keys by their place in the list.
bool entryLess(const Entry& a, const Entry& b, const KeyBuilder& keys) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    // A number of up to seven digits is all in its prefix.
    if (keys.numeric() && a.keyLength <= kDigitsInPrefix) return a.ordinal < b.ordinal;
    const std::string_view ka = keys.key(a), kb = keys.key(b);
    if (keys.numeric() && ka.size() != kb.size()) return ka.size() < kb.size();
    const int order = ka.compare(kb);
    return order != 0 ? order < 0 : a.ordinal < b.ordinal;
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
    const std::size_t total = entries.size() * util::kIndexRecordSize;
    auto out = std::make_unique_for_overwrite<char[]>(total + 1);
    char* p = out.get();
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
    const bool ok = util::writeAll(file.get(), std::string_view(out.get(), total)) &&
                    std::fclose(file.release()) == 0;
    if (!ok) platform::deleteFile(indexPath);
    return ok;
}

int sortRecords(std::string_view listPath, int32_t linesPerRecord, int32_t keyLine, bool numeric,
                std::string_view indexPath, int32_t count) {
    WholeFile data;
    if (!readWhole(listPath, data)) return -1;
    // A record takes at least one byte a line; a count beyond what the list
    // could hold comes from a damaged count file and would only add empty
    // records at its end.
    const std::size_t possible = data.size / static_cast<std::size_t>(linesPerRecord) + 1;
    const std::size_t records = std::min(static_cast<std::size_t>(count), possible);
    const bool appendDate = linesPerRecord > 1 && keyLine != util::kSortableDateLine &&
                            keyLine != util::kSizeLine;
    std::vector<Entry> entries(records);
    KeyBuilder keys(numeric, appendDate, data.size, records);
    collectKeys(data.view(), linesPerRecord, keyLine, entries, keys);
    data = WholeFile();  // the keys are all in the pool now
    std::sort(entries.begin(), entries.end(),
              [&keys](const Entry& a, const Entry& b) { return entryLess(a, b, keys); });
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
