// The engine over TLS against the real servers: dovecot (ssl = required,
// STLS and TLS from the first byte), the lab's TLS submission server
// (STARTTLS and logins required, TLS from the first byte; see
// scripts/lab/lab.sh for why it is not OpenSMTPD) and INN's reader
// (STARTTLS and TLS from the first byte, logins required). One lab for the whole
// file, started by scripts/lab/lab.sh with a certificate the test makes;
// needs root and scripts/packages/servers.txt, skipped otherwise.
#include "support/enginetest.h"
#include "support/tempdir.h"
#include "support/testcerts.h"

#include "platform/fsys.h"
#include "platform/pollloop.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using namespace testsupport;

std::string script() { return std::string(OMAIL_SOURCE_DIR) + "/scripts/lab/lab.sh"; }

// The lab and the authority that signed its certificate.
struct TlsLab {
    std::string root;
    std::string dir;
    std::unique_ptr<TestCa> ca;
    std::map<std::string, std::string> env;
    bool started = false;
    std::string log;

    TlsLab() {
        char pattern[] = "/tmp/omail-tlslab.XXXXXX";
        char* made = ::mkdtemp(pattern);
        if (!made) return;
        root = made;
        ::chmod(made, 0755);
        dir = root + "/lab";
        std::string certs = root + "/certs";
        ::mkdir(certs.c_str(), 0700);
        ca = std::make_unique<TestCa>(certs);
        CertFiles server = ca->issue("server", "mail.lab.test", -1, 30, false, true, true);
        std::string cmd = "LAB_WITHOUT=smtpd LAB_IPV6=1 LAB_TLS_CERT=" + server.cert + " LAB_TLS_KEY=" + server.key + " " + script() + " start " +
                          dir + " >" + root + "/lab.log 2>&1";
        started = std::system(cmd.c_str()) == 0;
        log = readFile(root + "/lab.log");
        std::ifstream in(dir + "/lab.env");
        std::string line;
        while (std::getline(in, line)) {
            auto eq = line.find('=');
            if (eq != std::string::npos) env[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    ~TlsLab() {
        if (root.empty()) return;
        std::system((script() + " stop " + dir + " >/dev/null 2>&1").c_str());
        std::system(("rm -rf " + root).c_str());
    }
    std::string host(const std::string& key) { return "127.0.0.1:" + env[key]; }
};

TlsLab* g_lab = nullptr;

bool serversInstalled() {
    for (const char* p : {"/usr/sbin/dovecot", "/usr/sbin/smtpd", "/usr/lib/news/bin/innd"})
        if (::access(p, X_OK) != 0) return false;
    return true;
}

bool waitFor(const std::function<bool()>& done, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class RealTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
#if !defined(__SANITIZE_ADDRESS__)
        if (::geteuid() == 0 && serversInstalled()) g_lab = new TlsLab;
#endif
    }
    static void TearDownTestSuite() {
        delete g_lab;
        g_lab = nullptr;
    }
    void SetUp() override {
        if (!g_lab) GTEST_SKIP() << "needs root and scripts/packages/servers.txt (not in the sanitizer build)";
        ASSERT_TRUE(g_lab->started) << g_lab->log;
        netwire::SetCertificateAuthorities(g_lab->ca->caFile());
    }
    void TearDown() override {
        netwire::SetCertificateAuthorities("");
        netwire::SetTrustFile("");
    }

    void open(const std::string& portKey, int type, int security, const std::string& user = "",
              const std::string& password = "") {
        netwire::ServerOptions o;
        o.security = security;
        o.user = user;
        o.password = password;
        netwire::OpenServer(&s.window, kSocketMsg, kDoneMsg, kStatusMsg, g_lab->host(portKey), type, o);
    }
    std::string user() { return g_lab->env["POP3_USER"]; }
    std::string password() { return g_lab->env["POP3_PASS"]; }
    void close() {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        EXPECT_TRUE(s.settle());
    }

    TempDir dir{true};
    platform::PollLoop loop;
    EngineSession s{[this](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};
};

TEST_F(RealTls, Pop3OverTlsAndStlsRetrievesAndRefusesAWrongPassword) {
    const std::string maildir = g_lab->env["POP3_MAILDIR"];
    writeFile(maildir + "/tmp/1700000001.M1.lab", "From: a@lab.test\nSubject: secret mail\n\nbody over tls\n");
    ASSERT_EQ(std::rename((maildir + "/tmp/1700000001.M1.lab").c_str(), (maildir + "/new/1700000001.M1.lab").c_str()), 0);
    ::chown((maildir + "/new/1700000001.M1.lab").c_str(), 4242, 4242);

    for (auto [port, security] : {std::pair{"POP3S_PORT", netwire::kSecurityTls},
                                  std::pair{"POP3_PORT", netwire::kSecurityStartTls}}) {
        open(port, netwire::kServerPop3, security);
        EXPECT_EQ(s.next(20000).text, "connected to pop3 server") << port;
        int32_t count = 0;
        s.expectNumericCompletion();
        netwire::OpenMailBox(kDoneMsg, user(), password(), count);
        EXPECT_EQ(s.next(20000).lParam, 1) << port;
        netwire::GetMailItem(kDoneMsg, "head.tmp", "body.tmp", 1);
        EXPECT_EQ(s.next(20000).text, "mail item retrieved") << port;
        EXPECT_EQ(readFile(dir.file("body.tmp")), "body over tls\r\n") << port;
        int32_t ids = 0;
        netwire::ListUniqueIds(kDoneMsg, "uidl.tmp", ids);
        EXPECT_EQ(s.next(20000).text, "1 unique ids listed") << port;
        EXPECT_EQ(readFile(dir.file("uidl.tmp")).rfind("1 ", 0), 0u) << port;
        close();

        open(port, netwire::kServerPop3, security);
        EXPECT_EQ(s.next(20000).text, "connected to pop3 server") << port;
        netwire::OpenMailBox(kDoneMsg, user(), "wrong", count);
        EXPECT_EQ(s.next(20000).text, "password failed") << port;
        close();
    }
}

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

TEST_F(RealTls, Pop3OnTheIpv6LoopbackByLiteralAndByName) {
    std::vector<std::string> hosts = {"[::1]:" + g_lab->env["POP3S_PORT"]};
    std::string name = loopbackName6();
    if (!name.empty()) hosts.push_back(name + ":" + g_lab->env["POP3S_PORT"]);
    for (const std::string& host : hosts) {
        netwire::ServerOptions o;
        o.security = netwire::kSecurityTls;
        netwire::OpenServer(&s.window, kSocketMsg, kDoneMsg, kStatusMsg, host, netwire::kServerPop3, o);
        EXPECT_EQ(s.next(20000).text, "connected to pop3 server") << host;
        int32_t count = -1;
        s.expectNumericCompletion();
        netwire::OpenMailBox(kDoneMsg, user(), password(), count);
        EXPECT_EQ(s.next(20000).msg, kDoneMsg) << host;
        EXPECT_GE(count, 0) << host;
        close();
    }
    if (name.empty()) GTEST_SKIP() << "no name for ::1 on this machine: only the literal was tried";
}

TEST_F(RealTls, CertificateUnknownToTheSystemIsRefusedUntilTheUserTrustsIt) {
    netwire::SetCertificateAuthorities("");
    netwire::SetTrustFile(dir.file("trusted.txt"));
    open("POP3S_PORT", netwire::kServerPop3, netwire::kSecurityTls);
    Report r = s.next(20000);
    EXPECT_EQ(r.text.rfind("certificate not trusted (SHA-256 ", 0), 0u) << r.text;
    EXPECT_TRUE(s.settle());
    std::string host, fingerprint;
    ASSERT_EQ(netwire::LastCertificateProblem(host, fingerprint), netwire::kCertificateNotTrusted);
    EXPECT_EQ(netwire::TrustCertificate(host, fingerprint), 0);
    open("POP3S_PORT", netwire::kServerPop3, netwire::kSecurityTls);
    EXPECT_EQ(s.next(20000).text, "connected to pop3 server");
    close();
}

TEST_F(RealTls, SmtpSubmissionWithStartTlsAndLoginAndOverTls) {
    writeFile(dir.file("item.omh"), "To: someone@lab.test\r\nFrom: Me <me@lab.test>\r\nSubject: over tls\r\n"
                                    "Message-Id: <tls.1@lab.test>\r\n");
    writeFile(dir.file("item.omb"), "sent through TLS\r\n");
    const std::string newDir = g_lab->env["SMTP_TLS_MAILDIR"] + "/new";
    size_t delivered = 0;
    for (auto [port, security] : {std::pair{"SUBMIT_PORT", netwire::kSecurityStartTls},
                                  std::pair{"SMTPS_PORT", netwire::kSecurityTls}}) {
        open(port, netwire::kServerSmtp, security, user(), password());
        EXPECT_EQ(s.next(20000).text, "connected to smtp server") << port;
        netwire::SendMailItem(kDoneMsg, "item.omh", "item.omb", "");
        EXPECT_EQ(s.next(20000).text, "message sent") << port;
        close();
        ++delivered;
        EXPECT_TRUE(waitFor([&] { return platform::findFiles(newDir, "*", false, true).size() == delivered; }, 10000))
            << port;

        open(port, netwire::kServerSmtp, security, user(), "wrong");
        EXPECT_EQ(s.next(20000).text, "smtp authentication failed [535]") << port;
        close();
    }
    // The submission port wants TLS first, and says so to HELO.
    open("SUBMIT_PORT", netwire::kServerSmtp, netwire::kSecurityNone);
    EXPECT_EQ(s.next(20000).text, "cannot connect to smtp server [530]");
    close();
}

TEST_F(RealTls, NntpReaderWithStartTlsAndOverTlsWantsALogin) {
    writeFile(dir.file("art.omh"), "Newsgroups: local.test\r\nFrom: Me <me@lab.test>\r\nSubject: posted over tls\r\n"
                                   "Message-Id: <tls.post.1@lab.test>\r\n");
    writeFile(dir.file("art.omb"), "an article through TLS\r\n");
    for (auto [port, security] : {std::pair{"NNTP_PORT", netwire::kSecurityStartTls},
                                  std::pair{"NNTPS_PORT", netwire::kSecurityTls}}) {
        open(port, netwire::kServerNntp, security, user(), password());
        EXPECT_EQ(s.next(20000).text, "connected to nntp server") << port;
        int32_t count = 0;
        netwire::ListGroups(kDoneMsg, "groups.lst", count);
        Report r = s.next(20000);
        EXPECT_EQ(r.wParam, 0u) << port << ": " << r.text;
        EXPECT_GE(count, 3) << port;
        close();

        open(port, netwire::kServerNntp, security, user(), "wrong");
        EXPECT_EQ(s.next(20000).text, "nntp authentication failed [481]") << port;
        close();

        open(port, netwire::kServerNntp, security);
        EXPECT_EQ(s.next(20000).text, "connected to nntp server") << port;
        netwire::ListGroups(kDoneMsg, "groups.lst", count);
        EXPECT_EQ(s.next(20000).text, "nntp server asks for authentication [480]") << port;
        close();
    }
    open("NNTPS_PORT", netwire::kServerNntp, netwire::kSecurityTls, user(), password());
    EXPECT_EQ(s.next(20000).text, "connected to nntp server");
    netwire::PostItem(kDoneMsg, "art.omh", "art.omb", "");
    EXPECT_EQ(s.next(20000).text, "article posted");
    close();
}

}  // namespace
