// The store's journal and the recovery that replays it at start.
//
// Every operation that changes more than one file names, before its first
// change, what it is about to do; its steps then run in an order in which the
// list files decide, after any crash, whether the operation took place:
//
//  - a move or deletion writes the records that stay to the scratch file and
//    appends the leaving ones to their destinations (both synced), moves the
//    item files, and then puts the scratch file in place of the source list in
//    one rename. While the source list still names a leaving item, the
//    operation has not happened and is undone (records out of the
//    destinations, files back); once it names none, it has and is finished
//    (files still in the source follow their records, deleted items go);
//  - emptying or removing a folder is always finished;
//  - unsubscribing is undone while the subscription file still holds the
//    group, else finished (names file rebuilt, group folder removed);
//  - filing one item (AppendToList, a retrieved message) is finished: the
//    item's files are put in place and listed.
//
// Afterwards every folder the entry names is repaired: a record cut off at
// the end of its list is dropped, a second record of the same item is
// dropped, an item file no record names is listed again from its header, the
// count is set to the number of records and the index files are deleted.
#include "store/journal.h"

#include "platform/fsys.h"
#include "store/lines.h"
#include "store/storeutil.h"
#include "store/torvakit.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace torvakit::journal {
namespace {

constexpr std::string_view kFirstLine = "omail journal 1";
constexpr std::string_view kEndLine = "end";
constexpr int kHighestSortType = 9;

bool writeWhole(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool readWhole(std::string_view path, std::string& text) {
    text.clear();
    platform::UniqueFile file = platform::openFile(path, "rb");
    if (!file) return false;
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, file.get())) > 0) text.append(buf, n);
    return !std::ferror(file.get());
}

// One parsed entry: the operation and its "key value" lines in order.
struct Parsed {
    std::string operation;
    std::vector<std::pair<std::string, std::string>> fields;

    std::string get(std::string_view key) const {
        for (const auto& [k, v] : fields)
            if (k == key) return v;
        return {};
    }
    std::vector<std::string> all(std::string_view key) const {
        std::vector<std::string> out;
        for (const auto& [k, v] : fields)
            if (k == key) out.push_back(v);
        return out;
    }
};

// false for an entry that was cut off while it was written.
bool parse(std::string_view text, Parsed& entry) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos) return false;  // the last line is unfinished
        lines.push_back(text.substr(pos, lf - pos));
        pos = lf + 1;
    }
    if (lines.size() < 3 || lines.front() != kFirstLine || lines.back() != kEndLine) return false;
    entry.operation = lines[1].substr(lines[1].find(' ') + 1);
    for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
        const std::size_t space = lines[i].find(' ');
        if (space == std::string_view::npos) return false;
        entry.fields.emplace_back(lines[i].substr(0, space), lines[i].substr(space + 1));
    }
    return true;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    util::lowerAscii(out);
    return out;
}

// ---------------------------------------------------------------------------
// Folder repair
// ---------------------------------------------------------------------------

// A list read whole and cut into records.
struct ListRecords {
    bool exists = false;
    std::string data;
    std::vector<std::pair<std::size_t, std::size_t>> records;  // [start, end) of each whole record
    bool torn = false;  // bytes after the last whole record
};

ListRecords readList(std::string_view listPath) {
    ListRecords out;
    out.exists = readWhole(listPath, out.data);
    std::size_t pos = 0, start = 0;
    int lineInRecord = 0;
    std::string_view line;
    while (lines::nextLine(out.data, pos, line)) {
        if (++lineInRecord < util::kListRecordLines) continue;
        const char last = out.data[pos - 1];
        if (last != '\n' && last != '\r') break;  // the record's last line was cut off
        out.records.emplace_back(start, pos);
        start = pos;
        lineInRecord = 0;
    }
    out.torn = start < out.data.size();
    return out;
}

std::string recordName(const ListRecords& list, std::size_t i) {
    std::size_t pos = list.records[i].first;
    std::string_view line;
    lines::nextLine(list.data, pos, line);
    return lowered(line);
}

// Writes the text through the scratch file in place of the list.
bool replaceListWith(std::string_view listPath, std::string_view text) {
    {
        platform::UniqueFile scratch = platform::openFile(kScratchFile, "wb");
        if (!scratch || !util::writeAll(scratch.get(), text) || !platform::syncFile(scratch.get()))
            return false;
        if (std::fclose(scratch.release()) != 0) return false;
    }
    return platform::renameReplace(kScratchFile, listPath);
}

// The header files of a folder, by lower-cased name.
std::map<std::string, std::string> headerFiles(std::string_view folder) {
    std::map<std::string, std::string> out;
    for (std::string& name : platform::findFiles(folderDirectory(folder), "*.omh", false, true))
        if (!name.empty() && name.front() != '.') out.emplace(lowered(name), std::move(name));
    return out;
}

struct Repair {
    int listed = 0;  // orphans listed again
    bool changed = false;
};

// Repairs one folder: records named in `drop` leave its list, a record cut off
// at the end or listed a second time goes, unlisted header files are listed
// (with the status `statuses` gives for them, else "U" with a body and "O"
// without), the count is set to the records and the index files are deleted.
Repair repairFolder(std::string_view folder, const std::unordered_set<std::string>& drop,
                    const std::map<std::string, char>& statuses) {
    Repair result;
    if (!platform::directoryExists(folderDirectory(folder))) return result;
    const std::string list = util::listPath(folder);
    const std::string count = util::countPath(folder);
    ListRecords records = readList(list);
    std::unordered_set<std::string> named;
    std::string kept;
    bool rewrite = records.torn;
    uint32_t total = 0;
    for (std::size_t i = 0; i < records.records.size(); ++i) {
        const std::string name = recordName(records, i);
        if (drop.count(name) || !named.insert(name).second) {
            rewrite = true;
            continue;
        }
        const auto [start, end] = records.records[i];
        kept.append(records.data, start, end - start);
        ++total;
    }
    if (rewrite) {
        replaceListWith(list, kept);
        result.changed = true;
    }
    for (const auto& [lower, name] : headerFiles(folder)) {
        if (named.count(lower)) continue;
        const std::string header = std::string(folder) + name;
        const std::string body = util::withLastChar(header, 'b');
        const auto given = statuses.find(lower);
        const char status = given != statuses.end() ? given->second
                            : platform::fileExists(body) ? 'U'
                                                         : 'O';
        if (detail::appendToList(header, body, list, "", status, false) == 1) {
            ++total;
            ++result.listed;
            result.changed = true;
        }
    }
    uint32_t current = 0;
    const bool hasCount = GetFile(count, current) == 1;
    if ((hasCount || records.exists || result.listed > 0) && (current != total || !hasCount)) {
        SetFile(count, total);
        result.changed = true;
    }
    for (int type = 1; type <= kHighestSortType; ++type) platform::deleteFile(util::indexPath(folder, type));
    // What was repaired is on the disk before the journal entry goes.
    syncPath(folderDirectory(folder));
    syncPath(list, true);
    syncPath(count, true);
    return result;
}

// The item files of a name: header, then body.
std::vector<std::string> itemFiles(std::string_view name) {
    std::string header(name);
    return {header, util::withLastChar(header, 'b')};
}

// Puts the file where it belongs: a copy already at the target means the
// source is the leftover of an interrupted move (a link not yet unlinked).
void settle(const std::string& from, const std::string& to) {
    if (from.empty() || detail::moveResolved(from, to)) return;
    struct stat st{};
    if (::lstat(to.c_str(), &st) == 0) platform::deleteFile(from);
}

std::string itemsText(std::size_t n) {
    return n == 1 ? std::string("1 item") : std::to_string(n) + " items";
}

std::string withListed(std::string text, int listed) {
    if (listed > 0) text += "; " + itemsText(static_cast<std::size_t>(listed)) + " listed again";
    return text;
}

// ---------------------------------------------------------------------------
// Replaying each kind of entry
// ---------------------------------------------------------------------------

std::string replayMove(const Parsed& e) {
    const std::string source = e.get("src");
    const std::vector<std::string> destinations = e.all("dst");
    struct Item {
        std::size_t destination;
        std::string name;
    };
    std::vector<Item> items;
    for (const std::string& value : e.all("item")) {
        const std::size_t space = value.find(' ');
        if (space == std::string::npos) continue;
        const std::size_t k = std::strtoul(value.substr(0, space).c_str(), nullptr, 10);
        std::string name = value.substr(space + 1);
        if (k < destinations.size() && util::isPlainName(name)) items.push_back({k, std::move(name)});
    }
    // The rename of the scratch file (or the deletion of the list when a whole
    // folder moves) is the moment the move happened.
    const ListRecords sourceList = readList(util::listPath(source));
    std::unordered_set<std::string> listed;
    for (std::size_t i = 0; i < sourceList.records.size(); ++i) listed.insert(recordName(sourceList, i));
    bool happened = true;
    for (const Item& item : items)
        if (listed.count(lowered(item.name))) happened = false;

    std::vector<std::unordered_set<std::string>> drop(destinations.size());
    const detail::DirectoryEntries here(source);
    std::map<std::string, detail::DirectoryEntries> there;
    for (const std::string& destination : destinations)
        if (!destination.empty()) there.try_emplace(destination, destination);
    for (const Item& item : items) {
        const std::string& destination = destinations[item.destination];
        for (const std::string& file : itemFiles(item.name)) {
            const std::string inSource = here.find(file);
            if (destination.empty()) {
                if (happened && !inSource.empty()) platform::deleteFile(inSource);
                continue;
            }
            const detail::DirectoryEntries& dest = there.at(destination);
            const std::string inDestination = dest.find(file);
            if (happened)
                settle(inSource, inDestination.empty() ? dest.fresh(file) : inDestination);
            else
                settle(inDestination, inSource.empty() ? here.fresh(file) : inSource);
        }
        if (!happened) drop[item.destination].insert(lowered(item.name));
    }
    if (!happened) platform::deleteFile(kScratchFile);
    int listedAgain = repairFolder(source, {}, {}).listed;
    std::set<std::string> done;
    for (std::size_t k = 0; k < destinations.size(); ++k)
        if (!destinations[k].empty() && done.insert(destinations[k]).second)
            listedAgain += repairFolder(destinations[k], drop[k], {}).listed;
    const std::string what = e.get("what");
    return withListed((happened ? "recovered an interrupted " : "undid an interrupted ") + what + " of " +
                          itemsText(items.size()),
                      listedAgain);
}

std::string replayFolderRemoval(const Parsed& e, bool remove) {
    const std::string directory = e.get("dir");
    if (remove) {
        detail::removeDirectory(directory);
        syncPath(".");
        return "recovered an interrupted removal of folder " + directory;
    }
    detail::emptyDirectory(directory);
    syncPath(directory);
    return "recovered an interrupted emptying of folder " + directory;
}

bool subscribed(std::string_view subscriptionFile, std::string_view group) {
    std::string text;
    if (!readWhole(subscriptionFile, text)) return false;
    std::size_t pos = 0;
    std::string_view line;
    while (lines::nextLine(text, pos, line))
        if (line.substr(0, line.find(':')) == group) return true;
    return false;
}

std::string replaySubSub(const Parsed& e) {
    const std::string subscriptions = e.get("subscr");
    const std::string group = e.get("group");
    if (subscribed(subscriptions, group)) {
        platform::deleteFile(kScratchFile);
        return "undid an interrupted unsubscription from " + group;
    }
    std::string text, names;
    readWhole(subscriptions, text);
    std::size_t pos = 0;
    std::string_view line;
    while (lines::nextLine(text, pos, line))
        if (!line.empty()) (names += line.substr(0, line.find(':'))) += "\r\n";
    platform::UniqueFile out = platform::openFile(e.get("names"), "wb");
    if (out) util::writeAll(out.get(), names);
    out.reset();
    for (const std::string& folder : e.all("folder")) detail::removeDirectory(folder);
    syncPath(e.get("names"), true);
    syncPath(".");
    return "recovered an interrupted unsubscription from " + group;
}

std::string replayAppend(const Parsed& e) {
    std::string directory, name;
    extractfrompath(e.get("list"), directory, name);
    const std::string status = e.get("status");
    std::map<std::string, char> statuses;
    if (!status.empty()) statuses[lowered(util::fileNamePart(e.get("header")))] = status[0];
    const Repair r = repairFolder(directory, {}, statuses);
    return r.changed ? withListed("recovered an interrupted filing in " + directory, r.listed) : std::string();
}

std::string replayFiling(const Parsed& e) {
    const std::string folder = e.get("folder");
    const std::string header = folder + e.get("header");
    const std::string body = util::withLastChar(header, 'b');
    // The message is finished, not dropped: the server still has it only
    // until the next retrieval deletes it.
    if (!platform::fileExists(header)) {
        if (!platform::fileExists(body)) platform::renameNoReplace(e.get("body"), body);
        platform::renameNoReplace(e.get("head"), header);
    }
    // A move cut short between its link and its unlink leaves the temporary
    // name on the filed file; only that very file goes, never a newer message.
    for (const auto& [temporary, filed] : {std::pair{e.get("head"), header}, std::pair{e.get("body"), body}}) {
        struct stat a{}, b{};
        if (::stat(platform::resolvePath(temporary).c_str(), &a) == 0 &&
            ::stat(platform::resolvePath(filed).c_str(), &b) == 0 && a.st_ino == b.st_ino && a.st_dev == b.st_dev)
            platform::deleteFile(temporary);
    }
    const std::string status = e.get("status");
    std::map<std::string, char> statuses;
    if (!status.empty()) statuses[lowered(e.get("header"))] = status[0];
    repairFolder(folder, {}, statuses);
    return "recovered an interrupted filing of a retrieved message";
}

}  // namespace

Entry::Entry(std::string_view operation) {
    (m_text = kFirstLine) += '\n';
    add("op", operation);
}

Entry& Entry::add(std::string_view key, std::string_view value) {
    if (value.find_first_of("\r\n") != std::string_view::npos) m_valid = false;
    m_text.append(key).append(" ").append(value).append("\n");
    return *this;
}

bool begin(const Entry& entry, bool durable) {
    if (!entry.valid()) return false;
    const std::string path = platform::resolvePath(kJournalFile);
    struct stat st{};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const std::string text = entry.text() + std::string(kEndLine) + "\n";
    bool ok = writeWhole(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0;
    if (ok && durable) ok = ::fdatasync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    // A new journal's name must reach the disk too, once.
    if (ok && durable && !existed) ok = syncPath(".");
    if (!ok) end();
    return ok;
}

void replayLeftover() {
    struct stat st{};
    if (::stat(platform::resolvePath(kJournalFile).c_str(), &st) != 0 || st.st_size == 0) return;
    std::string ignored;
    replay(ignored);
}

void end() {
    // Cut through a descriptor that is closed at once, not by name: ext4
    // marks a file cut to nothing for a flush at its next close, which would
    // otherwise be the close after the next entry is written, sending that
    // entry to the disk (a block allocated and freed again) for every filed
    // message. Closed here, the mark finds no data and nothing is written.
    const int fd = ::open(platform::resolvePath(kJournalFile).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;  // no journal could be written either: nothing to clear
    if (::ftruncate(fd, 0) != 0) {
        // The replay at the next operation or start finds the entry again.
    }
    ::close(fd);
}

bool syncPath(std::string_view path, bool dataOnly) {
    const int fd = ::open(platform::resolvePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0;
    return ::close(fd) == 0 && ok;
}

std::string folderDirectory(std::string_view folder) {
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.remove_suffix(1);
    return folder.empty() ? std::string(".") : std::string(folder);
}

int replay(std::string& report) {
    report.clear();
    std::string text;
    if (!readWhole(kJournalFile, text)) return platform::fileExists(kJournalFile) ? -1 : 0;
    if (text.empty()) return 0;
    Parsed entry;
    if (parse(text, entry)) {
        if (entry.operation == "move") report = replayMove(entry);
        else if (entry.operation == "emptydir") report = replayFolderRemoval(entry, false);
        else if (entry.operation == "removedir") report = replayFolderRemoval(entry, true);
        else if (entry.operation == "subsub") report = replaySubSub(entry);
        else if (entry.operation == "append") report = replayAppend(entry);
        else if (entry.operation == "file") report = replayFiling(entry);
    }
    end();
    if (platform::fileSize(kJournalFile) > 0) return -1;
    return report.empty() ? 0 : 1;
}

}  // namespace torvakit::journal

namespace torvakit::detail {

std::string resolvedFolder(std::string_view folder) {
    std::string directory = platform::resolvePath(journal::folderDirectory(folder));
    if (directory.empty() || directory.back() != '/') directory += '/';
    return directory;
}

DirectoryEntries::DirectoryEntries(std::string_view folder) : m_directory(resolvedFolder(folder)) {
    DIR* dir = ::opendir(m_directory.c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string lower = name;
        util::lowerAscii(lower);
        m_byLower.emplace(std::move(lower), std::move(name));  // the first spelling wins
    }
    ::closedir(dir);
}

std::string DirectoryEntries::find(std::string_view name) const {
    std::string lower(name);
    util::lowerAscii(lower);
    const auto it = m_byLower.find(lower);
    return it == m_byLower.end() ? std::string() : m_directory + it->second;
}

void DirectoryEntries::added(std::string_view name) {
    std::string lower(name);
    util::lowerAscii(lower);
    m_byLower.emplace(std::move(lower), std::string(name));
}

void DirectoryEntries::removed(std::string_view name) {
    std::string lower(name);
    util::lowerAscii(lower);
    m_byLower.erase(lower);
}

bool moveResolved(const std::string& from, const std::string& to) {
    // One atomic step that never replaces: the file is in one folder or the
    // other at every moment. Where the file system cannot do it, a link and
    // an unlink (a crash between them leaves both names; recovery settles it).
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST || errno == ENOENT) return false;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST || errno == ENOENT) return false;
    // File systems without hard links: a rename checked first, else a copy.
    struct stat st{};
    if (::lstat(to.c_str(), &st) == 0) return false;
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    return platform::copyFileReplace(from, to) && platform::deleteFile(from);
}

}  // namespace torvakit::detail

namespace torvakit {

int RecoverStore(std::string_view dataDirectory, std::string& report) {
    report.clear();
    const std::string previous = platform::currentDirectory();
    if (!dataDirectory.empty() && !platform::changeDirectory(dataDirectory)) return -1;
    const int result = journal::replay(report);
    if (!dataDirectory.empty()) platform::changeDirectory(previous);
    return result;
}

}  // namespace torvakit
