// Moving, deleting and expiring items, and the file primitives behind them.
//
// A list is never rewritten in place. The records that stay are written to the
// scratch file and synced; the journal names the items that leave; the leaving
// records are appended to their destinations and synced; the item files move;
// only then does the scratch file replace the source list in one rename (the
// moment the move happens), after which deleted items' files go and the
// counts follow. A failure before the rename takes every step back; a crash
// anywhere is finished or undone from the journal (journal.cpp).
#include "platform/clock.h"
#include "platform/fsys.h"
#include "store/journal.h"
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
#include <unordered_set>
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
// The sort types the main window shows; their index files go stale when a folder changes.
constexpr int kDisplayedSortTypes[] = {2, 3, 4, 5, 7, 8};

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

// The item files of a folder. Each file is taken by its name as written
// first; only a name that is not there as written (written in another case,
// or an item without that file) is looked up without regard to case. When
// many items leave, that look-up reads the folder once, at the first such
// name, so a large folder whose files are all named as listed is never read.
class FolderFiles {
public:
    static constexpr std::size_t kListFolderFrom = 256;

    FolderFiles(std::string_view folder, std::size_t leaving)
        : m_folder(detail::resolvedFolder(folder)), m_many(leaving >= kListFolderFrom) {}

    // The file's path as the record writes it.
    std::string written(const std::string& name) const { return m_folder + name; }

    // The file's path as it is on disk, or empty when there is no such file.
    std::string find(const std::string& name) {
        if (!m_many) {
            std::string path = platform::resolvePath(m_folder + name);
            return platform::fileExists(path) ? path : std::string();
        }
        if (!m_listed) {
            m_listed = true;
            for (std::string& entry : platform::findFiles(m_folder, "*", false, true)) {
                std::string lower = entry;
                util::lowerAscii(lower);
                m_byLower.emplace(std::move(lower), std::move(entry));
            }
        }
        std::string lower = name;
        util::lowerAscii(lower);
        const auto it = m_byLower.find(lower);
        return it == m_byLower.end() ? std::string() : m_folder + it->second;
    }

private:
    std::string m_folder;  // as on disk, ending in "/"
    bool m_many;
    bool m_listed = false;
    std::unordered_map<std::string, std::string> m_byLower;
};

// An entry of that name exists in the folder, of whatever kind.
bool entryExists(const std::string& path) {
    return platform::fileExists(path) || platform::directoryExists(path);
}

// The header and body file names of an item.
std::array<std::string, 2> itemFileNames(const std::string& name) {
    return {name, util::withLastChar(name, 'b')};
}

// Files moved so far, so that a move that fails half-way can be taken back.
using MovedFiles = std::vector<std::pair<std::string, std::string>>;

void moveBack(const MovedFiles& moved) {
    for (auto it = moved.rbegin(); it != moved.rend(); ++it) detail::moveResolved(it->second, it->first);
}

// No leaving item may land on a name the destination already has: it would
// overwrite another item, or (a directory of that name) could not be moved,
// leaving the record where the files are not.
bool destinationFree(const std::string& destination, const std::vector<std::string>& names) {
    if (names.size() < FolderFiles::kListFolderFrom) {
        for (const std::string& name : names)
            if (util::isPlainName(name))
                for (const std::string& file : itemFileNames(name))
                    if (entryExists(destination + file)) return false;
        return true;
    }
    std::unordered_set<std::string> there;
    for (std::string& entry : platform::findFiles(journal::folderDirectory(destination), "*", false, false)) {
        util::lowerAscii(entry);
        there.insert(std::move(entry));
    }
    for (const std::string& name : names)
        if (util::isPlainName(name))
            for (std::string file : itemFileNames(name)) {
                util::lowerAscii(file);
                if (there.count(file)) return false;
            }
    return true;
}

// Moves the item files of names into the destination; false when one cannot
// be moved (what was moved is in `moved`).
bool moveItemFiles(FolderFiles& files, const std::string& destination,
                   const std::vector<std::string>& names, MovedFiles& moved) {
    // The names are free there (destinationFree), so they need no look-up.
    const std::string there = detail::resolvedFolder(destination);
    for (const std::string& name : names) {
        if (!util::isPlainName(name)) continue;  // a damaged record must not reach outside the folder
        for (const std::string& file : itemFileNames(name)) {
            const std::string to = there + file;
            std::string from = files.written(file);
            if (!detail::moveResolved(from, to)) {
                // Not there as written; a file that is there and still
                // cannot be moved fails the move.
                from = files.find(file);
                if (from.empty()) continue;
                if (!detail::moveResolved(from, to)) return false;
            }
            moved.emplace_back(from, to);
        }
    }
    return true;
}

void deleteItemFiles(FolderFiles& files, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (!util::isPlainName(name)) continue;
        for (const std::string& file : itemFileNames(name)) {
            if (::unlink(files.written(file).c_str()) == 0) continue;
            const std::string path = files.find(file);
            if (!path.empty()) platform::deleteFile(path);
        }
    }
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

void appendRecordText(std::string& text, const Record& record) {
    for (const std::string& line : record) (text += line) += "\r\n";
}

// The end of an operation: its folders' directories (the renames) and counts
// reach the disk before the journal entry goes.
void syncFolder(std::string_view folder) {
    journal::syncPath(journal::folderDirectory(folder));
    journal::syncPath(util::countPath(folder), true);
}

// Where the records that leave a folder go.
struct Outgoing {
    std::string folder;  // empty: the items are deleted
    std::vector<std::string> names;
    std::string records;
    util::ListAppender list;
};

// The journaled part of every move: the records that leave are in `out`,
// the ones that stay in the synced scratch file. Appends and syncs the
// leaving records, moves the item files, puts the scratch file in place of
// the source list (the moment the move happens), deletes the files of deleted
// items and corrects the counts. 1, or 0 with nothing changed.
int commitMove(std::string_view source, std::vector<Outgoing>& out, uint32_t kept,
               std::string_view what, const std::function<bool()>& replaceSource) {
    auto abandon = [&out] {
        for (Outgoing& o : out) o.list.rollBack();
        platform::deleteFile(kScratchFile);
        return 0;
    };
    for (Outgoing& o : out)
        if (!o.folder.empty() && !o.names.empty() && !destinationFree(o.folder, o.names)) return abandon();
    journal::Entry entry("move");
    entry.add("what", what).add("src", source);
    std::size_t leaving = 0;
    for (const Outgoing& o : out) {
        entry.add("dst", o.folder);
        leaving += o.names.size();
    }
    for (std::size_t k = 0; k < out.size(); ++k)
        for (const std::string& name : out[k].names) entry.add("item", std::to_string(k) + " " + name);
    if (!journal::begin(entry, true)) return abandon();
    MovedFiles moved;
    auto fail = [&] {
        moveBack(moved);
        abandon();
        journal::end();
        return 0;
    };
    for (Outgoing& o : out)
        if (o.list.get() && !(util::writeAll(o.list.get(), o.records) && o.list.flush(true))) return fail();
    FolderFiles files(source, leaving);
    for (const Outgoing& o : out)
        if (!o.folder.empty() && !moveItemFiles(files, o.folder, o.names, moved)) return fail();
    if (!replaceSource()) return fail();
    for (Outgoing& o : out) {
        if (o.list.get()) o.list.commit(false);
        if (o.folder.empty()) deleteItemFiles(files, o.names);
    }
    SetFile(util::countPath(source), kept);
    syncFolder(source);
    for (const Outgoing& o : out) {
        if (o.folder.empty()) continue;
        addToCount(o.folder, static_cast<int64_t>(o.names.size()));
        syncFolder(o.folder);
    }
    journal::end();
    return 1;
}

// Decides for each record, in list order, where it goes: kStays, or the index
// of its destination.
constexpr int kStays = -1;
using Router = std::function<int(uint32_t ordinal, const Record& record)>;

// One pass over the source list: records that stay go to the scratch file,
// leaving ones are gathered by destination; then commitMove. A destination
// that is the source folder itself keeps its records.
int rewriteList(std::string_view source, const std::vector<std::string>& destinations,
                const Router& route, std::string_view what) {
    journal::replayLeftover();
    const std::string sourceList = util::listPath(source);
    platform::UniqueFile list = platform::openFile(sourceList, "rb");
    if (!list) return 0;
    platform::UniqueFile scratch = platform::openFile(kScratchFile, "wb");
    if (!scratch) return 0;
    std::vector<Outgoing> out(destinations.size());
    std::vector<bool> stays(destinations.size());
    for (std::size_t k = 0; k < destinations.size(); ++k) {
        out[k].folder = destinations[k];
        stays[k] = sameFolder(source, destinations[k]);
        if (!out[k].folder.empty() && !stays[k] && !out[k].list.open(util::listPath(out[k].folder))) {
            scratch.reset();
            platform::deleteFile(kScratchFile);
            return 0;
        }
    }
    Record record;
    uint32_t kept = 0;
    std::size_t leaving = 0;
    bool ok = true;
    for (uint32_t ordinal = 0; ok && readRecord(list.get(), record); ++ordinal) {
        const int k = route(ordinal, record);
        if (k >= 0 && static_cast<std::size_t>(k) < out.size() && !stays[static_cast<std::size_t>(k)]) {
            Outgoing& o = out[static_cast<std::size_t>(k)];
            o.names.push_back(record[0]);
            if (!o.folder.empty()) appendRecordText(o.records, record);
            ++leaving;
        } else {
            ++kept;
            ok = writeRecord(scratch.get(), record);
        }
    }
    list.reset();
    ok = ok && platform::syncFile(scratch.get()) && std::fclose(scratch.release()) == 0;
    if (!ok) {
        for (Outgoing& o : out) o.list.rollBack();
        scratch.reset();
        platform::deleteFile(kScratchFile);
        return 0;
    }
    if (leaving == 0) {
        // Nothing leaves: the list is rewritten as it was, no other file changes.
        for (Outgoing& o : out) o.list.commit(false);
        if (!replaceList(sourceList)) return 0;
        SetFile(util::countPath(source), kept);
        return 1;
    }
    return commitMove(source, out, kept, what, [&sourceList] { return replaceList(sourceList); });
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
    if (sameFolder(source, destination)) return 1;
    const std::vector<uint32_t> chosen = translateSelection(source, sortType, selection);
    return rewriteList(source, {std::string(destination)},
                       [&](uint32_t ordinal, const Record&) {
                           return std::binary_search(chosen.begin(), chosen.end(), ordinal) ? 0 : kStays;
                       },
                       destination.empty() ? "deletion" : "move");
}

int FileDelivered(std::string_view outbox, int32_t sortType, std::vector<int32_t>& selection,
                  const std::vector<std::string>& destinations) {
    const int64_t n = selection.empty() ? 0
                                        : std::clamp<int64_t>(selection[0], 0,
                                                              static_cast<int64_t>(selection.size()) - 1);
    if (static_cast<int64_t>(destinations.size()) < n) return 0;
    translateSelection(outbox, sortType, selection);
    std::vector<std::string> folders;
    std::unordered_map<uint32_t, int> route;  // ordinal -> index in folders; the first row wins
    for (int64_t i = 1; i <= n; ++i) {
        if (selection[i] < 0) continue;
        const std::string& folder = destinations[static_cast<std::size_t>(i - 1)];
        auto it = std::find(folders.begin(), folders.end(), folder);
        if (it == folders.end()) it = folders.insert(folders.end(), folder);
        route.emplace(static_cast<uint32_t>(selection[i]), static_cast<int>(it - folders.begin()));
    }
    const int result = rewriteList(outbox, folders,
                                   [&route](uint32_t ordinal, const Record&) {
                                       const auto it = route.find(ordinal);
                                       return it == route.end() ? kStays : it->second;
                                   },
                                   "filing of delivered items");
    if (result != 1) return result;
    for (int type : kDisplayedSortTypes) {
        platform::deleteFile(util::indexPath(outbox, type));
        for (const std::string& folder : folders) platform::deleteFile(util::indexPath(folder, type));
    }
    return 1;
}

int ExpireItems(std::string_view source, std::string_view destination, int32_t mode) {
    if (sameFolder(source, destination)) return 1;
    const std::vector<std::string> to = {std::string(destination)};
    if (mode > 0) {
        const char status = static_cast<char>(mode & 0xFF);
        return rewriteList(source, to, [status](uint32_t, const Record& r) {
            return !r[kStatusLine - 1].empty() && r[kStatusLine - 1][0] == status ? 0 : kStays;
        }, "expiry");
    }
    const int64_t limit = -static_cast<int64_t>(mode);
    const platform::CalendarTime now = platform::currentLocalCalendar();
    const int64_t today = daysFromCivil(now.year, now.month, now.day);
    return rewriteList(source, to, [limit, today](uint32_t, const Record& r) {
        return ageInDays(r[kDisplayDateLine - 1], r[kSortableLine - 1], today) > limit ? 0 : kStays;
    }, "expiry");
}

int MoveAllItems(std::string_view source, std::string_view destination) {
    if (sameFolder(source, destination)) return 1;
    journal::replayLeftover();
    const std::string sourceList = util::listPath(source);
    platform::UniqueFile list = platform::openFile(sourceList, "rb");
    if (!list) return 0;
    std::vector<Outgoing> out(1);
    out[0].folder = destination;
    if (destination.empty() || !out[0].list.open(util::listPath(destination))) return 0;
    Record record;
    while (readRecord(list.get(), record)) {
        out[0].names.push_back(record[0]);
        appendRecordText(out[0].records, record);
    }
    list.reset();
    if (out[0].names.empty()) {
        out[0].list.commit(false);
        addToCount(destination, 0);
        platform::deleteFile(sourceList);
        SetFile(util::countPath(source), 0);
        return 1;
    }
    return commitMove(source, out, 0, "move", [&sourceList] {
        return platform::deleteFile(sourceList) || !platform::fileExists(sourceList);
    });
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
    journal::replayLeftover();
    if (!journal::begin(journal::Entry("emptydir").add("dir", directory), true)) return 0;
    const int result = detail::emptyDirectory(directory);
    journal::syncPath(directory);
    journal::end();
    return result;
}

int removedir(std::string_view directory) {
    if (directory.empty() || !platform::directoryExists(directory)) return 0;
    journal::replayLeftover();
    if (!journal::begin(journal::Entry("removedir").add("dir", directory), true)) return 0;
    const int result = detail::removeDirectory(directory);
    journal::syncPath(".");
    journal::end();
    return result;
}

namespace detail {

int emptyDirectory(std::string_view directory) {
    if (directory.empty() || !platform::directoryExists(directory)) return 0;
    for (const std::string& name : platform::findFiles(directory, "*", false, true))
        if (name.front() != '.') platform::deleteFile(std::string(directory) + "/" + name);
    return 1;
}

int removeDirectory(std::string_view directory) {
    if (!emptyDirectory(directory)) return 0;
    return platform::removeDirectory(directory) ? 1 : 0;
}

}  // namespace detail

}  // namespace torvakit
