// Moving, deleting and expiring items, and the file primitives behind them.
//
// A list is never rewritten in place. The records that stay are written to the
// scratch file, the records that leave are appended to the destination list,
// both are flushed to disk, and only then does the scratch file replace the
// source list in one rename; the item files are moved or deleted after that.
// Whenever the program stops, every record is still in at least one list.
#include "platform/clock.h"
#include "platform/fsys.h"
#include "store/lines.h"
#include "store/storeutil.h"
#include "store/torvakit.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace torvakit {
namespace {

constexpr int kDisplayDateLine = 6;
constexpr int kSortableLine = 7;
constexpr int kCenturyYears = 100;
constexpr int kStatusLine = 2;
constexpr int kEpochYear = 1970;
constexpr int kStoredYearBase = 1900;
constexpr int kFirstStoredYear = 70;  // stored years below this predate the clock

using Record = std::array<std::string, util::kListRecordLines>;

// Reads the next record; false at the end of the list. Lines missing from a
// record cut off at the end read as empty, so the record is written back whole.
bool readRecord(std::FILE* list, Record& record) {
    if (lines::readLine(list, record[0]) == lines::kEndOfFile) return false;
    for (std::size_t i = 1; i < record.size(); ++i) lines::readLine(list, record[i]);
    return true;
}

bool writeRecord(std::FILE* out, const Record& record) {
    for (const std::string& line : record)
        if (!util::writeAll(out, line) || !util::writeAll(out, "\r\n")) return false;
    return true;
}

std::string canonicalFolder(std::string_view folder) {
    const std::string resolved = platform::resolvePath(folder);
    const std::string path = resolved.empty() ? std::string(1, '.') : resolved;
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string out = real;
    free(real);
    return out;
}

bool sameFolder(std::string_view a, std::string_view b) {
    return !b.empty() && canonicalFolder(a) == canonicalFolder(b);
}

// The item files of a folder. When many items leave at once the folder is
// read once, so that items without a body (or without files at all) cost no
// look-ups on disk; for a few items each file is looked up by itself.
class FolderFiles {
public:
    static constexpr std::size_t kListFolderFrom = 256;

    FolderFiles(std::string_view folder, std::size_t leaving) : m_folder(folder) {
        if (leaving < kListFolderFrom) return;
        m_listed = true;
        for (std::string& name : platform::findFiles(folder, "*", false, true)) {
            std::string lower = name;
            util::lowerAscii(lower);
            m_byLower.emplace(std::move(lower), std::move(name));
        }
    }

    // The file's path as it is on disk, or empty when there is no such file.
    std::string find(const std::string& name) const {
        if (!m_listed) {
            std::string path = m_folder + name;
            return platform::fileExists(path) ? path : std::string();
        }
        std::string lower = name;
        util::lowerAscii(lower);
        const auto it = m_byLower.find(lower);
        return it == m_byLower.end() ? std::string() : m_folder + it->second;
    }

private:
    std::string m_folder;
    bool m_listed = false;
    std::unordered_map<std::string, std::string> m_byLower;
};

// Moves an item's header and body files, or deletes them without a destination.
void moveItemFiles(const FolderFiles& files, std::string_view destination, const std::string& name) {
    if (!util::isPlainName(name)) return;  // a damaged record must not reach outside the folder
    const std::string body = util::withLastChar(name, 'b');
    for (const std::string& file : {name, body}) {
        const std::string from = files.find(file);
        if (from.empty()) continue;
        if (destination.empty())
            platform::deleteFile(from);
        else
            moveoverfile(from, std::string(destination) + file);
    }
}

// Moves or deletes the files of every item that left the folder.
void moveAllItemFiles(std::string_view source, std::string_view destination,
                      const std::vector<std::string>& names) {
    const FolderFiles files(source, names.size());
    for (const std::string& name : names) moveItemFiles(files, destination, name);
}

void addToCount(std::string_view folder, int64_t delta) {
    uint32_t count = 0;
    GetFile(util::countPath(folder), count);
    const int64_t next = std::max<int64_t>(0, static_cast<int64_t>(count) + delta);
    SetFile(util::countPath(folder), static_cast<uint32_t>(std::min<int64_t>(next, UINT32_MAX)));
}

// Puts the completely written scratch file in place of the list in one step
// (a copy that is itself renamed into place when the two lie on different
// file systems).
bool replaceList(const std::string& list) {
    if (platform::renameReplace(kScratchFile, list)) return true;
    if (!platform::copyFileReplace(kScratchFile, list)) return false;
    platform::deleteFile(kScratchFile);
    return true;
}

// Decides for each record, in list order, whether it leaves the folder.
using Selector = std::function<bool(uint32_t ordinal, const Record& record)>;

// One pass over the source list: kept records to the scratch file, leaving
// ones to the destination list, then the scratch file replaces the list and
// the item files follow their records.
int rewriteList(std::string_view source, std::string_view destination, const Selector& leaves) {
    if (sameFolder(source, destination)) return 1;
    const std::string sourceList = util::listPath(source);
    platform::UniqueFile list = platform::openFile(sourceList, "rb");
    if (!list) return 0;
    platform::UniqueFile scratch = platform::openFile(kScratchFile, "wb");
    if (!scratch) return 0;
    util::ListAppender dest;
    if (!destination.empty() && !dest.open(util::listPath(destination))) {
        scratch.reset();
        platform::deleteFile(kScratchFile);
        return 0;
    }
    Record record;
    std::vector<std::string> leaving;
    uint32_t kept = 0;
    bool ok = true;
    for (uint32_t ordinal = 0; ok && readRecord(list.get(), record); ++ordinal) {
        if (leaves(ordinal, record)) {
            leaving.push_back(record[0]);
            if (dest.get()) ok = writeRecord(dest.get(), record);
        } else {
            ++kept;
            ok = writeRecord(scratch.get(), record);
        }
    }
    list.reset();
    ok = ok && platform::syncFile(scratch.get()) && std::fclose(scratch.release()) == 0;
    ok = ok && (!dest.get() || dest.flush(true));
    ok = ok && replaceList(sourceList);
    if (!ok) {
        dest.rollBack();
        scratch.reset();
        platform::deleteFile(kScratchFile);
        return 0;
    }
    if (dest.get()) dest.commit(false);
    moveAllItemFiles(source, destination, leaving);
    SetFile(util::countPath(source), kept);
    if (!destination.empty()) addToCount(destination, static_cast<int64_t>(leaving.size()));
    return 1;
}

// Rows of the displayed order to list ordinals, through the folder's index.
// A row the index does not hold selects nothing (-1); without an index the
// rows are taken as ordinals.
std::vector<uint32_t> translateSelection(std::string_view folder, int32_t sortType,
                                         std::vector<int32_t>& selection) {
    std::vector<uint32_t> ordinals;
    if (selection.empty()) return ordinals;
    const int64_t n = std::clamp<int64_t>(selection[0], 0, static_cast<int64_t>(selection.size()) - 1);
    platform::UniqueFile index = platform::openFile(util::indexPath(folder, sortType), "rb");
    for (int64_t i = 1; i <= n; ++i) {
        int64_t ordinal = selection[i];
        if (index) {
            uint64_t value = 0;
            ordinal = util::indexOrdinal(index.get(), selection[i], value) && value <= INT32_MAX
                          ? static_cast<int64_t>(value)
                          : -1;
        }
        selection[i] = static_cast<int32_t>(ordinal);
        if (ordinal >= 0) ordinals.push_back(static_cast<uint32_t>(ordinal));
    }
    std::sort(ordinals.begin(), ordinals.end());
    return ordinals;
}

// Days from 1970-01-01 to the civil date; any year, month and day, with
// months and days out of range carried over as the calendar does.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    int64_t months = year * 12 + (month - 1);
    year = months >= 0 ? months / 12 : -((-months + 11) / 12);
    month = months - year * 12 + 1;
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + (day - 1);
}

// The years since 1900 of a sortable date (line 7): the digits before its
// ten of month, day, hour, minute and second; -1 when it has none.
int32_t sortableYear(std::string_view sortable) {
    constexpr std::size_t kAfterYear = 10;
    if (sortable.size() <= kAfterYear) return -1;
    int32_t year = 0;
    for (char c : sortable.substr(0, sortable.size() - kAfterYear)) {
        if (c < '0' || c > '9') return -1;
        year = year * 10 + (c - '0');
    }
    return year;
}

// Whole days between midnight of the record's display date and today.
// Display dates show the year in two digits ("01 Jan 24"); older records
// hold the years since 1900 ("01 Jan 124"). A two-digit year takes its
// century from the record's sortable date.
int64_t ageInDays(std::string_view displayDate, std::string_view sortableDate, int64_t today) {
    int32_t pos = 0, day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    extractdate(displayDate, pos, day, month, year, hour, minute, second);
    const int32_t full = sortableYear(sortableDate);
    if (year < kCenturyYears && full >= 0 && full % kCenturyYears == year) year = full;
    if (year < kFirstStoredYear) return today - daysFromCivil(kEpochYear, 1, 1) + 1;
    return today - daysFromCivil(int64_t{kStoredYearBase} + year, month, day);
}

}  // namespace

int MoveItems(std::string_view source, std::string_view destination, int32_t sortType,
              std::vector<int32_t>& selection) {
    const std::vector<uint32_t> chosen = translateSelection(source, sortType, selection);
    return rewriteList(source, destination, [&](uint32_t ordinal, const Record&) {
        return std::binary_search(chosen.begin(), chosen.end(), ordinal);
    });
}

int ExpireItems(std::string_view source, std::string_view destination, int32_t mode) {
    if (mode > 0) {
        const char status = static_cast<char>(mode & 0xFF);
        return rewriteList(source, destination, [status](uint32_t, const Record& r) {
            return !r[kStatusLine - 1].empty() && r[kStatusLine - 1][0] == status;
        });
    }
    const int64_t limit = -static_cast<int64_t>(mode);
    const platform::CalendarTime now = platform::currentLocalCalendar();
    const int64_t today = daysFromCivil(now.year, now.month, now.day);
    return rewriteList(source, destination, [limit, today](uint32_t, const Record& r) {
        return ageInDays(r[kDisplayDateLine - 1], r[kSortableLine - 1], today) > limit;
    });
}

int MoveAllItems(std::string_view source, std::string_view destination) {
    if (sameFolder(source, destination)) return 1;
    const std::string sourceList = util::listPath(source);
    platform::UniqueFile list = platform::openFile(sourceList, "rb");
    if (!list) return 0;
    util::ListAppender dest;
    if (!dest.open(util::listPath(destination))) return 0;
    Record record;
    std::vector<std::string> moved;
    bool ok = true;
    while (ok && readRecord(list.get(), record)) {
        moved.push_back(record[0]);
        ok = writeRecord(dest.get(), record);
    }
    list.reset();
    if (!ok || !dest.commit(true)) {
        dest.rollBack();
        return 0;
    }
    addToCount(destination, static_cast<int64_t>(moved.size()));
    platform::deleteFile(sourceList);
    SetFile(util::countPath(source), 0);
    moveAllItemFiles(source, destination, moved);
    return 1;
}

int GetFilters(std::string_view headerPath, std::string& from, std::string& replyTo,
               std::string& group) {
    from.clear(), replyTo.clear(), group.clear();
    platform::UniqueFile header = platform::openFile(headerPath, "rb");
    if (!header) return 0;
    std::string line;
    while (lines::readLine(header.get(), line) != lines::kEndOfFile) {
        if (int n = headercompare(line, "From:")) {
            from = util::capped(util::headerValue(line, n));
        } else if ((n = headercompare(line, "Reply-To:"))) {
            replyTo = util::capped(util::headerValue(line, n));
        } else if ((n = headercompare(line, "Newsgroups:"))) {
            group = util::capped(util::upToComma(util::headerValue(line, n)));
        } else if ((n = headercompare(line, "To:")) && group.empty()) {
            group = util::capped(util::upToComma(util::headerValue(line, n)));
        }
    }
    util::lowerAscii(from);
    util::lowerAscii(replyTo);
    util::lowerAscii(group);
    return 1;
}

int moveoverfile(std::string_view existing, std::string_view newPath) {
    if (!platform::renameNoReplace(existing, newPath)) platform::copyFileReplace(existing, newPath);
    return 1;
}

int concatfiles(std::string_view destination, std::string_view source) {
    platform::UniqueFile in = platform::openFile(source, "rb");
    if (!in) return 0;
    platform::UniqueFile out = platform::openFile(destination, "ab");
    if (!out) return 0;
    std::string line;
    while (lines::readLineCrLf(in.get(), line) != lines::kEndOfFile) util::writeAll(out.get(), line);
    return 1;
}

int EmptyDir(std::string_view directory) {
    if (directory.empty() || !platform::directoryExists(directory)) return 0;
    for (const std::string& name : platform::findFiles(directory, "*", false, true))
        if (name.front() != '.') platform::deleteFile(std::string(directory) + "/" + name);
    return 1;
}

int removedir(std::string_view directory) {
    if (!EmptyDir(directory)) return 0;
    return platform::removeDirectory(directory) ? 1 : 0;
}

}  // namespace torvakit
