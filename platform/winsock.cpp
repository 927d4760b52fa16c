// The WinSock 1.1 asynchronous layer over POSIX non-blocking sockets.
//
// Each socket handle owns a record with what the caller asked for and where
// the WinSock re-enabling rules stand. The event loop is told to watch a
// descriptor only for what can lead to a notification right now: read
// readiness while no FD_READ is outstanding, write readiness while a connect
// runs or an FD_WRITE is owed. Level-triggered loops (poll, QSocketNotifier)
// would otherwise report the same readiness again and again.
#include "platform/winsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <system_error>
#include <thread>

namespace platform {
namespace {

thread_local int t_lastError = 0;
constexpr size_t kMaxDrainOnClose = 1 << 20;

int fail(int code) {
    t_lastError = code;
    return SOCKET_ERROR;
}

// Socket and look-up handles share one counter and are never reused.
uintptr_t g_nextHandle = 1;
int g_startups = 0;

struct SocketRec {
    int fd = -1;
    Window* window = nullptr;
    uint32_t msg = 0;
    long events = 0;
    bool connecting = false;  // connect started, FD_CONNECT not yet reported
    bool connected = false;
    bool readPosted = false;  // FD_READ posted, no wsRecv since
    bool writeOwed = false;   // FD_WRITE to post once writable
    bool closeSeen = false;   // end of stream or failure reported
    // What the event loop currently watches.
    bool watchRead = false;
    bool watchWrite = false;
};

std::map<SOCKET, SocketRec>& sockets() {
    static std::map<SOCKET, SocketRec> table;
    return table;
}

SocketRec* findSocket(SOCKET s) {
    auto it = sockets().find(s);
    return it == sockets().end() ? nullptr : &it->second;
}

void post(const SocketRec& rec, SOCKET s, long event, int error) {
    if (rec.window && (rec.events & event))
        PostMessage(rec.window, rec.msg, s, WSAMAKESELECTREPLY(static_cast<int>(event), error));
}

void onReady(SOCKET s, bool readable, bool writable, bool failed);

void updateWatch(SOCKET s, SocketRec& rec) {
    bool wantRead = rec.connected && !rec.closeSeen && !rec.readPosted &&
                    (rec.events & (FD_READ | FD_CLOSE));
    bool wantWrite = rec.connecting || (rec.connected && rec.writeOwed && (rec.events & FD_WRITE));
    if (rec.window == nullptr || rec.events == 0) wantRead = wantWrite = false;
    if (wantRead == rec.watchRead && wantWrite == rec.watchWrite) return;
    EventLoop* loop = eventLoop();
    if (!loop) return;
    rec.watchRead = wantRead;
    rec.watchWrite = wantWrite;
    if (!wantRead && !wantWrite) {
        loop->unwatchFd(rec.fd);
        return;
    }
    loop->watchFd(rec.fd, wantRead, wantWrite,
                  [s](int, bool r, bool w, bool f) { onReady(s, r, w, f); });
}

void finishConnect(SOCKET s, SocketRec& rec) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(rec.fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    rec.connecting = false;
    rec.connected = (err == 0);
    if (rec.connected) rec.writeOwed = true;
    post(rec, s, FD_CONNECT, err == 0 ? 0 : wsErrorFromErrno(err));
}

void checkReadable(SOCKET s, SocketRec& rec) {
    char probe;
    ssize_t n = recv(rec.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        // Without FD_READ in the mask nothing is posted, but the data still
        // waits for a wsRecv before we look again.
        rec.readPosted = true;
        post(rec, s, FD_READ, 0);
    } else if (n == 0) {
        rec.closeSeen = true;
        post(rec, s, FD_CLOSE, 0);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        rec.closeSeen = true;
        post(rec, s, FD_CLOSE, wsErrorFromErrno(errno));
    }
}

void onReady(SOCKET s, bool readable, bool writable, bool failed) {
    SocketRec* rec = findSocket(s);
    if (!rec) return;
    if (rec->connecting) {
        if (writable || failed || readable) finishConnect(s, *rec);
    } else {
        if (writable && rec->writeOwed && (rec->events & FD_WRITE)) {
            rec->writeOwed = false;
            post(*rec, s, FD_WRITE, 0);
        }
        if ((readable || failed) && rec->connected && !rec->readPosted && !rec->closeSeen)
            checkReadable(s, *rec);
    }
    updateWatch(s, *rec);
}

// Look-ups ---------------------------------------------------------------

struct Lookup {
    // Set on the loop thread when started; read there when done.
    Window* window = nullptr;
    uint32_t msg = 0;
    HostEntry* out = nullptr;
    // Written by the worker before it posts its completion.
    std::string name;
    HostEntry result;
    int error = 0;
};

std::atomic<bool> g_relayGone{false};

// Receives the workers' completions on the loop thread, where the caller's
// record can be filled and a cancelled look-up dropped without races.
class LookupRelay final : public Window {
public:
    LookupRelay() { (void)eventLoop(); }  // the message queue must outlive us
    ~LookupRelay() override { g_relayGone = true; }
    std::map<AsyncHandle, std::shared_ptr<Lookup>> pending;

    void handleMessage(uint32_t, uintptr_t handle, intptr_t) override {
        auto it = pending.find(handle);
        if (it == pending.end()) return;  // cancelled
        std::shared_ptr<Lookup> lookup = it->second;
        pending.erase(it);
        *lookup->out = std::move(lookup->result);
        PostMessage(lookup->window, lookup->msg, handle, WSAMAKEASYNCREPLY(0, lookup->error));
    }
};

LookupRelay& relay() {
    static LookupRelay r;
    return r;
}

int lookupError(int gaiError) {
    switch (gaiError) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    default: return WSANO_RECOVERY;
    }
}

void resolve(Lookup& lookup) {
    if (lookup.name.empty()) {
        lookup.error = WSAHOST_NOT_FOUND;
        return;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    int rc = getaddrinfo(lookup.name.c_str(), nullptr, &hints, &list);
    lookup.error = lookupError(rc);
    if (rc != 0) return;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(list, freeaddrinfo);
    lookup.result.name = (list && list->ai_canonname) ? list->ai_canonname : lookup.name;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        HostAddress any;
        if (ai->ai_family == AF_INET) {
            auto* sin = reinterpret_cast<sockaddr_in*>(ai->ai_addr);
            uint32_t a = sin->sin_addr.s_addr;
            std::memcpy(any.bytes.data(), &a, 4);
            bool seen = false;
            for (uint32_t b : lookup.result.addresses) seen = seen || a == b;
            if (!seen) lookup.result.addresses.push_back(a);
        } else if (ai->ai_family == AF_INET6) {
            auto* sin6 = reinterpret_cast<sockaddr_in6*>(ai->ai_addr);
            any.family = WS_AF_INET6;
            std::memcpy(any.bytes.data(), &sin6->sin6_addr, 16);
        } else {
            continue;
        }
        bool seen = false;
        for (const HostAddress& b : lookup.result.all) seen = seen || (b.family == any.family && b.bytes == any.bytes);
        if (!seen) lookup.result.all.push_back(any);
    }
    if (lookup.result.all.empty()) lookup.error = WSANO_DATA;
}

}  // namespace

int wsErrorFromErrno(int err) {
    switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;  // a started connect, in WinSock's words
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: case EPIPE: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
    }
}

int WSAStartup(uint16_t versionRequested, WSAData& data) {
    uint8_t major = versionRequested & 0xFF;
    uint8_t minor = versionRequested >> 8;
    data.wHighVersion = 0x0101;
    data.description = "POSIX sockets";
    if (major < 1 || (major == 1 && minor < 1)) {
        data.wVersion = 0;
        return WSAVERNOTSUPPORTED;
    }
    data.wVersion = 0x0101;
    ++g_startups;
    return 0;
}

int WSACleanup() {
    if (g_startups == 0) return fail(WSANOTINITIALISED);
    --g_startups;
    return 0;
}

int WSAGetLastError() { return t_lastError; }
void WSASetLastError(int error) { t_lastError = error; }

AsyncHandle WSAAsyncGetHostByName(Window* window, uint32_t msg, std::string_view name, HostEntry& out) {
    if (!window) {
        fail(WSAEFAULT);
        return 0;
    }
    auto lookup = std::make_shared<Lookup>();
    lookup->window = window;
    lookup->msg = msg;
    lookup->out = &out;
    lookup->name = std::string(name);
    AsyncHandle handle = g_nextHandle++;
    LookupRelay& r = relay();
    try {
        std::thread([lookup, handle, &r] {
            resolve(*lookup);
            if (!g_relayGone) PostMessage(&r, 0, handle, 0);
        }).detach();
    } catch (const std::system_error&) {
        fail(WSAENOBUFS);
        return 0;
    }
    r.pending[handle] = std::move(lookup);
    return handle;
}

int WSACancelAsyncRequest(AsyncHandle handle) {
    LookupRelay& r = relay();
    if (r.pending.erase(handle)) return 0;
    if (handle == 0 || handle >= g_nextHandle) return fail(WSAEINVAL);
    return fail(WSAEALREADY);
}

SOCKET wsSocket(int family, int type, int protocol) {
    if (family != WS_AF_INET && family != WS_AF_INET6) return fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
    if (type != WS_SOCK_STREAM) return fail(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
    if (protocol != 0 && protocol != WS_IPPROTO_TCP) return fail(WSAEPROTONOSUPPORT), INVALID_SOCKET;
    int fd = ::socket(family == WS_AF_INET ? AF_INET : AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                      IPPROTO_TCP);
    if (fd < 0) return fail(wsErrorFromErrno(errno)), INVALID_SOCKET;
    SOCKET s = g_nextHandle++;
    sockets()[s].fd = fd;
    return s;
}

int WSAAsyncSelect(SOCKET s, Window* window, uint32_t msg, long events) {
    SocketRec* rec = findSocket(s);
    if (!rec) return fail(WSAENOTSOCK);
    if (events != 0 && !window) return fail(WSAEINVAL);
    if (events != 0 && !eventLoop()) return fail(WSASYSNOTREADY);
    rec->window = window;
    rec->msg = msg;
    rec->events = events;
    // A new request starts the rules afresh: a connected socket that can
    // write is reported writable, and read readiness is looked at again.
    rec->readPosted = false;
    if (rec->connected && (events & FD_WRITE)) rec->writeOwed = true;
    updateWatch(s, *rec);
    return 0;
}

namespace {

int startConnect(SOCKET s, const sockaddr* address, socklen_t length) {
    SocketRec* rec = findSocket(s);
    if (!rec) return fail(WSAENOTSOCK);
    if (rec->connected) return fail(WSAEISCONN);
    if (rec->connecting) return fail(WSAEALREADY);
    int rc = ::connect(rec->fd, address, length);
    if (rc != 0 && errno != EINPROGRESS) return fail(wsErrorFromErrno(errno));
    // Even a connect that completed at once is reported by FD_CONNECT.
    rec->connecting = true;
    updateWatch(s, *rec);
    if (rc == 0) return 0;
    return fail(WSAEWOULDBLOCK);
}

}  // namespace

int wsConnect(SOCKET s, const SockAddrIn& address) {
    if (!findSocket(s)) return fail(WSAENOTSOCK);
    if (address.family != WS_AF_INET) return fail(WSAEAFNOSUPPORT);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = address.port;
    sin.sin_addr.s_addr = address.addr;
    return startConnect(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
}

int wsConnect(SOCKET s, const SockAddrIn6& address) {
    if (!findSocket(s)) return fail(WSAENOTSOCK);
    if (address.family != WS_AF_INET6) return fail(WSAEAFNOSUPPORT);
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = address.port;
    std::memcpy(&sin6.sin6_addr, address.addr.data(), 16);
    return startConnect(s, reinterpret_cast<const sockaddr*>(&sin6), sizeof sin6);
}

int wsSend(SOCKET s, const char* buffer, int len, int flags) {
    SocketRec* rec = findSocket(s);
    if (!rec) return fail(WSAENOTSOCK);
    if (len < 0) return fail(WSAEINVAL);
    if (!rec->connected) return fail(rec->connecting ? WSAEWOULDBLOCK : WSAENOTCONN);
    ssize_t n = ::send(rec->fd, buffer, static_cast<size_t>(len), flags | MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<int>(n);
    int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) {
        rec->writeOwed = true;
        updateWatch(s, *rec);
    }
    return fail(wsErrorFromErrno(err));
}

int wsRecv(SOCKET s, char* buffer, int len, int flags) {
    SocketRec* rec = findSocket(s);
    if (!rec) return fail(WSAENOTSOCK);
    if (len < 0) return fail(WSAEINVAL);
    if (!rec->connected) return fail(WSAENOTCONN);
    ssize_t n = ::recv(rec->fd, buffer, static_cast<size_t>(len), flags | MSG_DONTWAIT);
    int err = errno;
    if (n > 0) {
        // Acknowledge at once. A server that writes a reply in pieces under
        // Nagle's rule (a status line, then the data) waits for our ACK
        // before the next piece, and a delayed ACK costs 40 ms per reply.
        int one = 1;
        ::setsockopt(rec->fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }
    rec->readPosted = false;
    updateWatch(s, *rec);
    if (n >= 0) return static_cast<int>(n);
    return fail(wsErrorFromErrno(err));
}

int closesocket(SOCKET s) {
    auto it = sockets().find(s);
    if (it == sockets().end()) return fail(WSAENOTSOCK);
    SocketRec& rec = it->second;
    if ((rec.watchRead || rec.watchWrite) && eventLoop()) eventLoop()->unwatchFd(rec.fd);
    // Unread input would turn the close into a reset, which may destroy the
    // last command still on its way (a POP3 QUIT that commits deletions).
    // A server still streaming a long reply is cut off after a bounded read.
    char sink[4096];
    for (size_t drained = 0; drained < kMaxDrainOnClose;) {
        ssize_t n = ::recv(rec.fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n <= 0) break;
        drained += static_cast<size_t>(n);
    }
    ::close(rec.fd);
    sockets().erase(it);
    return 0;
}

int wsSetLinger(SOCKET s, bool on, uint16_t seconds) {
    SocketRec* rec = findSocket(s);
    if (!rec) return fail(WSAENOTSOCK);
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = on ? seconds : 0;
    if (setsockopt(rec->fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return fail(wsErrorFromErrno(errno));
    return 0;
}

uint32_t wsInetAddr(std::string_view dotted) {
    uint32_t host = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= dotted.size() || dotted[pos] != '.') return WS_INADDR_NONE;
            ++pos;
        }
        size_t start = pos;
        unsigned value = 0;
        while (pos < dotted.size() && pos - start < 4 && dotted[pos] >= '0' && dotted[pos] <= '9')
            value = value * 10 + static_cast<unsigned>(dotted[pos++] - '0');
        if (pos == start || pos - start > 3 || value > 255) return WS_INADDR_NONE;
        host = (host << 8) | value;
    }
    if (pos != dotted.size()) return WS_INADDR_NONE;
    return wsHtonl(host);
}

bool wsInetPton6(std::string_view text, std::array<uint8_t, 16>& out) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return false;
    std::string copy(text);
    in6_addr a{};
    if (inet_pton(AF_INET6, copy.c_str(), &a) != 1) return false;
    std::memcpy(out.data(), &a, 16);
    return true;
}

uint16_t wsHtons(uint16_t value) { return htons(value); }
uint16_t wsNtohs(uint16_t value) { return ntohs(value); }
uint32_t wsHtonl(uint32_t value) { return htonl(value); }
uint32_t wsNtohl(uint32_t value) { return ntohl(value); }

}  // namespace platform
