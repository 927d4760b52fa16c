// The connection engine: look-up, connect, the receive frame, the send
// queue and the shared services of the protocols (transfer files: files.cpp;
// commands sent ahead: ahead.cpp).
#include "net/engine.h"

#include "store/torvakit.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace netwire {

using namespace engine;
using platform::SOCKET;

namespace engine {
namespace {

constexpr const char* kLookingUp = "looking up host...";
constexpr const char* kConnectingText = "connecting to host...";
constexpr const char* kReady = "ready";
constexpr const char* kDllBusyOpen = "dll busy (OpenServer)";
constexpr const char* kHostUnknown = "host unknown";
constexpr const char* kCannotOpenSocket = "cannot open socket";
constexpr const char* kCannotSetOptions = "cannot set socket options";
constexpr const char* kCannotInitConnect = "cannot init async CONNECT";
constexpr const char* kInvalidConnect = "invalid connect message";
constexpr const char* kCannotConnect = "cannot connect to host";
constexpr const char* kCannotInitReadWrite = "cannot init async READ/WRITE/CLOSE";
constexpr const char* kAsyncError = "winsock async error";
constexpr const char* kUnterminated = "unterminated line in o/p buffer";
constexpr const char* kConnexionClosed = "connexion closed";
constexpr const char* kQuit = "QUIT\r\n";
constexpr const char* kNotResponding = "server not responding";
constexpr uint32_t kWatchdogMaxPeriodMs = 1000;

std::array<std::array<char, kTextSize>, static_cast<size_t>(TextKind::Count)> g_texts{};

const char* protocolName(Protocol p) {
    switch (p) {
    case Protocol::Pop3: return "pop3";
    case Protocol::Smtp: return "smtp";
    default: return "nntp";
    }
}

TextKind errorKind(Protocol p) {
    switch (p) {
    case Protocol::Pop3: return TextKind::Pop3Error;
    case Protocol::Smtp: return TextKind::SmtpError;
    default: return TextKind::NntpError;
    }
}

void checkTimeout();

// Receives the engine's own timer.
class Watchdog final : public platform::Window {
public:
    void handleMessage(uint32_t msg, uintptr_t, intptr_t) override {
        if (msg == platform::WM_TIMER) checkTimeout();
    }
};

Watchdog& watchdog() {
    static Watchdog w;
    return w;
}

}  // namespace

Connection& conn() {
    static Connection c;
    return c;
}

void touch() { conn().lastActivity = std::chrono::steady_clock::now(); }

namespace {

void startWatchdog() {
    Connection& c = conn();
    touch();
    if (c.replyTimeoutMs == 0) return;
    uint32_t period = std::min(kWatchdogMaxPeriodMs, std::max<uint32_t>(1, c.replyTimeoutMs / 4));
    platform::SetTimer(&watchdog(), kWatchdogTimerId, period);
}

void stopWatchdog() { platform::KillTimer(&watchdog(), kWatchdogTimerId); }

void checkTimeout() {
    Connection& c = conn();
    if (c.state == State::Idle) return stopWatchdog();
    if (c.replyTimeoutMs == 0 || (c.state == State::Connected && c.step == kStepReady)) return;
    auto waited = std::chrono::steady_clock::now() - c.lastActivity;
    if (waited >= std::chrono::milliseconds(c.replyTimeoutMs)) closeWithError(kNotResponding);
}

}  // namespace

void postStatus(int wParam, const char* text) {
    Connection& c = conn();
    platform::PostMessage(c.window, c.statusMessage, static_cast<uintptr_t>(wParam),
                          reinterpret_cast<intptr_t>(text));
}

void postCompletion(int wParam, intptr_t lParam) {
    Connection& c = conn();
    platform::PostMessage(c.window, c.completionMessage, static_cast<uintptr_t>(wParam), lParam);
}

const char* formatText(TextKind kind, const char* format, ...) {
    auto& buffer = g_texts[static_cast<size_t>(kind)];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    return buffer.data();
}

void closeWithError(const char* text) {
    AbortConnection();
    postStatus(1, text);
}

bool guard(const char* notConnected, const char* busy) {
    Connection& c = conn();
    const char* text = nullptr;
    if (c.state != State::Connected)
        text = notConnected;
    else if (c.step != kStepReady || c.held)
        text = busy;
    if (!text) return true;
    closeWithError(text);
    return false;
}

void beginCommand(uint32_t completionMessage, int step, const char* progress) {
    Connection& c = conn();
    c.completionMessage = completionMessage;
    c.step = step;
    c.replyLines = 0;
    c.midLine = c.droppingLine = c.streamingData = false;
    touch();
    postStatus(0, progress);
}

const char* checkArgument(std::string_view argument, size_t overhead, const char* tooLong, const char* invalid) {
    if (argument.find_first_of("\r\n") != std::string_view::npos) return invalid;
    if (argument.size() + overhead >= static_cast<size_t>(kCommandSize)) return tooLong;
    return nullptr;
}

// Sends what the queue holds, all complete lines in one go, while the socket
// takes it.
void flushQueue() {
    Connection& c = conn();
    while (c.sendCount > 0 && c.writeReady && c.state == State::Connected) {
        int lf = -1;
        for (int i = c.sendCount - 1; i >= 0; --i)
            if (c.send[i] == '\n') {
                lf = i;
                break;
            }
        if (lf < 0) {
            closeWithError(kUnterminated);
            return;
        }
        int n = sendBytes(c.send.data(), lf + 1);
        if (n == platform::SOCKET_ERROR) {
            int error = platform::WSAGetLastError();
            if (error == platform::WSAEWOULDBLOCK) {
                c.writeReady = false;
                return;
            }
            closeWithError(torvakit::GetWSAError(error));
            return;
        }
        if (n > 0) {
            torvakit::shiftdownbuffer(c.send.data(), c.sendCount, n - 1);
            touch();
        }
    }
}

int sendBytes(const char* data, int length) {
    Connection& c = conn();
    if (!c.ssl) return platform::wsSend(c.socket, data, length);
    // What TLS holds goes first; while the socket is full nothing more is
    // encrypted, so the queue stays the only place where lines wait.
    if (!tlsDrain()) {
        platform::WSASetLastError(platform::WSAEWOULDBLOCK);
        return platform::SOCKET_ERROR;
    }
    return tlsWrite(data, length);
}

int queueText(std::string_view text, int limit) {
    if (text.empty()) return 0;
    Connection& c = conn();
    int refused = torvakit::copytobuffer(c.send.data(), limit, c.sendCount, text.data(),
                                         static_cast<int>(text.size()));
    if (!c.holdFlush) flushQueue();
    return refused;
}

bool queueCommand(const char* format, ...) {
    char line[kCommandSize];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0 || n >= kCommandSize) return false;
    std::string_view text(line, static_cast<size_t>(n));
    // Only the final CR LF may end the line: caller data must not smuggle in
    // a second command.
    if (text.size() < 2 || text.substr(0, text.size() - 2).find_first_of("\r\n") != std::string_view::npos)
        return false;
    queueText(text);
    return true;
}

namespace {

void reportWriteFailure() {
    if (conn().protocol == Protocol::Pop3) pop3WriteFailed(); else nntpWriteFailed();
}

// Hands the complete lines of the receive buffer to the protocol.
void dispatchLines() {
    Connection& c = conn();
    char text[kLineSize];
    for (;;) {
        if (c.state != State::Connected || c.held) return;
        if (c.startTlsPending) {
            // Bytes behind the reply that switches to TLS were sent before
            // the switch by someone who is not the server we will verify.
            c.startTlsPending = false;
            if (c.receiveCount > 0)
                return closeWithError(formatText(errorKind(c.protocol), "unexpected data after %s STARTTLS reply",
                                                 protocolName(c.protocol)));
            return tlsStart();
        }
        int lf = torvakit::eolnposition(c.receive.data(), c.receiveCount);
        if (lf < 0) return;
        int rawLength = (lf > 0 && c.receive[static_cast<size_t>(lf - 1)] == '\r') ? lf - 1 : lf;
        if (c.midLine) {
            // The tail of a data line whose start was already written.
            bool ok = c.droppingLine || writeData(c.receive.data(), rawLength, true);
            c.midLine = c.droppingLine = false;
            torvakit::shiftdownbuffer(c.receive.data(), c.receiveCount, lf);
            if (!ok) reportWriteFailure();
            continue;
        }
        int length = torvakit::copylinefrombuffer(c.receive.data(), text, kLineSize, c.receiveCount);
        bool continuation = length > 3 && text[3] == '-';
        bool skip = (c.protocol == Protocol::Smtp && continuation && c.step != kStepEhlo) ||
                    (c.protocol == Protocol::Nntp && continuation && c.replyLines == 0);
        if (!skip) {
            // The handler reads the raw line in place; the buffer moves after.
            Line line{text, length, c.receive.data(), rawLength};
            switch (c.protocol) {
            case Protocol::Pop3: pop3Line(line); break;
            case Protocol::Smtp: smtpLine(line); break;
            default: nntpLine(line); break;
            }
            ++c.replyLines;
        }
        if (c.state != State::Connected) return;
        torvakit::shiftdownbuffer(c.receive.data(), c.receiveCount, lf);
    }
}

// The receive buffer is full and holds no line end. Inside a retrieved
// message or article the line is written in pieces; anywhere else the server
// is not speaking the protocol and the connection is closed.
void handleFullBuffer() {
    Connection& c = conn();
    if (!c.streamingData || c.replyLines == 0) {
        closeWithError(formatText(errorKind(c.protocol), "line too long in %s reply", protocolName(c.protocol)));
        return;
    }
    int keep = c.receive[kReceiveSize - 1] == '\r' ? 1 : 0;  // may be the CR of CR LF
    int length = kReceiveSize - keep;
    const char* data = c.receive.data();
    if (!c.midLine && data[0] == '.') {
        if (c.dotRule == DotRule::Drop) c.droppingLine = true;
        ++data;
        --length;
    }
    bool ok = c.droppingLine || writeData(data, length, false);
    c.midLine = true;
    std::memmove(c.receive.data(), c.receive.data() + kReceiveSize - keep, static_cast<size_t>(keep));
    c.receiveCount = keep;
    if (!ok) reportWriteFailure();
}

}  // namespace

void processReceived() {
    Connection& c = conn();
    dispatchLines();
    if (c.state == State::Connected && !c.held && c.receiveCount == kReceiveSize) handleFullBuffer();
}

namespace {

void readSocket() {
    Connection& c = conn();
    // Held: the bytes wait in the socket until the caller asks for them.
    if (c.held) return;
    if (c.ssl) return tlsReadable();
    int n = platform::wsRecv(c.socket, c.receive.data() + c.receiveCount, kReceiveSize - c.receiveCount);
    if (n == platform::SOCKET_ERROR) {
        if (platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) return;  // nothing after all
        closeWithError(formatText(errorKind(c.protocol), "recv error in %s readsock", protocolName(c.protocol)));
        return;
    }
    if (n == 0) {
        postStatus(0, formatText(errorKind(c.protocol), "spurious winsock %s READ", protocolName(c.protocol)));
        return;
    }
    c.receiveCount += n;
    touch();
    processReceived();
}

}  // namespace

void peerClosed();

void resumeReceive() {
    Connection& c = conn();
    processReceived();
    if (c.state != State::Connected || c.held) return;
    if (c.ssl) {
        tlsResume();
        if (c.state != State::Connected || c.held) return;
    } else if (!c.closePending) {
        return readSocket();
    }
    if (c.closePending) peerClosed();
}

namespace {

void writeReadyEvent() {
    Connection& c = conn();
    c.writeReady = true;
    if (c.ssl) {
        tlsWritable();
        if (c.state != State::Connected || c.handshaking) return;
    }
    flushQueue();
    if (c.state == State::Connected && (c.protocol == Protocol::Smtp || c.protocol == Protocol::Nntp))
        runFileSender();
    if (c.state == State::Connected && c.protocol == Protocol::Smtp) smtpWriteReady();
}

// Connects to the next address of the host; a host with several (IPv6 and
// IPv4) is tried address by address until one takes the connection.
void connectNext() {
    Connection& c = conn();
    int error = 0;
    while (c.nextAddress < c.addresses.size()) {
        const platform::HostAddress& a = c.addresses[c.nextAddress++];
        if (c.socket != platform::INVALID_SOCKET) {
            platform::closesocket(c.socket);
            c.socket = platform::INVALID_SOCKET;
        }
        c.socket = platform::wsSocket(a.family, platform::WS_SOCK_STREAM, 0);
        if (c.socket == platform::INVALID_SOCKET) {
            if (c.nextAddress < c.addresses.size()) continue;  // no IPv6 here: the next may be IPv4
            return closeWithError(kCannotOpenSocket);
        }
        if (platform::wsSetLinger(c.socket, false, 0) != 0) return closeWithError(kCannotSetOptions);
        if (platform::WSAAsyncSelect(c.socket, c.window, c.socketMessage, platform::FD_CONNECT) != 0)
            return closeWithError(kCannotInitConnect);
        int rc;
        if (a.family == platform::WS_AF_INET6) {
            platform::SockAddrIn6 address;
            address.port = platform::wsHtons(c.port);
            address.addr = a.bytes;
            rc = platform::wsConnect(c.socket, address);
        } else {
            platform::SockAddrIn address;
            address.port = platform::wsHtons(c.port);
            std::memcpy(&address.addr, a.bytes.data(), 4);
            rc = platform::wsConnect(c.socket, address);
        }
        error = rc != 0 ? platform::WSAGetLastError() : 0;
        if (rc == 0 || error == platform::WSAEWOULDBLOCK) {
            if (c.state != State::Connecting) postStatus(0, kConnectingText);
            c.state = State::Connecting;
            touch();
            return;
        }
    }
    closeWithError(error ? torvakit::GetWSAError(error) : kCannotConnect);
}

void lookedUp(intptr_t lParam) {
    Connection& c = conn();
    if (platform::WSAGETASYNCERROR(lParam) != 0 || (c.addresses.empty() && c.host.all.empty())) {
        closeWithError(kHostUnknown);
        return;
    }
    c.lookup = 0;
    if (c.addresses.empty()) c.addresses = c.host.all;
    c.nextAddress = 0;
    connectNext();
}

void connectEvent(intptr_t lParam) {
    Connection& c = conn();
    if (platform::WSAGETSELECTEVENT(lParam) != platform::FD_CONNECT) return closeWithError(kInvalidConnect);
    if (platform::WSAGETSELECTERROR(lParam) != 0) {
        if (c.nextAddress < c.addresses.size()) return connectNext();
        return closeWithError(kCannotConnect);
    }
    if (platform::WSAAsyncSelect(c.socket, c.window, c.socketMessage, kConnectedEvents) != 0)
        return closeWithError(kCannotInitReadWrite);
    c.receiveCount = 0;
    c.sendCount = 0;
    c.refused = false;
    c.writeReady = false;
    c.replyLines = 0;
    c.midLine = c.droppingLine = c.streamingData = false;
    c.rawData = false;
    c.aheadStep = kStepReady;
    c.owedCount = 0;
    c.held = false;
    c.closePending = false;
    c.step = kStepGreeting;
    c.state = State::Connected;
    touch();
    if (c.security == kSecurityTls) {
        c.step = kStepTlsHandshake;
        tlsStart();
    }
}

}  // namespace

void peerClosed() {
    Connection& c = conn();
    bool refused = c.refused;
    bool handshaking = c.handshaking;
    AbortConnection();
    if (handshaking)
        postStatus(1, formatText(errorKind(c.protocol), "tls handshake failed (connexion closed)"));
    else if (!refused)
        postStatus(1, kConnexionClosed);
}

namespace {

void connectedEvent(intptr_t lParam) {
    Connection& c = conn();
    if (platform::WSAGETSELECTERROR(lParam) != 0) return closeWithError(kAsyncError);
    switch (platform::WSAGETSELECTEVENT(lParam)) {
    case platform::FD_READ: readSocket(); break;
    case platform::FD_WRITE: writeReadyEvent(); break;
    case platform::FD_CLOSE:
        // Complete replies behind a held one were sent before the close:
        // the caller gets them, and the close once they are used up.
        if (c.held) {
            c.closePending = true;
            break;
        }
        peerClosed();
        break;
    default: break;
    }
}

// "name:port" with a decimal port 1-65535; anything else is all host name.
// An IPv6 literal is written in brackets ("[::1]:110", "[::1]"); written
// bare it has no port.
bool splitPort(std::string_view host, std::string_view& name, uint16_t& port) {
    if (!host.empty() && host.front() == '[') {
        size_t close = host.find(']');
        if (close != std::string_view::npos) {
            std::string_view rest = host.substr(close + 1);
            name = host.substr(1, close - 1);
            if (rest.size() < 2 || rest.front() != ':') return false;
            std::string_view ignored;
            // "x:PORT" reuses the port rules below.
            std::string probe = "x" + std::string(rest);
            if (!splitPort(probe, ignored, port)) return false;
            return true;
        }
    }
    size_t colon = host.rfind(':');
    name = host;
    if (host.find(':') != colon) return false;  // a bare IPv6 literal
    if (colon == std::string_view::npos || colon + 1 >= host.size() || host.size() - colon > 6) return false;
    uint32_t value = 0;
    for (char ch : host.substr(colon + 1)) {
        if (ch < '0' || ch > '9') return false;
        value = value * 10 + static_cast<uint32_t>(ch - '0');
    }
    if (value == 0 || value > 65535) return false;
    name = host.substr(0, colon);
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace
}  // namespace engine

int OpenServer(platform::Window* window, uint32_t socketMessage, uint32_t completionMessage,
               uint32_t statusMessage, std::string_view host, int serverType) {
    return OpenServer(window, socketMessage, completionMessage, statusMessage, host, serverType, ServerOptions{});
}

int OpenServer(platform::Window* window, uint32_t socketMessage, uint32_t completionMessage,
               uint32_t statusMessage, std::string_view host, int serverType, const ServerOptions& options) {
    Connection& c = conn();
    if (c.state != State::Idle) {
        AbortConnection();
        postStatus(1, kDllBusyOpen);
        return 0;
    }
    c.window = window;
    c.socketMessage = socketMessage;
    c.completionMessage = completionMessage;
    c.statusMessage = statusMessage;
    switch (serverType) {
    case kServerPop3: c.port = kPortPop3; c.protocol = Protocol::Pop3; break;
    case kServerNntp: c.port = kPortNntp; c.protocol = Protocol::Nntp; break;
    case kServerSmtp: c.port = kPortSmtp; c.protocol = Protocol::Smtp; break;
    default: break;
    }
    c.security = options.security;
    c.user = options.user;
    c.password = options.password;
    c.smtpPipelining = options.smtpPipelining;
    c.tlsDone = false;
    resetCertificateProblem();
    if (c.security == kSecurityTls) {
        switch (c.protocol) {
        case Protocol::Pop3: c.port = kPortPop3s; break;
        case Protocol::Nntp: c.port = kPortNntps; break;
        case Protocol::Smtp: c.port = kPortSmtps; break;
        default: break;
        }
    }
    std::string_view name;
    uint16_t port = 0;
    if (splitPort(host, name, port)) c.port = port;
    c.hostName = std::string(name);
    uint32_t dotted = platform::wsInetAddr(name);
    platform::HostAddress literal;
    bool known = dotted != platform::WS_INADDR_NONE;
    if (known) {
        std::memcpy(literal.bytes.data(), &dotted, 4);
    } else if (platform::wsInetPton6(name, literal.bytes)) {
        literal.family = platform::WS_AF_INET6;
        known = true;
    }
    c.addresses.clear();
    if (known) c.addresses.push_back(literal);
    c.nextAddress = 0;
    c.host = {};
    if (!known) {
        c.lookup = platform::WSAAsyncGetHostByName(window, socketMessage, name, c.host);
        if (c.lookup == 0) {
            int error = platform::WSAGetLastError();
            closeWithError(torvakit::GetWSAError(error));
            return 0;
        }
    } else {
        c.lookup = 0;
        platform::PostMessage(window, socketMessage, 0, 0);
    }
    postStatus(0, kLookingUp);
    c.state = State::LookingUp;
    startWatchdog();
    return 0;
}

int ProcessMsg(uintptr_t wParam, intptr_t lParam) {
    Connection& c = conn();
    switch (c.state) {
    case State::Idle: break;
    case State::LookingUp:
        if (wParam == c.lookup) lookedUp(lParam);
        break;
    case State::Connecting:
        if (wParam == c.socket) connectEvent(lParam);
        break;
    case State::Connected:
        if (wParam == c.socket) connectedEvent(lParam);
        break;
    }
    return 0;
}

int AbortConnection() {
    Connection& c = conn();
    if (c.current) {
        c.fileSend = kFileSendIdle;
        closeFile();
    }
    c.streamingData = c.midLine = c.droppingLine = false;
    if (c.state == State::LookingUp && c.lookup != 0) {
        platform::WSACancelAsyncRequest(c.lookup);
        c.lookup = 0;
    }
    if (c.socket != platform::INVALID_SOCKET) {
        platform::WSAAsyncSelect(c.socket, nullptr, 0, 0);
        if (c.ssl) {
            c.sendCount = 0;
            tlsClose(c.state == State::Connected && !c.handshaking ? kQuit : "");
        } else if (c.state == State::Connected) {
            // QUIT goes out now if the socket takes it; the close then
            // finishes in the background.
            c.sendCount = 0;
            std::string_view quit(kQuit);
            if (c.writeReady) platform::wsSend(c.socket, quit.data(), static_cast<int>(quit.size()));
        }
        platform::closesocket(c.socket);
        c.socket = platform::INVALID_SOCKET;
    }
    c.sendCount = 0;
    c.startTlsPending = false;
    c.aheadStep = kStepReady;
    c.owedCount = 0;
    c.held = false;
    c.password.assign(c.password.size(), '\0');
    c.password.clear();
    c.state = State::Idle;
    c.step = kStepReady;
    stopWatchdog();
    postStatus(0, kReady);
    return 0;
}

int ConnectionState() { return static_cast<int>(conn().state); }

int SetReplyTimeout(uint32_t milliseconds) {
    conn().replyTimeoutMs = milliseconds;
    if (conn().state != State::Idle) startWatchdog();
    return 0;
}

}  // namespace netwire
