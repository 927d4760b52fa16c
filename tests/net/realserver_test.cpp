// The engine against real servers on loopback (dovecot, OpenSMTPD, INN),
// each started for its test in a lab directory of its own by
// scripts/lab/lab.sh and stopped afterwards. Needs root and the packages of
// scripts/packages/servers.txt; skipped otherwise, and in sanitizer builds.
#include "support/enginetest.h"
#include "support/tempdir.h"

#include "platform/fsys.h"
#include "platform/pollloop.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

namespace {

using namespace testsupport;

std::string crlf(const std::string& lf) {
    std::string out;
    for (char c : lf) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string shellQuote(const std::string& s) { return "'" + s + "'"; }

class Lab {
public:
    // Starts the one server the test needs ("pop3", "smtp" or "nntp").
    explicit Lab(const std::string& only) {
        char pattern[] = "/tmp/omail-lab.XXXXXX";
        char* made = ::mkdtemp(pattern);
        if (!made) return;
        ::chmod(made, 0755);  // the servers' own users must reach the lab
        m_dir = std::string(made) + "/lab";
        std::string without;
        for (const char* p : {"pop3", "smtp", "nntp"})
            if (only != p) without += std::string(without.empty() ? "" : " ") + p;
        std::string cmd = "LAB_WITHOUT=" + shellQuote(without) + " " + script() + " start " + m_dir + " >" + m_dir +
                          ".log 2>&1";
        m_started = std::system(cmd.c_str()) == 0;
        if (m_started) readEnv();
    }
    ~Lab() {
        if (m_dir.empty()) return;
        std::system((script() + " stop " + m_dir + " >/dev/null 2>&1").c_str());
        std::system(("rm -rf " + m_dir.substr(0, m_dir.size() - 4)).c_str());
    }
    bool started() const { return m_started; }
    std::string env(const std::string& key) const {
        auto it = m_env.find(key);
        return it == m_env.end() ? std::string() : it->second;
    }
    std::string host(const std::string& portKey) const { return "127.0.0.1:" + env(portKey); }
    const std::string& dir() const { return m_dir; }
    std::string log() const { return readFile(m_dir + ".log"); }
    static std::string script() { return std::string(OMAIL_SOURCE_DIR) + "/scripts/lab/lab.sh"; }

private:
    void readEnv() {
        std::ifstream in(m_dir + "/lab.env");
        std::string line;
        while (std::getline(in, line)) {
            auto eq = line.find('=');
            if (eq != std::string::npos) m_env[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    std::string m_dir;
    bool m_started = false;
    std::map<std::string, std::string> m_env;
};

bool serversInstalled() {
    for (const char* p : {"/usr/sbin/dovecot", "/usr/sbin/smtpd", "/usr/lib/news/bin/innd"})
        if (::access(p, X_OK) != 0) return false;
    return true;
}

class RealServer : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "real servers are not run in the sanitizer build";
#endif
        if (::geteuid() != 0 || !serversInstalled()) GTEST_SKIP() << "needs root and scripts/packages/servers.txt";
    }
    TempDir dir{true};
    platform::PollLoop loop;
    EngineSession s{[this](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};

    void expectDone(const std::string& text) {
        Report r = s.next(20000);
        EXPECT_EQ(r.wParam, 0u) << r.text;
        EXPECT_EQ(r.text, text);
    }
};

std::vector<std::string> filesIn(const std::string& dirPath) {
    return platform::findFiles(dirPath, "*", false, true);
}

bool waitFor(const std::function<bool()>& done, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST_F(RealServer, Pop3RetrieveAndDeleteEmptiesTheMailbox) {
    Lab lab("pop3");
    ASSERT_TRUE(lab.started()) << lab.log();
    const std::string maildir = lab.env("POP3_MAILDIR");
    const std::vector<std::pair<std::string, std::string>> messages = {
        {"From: a@lab.test\nSubject: one\n", "first body\n.starts with a dot\n..two dots\n"},
        {"From: b@lab.test\nSubject: two\nX-Long: " + std::string(3000, 'x') + "\n", "second\n\nwith an empty line\n"},
        {"From: c@lab.test\nSubject: three\n", std::string("8-bit \xe9\xe8 bytes\n")},
    };
    for (size_t i = 0; i < messages.size(); ++i) {
        std::string name = "17000000" + std::to_string(10 + i) + ".M" + std::to_string(i) + ".lab";
        writeFile(maildir + "/tmp/" + name, messages[i].first + "\n" + messages[i].second);
        ASSERT_EQ(std::rename((maildir + "/tmp/" + name).c_str(), (maildir + "/new/" + name).c_str()), 0);
    }

    s.open(lab.host("POP3_PORT"), netwire::kServerPop3);
    expectDone("connected to pop3 server");
    int32_t count = 0;
    s.expectNumericCompletion();
    netwire::OpenMailBox(kDoneMsg, lab.env("POP3_USER"), lab.env("POP3_PASS"), count);
    EXPECT_EQ(s.next().lParam, 3);
    for (int32_t n = 1; n <= 3; ++n) {
        netwire::GetMailItem(kDoneMsg, "head.tmp", "body.tmp", n);
        expectDone("mail item retrieved");
        const auto& [head, body] = messages[static_cast<size_t>(n - 1)];
        std::string header = readFile(dir.file("head.tmp"));
        EXPECT_EQ(header.substr(0, 4), "+OK ");
        EXPECT_EQ(header.substr(header.find("\r\n") + 2), crlf(head));
        std::string expectedBody = crlf(body);
        EXPECT_EQ(readFile(dir.file("body.tmp")), expectedBody);
    }
    for (int32_t n = 1; n <= 3; ++n) {
        netwire::DeleteMailItem(kDoneMsg, n);
        expectDone("mail item deleted");
    }
    netwire::AbortConnection();
    ASSERT_TRUE(s.settle());

    // QUIT commits the deletions: the mailbox is empty for the next session.
    EXPECT_TRUE(waitFor([&] { return filesIn(maildir + "/new").empty() && filesIn(maildir + "/cur").empty(); }, 5000));
    s.open(lab.host("POP3_PORT"), netwire::kServerPop3);
    expectDone("connected to pop3 server");
    count = -1;
    s.expectNumericCompletion();
    netwire::OpenMailBox(kDoneMsg, lab.env("POP3_USER"), lab.env("POP3_PASS"), count);
    EXPECT_EQ(s.next().lParam, 0);
    netwire::AbortConnection();
    s.settle();

    // A wrong password is reported as such.
    s.open(lab.host("POP3_PORT"), netwire::kServerPop3);
    expectDone("connected to pop3 server");
    netwire::OpenMailBox(kDoneMsg, lab.env("POP3_USER"), "wrong", count);
    EXPECT_EQ(s.next().text, "password failed");
    s.settle();
}

TEST_F(RealServer, SmtpDeliversToTwoRecipientsByteForByte) {
    Lab lab("smtp");
    ASSERT_TRUE(lab.started()) << lab.log();
    const std::string header = "To: First <first@one.test>, second@two.test\r\nFrom: Me <me@lab.test>\r\n"
                               "Subject: real smtp\r\nDate: Mon, 7 Dec 2026 20:00:00 +0000\r\n"
                               "Message-Id: <real.1@lab.test>\r\n";
    const std::string body = "line one\r\n.a line starting with a dot\r\n.\r\n\r\n" + std::string(1500, 'w') +
                             "\r\nlast line\r\n";
    writeFile(dir.file("item.omh"), header);
    writeFile(dir.file("item.omb"), body);

    s.open(lab.host("SMTP_PORT"), netwire::kServerSmtp);
    expectDone("connected to smtp server");
    netwire::SendMailItem(kDoneMsg, "item.omh", "item.omb", "");
    expectDone("message sent");
    netwire::AbortConnection();
    s.settle();

    const std::string newDir = lab.env("SMTP_MAILDIR") + "/new";
    ASSERT_TRUE(waitFor([&] { return filesIn(newDir).size() == 2; }, 10000)) << filesIn(newDir).size();
    // What the message text became on the wire, as the server stores it.
    std::string sent = header + "\r\n" + body + "\r\n";
    std::string expected;
    for (size_t i = 0; i < sent.size(); ++i)
        if (sent[i] != '\r') expected += sent[i];
    std::vector<std::string> recipients;
    for (const std::string& name : filesIn(newDir)) {
        std::string stored = readFile(newDir + "/" + name);
        size_t delivered = stored.find("Delivered-To: ");
        ASSERT_NE(delivered, std::string::npos);
        recipients.push_back(stored.substr(delivered + 14, stored.find('\n', delivered) - delivered - 14));
        size_t ours = stored.find("To: First");
        ASSERT_NE(ours, std::string::npos) << stored;
        EXPECT_EQ(stored.substr(ours), expected);
    }
    std::sort(recipients.begin(), recipients.end());
    EXPECT_EQ(recipients, (std::vector<std::string>{"first@one.test", "second@two.test"}));
}

std::string rnewsArticle(const std::string& group, int n) {
    std::string art = "Path: lab-injector!not-for-mail\nFrom: Injector <inject@lab.test>\nNewsgroups: " + group +
                      "\nSubject: test article " + std::to_string(n) + "\nMessage-ID: <test." + std::to_string(n) +
                      "@lab.test>\nDate: Mon, 01 Jan 2024 12:00:0" + std::to_string(n % 10) +
                      " +0000\n\nBody of article " + std::to_string(n) + ".\n.A line that starts with a dot.\nLast line.\n";
    return "#! rnews " + std::to_string(art.size()) + "\n" + art;
}

TEST_F(RealServer, NntpListsReadsAndPosts) {
    Lab lab("nntp");
    ASSERT_TRUE(lab.started()) << lab.log();
    std::string batch;
    for (int n = 1; n <= 3; ++n) batch += rnewsArticle("local.test", n);
    writeFile(dir.file("batch"), batch);
    ASSERT_EQ(std::system((Lab::script() + " rnews " + lab.dir() + " < " + dir.file("batch")).c_str()), 0);

    s.open(lab.host("NNTP_PORT"), netwire::kServerNntp);
    expectDone("connected to nntp server");
    int32_t count = 0;
    netwire::ListGroups(kDoneMsg, "GROUP.LST", count);
    expectDone("6 newsgroups listed");
    std::string groups = readFile(dir.file("GROUP.LST"));
    EXPECT_NE(groups.find("local.test\r\n"), std::string::npos) << groups;

    netwire::NewsDate(kDoneMsg, "NEWS.DAT");
    expectDone("got news server date");
    EXPECT_EQ(readFile(dir.file("NEWS.DAT")).size(), 14u);
    writeFile(dir.file("OLD.DAT"), "240301000000\r\n");
    netwire::ListNewGroups(kDoneMsg, "NEWGRP.LST", "OLD.DAT", count);
    expectDone("2 new newsgroups listed");
    EXPECT_EQ(readFile(dir.file("NEWGRP.LST")), "local.big\r\nlocal.empty\r\n");

    int32_t articles = 0, first = 0, last = 0, number = 0;
    netwire::OpenGroup(kDoneMsg, "local.test", articles, first, last);
    expectDone("newsgroup open");
    EXPECT_EQ(articles, 3);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 3);
    netwire::GetHeader(kDoneMsg, "head.tmp", -1, number);
    expectDone("header retrieved");
    EXPECT_EQ(number, 1);
    EXPECT_EQ(readFile(dir.file("head.tmp")).substr(0, 22), "221 1 <test.1@lab.test");
    netwire::NextHeader(kDoneMsg, number);
    expectDone("next query completed");
    EXPECT_EQ(number, 2);
    netwire::GetHeader(kDoneMsg, "head.tmp", 3, number);
    expectDone("header retrieved");
    EXPECT_NE(readFile(dir.file("head.tmp")).find("Subject: test article 3\r\n"), std::string::npos);
    netwire::GetBody(kDoneMsg, "body.tmp", 2, "");
    expectDone("body retrieved");
    EXPECT_EQ(readFile(dir.file("body.tmp")), "Body of article 2.\r\n.A line that starts with a dot.\r\nLast line.\r\n");
    netwire::GetBody(kDoneMsg, "body.tmp", -1, "<test.1@lab.test>");
    expectDone("body retrieved");
    EXPECT_EQ(readFile(dir.file("body.tmp")), "Body of article 1.\r\n.A line that starts with a dot.\r\nLast line.\r\n");
    netwire::GetHeader(kDoneMsg, "head.tmp", 99, number);
    EXPECT_EQ(s.next().text, "header not available [423]");

    writeFile(dir.file("art.omh"), "Newsgroups: local.test\r\nFrom: Poster <poster@lab.test>\r\nSubject: posted by the engine\r\n"
                                   "Message-Id: <posted.1@lab.test>\r\n");
    writeFile(dir.file("art.omb"), "first body line\r\n.dot line\r\n.\r\nlast body line\r\n");
    netwire::PostItem(kDoneMsg, "art.omh", "art.omb", "");
    expectDone("article posted");
    netwire::OpenGroup(kDoneMsg, "local.test", articles, first, last);
    expectDone("newsgroup open");
    EXPECT_EQ(last, 4);
    netwire::GetHeader(kDoneMsg, "head.tmp", 4, number);
    expectDone("header retrieved");
    std::string posted = readFile(dir.file("head.tmp"));
    EXPECT_NE(posted.find("Subject: posted by the engine\r\n"), std::string::npos) << posted;
    EXPECT_NE(posted.find("Message-ID: <posted.1@lab.test>\r\n"), std::string::npos) << posted;
    netwire::GetBody(kDoneMsg, "body.tmp", -1, "<posted.1@lab.test>");
    expectDone("body retrieved");
    EXPECT_EQ(readFile(dir.file("body.tmp")), "first body line\r\n.dot line\r\n.\r\nlast body line\r\n\r\n");
    netwire::AbortConnection();
    s.settle();
}

}  // namespace
