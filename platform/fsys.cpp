#include "platform/fsys.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace platform {
namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

bool exists(const std::string& p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

// Per directory, the lower-cased names and their spelling on disk. Kept as
// long as the directory's modification time is unchanged, so a folder of many
// items is read once, not once per missing name.
struct DirListing {
    timespec mtime{};
    std::unordered_map<std::string, std::string> byLower;
    std::unordered_set<std::string> spelledTwice;  // lower-cased names with more than one spelling
};

std::mutex g_dirMutex;
std::map<std::string, DirListing> g_dirs;

bool findCaseless(const std::string& dir, std::string_view name, std::string& found) {
    struct stat st;
    std::string d = dir.empty() ? "." : dir;
    if (stat(d.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    std::lock_guard lock(g_dirMutex);
    DirListing& listing = g_dirs[d];
    if (listing.mtime.tv_sec != st.st_mtim.tv_sec || listing.mtime.tv_nsec != st.st_mtim.tv_nsec ||
        listing.byLower.empty()) {
        listing.byLower.clear();
        listing.spelledTwice.clear();
        listing.mtime = st.st_mtim;
        if (DIR* dp = opendir(d.c_str())) {
            while (dirent* e = readdir(dp)) {
                std::string n = e->d_name;
                if (n == "." || n == "..") continue;
                std::string lower = lowerAscii(n);
                if (!listing.byLower.emplace(lower, n).second) listing.spelledTwice.insert(std::move(lower));
            }
            closedir(dp);
        }
    }
    auto it = listing.byLower.find(lowerAscii(name));
    if (it == listing.byLower.end()) return false;
    found = it->second;
    return true;
}

// Deletes a resolved path. A cached listing of its directory that was
// current just before stays current after it: deleting the index files of a
// large folder one after the other then reads the folder once, not once per
// file.
bool unlinkListed(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::lock_guard lock(g_dirMutex);
    const auto it = g_dirs.find(dir);
    struct stat before;
    const bool tracked = it != g_dirs.end() && !it->second.byLower.empty() && stat(dir.c_str(), &before) == 0 &&
                         it->second.mtime.tv_sec == before.st_mtim.tv_sec &&
                         it->second.mtime.tv_nsec == before.st_mtim.tv_nsec;
    if (unlink(path.c_str()) != 0) return false;
    struct stat after;
    if (!tracked) return true;
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    DirListing& listing = it->second;
    const std::string lower = lowerAscii(name);
    const auto entry = listing.byLower.find(lower);
    // The deleted spelling leaves the table; a name spelled more than one way
    // is read again. The listing stays in use only if nothing but this
    // deletion changed the directory.
    if (entry != listing.byLower.end() && entry->second == name && !listing.spelledTwice.count(lower) &&
        stat(dir.c_str(), &after) == 0) {
        listing.byLower.erase(entry);
        listing.mtime = after.st_mtim;
    }
    return true;
}

std::string parentOf(const std::string& path, std::string& name) {
    const std::size_t slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The cached listing of dir when it is current, else null (g_dirMutex held).
DirListing* currentListing(const std::string& dir) {
    const auto it = g_dirs.find(dir);
    struct stat st;
    if (it == g_dirs.end() || it->second.byLower.empty() || stat(dir.c_str(), &st) != 0 ||
        it->second.mtime.tv_sec != st.st_mtim.tv_sec || it->second.mtime.tv_nsec != st.st_mtim.tv_nsec)
        return nullptr;
    return &it->second;
}

// Moves a resolved path to a resolved free name, as link + unlink. Cached
// listings of both directories that were current just before are brought
// up to date, so filing many items into a large folder one after the other
// reads the folder once, not once per item.
int linkListed(const std::string& src, const std::string& dst) {
    std::string srcName, dstName;
    const std::string srcDir = parentOf(src, srcName), dstDir = parentOf(dst, dstName);
    std::lock_guard lock(g_dirMutex);
    DirListing* to = currentListing(dstDir);
    DirListing* from = srcDir == dstDir ? to : currentListing(srcDir);
    if (link(src.c_str(), dst.c_str()) != 0) return errno;
    unlink(src.c_str());
    if (to) {
        const std::string lower = lowerAscii(dstName);
        if (!to->byLower.emplace(lower, dstName).second) to->spelledTwice.insert(lower);
    }
    if (from) {
        const std::string lower = lowerAscii(srcName);
        const auto entry = from->byLower.find(lower);
        if (entry != from->byLower.end() && entry->second == srcName && !from->spelledTwice.count(lower))
            from->byLower.erase(entry);
        else
            from->byLower.clear();  // read again on the next look-up
    }
    // Kept only if nothing but this move changed the directories.
    for (auto [dir, listing] : {std::pair{&dstDir, to}, std::pair{&srcDir, from}}) {
        struct stat after;
        if (!listing || listing->byLower.empty()) continue;
        if (stat(dir->c_str(), &after) == 0) listing->mtime = after.st_mtim;
        else listing->byLower.clear();
    }
    return 0;
}

}  // namespace

std::string nativePath(std::string_view path) {
    std::string out(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

std::string resolvePath(std::string_view path) {
    std::string in = nativePath(path);
    if (in.empty() || exists(in)) return in;

    std::string out;
    size_t pos = 0;
    if (in[0] == '/') {
        out = "/";
        pos = 1;
    }
    bool missing = false;  // once a component is missing, the rest are kept as written
    while (pos <= in.size()) {
        size_t slash = in.find('/', pos);
        if (slash == std::string::npos) slash = in.size();
        std::string comp = in.substr(pos, slash - pos);
        std::string dir = out;
        if (!comp.empty() && comp != "." && comp != ".." && !missing) {
            std::string candidate = dir + comp;
            if (!exists(candidate)) {
                std::string found;
                std::string parent = dir.empty() ? "." : dir.substr(0, dir.size() > 1 ? dir.size() - 1 : 1);
                if (findCaseless(parent, comp, found))
                    comp = found;
                else
                    missing = true;
            }
        }
        out += comp;
        if (slash < in.size()) out += '/';
        pos = slash + 1;
    }
    return out;
}

UniqueFile openFile(std::string_view path, const char* mode) {
    return UniqueFile(std::fopen(resolvePath(path).c_str(), mode));
}

bool fileExists(std::string_view path) {
    struct stat st;
    return stat(resolvePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool directoryExists(std::string_view path) {
    struct stat st;
    return stat(resolvePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t fileSize(std::string_view path) {
    struct stat st;
    if (stat(resolvePath(path).c_str(), &st) != 0) return -1;
    return st.st_size;
}

bool deleteFile(std::string_view path) { return unlinkListed(resolvePath(path)); }

bool createDirectory(std::string_view path) {
    std::string p = resolvePath(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (exists(p)) return false;
    return mkdir(p.c_str(), 0777) == 0;
}

bool removeDirectory(std::string_view path) { return rmdir(resolvePath(path).c_str()) == 0; }

bool renameNoReplace(std::string_view from, std::string_view to) {
    std::string src = resolvePath(from);
    std::string dst = resolvePath(to);
    if (exists(dst)) return false;
    // link + unlink fails atomically when the target appeared meanwhile.
    const int error = linkListed(src, dst);
    if (error == 0) return true;
    if (error == EEXIST || error == ENOENT) return false;
    // File systems without hard links: fall back to a checked rename.
    if (exists(dst)) return false;
    return rename(src.c_str(), dst.c_str()) == 0;
}

bool renameReplace(std::string_view from, std::string_view to) {
    return rename(resolvePath(from).c_str(), resolvePath(to).c_str()) == 0;
}

bool syncFile(std::FILE* file) {
    if (!file) return false;
    if (std::fflush(file) != 0) return false;
    return fsync(fileno(file)) == 0;
}

bool copyFileReplace(std::string_view from, std::string_view to) {
    std::string src = resolvePath(from);
    std::string dst = resolvePath(to);
    UniqueFile in(std::fopen(src.c_str(), "rb"));
    if (!in) return false;
    std::string tmp = dst + ".copy-XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) return false;
    UniqueFile out(fdopen(fd, "wb"));
    if (!out) {
        close(fd);
        unlink(tmp.c_str());
        return false;
    }
    struct stat st;
    if (fstat(fileno(in.get()), &st) == 0) fchmod(fd, st.st_mode & 07777);
    char buf[65536];
    size_t n;
    bool ok = true;
    while ((n = std::fread(buf, 1, sizeof buf, in.get())) > 0)
        if (std::fwrite(buf, 1, n, out.get()) != n) {
            ok = false;
            break;
        }
    ok = ok && !std::ferror(in.get()) && std::fflush(out.get()) == 0;
    out.reset();
    if (!ok || rename(tmp.c_str(), dst.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool wildcardMatch(std::string_view pattern, std::string_view name) {
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lowerAscii(pattern[p]) == lowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> findFiles(std::string_view dir, std::string_view pattern, bool directoriesOnly,
                                   bool filesOnly) {
    std::vector<std::string> names;
    std::string d = resolvePath(dir);
    if (d.empty()) d = ".";
    DIR* dp = opendir(d.c_str());
    if (!dp) return names;
    while (dirent* e = readdir(dp)) {
        std::string n = e->d_name;
        if (n == "." || n == ".." || !wildcardMatch(pattern, n)) continue;
        if (directoriesOnly || filesOnly) {
            // The entry's type comes with it on most file systems; stat only
            // where it does not, or for a link (its target decides).
            if (e->d_type == DT_REG || e->d_type == DT_DIR) {
                if (directoriesOnly && e->d_type != DT_DIR) continue;
                if (filesOnly && e->d_type != DT_REG) continue;
                names.push_back(std::move(n));
                continue;
            }
            struct stat st;
            if (stat((d + "/" + n).c_str(), &st) != 0) continue;
            if (directoriesOnly && !S_ISDIR(st.st_mode)) continue;
            if (filesOnly && !S_ISREG(st.st_mode)) continue;
        }
        names.push_back(std::move(n));
    }
    closedir(dp);
    std::sort(names.begin(), names.end());
    return names;
}

int lockExclusive(std::string_view path) {
    int fd = open(resolvePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    // flock is released by the kernel when the process ends, however it ends.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void unlockExclusive(int fd) {
    if (fd < 0) return;
    flock(fd, LOCK_UN);
    close(fd);
}

std::string currentDirectory() {
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf)) return ".";
    std::string d = buf;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d;
}

bool changeDirectory(std::string_view path) { return chdir(resolvePath(path).c_str()) == 0; }

}  // namespace platform
