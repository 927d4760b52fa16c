// Server replies for the protocol engine: the input is what a server sends
// (after a first byte choosing the protocol and the commands issued), written
// to the engine's connection and ended. The engine must end Idle with its
// report, whatever the bytes.
//
// Configure the whole build with the fuzzer's instrumentation so that the
// libraries are covered too:
//   CC=clang CXX=clang++ cmake -S . -B /tmp/fuzz -DOMAIL_BUILD_FUZZ=ON -DOMAIL_BUILD_APP=OFF \
//       -DOMAIL_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined"
#include "net/netwire.h"
#include "platform/pollloop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr uint32_t kSocketMsg = 0x401;
constexpr uint32_t kStatusMsg = 0x402;
constexpr uint32_t kDoneMsg = 0x405;

int g_listen = -1;
uint16_t g_port = 0;

// Issues the commands of a session one per completion.
class Session final : public platform::Window {
public:
    int protocol = 1;
    int step = 0;
    int32_t a = 0, b = 0, c = 0;

    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        if (msg == kSocketMsg) {
            netwire::ProcessMsg(wParam, lParam);
            return;
        }
        if (msg != kDoneMsg || wParam != 0 || netwire::ConnectionState() != netwire::kStateConnected) return;
        next();
    }

    void next() {
        int s = step++;
        switch (protocol) {
        case netwire::kServerPop3:
            if (s == 0) netwire::OpenMailBox(kDoneMsg, "u", "p", a);
            else if (s < 3) netwire::GetMailItem(kDoneMsg, "head.tmp", "body.tmp", s);
            else if (s == 3) netwire::DeleteMailItem(kDoneMsg, 1);
            break;
        case netwire::kServerNntp:
            if (s == 0) netwire::ListGroups(kDoneMsg, "GROUP.LST", a);
            else if (s == 1) netwire::NewsDate(kDoneMsg, "NEWS.DAT");
            else if (s == 2) netwire::OpenGroup(kDoneMsg, "alt.test", a, b, c);
            else if (s == 3) netwire::GetHeader(kDoneMsg, "head.tmp", -1, a);
            else if (s == 4) netwire::NextHeader(kDoneMsg, a);
            else if (s == 5) netwire::GetBody(kDoneMsg, "body.tmp", 2, "");
            else if (s == 6) netwire::PostItem(kDoneMsg, "item.omh", "item.omb", "");
            break;
        default:
            if (s < 2) netwire::SendMailItem(kDoneMsg, "item.omh", "item.omb", "");
            break;
        }
    }
};

void setUp() {
    char dir[] = "/tmp/netreply_fuzz.XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
    FILE* h = std::fopen("item.omh", "wb");
    std::fputs("To: a@b, c@d\r\nFrom: e@f\r\nNewsgroups: alt.test\r\nMessage-Id: <x@y>\r\n", h);
    std::fclose(h);
    FILE* b = std::fopen("item.omb", "wb");
    std::fputs("body\r\n.dot\r\n", b);
    std::fclose(b);
    g_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(g_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(g_listen, 4);
    socklen_t len = sizeof addr;
    ::getsockname(g_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    g_port = ntohs(addr.sin_port);
    netwire::SetReplyTimeout(1000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static platform::PollLoop loop;
    static Session session;
    if (g_listen < 0) setUp();
    if (size == 0) return 0;
    session.protocol = 1 + data[0] % 3;
    session.step = 0;
    netwire::OpenServer(&session, kSocketMsg, kDoneMsg, kStatusMsg, "127.0.0.1:" + std::to_string(g_port),
                        session.protocol);
    // Runs the loop until the engine connected, so that the server side can
    // be accepted.
    loop.runUntil([] { return netwire::ConnectionState() != netwire::kStateLookingUp; }, 2000);
    int peer = ::accept(g_listen, nullptr, nullptr);
    if (peer >= 0) {
        size_t pos = 1;
        while (pos < size) {
            ssize_t n = ::send(peer, data + pos, size - pos, MSG_NOSIGNAL);
            if (n <= 0) break;
            pos += static_cast<size_t>(n);
        }
        ::shutdown(peer, SHUT_WR);
    }
    if (!loop.runUntil([] { return netwire::ConnectionState() == netwire::kStateIdle; }, 5000)) std::abort();
    loop.runFor(1);
    if (peer >= 0) ::close(peer);
    return 0;
}
