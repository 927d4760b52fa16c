// The WinSock layer: notification re-enabling rules, look-ups and their
// cancellation, handles, address parsing and error codes.
#include "platform/pollloop.h"
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

using namespace platform;

constexpr uint32_t kNotify = 0x401;

struct Event {
    uintptr_t wParam;
    int event;
    int error;
};

class Recorder final : public Window {
public:
    std::vector<Event> events;
    void handleMessage(uint32_t, uintptr_t wParam, intptr_t lParam) override {
        events.push_back({wParam, WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam)});
    }
    int count(int event) const {
        int n = 0;
        for (const Event& e : events) n += e.event == event;
        return n;
    }
};

// A listening socket on a free loopback port, for the layer to connect to.
class Listener {
public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    SockAddrIn address() const { return {WS_AF_INET, wsHtons(m_port), wsInetAddr("127.0.0.1")}; }
    int accept() { return ::accept(m_fd, nullptr, nullptr); }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

class WinSock : public ::testing::Test {
protected:
    PollLoop loop;
    Recorder window;
    Listener listener;

    // A connected socket selecting every event, and the peer's descriptor.
    SOCKET connected(int& peer) {
        SOCKET s = wsSocket(WS_AF_INET, WS_SOCK_STREAM, 0);
        EXPECT_NE(s, INVALID_SOCKET);
        EXPECT_EQ(WSAAsyncSelect(s, &window, kNotify, FD_CONNECT), 0);
        int rc = wsConnect(s, listener.address());
        EXPECT_TRUE(rc == 0 || WSAGetLastError() == WSAEWOULDBLOCK);
        peer = listener.accept();
        EXPECT_TRUE(loop.runUntil([&] { return window.count(FD_CONNECT) == 1; }, 2000));
        EXPECT_EQ(window.events.back().error, 0);
        EXPECT_EQ(WSAAsyncSelect(s, &window, kNotify, FD_READ | FD_WRITE | FD_CLOSE), 0);
        return s;
    }
};

TEST_F(WinSock, ReadIsPostedOnceUntilTheNextRecv) {
    int peer;
    SOCKET s = connected(peer);
    ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
    ASSERT_TRUE(loop.runUntil([&] { return window.count(FD_READ) == 1; }, 2000));
    ASSERT_EQ(::send(peer, "def", 3, 0), 3);
    loop.runFor(30);
    EXPECT_EQ(window.count(FD_READ), 1);
    char buf[2];
    EXPECT_EQ(wsRecv(s, buf, 2), 2);  // data is left: the next FD_READ comes at once
    EXPECT_TRUE(loop.runUntil([&] { return window.count(FD_READ) == 2; }, 2000));
    char rest[16];
    EXPECT_EQ(wsRecv(s, rest, sizeof rest), 4);
    loop.runFor(30);
    EXPECT_EQ(window.count(FD_READ), 2);
    EXPECT_EQ(wsRecv(s, rest, sizeof rest), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ::close(peer);
    closesocket(s);
}

TEST_F(WinSock, WriteIsPostedAfterConnectAndAgainOnlyAfterWouldBlock) {
    int peer;
    SOCKET s = connected(peer);
    ASSERT_TRUE(loop.runUntil([&] { return window.count(FD_WRITE) == 1; }, 2000));
    std::vector<char> block(65536, 'x');
    EXPECT_EQ(wsSend(s, block.data(), 10), 10);
    loop.runFor(30);
    EXPECT_EQ(window.count(FD_WRITE), 1);
    // Fill the socket until it refuses.
    while (wsSend(s, block.data(), static_cast<int>(block.size())) > 0) {
    }
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    loop.runFor(20);
    EXPECT_EQ(window.count(FD_WRITE), 1);
    // Drain the peer: room again gives exactly one more FD_WRITE.
    std::vector<char> sink(1 << 20);
    for (int round = 0; round < 500 && window.count(FD_WRITE) < 2; ++round) {
        while (::recv(peer, sink.data(), sink.size(), MSG_DONTWAIT) > 0) {
        }
        loop.runOnce(10);
    }
    EXPECT_EQ(window.count(FD_WRITE), 2);
    ::close(peer);
    closesocket(s);
}

TEST_F(WinSock, CloseIsPostedOnceAfterTheDataWasRead) {
    int peer;
    SOCKET s = connected(peer);
    ::send(peer, "last words", 10, 0);
    ::close(peer);
    ASSERT_TRUE(loop.runUntil([&] { return window.count(FD_READ) == 1; }, 2000));
    loop.runFor(30);
    EXPECT_EQ(window.count(FD_CLOSE), 0);  // data first
    char buf[64];
    EXPECT_EQ(wsRecv(s, buf, sizeof buf), 10);
    EXPECT_TRUE(loop.runUntil([&] { return window.count(FD_CLOSE) == 1; }, 2000));
    EXPECT_EQ(wsRecv(s, buf, sizeof buf), 0);
    loop.runFor(30);
    EXPECT_EQ(window.count(FD_CLOSE), 1);
    closesocket(s);
}

TEST_F(WinSock, RefusedConnectReportsTheCode) {
    SockAddrIn nowhere;
    {
        Listener gone;
        nowhere = gone.address();
    }
    SOCKET s = wsSocket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP);
    WSAAsyncSelect(s, &window, kNotify, FD_CONNECT);
    if (wsConnect(s, nowhere) == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
        EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    } else {
        ASSERT_TRUE(loop.runUntil([&] { return window.count(FD_CONNECT) == 1; }, 2000));
        EXPECT_EQ(window.events.back().error, WSAECONNREFUSED);
    }
    closesocket(s);
}

TEST_F(WinSock, HandlesAreNeverReusedAndNotificationsStopAtClose) {
    int peer;
    SOCKET first = connected(peer);
    ::send(peer, "x", 1, 0);
    ASSERT_TRUE(loop.runUntil([&] { return window.count(FD_READ) == 1; }, 2000));
    closesocket(first);
    ::close(peer);
    SOCKET second = wsSocket(WS_AF_INET, WS_SOCK_STREAM, 0);
    EXPECT_NE(first, second);
    loop.runFor(30);
    for (const Event& e : window.events) EXPECT_NE(e.wParam, second);
    EXPECT_EQ(closesocket(second), 0);
    EXPECT_EQ(closesocket(second), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(wsRecv(12345678, nullptr, 0), SOCKET_ERROR);
}

TEST_F(WinSock, LookupsCompleteFailAndCancel) {
    HostEntry found, missing, cancelled;
    cancelled.name = "untouched";
    AsyncHandle h1 = WSAAsyncGetHostByName(&window, kNotify, "localhost", found);
    AsyncHandle h2 = WSAAsyncGetHostByName(&window, kNotify, "no..such.host", missing);
    AsyncHandle h3 = WSAAsyncGetHostByName(&window, kNotify, "localhost", cancelled);
    ASSERT_TRUE(h1 && h2 && h3);
    EXPECT_EQ(WSACancelAsyncRequest(h3), 0);
    ASSERT_TRUE(loop.runUntil([&] { return window.events.size() >= 2; }, 10000));
    loop.runFor(50);
    ASSERT_EQ(window.events.size(), 2u);
    for (const Event& e : window.events) {
        if (e.wParam == h1) {
            EXPECT_EQ(e.error, 0);
            ASSERT_FALSE(found.addresses.empty());
            EXPECT_EQ(found.addresses.front(), wsInetAddr("127.0.0.1"));
        } else {
            EXPECT_EQ(e.wParam, h2);
            EXPECT_EQ(e.error, WSAHOST_NOT_FOUND);
        }
    }
    EXPECT_EQ(cancelled.name, "untouched");
    EXPECT_EQ(WSACancelAsyncRequest(h1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEALREADY);
    EXPECT_EQ(WSACancelAsyncRequest(0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

TEST(WinSockText, DottedAddressesAndByteOrder) {
    EXPECT_EQ(wsInetAddr("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(wsInetAddr("10.20.30.40"), htonl(0x0A141E28));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "a.b.c.d", "1..2.3", "1.2.3.0004",
                            "localhost", "1.2.3.4:119"})
        EXPECT_EQ(wsInetAddr(bad), WS_INADDR_NONE) << bad;
    EXPECT_EQ(wsHtons(0x1234), htons(0x1234));
    EXPECT_EQ(wsNtohl(wsHtonl(0xA1B2C3D4u)), 0xA1B2C3D4u);
}

TEST(WinSockText, ErrnoMapsToWinSockCodes) {
    EXPECT_EQ(wsErrorFromErrno(EAGAIN), WSAEWOULDBLOCK);
    EXPECT_EQ(wsErrorFromErrno(EINPROGRESS), WSAEWOULDBLOCK);
    EXPECT_EQ(wsErrorFromErrno(ECONNREFUSED), WSAECONNREFUSED);
    EXPECT_EQ(wsErrorFromErrno(ETIMEDOUT), WSAETIMEDOUT);
    EXPECT_EQ(wsErrorFromErrno(EPIPE), WSAECONNRESET);
    EXPECT_EQ(WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET) >> 16, WSAECONNRESET);
    WSAData data;
    EXPECT_EQ(WSAStartup(0x0101, data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(WSAStartup(0x0001, data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

}  // namespace
