// The process lock, socket start-up, error names and the line-buffer helpers
// the protocol engine builds its reply handling on.
#include "store/torvakit.h"

#include "platform/fsys.h"

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

struct ErrorName {
    int code;
    const char* name;
};

constexpr ErrorName kErrorNames[] = {
    {10004, "WSAEINTR"},          {10009, "WSAEBADF"},
    {10013, "WSAEACCES"},         {10014, "WSAEFAULT"},
    {10022, "WSAEINVAL"},         {10024, "WSAEMFILE"},
    {10035, "WSAEWOULDBLOCK"},    {10036, "WSAEINPROGRESS"},
    {10037, "WSAEALREADY"},       {10038, "WSAENOTSOCK"},
    {10039, "WSAEDESTADDRREQ"},   {10040, "WSAEMSGSIZE"},
    {10041, "WSAEPROTOTYPE"},     {10043, "WSAEPROTONOSUPPORT"},
    {10044, "WSAESOCKTNOSUPPORT"}, {10045, "WSAEOPNOTSUPP"},
    {10046, "WSAEPFNOSUPPORT"},   {10047, "WSAEAFNOSUPPORT"},
    {10048, "WSAEADDRINUSE"},     {10049, "WSAEADDRNOTAVAIL"},
    {10050, "WSAENETDOWN"},       {10051, "WSAENETUNREACH"},
    {10052, "WSAENETRESET"},      {10053, "WSAECONNABORTED"},
    {10054, "WSAECONNRESET"},     {10055, "WSAENOBUFS"},
    {10056, "WSAEISCONN"},        {10057, "WSAENOTCONN"},
    {10058, "WSAESHUTDOWN"},      {10059, "WSAETOOMANYREFS"},
    {10060, "WSAETIMEDOUT"},      {10061, "WSAECONNREFUSED"},
    {10062, "WSAELOOP"},          {10063, "WSAENAMETOOLONG"},
    {10064, "WSAEHOSTDOWN"},      {10065, "WSAEHOSTUNREACH"},
    {10066, "WSAENOTEMPTY"},      {10067, "WSAEPROCLIM"},
    {10068, "WSAEUSERS"},         {10069, "WSAEDQUOT"},
    {10070, "WSAESTALE"},         {10071, "WSAEREMOTE"},
    {10091, "WSASYSNOTREADY"},    {10092, "WSAVERNOTSUPPORTED"},
    {10093, "WSANOTINITIALISED"}, {11001, "WSAHOST_NOT_FOUND"},
    {11002, "WSATRY_AGAIN"},      {11003, "WSANO_RECOVERY"},
    {11004, "WSANO_DATA_NO_ADDR"},
};

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
    for (const ErrorName& e : kErrorNames)
        if (e.code == code) return e.name;
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
