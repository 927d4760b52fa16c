// IPv6: an address literal in brackets, and a name that resolves to ::1,
// reach a server that listens on ::1 only.
#include "support/enginetest.h"

#include "platform/pollloop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace {

using namespace testsupport;

// Greets one client on [::1] and records what it sends until it closes.
class V6Server {
public:
    explicit V6Server(std::string greeting) : m_greeting(std::move(greeting)) {
        m_listen = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        int one = 1;
        ::setsockopt(m_listen, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        m_ok = m_listen >= 0 && ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
               ::listen(m_listen, 2) == 0;
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin6_port);
        if (m_ok) m_thread = std::thread([this] { run(); });
    }
    ~V6Server() {
        if (m_thread.joinable()) m_thread.join();
        if (m_listen >= 0) ::close(m_listen);
    }
    bool ok() const { return m_ok; }
    uint16_t port() const { return m_port; }
    std::string received() {
        if (m_thread.joinable()) m_thread.join();
        return m_received;
    }

private:
    void run() {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0) return;
        ::send(fd, m_greeting.data(), m_greeting.size(), MSG_NOSIGNAL);
        char buf[256];
        pollfd q{fd, POLLIN, 0};
        while (::poll(&q, 1, 5000) > 0) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            m_received.append(buf, static_cast<size_t>(n));
        }
        ::close(fd);
    }
    std::string m_greeting;
    int m_listen = -1;
    uint16_t m_port = 0;
    bool m_ok = false;
    std::string m_received;
    std::thread m_thread;
};

// A name /etc/hosts gives to ::1, if it gives one. Only that file is read:
// a name it does not hold would be asked of a name server off this machine.
std::string loopbackName6() {
    std::ifstream hosts("/etc/hosts");
    std::string line;
    while (std::getline(hosts, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string address, name;
        if (words >> address >> name && address == "::1") return name;
    }
    return {};
}

class Ipv6 : public ::testing::Test {
protected:
    platform::PollLoop loop;
    EngineSession session{[this](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};

    void reach(const std::string& host, V6Server& server) {
        session.open(host, netwire::kServerPop3);
        EXPECT_EQ(session.next().text, "connected to pop3 server") << host;
        netwire::AbortConnection();
        EXPECT_TRUE(session.settle());
        EXPECT_EQ(server.received(), "QUIT\r\n") << host;
    }
};

TEST_F(Ipv6, LiteralInBrackets) {
    V6Server server("+OK hi\r\n");
    if (!server.ok()) GTEST_SKIP() << "no IPv6 loopback";
    reach("[::1]:" + std::to_string(server.port()), server);
}

TEST_F(Ipv6, NameThatResolvesToTheIpv6Loopback) {
    std::string name = loopbackName6();
    if (name.empty()) {
        netwire::AbortConnection();  // its "ready" lets the session end at once
        GTEST_SKIP() << "no name for ::1 in /etc/hosts";
    }
    V6Server server("+OK hi\r\n");
    if (!server.ok()) GTEST_SKIP() << "no IPv6 loopback";
    reach(name + ":" + std::to_string(server.port()), server);
}

}  // namespace
