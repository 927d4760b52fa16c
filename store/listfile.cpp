// The folder's list, count and index files: filing an item, reading a display
// row, status bytes rewritten in place, item numbers.
#include "platform/fsys.h"
#include "store/journal.h"
#include "store/lines.h"
#include "store/mimeutil.h"
#include "store/storeutil.h"
#include "store/torvakit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

namespace torvakit {
namespace {

constexpr int64_t kKilobyte = 1024;

// Where the status byte of the most recently appended record lies, and in
// which list; UpdatePrevStatus writes nowhere else.
struct PreviousRecord {
    std::string list;
    int64_t statusOffset = -1;
};
PreviousRecord g_previous;

// The values a list record is made of, picked from a header file.
struct HeaderValues {
    std::string from, replyTo, recipient, subject, date, lines, messageId;
    bool news = false;
    mime::RecordText text;  // for decoding encoded words into the record
};

bool take(std::string_view line, std::string_view name, std::string& value) {
    const int length = headercompare(line, name);
    if (length == 0) return false;
    value = util::capped(util::headerValue(line, static_cast<std::size_t>(length)));
    return true;
}

void pickValue(std::string_view line, HeaderValues& v) {
    std::string value;
    if (take(line, "From:", v.from) || take(line, "Reply-To:", v.replyTo)) return;
    if (take(line, "Newsgroups:", value)) {
        v.recipient = util::upToComma(value);
        v.news = true;
        return;
    }
    if (take(line, "To:", value)) {
        if (!v.news) v.recipient = util::upToComma(value);
        return;
    }
    if (take(line, "Subject:", v.subject) || take(line, "Date:", v.date)) return;
    if (!take(line, "Lines:", v.lines)) take(line, "Message-Id:", v.messageId);
}

bool readHeaderValues(std::string_view headerPath, HeaderValues& v) {
    platform::UniqueFile header = platform::openFile(headerPath, "rb");
    if (!header) return false;
    std::string line;
    while (lines::readLine(header.get(), line) != lines::kEndOfFile) {
        v.text.feed(line);
        pickValue(line, v);
    }
    return true;
}

std::string displayName(std::string_view address) {
    std::string name;
    extractrealname(address, 0, name);
    return name;
}

std::string sizeField(const HeaderValues& v, std::string_view bodyPath) {
    if (!v.lines.empty()) return v.lines;
    uint32_t kilobytes = 0;
    if (StatFileSize(bodyPath, kilobytes)) return std::to_string(kilobytes);
    return "-";
}

// Lines 3 to 9 of the record, each ending in CR LF.
std::string recordTail(const HeaderValues& v, std::string_view bodyPath) {
    std::string display, sortable;
    util::recordDates(v.date, display, sortable);
    std::string author = displayName(v.replyTo.empty() ? v.from : v.replyTo);
    std::string recipient = v.news ? v.recipient : displayName(v.recipient);
    std::string subject = v.subject;
    v.text.decode(!v.replyTo.empty(), v.news, author, recipient, subject);
    std::string out;
    for (std::string_view field : {std::string_view(author), std::string_view(recipient),
                                   std::string_view(subject), std::string_view(display),
                                   std::string_view(sortable)})
        (out += field) += "\r\n";
    out += sizeField(v, bodyPath) + "\r\n";
    out += v.messageId + "\r\n";
    return out;
}

// The folder part of a path: everything up to and including its last separator.
std::string_view directoryPart(std::string_view path) {
    const std::size_t sep = path.find_last_of("\\/:");
    return sep == std::string_view::npos ? std::string_view{} : path.substr(0, sep + 1);
}

bool seekTo(std::FILE* file, uint64_t offset) {
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

bool isLineEnd(int c) { return c == '\r' || c == '\n'; }

// Finds the status byte of the record at offset: the record must start a line
// (offset 0 or after a line end), and the byte after its first line must be a
// single character ending its own line. Only then may the byte be rewritten.
bool findStatusByte(std::FILE* list, uint64_t offset, int64_t& position, int& status) {
    if (offset > 0) {
        if (!seekTo(list, offset - 1) || !isLineEnd(std::fgetc(list))) return false;
    } else if (!seekTo(list, 0)) {
        return false;
    }
    std::string line;
    if (lines::readLine(list, line) == lines::kEndOfFile) return false;
    position = std::ftell(list);
    status = std::fgetc(list);
    const int after = std::fgetc(list);
    return status != EOF && !isLineEnd(status) && isLineEnd(after);
}

bool writeByteAt(std::FILE* file, int64_t position, char byte) {
    return std::fseek(file, static_cast<long>(position), SEEK_SET) == 0 &&
           std::fputc(static_cast<unsigned char>(byte), file) != EOF && std::fflush(file) == 0;
}

// Reads the record's first line at offset; false at the end of the list.
bool readFirstLine(std::FILE* list, uint64_t offset, std::string& line) {
    line.clear();
    return seekTo(list, offset) && lines::readLine(list, line) != lines::kEndOfFile;
}

// The names of the folder filed into last, kept from one filing to the next:
// reading a folder of thousands of items for every message made each filing
// slower than the one before. They are read again whenever the directory is
// not as the last filing left it (another directory, or a change time or
// modification time of its own), so only a change by another program in the
// very clock tick of a filing could go unseen; the names serve only to avoid
// another spelling of the new item's names, and the moves themselves never
// replace a file whatever the names say.
struct FolderStamp {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{}, changed{};

    bool operator==(const FolderStamp& o) const {
        return device == o.device && inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
               changed.tv_nsec == o.changed.tv_nsec;
    }
};

bool stampOf(const std::string& directory, FolderStamp& stamp) {
    struct stat st{};
    if (::stat(directory.c_str(), &st) != 0) return false;
    stamp = {st.st_dev, st.st_ino, st.st_mtim, st.st_ctim};
    return true;
}

struct FiledFolder {
    std::string directory;
    FolderStamp stamp;
    std::optional<detail::DirectoryEntries> entries;
};
FiledFolder g_filedInto;

detail::DirectoryEntries& filedFolderEntries(const std::string& directory) {
    FolderStamp now;
    const bool stamped = stampOf(directory, now);
    if (!stamped || !g_filedInto.entries || g_filedInto.directory != directory || !(g_filedInto.stamp == now)) {
        g_filedInto.entries.emplace(directory);
        g_filedInto.directory = directory;
        g_filedInto.stamp = now;
    }
    return *g_filedInto.entries;
}

// After this process's own change: the names were kept in step, the stamp follows.
void restampFiledFolder() {
    if (!g_filedInto.entries || !stampOf(g_filedInto.directory, g_filedInto.stamp)) g_filedInto.entries.reset();
}

}  // namespace

int GetFile(std::string_view path, uint32_t& value) {
    return util::readNumberFile(path, value) ? 1 : 0;
}

int SetFile(std::string_view path, uint32_t value) {
    // Written over the old number and then cut to length, not truncated
    // first: some file systems flush a file truncated to nothing when it is
    // closed, which made every filed message wait for the disk twice.
    const std::string text = std::to_string(value) + "\r\n";
    const std::string resolved = platform::resolvePath(path);
    const int fd = ::open(resolved.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return 0;
    const auto size = static_cast<ssize_t>(text.size());
    bool ok = ::pwrite(fd, text.data(), text.size(), 0) == size && ::ftruncate(fd, size) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok ? 1 : 0;
}

int MakeFileNames(std::string_view numberFile, std::string& headerName, std::string& bodyName) {
    uint32_t n = 0;
    GetFile(numberFile, n);
    if (n > util::kMaxItemNumber) n = 0;  // a damaged file: keep names at seven digits
    char name[32];
    std::snprintf(name, sizeof name, "N%07u.omh", n);
    headerName = name;
    bodyName = util::withLastChar(headerName, 'b');
    return SetFile(numberFile, n >= util::kMaxItemNumber ? 0 : n + 1);
}

int StatFileSize(std::string_view path, uint32_t& size) {
    if (!platform::fileExists(path)) return 0;
    const int64_t bytes = platform::fileSize(path);
    const int64_t kilobytes = bytes / kKilobyte;
    size = kilobytes == 0 ? 1 : static_cast<uint32_t>(kilobytes);
    return 1;
}

int AppendToList(std::string_view headerPath, std::string_view bodyPath, std::string_view listPath,
                 std::string_view countPath, char status) {
    // A kill between the record and the count, or inside the record, is
    // repaired from this entry at the next start. It is not synced: the page
    // cache outlives the process, and a sync per filed message would cost more
    // than the filing.
    journal::replayLeftover();
    journal::Entry entry("append");
    entry.add("list", listPath).add("count", countPath).add("header", headerPath)
        .add("status", std::string(1, status));
    if (!journal::begin(entry, false)) return 0;
    const int result = detail::appendToList(headerPath, bodyPath, listPath, countPath, status, false);
    journal::end();
    return result;
}

namespace detail {

int appendToList(std::string_view headerPath, std::string_view bodyPath, std::string_view listPath,
                 std::string_view countPath, char status, bool takeBack) {
    HeaderValues values;
    if (!readHeaderValues(headerPath, values)) return 0;
    util::ListAppender list;
    if (!list.open(listPath)) return 0;
    const std::string first = std::string(util::fileNamePart(headerPath)) + "\r\n";
    const int64_t statusOffset = list.recordStart() + static_cast<int64_t>(first.size());
    std::string record = first;
    record += status;
    record += "\r\n" + recordTail(values, bodyPath);
    if (!util::writeAll(list.get(), record)) return 0;  // the appender cuts it back off
    if (countPath.empty()) return list.commit(false) ? 1 : 0;
    if (takeBack) {
        if (!list.flush(false)) return 0;
        uint32_t count = 0;
        GetFile(countPath, count);
        if (SetFile(countPath, count + 1) != 1) return 0;  // the appender takes the record back
        if (!list.commit(false)) {
            SetFile(countPath, count);
            return 0;
        }
        g_previous = {platform::resolvePath(listPath), statusOffset};
        return 1;
    }
    if (!list.commit(false)) return 0;
    g_previous = {platform::resolvePath(listPath), statusOffset};
    uint32_t count = 0;
    GetFile(countPath, count);
    return SetFile(countPath, count + 1);
}

}  // namespace detail

int FileRetrieved(std::string_view numberFile, std::string_view headPath, std::string_view bodyPath,
                  std::string_view folder, char status, std::string& headerName) {
    headerName.clear();
    const std::string head = platform::resolvePath(headPath), body = platform::resolvePath(bodyPath);
    // The folder as spelled on disk, looked up once: "in\\" names the
    // directory "IN", and every path built on the given spelling would be
    // looked up again, the data directory read each time.
    const std::string directory = detail::resolvedFolder(folder);
    if (!platform::fileExists(head) || !platform::directoryExists(directory)) return 0;
    std::string header, bodyName;
    // When the number cannot be stored, every later message would get the
    // same one: nothing is filed.
    journal::replayLeftover();
    if (MakeFileNames(numberFile, header, bodyName) != 1) return 0;
    detail::DirectoryEntries& entries = filedFolderEntries(directory);
    // An item already there is never overwritten (a damaged number file).
    if (!entries.find(header).empty() || !entries.find(bodyName).empty()) return 0;
    const std::string headerFile = entries.fresh(header), bodyFile = entries.fresh(bodyName);
    journal::Entry entry("file");
    entry.add("folder", folder).add("header", header).add("head", headPath).add("body", bodyPath)
        .add("status", std::string(1, status));
    if (!journal::begin(entry, false)) return 0;
    const bool hasBody = platform::fileExists(body);
    bool ok = !hasBody || detail::moveResolved(body, bodyFile);
    if (ok && !detail::moveResolved(head, headerFile)) {
        if (hasBody) detail::moveResolved(bodyFile, body);
        ok = false;
    }
    // Without a body the record's size needs no look-up of a name that is
    // not there (which would read the whole folder).
    if (ok && detail::appendToList(headerFile, hasBody ? bodyFile : std::string(), util::listPath(directory),
                                   util::countPath(directory), status, true) != 1) {
        detail::moveResolved(headerFile, head);
        if (hasBody) detail::moveResolved(bodyFile, body);
        ok = false;
    }
    if (ok) {
        entries.added(header);
        if (hasBody) entries.added(bodyName);
        for (int type : {2, 3, 4, 5, 7, 8}) {
            // The store's own spelling goes by name whatever the kept names
            // say: a sort may have written it since they were read.
            const std::string name = "n" + std::to_string(type) + ".idx";
            ::unlink(entries.fresh(name).c_str());
            const std::string spelled = entries.find(name);
            if (!spelled.empty()) ::unlink(spelled.c_str());
            entries.removed(name);
        }
        restampFiledFolder();
    } else {
        g_filedInto.entries.reset();
    }
    journal::end();
    if (ok) headerName = header;
    return ok ? 1 : 0;
}

int FileRetrievedBody(std::string_view bodyPath, std::string_view folder, std::string_view headerName) {
    const std::string body = platform::resolvePath(bodyPath);
    const std::string directory = detail::resolvedFolder(folder);
    if (!util::isPlainName(headerName) || !platform::fileExists(body)) return 0;
    const std::string bodyName = util::withLastChar(std::string(headerName), 'b');
    // The listing FileRetrieved keeps for the folder stays in step, so the
    // next article filed does not read the folder again.
    detail::DirectoryEntries& entries = filedFolderEntries(directory);
    if (!entries.find(bodyName).empty()) return 0;
    if (!detail::moveResolved(body, entries.fresh(bodyName))) {
        g_filedInto.entries.reset();
        return 0;
    }
    entries.added(bodyName);
    restampFiledFolder();
    return 1;
}

int UpdatePrevStatus(std::string_view listPath, char status) {
    platform::UniqueFile list = platform::openFile(listPath, "r+b");
    if (!list) return 0;
    if (g_previous.statusOffset < 0) return 1;  // nothing appended yet: nothing to write
    if (platform::resolvePath(listPath) != g_previous.list) return 0;
    // The remembered byte must still be a status byte: the list may have been
    // rewritten since.
    std::FILE* f = list.get();
    const int64_t at = g_previous.statusOffset;
    if (std::fseek(f, static_cast<long>(at - 1), SEEK_SET) != 0 || !isLineEnd(std::fgetc(f))) return 0;
    const int old = std::fgetc(f);
    const int after = std::fgetc(f);
    if (old == EOF || isLineEnd(old) || !isLineEnd(after)) return 0;
    return writeByteAt(f, at, status) ? 1 : 0;
}

int ReadListItems(int32_t row, std::string_view indexPath, std::string_view listPath,
                  std::string& status, std::string& author, std::string& recipient,
                  std::string& subject, std::string& date, std::string& size, int32_t& hasBody) {
    status.clear(), author.clear(), recipient.clear(), subject.clear(), date.clear(), size.clear();
    hasBody = 0;
    if (!platform::fileExists(indexPath)) return 0;
    const uint64_t offset = util::resolveRow(indexPath, row);
    platform::UniqueFile list = platform::openFile(listPath, "rb");
    if (!list) return 0;
    std::string name, sortable;
    std::FILE* f = list.get();
    if (readFirstLine(f, offset, name)) {
        for (std::string* field : {&status, &author, &recipient, &subject, &date, &sortable, &size})
            lines::readLine(f, *field);
    }
    if (util::isPlainName(name)) {
        const std::string body = std::string(directoryPart(indexPath)) + util::withLastChar(name, 'b');
        hasBody = platform::fileExists(body) ? 1 : 0;
    }
    return 1;
}

int GetListStatus(std::string_view folder, int32_t row, int32_t sortType) {
    const uint64_t offset = util::resolveRow(util::indexPath(folder, sortType), row);
    platform::UniqueFile list = platform::openFile(util::listPath(folder), "rb");
    if (!list) return 0;
    std::string name;
    if (!readFirstLine(list.get(), offset, name)) return 0;
    const int c = std::fgetc(list.get());
    return c == EOF ? 0 : static_cast<signed char>(c);
}

int SetListStatus(std::string_view folder, int32_t row, int32_t sortType, char status) {
    const uint64_t offset = util::resolveRow(util::indexPath(folder, sortType), row);
    platform::UniqueFile list = platform::openFile(util::listPath(folder), "r+b");
    if (!list) return 0;
    int64_t position = 0;
    int old = 0;
    if (!findStatusByte(list.get(), offset, position, old)) return 0;
    if (!writeByteAt(list.get(), position, status)) return 0;
    return static_cast<char>(old) == status ? 2 : 1;
}

int DeselectList(std::string_view folder, int32_t sortType) {
    platform::UniqueFile list = platform::openFile(util::listPath(folder), "r+b");
    if (!list) return 0;
    uint32_t count = 0;
    GetFile(util::countPath(folder), count);
    const std::string indexFile = util::indexPath(folder, sortType);
    // Rows past the end of the index all resolve to the first record, so the
    // rows worth visiting are bounded by the index, not by a damaged count.
    platform::UniqueFile index = platform::openFile(indexFile, "rb");
    const int64_t indexBytes = index ? platform::fileSize(indexFile) : 0;
    const int64_t indexRows = indexBytes / util::kIndexRecordSize;
    const int64_t rows = std::min<int64_t>(count, indexRows + 1);
    int changed = 0;
    for (int64_t row = 0; row < rows; ++row) {
        const uint64_t offset = util::resolveRow(index.get(), static_cast<int32_t>(row));
        int64_t position = 0;
        int old = 0;
        if (findStatusByte(list.get(), offset, position, old) && old == 'S' &&
            writeByteAt(list.get(), position, 'O'))
            ++changed;
    }
    return changed;
}

int GetBodyFileName(std::string_view folder, int32_t row, int32_t sortType, std::string& bodyPath) {
    bodyPath.clear();
    const uint64_t offset = util::resolveRow(util::indexPath(folder, sortType), row);
    platform::UniqueFile list = platform::openFile(util::listPath(folder), "rb");
    if (!list) return 0;
    std::string name;
    readFirstLine(list.get(), offset, name);
    if (!util::isPlainName(name)) return 0;
    bodyPath = std::string(folder) + util::withLastChar(name, 'b');
    return 1;
}

int CalcItems(std::string_view folder, int32_t kind, int32_t& count) {
    count = 0;
    bool any = false;
    for (const std::string& name : platform::findFiles(folder, "*.omh", false, true)) {
        if (name.empty() || name.front() == '.') continue;
        any = true;
        if (HeaderType(std::string(folder) + "/" + name) == kind) ++count;
    }
    return any ? 1 : 0;
}

int GetFirstField(int32_t row, std::string_view indexPath, std::string_view listPath,
                  std::string& line) {
    line.clear();
    if (!platform::fileExists(indexPath)) return 0;
    const uint64_t offset = util::resolveRow(indexPath, row);
    platform::UniqueFile list = platform::openFile(listPath, "rb");
    if (!list) return 0;
    readFirstLine(list.get(), offset, line);
    return 1;
}

}  // namespace torvakit
