// Windows Sockets 1.1 with its asynchronous window-message interface, over
// POSIX non-blocking sockets and the installed platform::EventLoop.
//
// Naming. Functions that exist only in WinSock keep their WinSock names
// (WSAStartup, WSAAsyncGetHostByName, WSAAsyncSelect, WSAGetLastError,
// closesocket, ...). Functions whose WinSock name is also a POSIX name
// (socket, connect, send, recv, inet_addr, htons, ...) carry the prefix "ws"
// (wsSocket, wsConnect, wsSend, wsRecv, wsInetAddr, wsHtons, ...), so that a
// file including both this header and <sys/socket.h> never wonders which one
// it calls (several of the POSIX ones are macros in glibc). Constants that
// POSIX defines as macros carry the prefix "WS_" (WS_AF_INET, WS_INADDR_NONE).
//
// Handles. A SOCKET is a handle of this layer, not a file descriptor: handles
// count up and are never reused within a process, so a notification still
// queued for a closed socket can never be mistaken for one of a newer socket
// that happens to get the same descriptor. Look-up handles come from the same
// counter, so a look-up handle never equals a socket handle either. Neither
// is ever 0.
//
// Threads. Every function except WSAGetLastError/WSASetLastError must be
// called on the thread that runs the event loop. Notifications arrive as
// window messages posted with platform::PostMessage to the given window.
//
// Start-up. WSAStartup and WSACleanup only count calls: Linux sockets need no
// start-up, and the functions below work whether or not they were called.
#pragma once

#include "platform/messages.h"

#include <cstdint>
#include <string>
#include <array>
#include <string_view>
#include <vector>

namespace platform {

using SOCKET = uintptr_t;
// A look-up handle of WSAAsyncGetHostByName; 0 means "no look-up started".
using AsyncHandle = uintptr_t;

inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;

// Address family, socket type and protocol accepted by wsSocket (the values
// are the same on WinSock and Linux).
inline constexpr int WS_AF_INET = 2;
inline constexpr int WS_AF_INET6 = 23;  // WinSock's number (Linux has 10)
inline constexpr int WS_SOCK_STREAM = 1;
inline constexpr int WS_IPPROTO_TCP = 6;
// wsInetAddr's result for text that is not a dotted address.
inline constexpr uint32_t WS_INADDR_NONE = 0xFFFFFFFFu;

// Events of WSAAsyncSelect, as they appear in the low 16 bits of lParam.
inline constexpr long FD_READ = 1;
inline constexpr long FD_WRITE = 2;
inline constexpr long FD_OOB = 4;
inline constexpr long FD_ACCEPT = 8;
inline constexpr long FD_CONNECT = 16;
inline constexpr long FD_CLOSE = 32;

// Size WinSock asks callers to give WSAAsyncGetHostByName's buffer; kept for
// callers that size their own records by it.
inline constexpr int MAXGETHOSTSTRUCT = 1024;

// WinSock error codes (WSAGetLastError, and the high 16 bits of lParam).
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// lParam of a socket notification: event in the low 16 bits, error in the
// high 16 bits. lParam of a look-up completion: error in the high 16 bits.
constexpr int WSAGETSELECTEVENT(intptr_t lParam) { return static_cast<int>(lParam & 0xFFFF); }
constexpr int WSAGETSELECTERROR(intptr_t lParam) { return static_cast<int>((lParam >> 16) & 0xFFFF); }
constexpr int WSAGETASYNCERROR(intptr_t lParam) { return static_cast<int>((lParam >> 16) & 0xFFFF); }
constexpr int WSAGETASYNCBUFLEN(intptr_t lParam) { return static_cast<int>(lParam & 0xFFFF); }
constexpr intptr_t WSAMAKESELECTREPLY(int event, int error) {
    return static_cast<intptr_t>((static_cast<uint32_t>(error) << 16) | (static_cast<uint32_t>(event) & 0xFFFF));
}
constexpr intptr_t WSAMAKEASYNCREPLY(int buflen, int error) { return WSAMAKESELECTREPLY(buflen, error); }

struct WSAData {
    uint16_t wVersion = 0;
    uint16_t wHighVersion = 0;
    std::string description;
};

// An IPv4 socket address; port and address in network byte order.
struct SockAddrIn {
    uint16_t family = WS_AF_INET;
    uint16_t port = 0;
    uint32_t addr = 0;
};

// An IPv6 socket address; port in network byte order.
struct SockAddrIn6 {
    uint16_t family = WS_AF_INET6;
    uint16_t port = 0;
    std::array<uint8_t, 16> addr{};
};

// An address of either family as a look-up finds it: WS_AF_INET with the
// four bytes first, or WS_AF_INET6.
struct HostAddress {
    int family = WS_AF_INET;
    std::array<uint8_t, 16> bytes{};
};

// What an asynchronous look-up delivers.
struct HostEntry {
    std::string name;                 // the name as resolved (canonical name when known)
    std::vector<uint32_t> addresses;  // IPv4 addresses, network byte order, first one preferred
    std::vector<HostAddress> all;     // IPv6 and IPv4, in the resolver's order of preference
};

// Counts a start-up; fills data with version 1.1. Returns 0, or
// WSAVERNOTSUPPORTED when the requested version is below 1.1 (low byte major,
// high byte minor, as MAKEWORD(1, 1) = 0x0101).
int WSAStartup(uint16_t versionRequested, WSAData& data);
// Counts a clean-up. Returns 0, or SOCKET_ERROR (last error
// WSANOTINITIALISED) when there was no matching start-up.
int WSACleanup();

// The calling thread's last socket error (a WinSock code, 0 for none).
int WSAGetLastError();
void WSASetLastError(int error);

// Starts a look-up of the IPv6 and IPv4 addresses for name on a worker thread. When it
// ends, out is filled (on the loop thread) and msg is posted to window with
// wParam = the returned handle and lParam = WSAMAKEASYNCREPLY(0, error):
// error 0 on success, WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY or
// WSANO_DATA otherwise. out must stay alive until the message was posted or
// the look-up was cancelled. Returns the handle, or 0 when the look-up could
// not be started (WSAGetLastError tells why: WSAEFAULT for a null window,
// WSAENOBUFS when no thread could be started).
AsyncHandle WSAAsyncGetHostByName(Window* window, uint32_t msg, std::string_view name, HostEntry& out);
// Drops a pending look-up: its message is not posted and its HostEntry not
// touched. Returns 0, or SOCKET_ERROR with WSAEINVAL for an unknown handle
// or WSAEALREADY when the look-up has already completed (its message may
// then already be queued).
int WSACancelAsyncRequest(AsyncHandle handle);

// Creates a stream socket (WS_AF_INET or WS_AF_INET6, WS_SOCK_STREAM, 0 or WS_IPPROTO_TCP).
// Sockets of this layer are non-blocking from the start: there is no blocking
// mode to leave. Returns INVALID_SOCKET on failure (WSAEAFNOSUPPORT, WSAESOCKTNOSUPPORT,
// WSAEPROTONOSUPPORT, WSAEMFILE, ...).
SOCKET wsSocket(int family, int type, int protocol);

// Asks for notifications of events (a mask of FD_ values) as message msg to
// window, replacing any earlier request; events 0 cancels all. Needs an
// installed event loop (else SOCKET_ERROR, WSASYSNOTREADY). The re-enabling rules are WinSock's:
//  - FD_CONNECT once when a connect completes, with its error (0 on success).
//  - FD_READ once when data can be read; the next one only after a wsRecv
//    (then at once if data is still waiting).
//  - FD_WRITE when the connected socket can first accept data (after connect,
//    or at once when requested on a connected writable socket), and again only
//    after a wsSend failed with WSAEWOULDBLOCK.
//  - FD_CLOSE once when the peer has closed the connection and no data is left
//    to read (error 0), or when it was reset (WSAECONNRESET) or failed.
// Returns 0, or SOCKET_ERROR (WSAENOTSOCK, WSAEINVAL).
int WSAAsyncSelect(SOCKET s, Window* window, uint32_t msg, long events);

// Starts a connect. The socket is non-blocking: the usual result is
// SOCKET_ERROR with WSAEWOULDBLOCK, and FD_CONNECT reports the outcome.
// Other errors (WSAECONNREFUSED, WSAENETUNREACH, ...) are final.
int wsConnect(SOCKET s, const SockAddrIn& address);
// The same for a socket made with WS_AF_INET6.
int wsConnect(SOCKET s, const SockAddrIn6& address);
// Sends up to len bytes; returns the count sent, or SOCKET_ERROR
// (WSAEWOULDBLOCK when nothing could be sent now, WSAENOTCONN, WSAECONNRESET,
// ...). Never raises SIGPIPE.
int wsSend(SOCKET s, const char* buffer, int len, int flags = 0);
// Receives up to len bytes; returns the count, 0 when the peer has closed,
// or SOCKET_ERROR (WSAEWOULDBLOCK when nothing is waiting). Re-enables FD_READ.
int wsRecv(SOCKET s, char* buffer, int len, int flags = 0);
// Cancels notifications and closes the socket. With linger off (the default)
// the system finishes sending queued data in the background; unread received
// data is discarded first so that the close is a normal one, not a reset.
// Returns 0, or SOCKET_ERROR with WSAENOTSOCK.
int closesocket(SOCKET s);
// The linger option: on = false (time ignored) lets closesocket return at
// once and finish in the background; on = true with seconds = 0 makes the
// close abortive (reset). Returns 0 or SOCKET_ERROR.
int wsSetLinger(SOCKET s, bool on, uint16_t seconds);

// Parses "a.b.c.d" (each part decimal 0-255, nothing else around it) into a
// network-order address; WS_INADDR_NONE when it is not such a text (as with
// WinSock, "255.255.255.255" cannot be told from a failure).
uint32_t wsInetAddr(std::string_view dotted);
// Parses an IPv6 address text ("::1", "fe80::1", no brackets, no zone);
// false when it is not one.
bool wsInetPton6(std::string_view text, std::array<uint8_t, 16>& out);

// Byte order between host and network (big-endian).
uint16_t wsHtons(uint16_t value);
uint16_t wsNtohs(uint16_t value);
uint32_t wsHtonl(uint32_t value);
uint32_t wsNtohl(uint32_t value);

// The WinSock code for a POSIX errno value (EAGAIN -> WSAEWOULDBLOCK,
// ECONNREFUSED -> WSAECONNREFUSED, ...); unknown values give WSAEINVAL.
int wsErrorFromErrno(int err);

}  // namespace platform
