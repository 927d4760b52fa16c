// The Finger client: one query at a time, driven by the socket notifications
// that the caller's window hands back, reporting by posted messages.
#include "finger/whoprobe.h"

#include "platform/winsock.h"
#include "platform/wsaerrors.h"

#include <array>
#include <cstdio>

namespace whoprobe {
namespace {

using platform::AsyncHandle;
using platform::SOCKET;

constexpr uint16_t kWinsockVersion = 0x0101;  // 1.1
constexpr std::string_view kBroadcastAddress = "255.255.255.255";
constexpr uint32_t kMaxPort = 65535;
constexpr int kEventMaskConnected = platform::FD_READ | platform::FD_WRITE | platform::FD_CLOSE;

// Query states.
enum State : int { kIdle = 0, kLookingUp = 1, kConnecting = 2, kConnected = 3 };

// errmsg, wParam 0
constexpr char kLookingUpFormat[] = "looking up site [%s]";
constexpr char kConnectingFormat[] = "connecting to site [%s]";
constexpr char kSpuriousRecv[] = "Spurious winsock recv";
constexpr char kInvalidSocketMessage[] = "Invalid socket message";
// errmsg, wParam 1
constexpr char kDllInUse[] = "Dll in use";
constexpr char kInvalidQuery[] = "Invalid query";
constexpr char kInvalidSiteName[] = "Invalid site name";
constexpr char kDllNotInUse[] = "Dll not in use";
constexpr char kInvalidLookupMessage[] = "Invalid lookup message";
constexpr char kUnknownSite[] = "Unknown Site";
constexpr char kCouldntOpenSocket[] = "Couldn't open socket";
constexpr char kCouldntInitConnect[] = "Couldn't init async CONNECT";
constexpr char kInvalidConnectMessage[] = "Invalid connect message";
constexpr char kCannotConnect[] = "Cannot connect to host";
constexpr char kCouldntInitReadWriteClose[] = "Couldn't init async READ/WRITE/CLOSE";
constexpr char kWinsockAsyncError[] = "Winsock async error";
constexpr char kRecvError[] = "Recv error";
// appmsg, wParam 0
constexpr char kSendError[] = "Send error";
constexpr char kNotInUse[] = "Not in use";


// Handles of ended queries whose notifications may still be queued. Socket
// and look-up handles are never reused, so a match is certainly stale.
constexpr size_t kRetiredHandles = 8;

// The one query of the process.
struct Query {
    platform::Window* apphwnd = nullptr;
    uint32_t dllmsg = 0;
    uint32_t appmsg = 0;
    uint32_t errmsg = 0;
    int proc = kIdle;
    AsyncHandle lookmsg = 0;
    platform::HostEntry hostent;
    platform::SockAddrIn sockaddrin;
    SOCKET sock = platform::INVALID_SOCKET;
    uint16_t port = kFingerPort;
    std::string outlin;
    std::array<char, kReplyLimit + 1> inbuf{};
    int inbufix = 0;
    std::array<char, 2 * kReplyLimit + 1> prsbuf{};
    std::string host;      // as given, for the progress texts
    std::string siteName;  // the host without its ":PORT"
    platform::WSAData wsadata;
    // Each progress text has its own buffer: "connecting" is formatted while
    // "looking up" may still wait in the caller's queue.
    std::string lookingText;
    std::string connectingText;

    std::array<uintptr_t, kRetiredHandles> retired{};
    size_t retiredNext = 0;
    // A dotted host's stand-in look-up message (wParam 0, lParam 0) that was
    // posted but not yet handled, and how many of an ended query are still
    // on their way to the same window.
    bool standInPending = false;
    int staleStandIns = 0;
    platform::Window* standInWindow = nullptr;
};

Query g;
char g_errorText[32];

intptr_t textParam(const char* text) { return reinterpret_cast<intptr_t>(text); }

void postProgress(const char* text) { platform::PostMessage(g.apphwnd, g.errmsg, 0, textParam(text)); }
void postError(const char* text) { platform::PostMessage(g.apphwnd, g.errmsg, 1, textParam(text)); }
void postResult(const char* text) { platform::PostMessage(g.apphwnd, g.appmsg, 0, textParam(text)); }

std::string formatSite(const char* format, const std::string& site) {
    std::string text(format);
    text.replace(text.find("%s"), 2, site);
    return text;
}

void retire(uintptr_t handle) {
    g.retired[g.retiredNext] = handle;
    g.retiredNext = (g.retiredNext + 1) % kRetiredHandles;
}

bool isRetired(uintptr_t handle) {
    if (handle == 0) return false;
    for (uintptr_t h : g.retired)
        if (h == handle) return true;
    return false;
}

// A notification that belongs to a query already ended is dropped: without
// this, one still queued when the user cancelled would come back as an
// error, or end the next query.
bool isStale(uintptr_t wParam, intptr_t lParam) {
    if (wParam == 0 && lParam == 0 && g.staleStandIns > 0) {
        --g.staleStandIns;
        return true;
    }
    return isRetired(wParam);
}

// Splits "user@host" at the last at-sign into the query line and the host.
bool makequery(std::string_view query) {
    size_t at = query.rfind('@');
    if (at == std::string_view::npos || at == 0) return false;
    if (at > static_cast<size_t>(kMaxUserPart)) return false;  // would not fit the query line
    g.outlin.assign(query.substr(0, at));
    g.outlin += "\r\n";
    g.host.assign(query.substr(at + 1));
    return true;
}

// The host may end in ":PORT" (decimal, 1-65535) to reach another port.
bool parseSite() {
    g.siteName = g.host;
    g.port = kFingerPort;
    size_t colon = g.host.rfind(':');
    if (colon != std::string::npos) {
        std::string_view digits = std::string_view(g.host).substr(colon + 1);
        if (digits.empty() || digits.size() > 5) return false;
        uint32_t value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        if (value == 0 || value > kMaxPort) return false;
        g.siteName.resize(colon);
        g.port = static_cast<uint16_t>(value);
    }
    return !g.siteName.empty() && g.siteName != kBroadcastAddress;
}

// A name is looked up asynchronously; a dotted address needs no look-up, and
// a message standing in for its completion takes the same path.
bool startLookup() {
    g.sockaddrin = platform::SockAddrIn{};
    g.sockaddrin.addr = platform::wsInetAddr(g.siteName);
    if (g.sockaddrin.addr != platform::WS_INADDR_NONE) {
        g.lookmsg = 0;
        g.standInPending = true;
        g.standInWindow = g.apphwnd;
        platform::PostMessage(g.apphwnd, g.dllmsg, 0, 0);
        return true;
    }
    g.hostent = platform::HostEntry{};
    g.lookmsg = platform::WSAAsyncGetHostByName(g.apphwnd, g.dllmsg, g.siteName, g.hostent);
    if (g.lookmsg != 0) return true;
    int error = platform::WSAGetLastError();
    Abort();
    postError(GetWSAError(error));
    return false;
}

void fail(const char* text) {
    Abort();
    postError(text);
}

void startConnect() {
    g.sock = platform::wsSocket(platform::WS_AF_INET, platform::WS_SOCK_STREAM, 0);
    if (g.sock == platform::INVALID_SOCKET) return fail(kCouldntOpenSocket);
    if (platform::WSAAsyncSelect(g.sock, g.apphwnd, g.dllmsg, platform::FD_CONNECT) != 0)
        return fail(kCouldntInitConnect);
    if (platform::wsConnect(g.sock, g.sockaddrin) != 0) {
        int error = platform::WSAGetLastError();
        if (error != platform::WSAEWOULDBLOCK) return fail(GetWSAError(error));
    }
    g.connectingText = formatSite(kConnectingFormat, g.host);
    postProgress(g.connectingText.c_str());
    g.proc = kConnecting;
}

void lookupDone(uintptr_t wParam, intptr_t lParam) {
    if (wParam != g.lookmsg) return fail(kInvalidLookupMessage);
    if (g.lookmsg == 0) g.standInPending = false;
    if (platform::WSAGETASYNCERROR(lParam) != 0) return fail(kUnknownSite);
    g.sockaddrin.family = platform::WS_AF_INET;
    g.sockaddrin.port = platform::wsHtons(g.port);
    if (g.lookmsg != 0) {
        if (g.hostent.addresses.empty()) return fail(kUnknownSite);
        g.sockaddrin.addr = g.hostent.addresses.front();
    }
    startConnect();
}

void connectDone(intptr_t lParam) {
    if (platform::WSAGETSELECTEVENT(lParam) != platform::FD_CONNECT) return fail(kInvalidConnectMessage);
    if (platform::WSAGETSELECTERROR(lParam) != 0) return fail(kCannotConnect);
    g.inbufix = 0;
    g.inbuf[0] = '\0';
    g.proc = kConnected;
    if (platform::WSAAsyncSelect(g.sock, g.apphwnd, g.dllmsg, kEventMaskConnected) != 0)
        fail(kCouldntInitReadWriteClose);
}

void WriteSock() {
    int length = static_cast<int>(g.outlin.size());
    int sent = platform::wsSend(g.sock, g.outlin.data(), length);
    if (sent < length) {
        Abort();
        postResult(kSendError);
    }
}

// What the server sends past the reply limit is read and dropped, so that
// its close can still arrive and the reply be delivered.
void discardOverflow() {
    std::array<char, kReplyLimit> scratch;
    int n = platform::wsRecv(g.sock, scratch.data(), static_cast<int>(scratch.size()));
    if (n == platform::SOCKET_ERROR && platform::WSAGetLastError() != platform::WSAEWOULDBLOCK)
        fail(kRecvError);
}

void ReadSock() {
    int room = kReplyLimit - g.inbufix;
    if (room <= 0) return discardOverflow();
    int n = platform::wsRecv(g.sock, g.inbuf.data() + g.inbufix, room);
    if (n == platform::SOCKET_ERROR) {
        // A read notification can outrun the data; that is no failure.
        if (platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) return postProgress(kSpuriousRecv);
        return fail(kRecvError);
    }
    if (n == 0) return postProgress(kSpuriousRecv);
    g.inbufix += n;
    g.inbuf[g.inbufix] = '\0';
}

// The reply with every line ending made CR LF: LF becomes CR LF, CR is dropped.
void CloseSock() {
    size_t out = 0;
    for (int i = 0; i < g.inbufix; ++i) {
        char c = g.inbuf[i];
        if (c == '\r') continue;
        if (c == '\n') g.prsbuf[out++] = '\r';
        g.prsbuf[out++] = c;
    }
    g.prsbuf[out] = '\0';
    postResult(g.prsbuf.data());
    Abort();
}

void socketEvent(intptr_t lParam) {
    if (platform::WSAGETSELECTERROR(lParam) != 0) return fail(kWinsockAsyncError);
    switch (platform::WSAGETSELECTEVENT(lParam)) {
    case platform::FD_READ: return ReadSock();
    case platform::FD_WRITE: return WriteSock();
    case platform::FD_CLOSE: return CloseSock();
    default: return;
    }
}

}  // namespace

int OpenWinsock() {
    if (g.proc != kIdle) Abort();
    return platform::WSAStartup(kWinsockVersion, g.wsadata) == 0 ? 0 : 1;
}

int CloseWinsock() {
    // A query left running would keep notifying a window that may soon be gone.
    if (g.proc != kIdle) Abort();
    if (platform::WSACleanup() == platform::SOCKET_ERROR) return platform::WSAGetLastError();
    return 0;
}

int Finger(platform::Window* window, uint32_t dllmsg, uint32_t appmsg, uint32_t errmsg,
           std::string_view query) {
    if (g.proc != kIdle) {
        Abort();
        postError(kDllInUse);
        return 0;
    }
    g.apphwnd = window;
    g.dllmsg = dllmsg;
    g.appmsg = appmsg;
    g.errmsg = errmsg;
    // Stand-ins queued for another window will not come back through this one.
    if (window != g.standInWindow) g.staleStandIns = 0;

    if (!makequery(query)) {
        postError(kInvalidQuery);
        return 0;
    }
    if (!parseSite()) {
        postError(kInvalidSiteName);
        return 0;
    }

    if (!startLookup()) return 0;
    g.proc = kLookingUp;
    g.lookingText = formatSite(kLookingUpFormat, g.host);
    postProgress(g.lookingText.c_str());
    return 0;
}

int ProcessDllMsg(uintptr_t wParam, intptr_t lParam) {
    if (isStale(wParam, lParam)) return 0;
    switch (g.proc) {
    case kIdle:
        fail(kDllNotInUse);
        return 0;
    case kLookingUp:
        lookupDone(wParam, lParam);
        return 0;
    default:
        break;
    }
    if (wParam != g.sock) {
        postProgress(kInvalidSocketMessage);
        return 0;
    }
    if (g.proc == kConnecting)
        connectDone(lParam);
    else
        socketEvent(lParam);
    return 0;
}

int Abort() {
    if (g.proc == kIdle) {
        postResult(kNotInUse);
        return 0;
    }
    if (g.proc == kLookingUp) {
        if (g.lookmsg != 0) {
            platform::WSACancelAsyncRequest(g.lookmsg);
            retire(g.lookmsg);
        } else if (g.standInPending) {
            ++g.staleStandIns;
        }
        g.standInPending = false;
    }
    if (g.sock != platform::INVALID_SOCKET) {
        platform::WSAAsyncSelect(g.sock, g.apphwnd, g.dllmsg, 0);
        platform::closesocket(g.sock);
        retire(g.sock);
        g.sock = platform::INVALID_SOCKET;
    }
    g.proc = kIdle;
    return 0;
}

const char* GetWSAError(int code) {
    if (const char* name = platform::wsaErrorName(code)) return name;
    std::snprintf(g_errorText, sizeof g_errorText, "ERROR %d", code);
    return g_errorText;
}

}  // namespace whoprobe
