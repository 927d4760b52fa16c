// Crashes against the real POP3 server (dovecot, started through
// scripts/lab): 2,000 messages retrieved by a child process that is killed
// with SIGKILL at random moments five times, then a run that finishes.
// Every message must be in the inbox exactly once, with mail left on the
// server and without. And mail left on the server over TLS (from the first
// byte, ssl = required, a certificate of an authority the test makes): a
// second run files only what arrived since.
#include "transfer/transfer.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "support/tempdir.h"
#include "support/testcerts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kMailUid = 4242;
constexpr int kMessages = 2000;
constexpr int kKills = 5;

class Lab {
public:
    // With tls, dovecot takes logins only over TLS, with a certificate of
    // an authority made here.
    explicit Lab(bool tls) {
        m_dir = std::string(tls ? "/tmp/omail-uidltls-" : "/tmp/omail-uidllab-") + std::to_string(::getpid());
        if (::geteuid() != 0 || !fs::exists("/usr/sbin/dovecot")) return;
        std::string prefix = "LAB_WITHOUT='smtp nntp' ";
        if (tls) {
            const std::string certs = m_dir + "-certs";
            fs::create_directories(certs);
            ::chmod(certs.c_str(), 0755);
            m_ca = std::make_unique<testsupport::TestCa>(certs);
            const testsupport::CertFiles cert = m_ca->issue("server", "mail.lab.test");
            prefix += "LAB_TLS_CERT='" + cert.cert + "' LAB_TLS_KEY='" + cert.key + "' ";
        }
        m_started = true;
        if (!run("start", prefix)) return;
        std::ifstream env(m_dir + "/lab.env");
        for (std::string line; std::getline(env, line);)
            if (auto eq = line.find('='); eq != std::string::npos) m_env[line.substr(0, eq)] = line.substr(eq + 1);
        m_up = m_env.count(tls ? "POP3S_PORT" : "POP3_PORT") == 1;
    }
    ~Lab() {
        if (m_started) run("stop");
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
        fs::remove_all(m_dir + "-certs", ignored);
        if (m_up) fs::remove(m_dir + ".log", ignored);
    }
    bool up() const { return m_up; }
    std::string env(const std::string& key) const { return m_env.at(key); }
    std::string caFile() const { return m_ca->caFile(); }
    void fill(int count) {
        run("reset-pop3");
        add(1, count);
    }
    // Adds messages first..last (Message-ID <N@lab.test>): written in tmp/
    // and moved to new/ when complete, as a delivery does, since the session
    // of the last run may still be scanning new/.
    void add(int first, int last) const {
        const fs::path maildir = env("POP3_MAILDIR");
        for (int n = first; n <= last; ++n) {
            const std::string name = "1700000000." + std::to_string(n) + ".lab";
            const fs::path file = maildir / "tmp" / name;
            std::ofstream(file, std::ios::binary) << "From: a@lab.test\nSubject: m" << n << "\nMessage-ID: <" << n
                                                  << "@lab.test>\n\nbody " << n << "\n";
            if (::chown(file.c_str(), kMailUid, kMailUid) != 0) ADD_FAILURE() << "chown " << file;
            fs::rename(file, maildir / "new" / name);
        }
    }
    // Messages in the mailbox: a file the server was moving from "new" to
    // "cur" when its client died may show in both for a while.
    int waiting() const {
        std::set<std::string> names;
        for (const char* sub : {"new", "cur"})
            for (const auto& e : fs::directory_iterator(fs::path(env("POP3_MAILDIR")) / sub)) {
                const std::string name = e.path().filename().string();
                if (e.is_regular_file()) names.insert(name.substr(0, name.find(':')));
            }
        return static_cast<int>(names.size());
    }

private:
    bool run(const char* command, const std::string& prefix = "") const {
        const std::string script = std::string(OMAIL_SOURCE_DIR) + "/scripts/lab/lab.sh";
        const std::string line =
            prefix + "bash '" + script + "' " + command + " '" + m_dir + "' > '" + m_dir + ".log' 2>&1";
        return std::system(line.c_str()) == 0;
    }
    std::string m_dir;
    std::unique_ptr<testsupport::TestCa> m_ca;
    bool m_started = false, m_up = false;
    std::map<std::string, std::string> m_env;
};

Lab& lab() {
    static Lab instance(false);
    return instance;
}

class QuietHost : public transfer::Host {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    void showStatus(const std::string&) override {}
    std::vector<std::string> boxes;
    // What the run ended with, also in the log of a failed test.
    void information(const std::string& text) override {
        std::fprintf(stderr, "retrieval: %s\n", text.c_str());
        boxes.push_back(text);
    }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override { ended = true; }
    bool ended = false;
    std::vector<std::string> personalFolders() const override { return {}; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
};

// One retrieval in a process of its own, started as the program starts:
// the store recovered first. Exits 0 when the run ended normally.
pid_t retrieveInChild(const std::string& data, bool leave) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir(data.c_str()) != 0) ::_exit(2);
    std::string report;
    torvakit::RecoverStore(data, report);
    platform::PollLoop loop;
    QuietHost host;
    host.general.pop = "127.0.0.1:" + lab().env("POP3_PORT");
    host.general.user = lab().env("POP3_USER");
    host.general.pass = lab().env("POP3_PASS");
    host.general.uidl = 1;
    host.general.leave = leave ? 1 : 0;
    transfer::Transfers transfers(host, data);
    transfers.retrieveMail();
    loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 60000);
    ::_exit(host.ended ? 0 : 1);
}

uint32_t inboxCount(const std::string& data) {
    uint32_t n = 0;
    torvakit::GetFile(data + "/IN/n.cnt", n);
    return n;
}

// The Message-ID numbers of the inbox's items, with how often each is there.
std::map<int, int> filedIds(const std::string& data) {
    std::map<int, int> seen;
    for (const auto& e : fs::directory_iterator(data + "/IN")) {
        if (e.path().extension() != ".omh") continue;
        std::ifstream in(e.path());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("Message-ID: <", 0) != 0) continue;
            ++seen[std::atoi(line.c_str() + 13)];
            break;
        }
    }
    return seen;
}

void crashFiveTimesThenFinish(bool leave) {
    if (!lab().up()) GTEST_SKIP() << "the POP3 lab needs root and dovecot (scripts/deps.sh servers)";
    lab().fill(kMessages);
    testsupport::TempDir dir;
    const std::string data = dir.path();
    for (const char* d : {"IN", "OUT", "SENT", "BIN"}) platform::createDirectory(data + "/" + d);
    std::mt19937 random(std::random_device{}());
    int landed = 0;
    for (int attempt = 0; landed < kKills && attempt < 3 * kKills; ++attempt) {
        const uint32_t target = inboxCount(data) + std::uniform_int_distribution<uint32_t>(20, 250)(random);
        const pid_t child = retrieveInChild(data, leave);
        int status = 0;
        bool exited = false;
        while (inboxCount(data) < target && !(exited = ::waitpid(child, &status, WNOHANG) == child))
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        if (exited) continue;  // the run ended before the kill: not a crash
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        if (WIFSIGNALED(status)) ++landed;
    }
    EXPECT_EQ(landed, kKills);
    // The server may still be closing the session of the last killed
    // client and refuse the next one for a moment: the user would retrieve
    // again.
    int status = 0;
    for (int run = 0; run < 3; ++run) {
        ::waitpid(retrieveInChild(data, leave), &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the last run did not end";

    const std::map<int, int> seen = filedIds(data);
    int twice = 0;
    for (const auto& [id, times] : seen) twice += times > 1;
    EXPECT_EQ(twice, 0);
    EXPECT_EQ(seen.size(), static_cast<size_t>(kMessages));
    EXPECT_EQ(seen.begin()->first, 1);
    EXPECT_EQ(seen.rbegin()->first, kMessages);
    EXPECT_EQ(inboxCount(data), static_cast<uint32_t>(kMessages));
    // The server removes deleted messages once it has read QUIT, after the
    // client closed: give it time.
    const int left = leave ? kMessages : 0;
    for (int i = 0; i < 200 && lab().waiting() != left; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(lab().waiting(), left);
}

TEST(UidlCrash, LeftOnTheServerEveryMessageIsFiledOnce) { crashFiveTimesThenFinish(true); }
TEST(UidlCrash, DeletedFromTheServerEveryMessageIsFiledOnce) { crashFiveTimesThenFinish(false); }

TEST(UidlOverTls, LeftOnTheServerASecondRunFilesOnlyWhatCameSince) {
    static Lab lab(true);
    if (!lab.up()) GTEST_SKIP() << "the POP3 lab needs root and dovecot (scripts/deps.sh servers)";
    netwire::SetCertificateAuthorities(lab.caFile());
    testsupport::TempDir dir(true);
    for (const char* d : {"IN", "OUT", "SENT", "BIN"}) platform::createDirectory(d);
    platform::PollLoop loop;
    QuietHost host;
    host.general.pop = "127.0.0.1:" + lab.env("POP3S_PORT");
    host.general.popsec = netwire::kSecurityTls;
    host.general.user = lab.env("POP3_USER");
    host.general.pass = lab.env("POP3_PASS");
    host.general.uidl = 1;
    host.general.leave = 1;
    transfer::Transfers transfers(host, dir.path());
    auto retrieve = [&] {
        transfers.retrieveMail();
        return loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 60000);
    };

    // More than one window of commands sent ahead.
    lab.add(1, 70);
    ASSERT_TRUE(retrieve());
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ(host.boxes.back(), "70 new messages retrieved");
    lab.add(71, 75);
    ASSERT_TRUE(retrieve());
    EXPECT_EQ(host.boxes.back(), "5 new messages retrieved");
    ASSERT_TRUE(retrieve());
    EXPECT_EQ(host.boxes.back(), "no new messages available");

    const std::map<int, int> seen = filedIds(dir.path());
    EXPECT_EQ(seen.size(), 75u);
    for (const auto& [id, times] : seen) EXPECT_EQ(times, 1) << id;
    EXPECT_EQ(seen.begin()->first, 1);
    EXPECT_EQ(seen.rbegin()->first, 75);
    EXPECT_EQ(lab.waiting(), 75);
    netwire::SetCertificateAuthorities("");
}

}  // namespace
