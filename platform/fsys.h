// File-system services of the store and the program.
//
// Store names are written in two cases ("IN" and "in", ".omh" and ".OMH") and
// with the backslash as separator. Every function here takes such a path,
// turns backslashes into "/" and resolves each component that exists without
// regard to case; a component that does not exist is kept as written (so a
// file is created under the name the caller gave).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Backslashes to "/"; nothing else changes.
std::string nativePath(std::string_view path);
// The path as it exists on disk (see above).
std::string resolvePath(std::string_view path);

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { if (f) std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;
// fopen on the resolved path.
UniqueFile openFile(std::string_view path, const char* mode);

bool fileExists(std::string_view path);       // a regular file
bool directoryExists(std::string_view path);
int64_t fileSize(std::string_view path);      // -1 when missing
bool deleteFile(std::string_view path);
bool createDirectory(std::string_view path);  // false when it exists or cannot be made
bool removeDirectory(std::string_view path);  // only an empty one

// Fails when `to` exists (in any case spelling) or `from` is missing.
bool renameNoReplace(std::string_view from, std::string_view to);
// Replaces `to` in one step; used to put a completely written file in place.
bool renameReplace(std::string_view from, std::string_view to);
// Copies, replacing `to`; the copy is written to a temporary name first.
bool copyFileReplace(std::string_view from, std::string_view to);
// Flushes a stdio file and its data to the disk.
bool syncFile(std::FILE* file);

// "*" and "?" wildcards, compared without regard to ASCII case.
bool wildcardMatch(std::string_view pattern, std::string_view name);
// Names (not paths) of the entries of dir matching pattern, sorted by byte value.
// directoriesOnly/filesOnly select the kind; both false gives everything but "." and "..".
std::vector<std::string> findFiles(std::string_view dir, std::string_view pattern,
                                   bool directoriesOnly = false, bool filesOnly = false);

// An exclusive lock on the file, held until unlockExclusive or the death of
// the process. Returns a descriptor, or -1 when another process holds it or
// the file cannot be opened.
int lockExclusive(std::string_view path);
void unlockExclusive(int fd);

// The process's current directory, without trailing separator.
std::string currentDirectory();
bool changeDirectory(std::string_view path);

}  // namespace platform
