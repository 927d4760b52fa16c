// The store's journal: what a multi-file operation is about to do, written
// before it changes anything and cleared when it is done, so that an
// operation cut short by a crash can be finished or undone at the next start.
// Internal to torvakit; the public interface is torvakit.h.
//
// The journal is the file "omail.jnl" in the current (data) directory, like
// the scratch file. It holds at most one entry: lines "key value" after a
// first line naming the format, closed by a line "end". An entry without its
// "end" line was cut off while being written, before anything was changed,
// and means nothing. An empty or missing journal means nothing to do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace torvakit::journal {

inline constexpr std::string_view kJournalFile = "omail.jnl";

// Builds the text of one entry.
class Entry {
public:
    explicit Entry(std::string_view operation);
    // Values hold no line end (a path with one cannot be journaled).
    Entry& add(std::string_view key, std::string_view value);
    bool valid() const { return m_valid; }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
    bool m_valid = true;
};

// Replays an entry left by an operation that was cut short (RecoverStore
// normally has at start). Every journaled operation calls it before it writes
// anything, the scratch file included, since the replay may use it.
void replayLeftover();
// Writes the entry over whatever the journal held. durable: the entry is synced
// to the disk before this returns (the batch operations); otherwise it is left
// to the page cache, which survives the death of the process but not a power
// cut (the one-item filing steps, whose every crash state the folder repair
// can also recognise by itself). false when it cannot be written: the
// operation must then change nothing.
bool begin(const Entry& entry, bool durable);
// Clears the journal: the operation is complete.
void end();

// Syncs a file or a directory's entries to the disk (dataOnly: a file's
// data, not its times); false on failure.
bool syncPath(std::string_view path, bool dataOnly = false);
// The directory of a folder path ("in\\" -> "in", "" -> ".").
std::string folderDirectory(std::string_view folder);

// Replays the journal of the current directory. 0 when there was nothing to
// do, 1 when an interrupted operation was finished or undone (report says
// what), -1 when the journal cannot be read or cleared.
int replay(std::string& report);

}  // namespace torvakit::journal

namespace torvakit::detail {

// AppendToList without a journal entry. takeBack: when the count cannot be
// written, the record is cut off again so list and count stay in step. An
// empty countPath leaves the count alone.
int appendToList(std::string_view headerPath, std::string_view bodyPath, std::string_view listPath,
                 std::string_view countPath, char status, bool takeBack);
// The entries of one folder's directory, read once: moving thousands of items
// then costs no look-up on disk per file (a name missing from a directory
// that changes with every move would otherwise mean reading it again each time).
class DirectoryEntries {
public:
    explicit DirectoryEntries(std::string_view folder);
    // The entry's path as spelled on disk (names compared without regard to
    // case), or empty when there is none.
    std::string find(std::string_view name) const;
    // The path of a new entry of that name.
    std::string fresh(std::string_view name) const { return m_directory + std::string(name); }
    // Keeps the names in step with a change the caller made itself.
    void added(std::string_view name);
    void removed(std::string_view name);

private:
    std::string m_directory;  // resolved, ending in "/"
    std::unordered_map<std::string, std::string> m_byLower;
};

// The folder's directory as it is on disk, ending in "/".
std::string resolvedFolder(std::string_view folder);
// Moves a file between resolved paths; fails when the target exists. A hard
// link and an unlink, else a checked rename, else a copy after which the source
// goes.
bool moveResolved(const std::string& from, const std::string& to);

// EmptyDir and removedir without a journal entry.
int emptyDirectory(std::string_view directory);
int removeDirectory(std::string_view directory);

}  // namespace torvakit::detail
