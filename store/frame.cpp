// The process lock, socket start-up, error names and the line-buffer helpers
// the protocol engine builds its reply handling on.
#include "store/torvakit.h"

#include "platform/fsys.h"
#include "platform/wsaerrors.h"

#include <cstdio>
#include <cstring>

namespace torvakit {
namespace {

// The lock's descriptor: -2 never tried, -1 a failed attempt (kept, so later
// calls also refuse), otherwise the open, locked file.
constexpr int kNeverLocked = -2;
int g_lockFd = kNeverLocked;
bool g_lockHeld = false;

constexpr const char* kFixedFolders[] = {"IN", "OUT", "SENT", "BIN", "DECODE"};

char g_errorText[32];

}  // namespace

int ApplicationLock(std::string_view lockPath) {
    if (g_lockFd != kNeverLocked) return 1;
    if (!platform::fileExists(lockPath)) {
        platform::UniqueFile f = platform::openFile(lockPath, "wb");
        if (!f) return 1;
        std::fwrite(kLockFileText.data(), 1, kLockFileText.size(), f.get());
    }
    g_lockFd = platform::lockExclusive(lockPath);
    if (g_lockFd < 0) {
        g_lockFd = -1;
        return 1;
    }
    g_lockHeld = true;
    for (const char* folder : kFixedFolders)
        if (!platform::directoryExists(folder)) platform::createDirectory(folder);
    return 0;
}

int ApplicationUnlock() {
    if (!g_lockHeld) return 1;
    platform::unlockExclusive(g_lockFd);
    g_lockHeld = false;  // the descriptor value stays, so the lock is not taken again
    return 0;
}

// Linux sockets need no start-up; the codes reported remain WinSock's.
int OpenWinsock() { return 0; }
int CloseWinsock() { return 0; }

const char* GetWSAError(int code) {
    if (const char* name = platform::wsaErrorName(code)) return name;
    std::snprintf(g_errorText, sizeof g_errorText, "WINSOCK ERROR %d", code);
    return g_errorText;
}

int serverstatus(std::string_view line) {
    int value = 0;
    for (char c : line) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
    }
    return value;
}

int linestatus(std::string_view line) {
    if (line.empty() || line[0] != '.') return 3;
    return (line.size() > 1 && line[1] == '\r') ? 2 : 1;
}

int eolnposition(const char* buffer, int count) {
    if (!buffer || count <= 0) return -1;
    const void* lf = std::memchr(buffer, '\n', static_cast<size_t>(count));
    return lf ? static_cast<int>(static_cast<const char*>(lf) - buffer) : -1;
}

int copylinefrombuffer(const char* source, char* dest, int capacity, int sourceLength) {
    if (capacity < 3) return 0;  // no room for CR LF NUL
    int limit = capacity - 3;
    if (sourceLength >= 0 && sourceLength < limit) limit = sourceLength;
    int n = 0;
    while (n < limit && source[n] != '\r' && source[n] != '\n') {
        dest[n] = source[n];
        ++n;
    }
    dest[n] = '\r';
    dest[n + 1] = '\n';
    dest[n + 2] = '\0';
    return n + 2;
}

int shiftdownbuffer(char* buffer, int& count, int lfIndex) {
    if (lfIndex < 0) return 0;
    int rest = count - (lfIndex + 1);
    if (rest > 0) std::memmove(buffer, buffer + lfIndex + 1, static_cast<size_t>(rest));
    count = rest > 0 ? rest : 0;
    return 0;
}

int copytobuffer(char* dest, int capacity, int& position, const char* source, int length) {
    if (length < 0 || position < 0 || static_cast<long>(position) + length > capacity) return 1;
    if (length > 0) std::memcpy(dest + position, source, static_cast<size_t>(length));
    position += length;
    return 0;
}

}  // namespace torvakit
