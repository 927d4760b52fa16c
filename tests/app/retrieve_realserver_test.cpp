// Mail retrieval end to end against a real POP3 server (dovecot) that the
// test starts on a free loopback port through scripts/lab: the whole
// machine, filing into the inbox and personal folders, a wrong password,
// cancel in the middle, and a server that drops the connection.
#include "transfer/transfer.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kMailUid = 4242;

// The lab's POP3 server, started once for the whole program.
class Pop3Lab {
public:
    static Pop3Lab& instance() {
        static Pop3Lab lab;
        return lab;
    }
    bool up() const { return m_up; }
    const std::string& why() const { return m_why; }
    std::string host() const { return "127.0.0.1:" + m_env.at("POP3_PORT"); }
    std::string user() const { return m_env.at("POP3_USER"); }
    std::string pass() const { return m_env.at("POP3_PASS"); }
    fs::path maildir() const { return m_env.at("POP3_MAILDIR"); }

    // Puts messages into the mailbox, oldest first.
    void fill(const std::vector<std::string>& messages) {
        clear();
        int n = 0;
        for (const auto& text : messages) {
            fs::path file = maildir() / "new" / ("1700000000." + std::to_string(++n) + ".lab");
            std::ofstream(file, std::ios::binary) << text;
            if (::chown(file.c_str(), kMailUid, kMailUid) != 0) ADD_FAILURE() << "chown " << file;
        }
    }
    void clear() { run("reset-pop3"); }
    // Messages still in the mailbox.
    int waiting() const {
        int n = 0;
        for (const char* sub : {"new", "cur"})
            for (const auto& e : fs::directory_iterator(maildir() / sub)) n += e.is_regular_file() ? 1 : 0;
        return n;
    }
    // Kills the POP3 processes that serve clients: the connection drops.
    void dropConnections() {
        for (const auto& e : fs::directory_iterator("/proc")) {
            std::string name = e.path().filename();
            if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
            std::ifstream comm(e.path() / "comm");
            std::string command;
            std::getline(comm, command);
            if (command == "pop3" && isOurs(std::stoi(name))) ::kill(std::stoi(name), SIGKILL);
        }
    }

    ~Pop3Lab() {
        if (m_started) run("stop");
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
        // The lab's output is kept only when it did not start, to say why.
        if (m_up) fs::remove(m_dir + ".log", ignored);
    }

private:
    Pop3Lab() {
        m_dir = "/tmp/omail-poplab-" + std::to_string(::getpid());
        m_script = std::string(OMAIL_SOURCE_DIR) + "/scripts/lab/lab.sh";
        if (::geteuid() != 0) {
            m_why = "the POP3 lab needs root";
            return;
        }
        if (!fs::exists("/usr/sbin/dovecot")) {
            m_why = "dovecot is not installed (scripts/deps.sh servers)";
            return;
        }
        m_started = true;
        if (!run("start", "LAB_WITHOUT='smtp nntp' ")) {
            m_why = "the POP3 lab did not start";
            return;
        }
        std::ifstream env(m_dir + "/lab.env");
        std::string line;
        while (std::getline(env, line)) {
            auto eq = line.find('=');
            if (eq != std::string::npos) m_env[line.substr(0, eq)] = line.substr(eq + 1);
        }
        m_up = m_env.count("POP3_PORT") == 1;
    }
    bool run(const char* command, const std::string& prefix = "") const {
        std::string line = prefix + "bash '" + m_script + "' " + command + " '" + m_dir + "' > '" + m_dir +
                           ".log' 2>&1";
        return std::system(line.c_str()) == 0;
    }
    // A process of this lab: its parent is the lab's dovecot master.
    bool isOurs(int pid) const {
        std::ifstream master(m_dir + "/pop3/run/master.pid");
        int masterPid = 0;
        master >> masterPid;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string s((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        auto close = s.rfind(')');
        if (close == std::string::npos) return false;
        int ppid = 0;
        char state = 0;
        std::sscanf(s.c_str() + close + 1, " %c %d", &state, &ppid);
        return masterPid != 0 && ppid == masterPid;
    }

    std::string m_dir;
    std::string m_script;
    std::string m_why;
    bool m_started = false;
    bool m_up = false;
    std::map<std::string, std::string> m_env;
};

class Host : public transfer::Host {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::vector<std::string> folders;
    std::vector<std::string> statuses;
    std::vector<std::string> boxes;
    int prompts = 0;
    void showStatus(const std::string& text) override { statuses.push_back(text); }
    void information(const std::string& text) override { boxes.push_back(text); }
    bool askPassword(std::string_view, std::string&) override {
        ++prompts;
        return false;
    }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return folders; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
};

std::string message(const std::string& from, const std::string& to, const std::string& subject,
                     size_t bodyBytes = 200) {
    std::string text = "From: " + from + "\nTo: " + to + "\nSubject: " + subject +
                       "\nDate: Mon, 7 Dec 2026 10:00:00 +0000\nMessage-ID: <" + subject + "@lab.test>\n\n";
    std::string line(70, 'x');
    for (size_t n = 0; n < bodyBytes; n += line.size() + 1) text += line + "\n";
    return text;
}

class RealRetrieveTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lab().up()) GTEST_SKIP() << lab().why();
        for (const char* d : {"IN", "OUT", "SENT", "BIN"}) platform::createDirectory(d);
        host.general.pop = lab().host();
        host.general.user = lab().user();
        host.general.pass = lab().pass();
    }
    void TearDown() override {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        loop.runFor(20);
    }
    static Pop3Lab& lab() { return Pop3Lab::instance(); }
    // For what happens outside this process: polls while running the loop.
    bool settle(const std::function<bool()>& done, int timeoutMs = 5000) {
        for (int waited = 0; !done(); waited += kPollMs) {
            if (waited >= timeoutMs) return false;
            loop.runFor(kPollMs);
        }
        return true;
    }
    static constexpr int kPollMs = 10;
    bool runToEnd() {
        return loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 20000);
    }
    static uint32_t count(const std::string& folder) {
        uint32_t n = 0;
        torvakit::GetFile(folder + "/n.cnt", n);
        return n;
    }
    // The status line of each record in the folder's list, in list order.
    static std::string statuses(const std::string& folder) {
        std::ifstream list(platform::resolvePath(folder + "/n.lst"), std::ios::binary);
        std::string line, result;
        for (int n = 0; std::getline(list, line); ++n)
            if (n % 9 == 1) result += line.substr(0, 1);
        return result;
    }

    testsupport::TempDir dir{true};
    platform::PollLoop loop;
    Host host;
    transfer::Transfers transfers{host, dir.path()};
};

TEST_F(RealRetrieveTest, ThreeMessagesAreRetrievedFiledAndRemovedThenNoneAreLeft) {
    lab().fill({message("a@lab.test", "u@lab.test", "one"), message("b@lab.test", "u@lab.test", "two"),
                message("c@lab.test", "u@lab.test", "three")});
    transfers.retrieveMail();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(host.boxes, std::vector<std::string>{"3 new messages retrieved"});
    EXPECT_EQ(statuses("IN"), "UUU");
    EXPECT_EQ(count("IN"), 3u);
    // The server removes them once it has read QUIT, after the client closed.
    EXPECT_TRUE(settle([] { return lab().waiting() == 0; })) << lab().waiting();
    // The header file starts with the server's positive reply line.
    std::string first;
    std::ifstream(platform::resolvePath("IN/N0000000.omh")) >> first;
    EXPECT_EQ(first, "+OK");

    transfers.retrieveMail();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(host.boxes.back(), "no new messages available");
    EXPECT_EQ(count("IN"), 3u);
}

TEST_F(RealRetrieveTest, PersonalFoldersTakeMessagesByAuthorAndRecipientInSortedOrder) {
    host.options.rfrom = 1;
    host.options.rrecip = 1;
    host.folders = {"alpha", "beta", "lists"};
    for (const auto& f : host.folders) platform::createDirectory(f);
    lab().fill({message("Alpha Beta <alphabeta@lab.test>", "u@lab.test", "both"),
                message("x@lab.test", "lists@lab.test", "list"), message("x@lab.test", "u@lab.test", "plain"),
                message("x@lab.test", "u@lab.test, beta@lab.test", "second-recipient")});
    transfers.retrieveMail();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(host.boxes, std::vector<std::string>{"4 new messages retrieved"});
    EXPECT_EQ(count("alpha"), 1u);
    EXPECT_EQ(count("beta"), 0u);
    EXPECT_EQ(count("lists"), 1u);
    EXPECT_EQ(count("IN"), 2u);
}

TEST_F(RealRetrieveTest, AWrongPasswordIsReportedAndForgotten) {
    lab().fill({message("a@lab.test", "u@lab.test", "kept")});
    host.general.pass = "wrong";
    transfers.retrieveMail();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(host.boxes, std::vector<std::string>{"password failed"});
    EXPECT_TRUE(transfers.retrievalPassword.empty());
    EXPECT_EQ(lab().waiting(), 1);
    transfers.retrieveMail();  // asks, and the user cancels
    EXPECT_EQ(host.prompts, 1);
    EXPECT_EQ(transfers.transferState, transfer::kIdle);
}

TEST_F(RealRetrieveTest, CancelDuringRetrievalLeavesEveryMessageOnTheServer) {
    std::vector<std::string> messages;
    for (int i = 0; i < 20; ++i) messages.push_back(message("a@lab.test", "u@lab.test", "m" + std::to_string(i), 100000));
    lab().fill(messages);
    transfers.retrieveMail();
    ASSERT_TRUE(loop.runUntil([&] { return count("IN") >= 2; }, 20000));
    transfers.userCancel();
    EXPECT_EQ(transfers.transferState, transfer::kIdle);
    loop.runFor(200);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(lab().waiting(), 20);
    EXPECT_LT(count("IN"), 20u);
}

TEST_F(RealRetrieveTest, AConnectionDroppedByTheServerFilesWhatCameAndDeletesNothing) {
    // More messages than the commands sent ahead of the reader, so that the
    // drop lands before the last ones were even asked for.
    std::vector<std::string> messages;
    for (int i = 0; i < 60; ++i) messages.push_back(message("a@lab.test", "u@lab.test", "m" + std::to_string(i), 100000));
    lab().fill(messages);
    transfers.retrieveMail();
    ASSERT_TRUE(loop.runUntil([&] { return count("IN") >= 2; }, 20000));
    lab().dropConnections();
    ASSERT_TRUE(runToEnd());
    ASSERT_EQ(host.boxes.size(), 1u);  // the engine's error text
    const uint32_t filed = count("IN");
    EXPECT_GE(filed, 2u);
    EXPECT_LT(filed, 60u);
    EXPECT_EQ(statuses("IN"), std::string(filed, 'U'));
    EXPECT_EQ(lab().waiting(), 60);
}

}  // namespace

TEST_F(RealRetrieveTest, PipelinedRetrievalOverSeveralWindowsFilesEveryMessageAsSent) {
    // More messages than one window of RETR holds, of sizes from a line to
    // beyond the receive buffer, with lines the server dot-stuffs.
    constexpr int kMessages = 45;
    std::vector<std::string> messages, bodies;
    for (int n = 0; n < kMessages; ++n) {
        std::string body = ".starts with a dot " + std::to_string(n) + "\r\n";
        for (int k = 0; k < (n * 37) % 400; ++k) body += std::string(70, static_cast<char>('a' + k % 26)) + "\r\n";
        bodies.push_back(body);
        std::string lf = body;
        for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.replace(at, 2, "\n");
        messages.push_back("From: p@lab.test\nTo: u@lab.test\nSubject: p" + std::to_string(n) + "\n\n" + lf);
    }
    lab().fill(messages);
    transfers.retrieveMail();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(host.boxes.back(), std::to_string(kMessages) + " new messages retrieved");
    EXPECT_EQ(statuses("IN"), std::string(kMessages, 'U'));
    std::ifstream list(platform::resolvePath("IN/n.lst"), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(list, line);) lines.push_back(line.substr(0, line.size() - 1));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kMessages) * 9);
    std::vector<bool> seen(kMessages, false);
    for (int r = 0; r < kMessages; ++r) {
        SCOPED_TRACE(r);
        // The server's order of its maildir is its own: the subject says which.
        const std::string& subject = lines[r * 9 + 4];
        ASSERT_EQ(subject.rfind("p", 0), 0u);
        const int n = std::stoi(subject.substr(1));
        ASSERT_TRUE(n >= 0 && n < kMessages && !seen[n]);
        seen[n] = true;
        std::string bodyName = lines[r * 9];
        bodyName.back() = 'b';
        std::ifstream body(platform::resolvePath("IN/" + bodyName), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(body), {}), bodies[n]);
    }
    EXPECT_TRUE(settle([] { return lab().waiting() == 0; })) << lab().waiting();
}
