// Mail left on the real POP3 server (dovecot, TLS from the first byte,
// ssl = required) and retrieved with unique ids and commands sent ahead:
// a second run files only what arrived since, and nothing leaves the
// server. The lab is started through scripts/lab with a certificate of an
// authority the test makes; needs root and dovecot, skipped otherwise.
#include "transfer/transfer.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "support/tempdir.h"
#include "support/testcerts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kMailUid = 4242;

class TlsPop3Lab {
public:
    TlsPop3Lab() {
        m_root = "/tmp/omail-uidltls-" + std::to_string(::getpid());
        if (::geteuid() != 0 || !fs::exists("/usr/sbin/dovecot")) return;
        fs::create_directories(m_root + "/certs");
        ::chmod(m_root.c_str(), 0755);
        m_ca = std::make_unique<testsupport::TestCa>(m_root + "/certs");
        const testsupport::CertFiles cert = m_ca->issue("server", "mail.lab.test");
        m_started = true;
        const std::string line = "LAB_WITHOUT='smtp nntp' LAB_TLS_CERT='" + cert.cert + "' LAB_TLS_KEY='" + cert.key +
                                 "' bash '" + script() + "' start '" + m_root + "/lab' > '" + m_root + "/lab.log' 2>&1";
        if (std::system(line.c_str()) != 0) return;
        std::ifstream env(m_root + "/lab/lab.env");
        for (std::string l; std::getline(env, l);)
            if (auto eq = l.find('='); eq != std::string::npos) m_env[l.substr(0, eq)] = l.substr(eq + 1);
        m_up = m_env.count("POP3S_PORT") == 1;
    }
    ~TlsPop3Lab() {
        if (m_started) std::system(("bash '" + script() + "' stop '" + m_root + "/lab' > /dev/null 2>&1").c_str());
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    bool up() const { return m_up; }
    std::string env(const std::string& key) const { return m_env.at(key); }
    std::string caFile() const { return m_ca->caFile(); }
    // Adds messages first..last (Message-ID <N@tls.test>) to the mailbox:
    // written in tmp/ and moved to new/ when complete, as a delivery does,
    // since the session of the last run may still be scanning new/.
    void add(int first, int last) const {
        const fs::path maildir = env("POP3_MAILDIR");
        for (int n = first; n <= last; ++n) {
            const std::string name = "1700000000." + std::to_string(n) + ".lab";
            const fs::path file = maildir / "tmp" / name;
            std::ofstream(file, std::ios::binary) << "From: a@lab.test\nSubject: m" << n << "\nMessage-ID: <" << n
                                                  << "@tls.test>\n\nbody " << n << "\n";
            if (::chown(file.c_str(), kMailUid, kMailUid) != 0) ADD_FAILURE() << "chown " << file;
            fs::rename(file, maildir / "new" / name);
        }
    }
    int waiting() const {
        int count = 0;
        for (const char* sub : {"new", "cur"})
            for (const auto& e : fs::directory_iterator(fs::path(env("POP3_MAILDIR")) / sub)) count += e.is_regular_file();
        return count;
    }

private:
    static std::string script() { return std::string(OMAIL_SOURCE_DIR) + "/scripts/lab/lab.sh"; }
    std::string m_root;
    std::unique_ptr<testsupport::TestCa> m_ca;
    bool m_started = false, m_up = false;
    std::map<std::string, std::string> m_env;
};

class QuietHost : public transfer::Host {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::vector<std::string> boxes;
    void showStatus(const std::string&) override {}
    void information(const std::string& text) override { boxes.push_back(text); }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return {}; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
};

// The Message-ID numbers of the inbox's items, with how often each is there.
std::map<int, int> filedIds(const std::string& data) {
    std::map<int, int> seen;
    for (const auto& e : fs::directory_iterator(data + "/IN")) {
        if (e.path().extension() != ".omh") continue;
        std::ifstream in(e.path());
        for (std::string line; std::getline(in, line);)
            if (line.rfind("Message-ID: <", 0) == 0) {
                ++seen[std::atoi(line.c_str() + 13)];
                break;
            }
    }
    return seen;
}

TEST(UidlOverTls, LeftOnTheServerASecondRunFilesOnlyWhatCameSince) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "real servers are left to the plain build";
#endif
    TlsPop3Lab lab;
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
