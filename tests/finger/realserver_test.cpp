// The Finger client against a real Finger daemon: in.fingerd from Debian's
// fingerd package, run by xinetd on a free loopback port that this test
// chooses, starts and stops itself.
#include "finger/whoprobe.h"
#include "fingerserver.h"

#include "platform/pollloop.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr const char* kXinetd = "/usr/sbin/xinetd";
constexpr const char* kFingerDaemon = "/usr/sbin/in.fingerd";
constexpr const char* kFingerProgram = "/usr/bin/finger";  // in.fingerd runs it
constexpr uint32_t kDllMsg = platform::WM_USER + 1;
constexpr uint32_t kAppMsg = platform::WM_USER + 2;
constexpr uint32_t kErrMsg = platform::WM_USER + 3;
constexpr int kStartMs = 5000;
constexpr int kQueryMs = 10000;

bool canConnect(uint16_t port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return ok;
}

// xinetd in the foreground with one unlisted service: in.fingerd on port.
class FingerDaemon {
public:
    FingerDaemon() : m_port(fingertest::closedPort()) {
        std::string config = m_lab.file("xinetd.conf");
        std::ofstream out(config);
        out << "defaults\n{\n}\n"
            << "service omailfinger\n{\n"
            << "    type        = UNLISTED\n"
            << "    socket_type = stream\n"
            << "    protocol    = tcp\n"
            << "    wait        = no\n"
            << (geteuid() == 0 ? "    user        = nobody\n" : "")
            << "    bind        = 127.0.0.1\n"
            << "    port        = " << m_port << "\n"
            << "    server      = " << kFingerDaemon << "\n"
            << "    log_type    = FILE " << m_lab.file("xinetd.log") << "\n"
            << "}\n";
        out.close();

        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl(kXinetd, kXinetd, "-dontfork", "-f", config.c_str(), "-pidfile",
                    m_lab.file("xinetd.pid").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~FingerDaemon() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // Waits until the daemon accepts connections.
    bool ready() {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
        while (std::chrono::steady_clock::now() < end) {
            if (m_pid <= 0 || ::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;
            }
            if (canConnect(m_port)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    uint16_t port() const { return m_port; }

private:
    testsupport::TempDir m_lab;
    uint16_t m_port;
    pid_t m_pid = -1;
};

struct Outcome {
    bool done = false;
    bool failed = false;
    std::string text;
};

class Caller final : public platform::Window {
public:
    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        if (msg == kDllMsg) {
            whoprobe::ProcessDllMsg(wParam, lParam);
        } else if (msg == kAppMsg || (msg == kErrMsg && wParam == 1)) {
            outcome = {true, msg == kErrMsg, reinterpret_cast<const char*>(lParam)};
        }
    }
    Outcome outcome;
};

bool everyLineFeedAfterCr(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    return true;
}

class RealFingerServer : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {kXinetd, kFingerDaemon, kFingerProgram}) {
            if (::access(program, X_OK) != 0) {
                GTEST_SKIP() << program << " is missing: install fingerd, finger and xinetd "
                             << "(scripts/deps.sh finger)";
            }
        }
        daemon.emplace();
        ASSERT_TRUE(daemon->ready()) << "xinetd did not start on port " << daemon->port();
        ASSERT_EQ(whoprobe::OpenWinsock(), 0);
        opened = true;
    }
    void TearDown() override {
        if (opened) {
            EXPECT_EQ(whoprobe::CloseWinsock(), 0);
        }
    }

    Outcome query(const std::string& q) {
        Caller caller;
        whoprobe::Finger(&caller, kDllMsg, kAppMsg, kErrMsg, q);
        loop.runUntil([&] { return caller.outcome.done; }, kQueryMs);
        if (!caller.outcome.done) whoprobe::Abort();
        return caller.outcome;
    }

    platform::PollLoop loop;
    std::optional<FingerDaemon> daemon;
    bool opened = false;
};

TEST_F(RealFingerServer, ReportsAKnownUser) {
    std::string site = "127.0.0.1:" + std::to_string(daemon->port());
    Outcome byAddress = query("root@" + site);
    ASSERT_TRUE(byAddress.done);
    EXPECT_FALSE(byAddress.failed) << byAddress.text;
    EXPECT_NE(byAddress.text.find("Login: root"), std::string::npos) << byAddress.text;
    EXPECT_TRUE(everyLineFeedAfterCr(byAddress.text));

    Outcome byName = query("root@localhost:" + std::to_string(daemon->port()));
    ASSERT_TRUE(byName.done);
    EXPECT_NE(byName.text.find("Login: root"), std::string::npos) << byName.text;
}

TEST_F(RealFingerServer, PassesTheServersAnswerForAnUnknownUser) {
    Outcome unknown = query("nosuchuser4711@127.0.0.1:" + std::to_string(daemon->port()));
    ASSERT_TRUE(unknown.done);
    EXPECT_FALSE(unknown.failed);
    EXPECT_NE(unknown.text.find("no such user"), std::string::npos) << unknown.text;
}

}  // namespace
