// Outbox delivery end to end against the lab's real SMTP server (OpenSMTPD)
// and NNTP server (INN), started once for the program through scripts/lab:
// the bytes each mailbox receives, filing into "sent" and personal folders,
// deliver all, cancel part-way, a refused recipient, and reading a posted
// article back from the news server; and with commands sent ahead, the
// same bytes as one command at a time, also through dovecot's submission
// server, which takes BDAT.
#include "transfer/delivery.h"
#include "transfer/transfer.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// The lab's SMTP and NNTP servers, started once for the whole program.
class Lab {
public:
    static Lab& instance() {
        static Lab lab;
        return lab;
    }
    bool up() const { return m_up; }
    const std::string& why() const { return m_why; }
    std::string env(const std::string& key) const { return m_env.count(key) ? m_env.at(key) : std::string(); }
    std::string smtp() const { return "127.0.0.1:" + env("SMTP_PORT"); }
    std::string nntp() const { return "127.0.0.1:" + env("NNTP_PORT"); }
    std::string submission() const { return env("SUBMISSION_PORT"); }
    std::string serverLog(const std::string& name) const { return readFile(m_dir + "/" + name); }
    std::string mailbox() const { return env("SMTP_MAILDIR") + "/new"; }
    void clearMailbox() const {
        std::error_code ignored;
        for (const auto& e : fs::directory_iterator(mailbox(), ignored)) fs::remove(e.path(), ignored);
    }
    std::vector<std::string> delivered() const {
        std::vector<std::string> texts;
        std::error_code ignored;
        for (const auto& e : fs::directory_iterator(mailbox(), ignored)) texts.push_back(readFile(e.path()));
        return texts;
    }
    ~Lab() {
        if (m_started) run("stop");
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
        if (m_up) fs::remove(m_dir + ".log", ignored);
    }

private:
    Lab() {
        m_dir = "/tmp/omail-dlvlab-" + std::to_string(::getpid());
        if (::geteuid() != 0) {
            m_why = "the lab needs root";
            return;
        }
        if (!fs::exists("/usr/sbin/smtpd") || !fs::exists("/usr/lib/news/bin/innd")) {
            m_why = "OpenSMTPD or INN is not installed (scripts/deps.sh servers)";
            return;
        }
        m_started = true;
        // dovecot's submission server, where installed, relays to OpenSMTPD.
        const bool submission = fs::exists("/usr/lib/dovecot/submission");
        if (!run("start", submission ? "LAB_WITHOUT=pop3 LAB_SUBMISSION=1 " : "LAB_WITHOUT=pop3 ")) {
            m_why = "the lab did not start: " + readFile(m_dir + ".log");
            return;
        }
        std::ifstream in(m_dir + "/lab.env");
        std::string line;
        while (std::getline(in, line))
            if (auto eq = line.find('='); eq != std::string::npos) m_env[line.substr(0, eq)] = line.substr(eq + 1);
        m_up = m_env.count("SMTP_PORT") && m_env.count("NNTP_PORT");
    }
    bool run(const char* command, const std::string& prefix = "") const {
        const std::string script = std::string(OMAIL_SOURCE_DIR) + "/scripts/lab/lab.sh";
        return std::system((prefix + "bash '" + script + "' " + command + " '" + m_dir + "' > '" + m_dir +
                            ".log' 2>&1").c_str()) == 0;
    }
    std::string m_dir, m_why;
    bool m_started = false, m_up = false;
    std::map<std::string, std::string> m_env;
};

class Host : public transfer::Host {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::vector<std::string> folders;
    std::vector<std::string> boxes;
    std::function<void(const std::string&)> onStatus;
    void showStatus(const std::string& text) override {
        if (onStatus) onStatus(text);
    }
    void information(const std::string& text) override { boxes.push_back(text); }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return folders; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
};

std::string withoutCr(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

// A tiny blocking NNTP reader for checking what the server holds.
std::string fetchArticle(const std::string& port, const std::string& messageId) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
    std::string received;
    auto readUntil = [&](const std::string& end) {
        char buf[4096];
        while (received.find(end) == std::string::npos) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            received.append(buf, static_cast<size_t>(n));
        }
    };
    readUntil("\r\n");
    received.clear();
    const std::string command = "ARTICLE " + messageId + "\r\n";
    ::send(fd, command.data(), command.size(), 0);
    readUntil("\r\n");
    if (received.rfind("220", 0) == 0) readUntil("\r\n.\r\n");
    ::send(fd, "QUIT\r\n", 6, 0);
    ::close(fd);
    return received;
}

// The EHLO reply of the server on port.
std::string ehloReply(const std::string& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string received;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        auto readUntil = [&](const std::string& end) {
            char buf[4096];
            while (received.find(end) == std::string::npos) {
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                received.append(buf, static_cast<size_t>(n));
            }
        };
        readUntil("\r\n");
        received.clear();
        ::send(fd, "EHLO lab.test\r\n", 15, 0);
        readUntil("\r\n250 ");
        readUntil("\r\n");
        ::send(fd, "QUIT\r\n", 6, 0);
    }
    ::close(fd);
    return received;
}

class DeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Lab::instance().up()) GTEST_SKIP() << Lab::instance().why();
        for (const char* d : {"IN", "OUT", "SENT", "BIN"}) platform::createDirectory(d);
        host.general.smtp = Lab::instance().smtp();
        host.general.nntp = Lab::instance().nntp();
        host.general.rname = "Me";
        host.general.email = "me@lab.test";
        host.general.user = "me";
        host.general.pop = "lab.test";
        Lab::instance().clearMailbox();
    }
    void TearDown() override {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        loop.runFor(20);
    }
    // An outbox item as the compose window writes it; its header path.
    std::string compose(const std::string& to, const std::string& subject, const std::string& body,
                        int type = 1, const std::string& cc = "") {
        std::string header, bodyName;
        torvakit::MakeFileNames("omail.dat", header, bodyName);
        writeFile(dir.file("OUT/" + bodyName), body);
        EXPECT_EQ(torvakit::MakeItem("OUT/" + header, "Me <me@lab.test>", "", subject, to, cc, "", "", "+0000", "",
                                     "me", "lab.test", "", type, 100, 0, 0, 0),
                  0);
        return "OUT/" + header;
    }
    bool runToEnd() {
        return loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 30000);
    }
    bool mailArrived(size_t count) {
        for (int waited = 0; Lab::instance().delivered().size() < count; waited += 20) {
            if (waited > 10000) return false;
            loop.runFor(20);
        }
        return true;
    }
    static uint32_t count(const std::string& folder) {
        uint32_t n = 0;
        torvakit::GetFile(folder + "/n.cnt", n);
        return n;
    }

    testsupport::TempDir dir{true};
    platform::PollLoop loop;
    Host host;
    transfer::Transfers transfers{host, dir.path()};
    transfer::Delivery delivery{transfers};
};

TEST_F(DeliveryTest, EachMailboxGetsTheComposedBytesWithTheSignatureAndTheItemIsFiledInSent) {
    const std::string body = "first line\r\n.a line starting with a dot\r\n.\r\n..two dots\r\n\r\nlast\r\n";
    const std::string header = compose("Ann <ann@one.test>, bob@two.test", "to three", body, 1, "cat@three.test");
    writeFile(dir.file("sig.txt"), "-- \r\nMe\r\n");
    host.general.sigfile = "sig.txt";
    const std::string headerText = readFile(dir.file(header));
    delivery.start(transfer::DeliveryKind::Mail);
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(host.boxes, std::vector<std::string>{"1 messages sent"});
    ASSERT_TRUE(mailArrived(3));
    const std::string expected = withoutCr(headerText + "\r\n" + body + "\r\n" + "-- \r\nMe\r\n\r\n");
    for (const std::string& stored : Lab::instance().delivered()) {
        const size_t ours = stored.find("To: Ann");
        ASSERT_NE(ours, std::string::npos) << stored;
        EXPECT_EQ(stored.substr(ours), expected);
    }
    EXPECT_EQ(count("OUT"), 0u);
    EXPECT_EQ(count("SENT"), 1u);
    EXPECT_EQ(readFile(dir.file("SENT/N0000000.omh")), headerText);
    EXPECT_FALSE(platform::fileExists("OUT/N0000000.omh"));
}

TEST_F(DeliveryTest, DeliverAllSendsMailThenPostsNewsAndTheArticleCanBeReadBack) {
    compose("a@one.test", "mail one", "one\r\n");
    compose("b@two.test", "mail two", "two\r\n");
    const std::string article = compose("local.test", "article one", "news body\r\n.dot line\r\n", 4);
    std::string id;
    std::string path = article;
    torvakit::GetReference(path, id);
    delivery.deliverAll(true);
    ASSERT_TRUE(runToEnd());
    // The news pass starts from the end of the mail pass.
    ASSERT_TRUE(loop.runUntil([&] { return host.boxes.size() == 1 && transfers.transferState == 0; }, 30000));
    EXPECT_EQ(host.boxes, std::vector<std::string>{"3 items delivered"});
    EXPECT_EQ(count("OUT"), 0u);
    EXPECT_EQ(count("SENT"), 3u);
    ASSERT_TRUE(mailArrived(2));
    const std::string fetched = fetchArticle(Lab::instance().env("NNTP_PORT"), id);
    EXPECT_EQ(fetched.rfind("220", 0), 0u) << fetched;
    EXPECT_NE(fetched.find("Subject: article one\r\n"), std::string::npos) << fetched;
    EXPECT_NE(fetched.find("\r\nnews body\r\n..dot line\r\n"), std::string::npos) << fetched;
}

TEST_F(DeliveryTest, CancelWhileTheThirdOfFiveIsSentFilesTwoAndKeepsThree) {
    std::vector<std::string> ids;
    for (char c = 'a'; c <= 'e'; ++c) {
        std::string header = compose("x@one.test", std::string("subject ") + c, "text\r\n"), id;
        torvakit::GetReference(header, id);
        ids.push_back(id);
    }
    host.onStatus = [this, third = ids[2]](const std::string& text) {
        if (text == "sending message " + third) transfers.userCancel();
    };
    delivery.start(transfer::DeliveryKind::Mail);
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(count("SENT"), 2u);
    EXPECT_EQ(count("OUT"), 3u);
    EXPECT_EQ(delivery.delivered(), (std::vector<std::string>{"N0000000.omb", "N0000001.omb"}));
    EXPECT_TRUE(platform::fileExists("OUT/N0000002.omh"));
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(DeliveryTest, ARefusedRecipientKeepsItsItemInTheOutboxAndTheOthersAreFiled) {
    compose("good@one.test", "a first", "one\r\n");
    compose("fine@two.test", "b second", "two\r\n");
    compose("<bad address@>", "c refused", "three\r\n");
    delivery.start(transfer::DeliveryKind::Mail);
    ASSERT_TRUE(runToEnd());
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].rfind("rcpt to: failed [", 0), 0u) << host.boxes[0];
    EXPECT_EQ(count("SENT"), 2u);
    EXPECT_EQ(count("OUT"), 1u);
    EXPECT_TRUE(platform::fileExists("OUT/N0000002.omh"));
}

TEST_F(DeliveryTest, SentMailGoesToThePersonalFolderNamedInTheUsersOwnFrom) {
    host.options.sfrom = 1;
    host.folders = {"friends", "lab"};
    for (const auto& f : host.folders) platform::createDirectory(f);
    compose("x@one.test", "kept by author", "text\r\n");
    delivery.start(transfer::DeliveryKind::Mail);
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(count("lab"), 1u);
    EXPECT_EQ(count("friends"), 0u);
    EXPECT_EQ(count("SENT"), 0u);
    EXPECT_EQ(count("OUT"), 0u);
}

// smtppipe asks with EHLO; this server announces no PIPELINING (and refuses
// commands sent ahead), so the items must go one command at a time and
// arrive exactly as they do after HELO.
// Sent ahead, and through a submission server with BDAT, every mailbox
// gets what one command at a time delivers, byte for byte.
TEST_F(DeliveryTest, WithSmtppipeTheServerReceivesWhatTheLockStepRunDelivers) {
    compose("Ann <ann@one.test>, bob@two.test", "a two", "first\r\n.dot line\r\n", 1, "cat@three.test");
    compose("dan@one.test", "b one", std::string(30000, 'x') + "\r\n..\r\nend\r\n");
    compose("eve@two.test", "c one", "last\r\n");
    fs::copy("OUT", "OUT.keep", fs::copy_options::recursive);
    fs::copy("SENT", "SENT.keep", fs::copy_options::recursive);
    auto deliverOnce = [&] {
        for (const char* folder : {"OUT", "SENT"}) {
            fs::remove_all(folder);
            fs::copy(std::string(folder) + ".keep", folder, fs::copy_options::recursive);
        }
        Lab::instance().clearMailbox();
        host.boxes.clear();
        delivery.start(transfer::DeliveryKind::Mail);
        EXPECT_TRUE(runToEnd());
        EXPECT_EQ(host.boxes, std::vector<std::string>{"3 messages sent"});
        EXPECT_TRUE(mailArrived(5));
        EXPECT_EQ(count("OUT"), 0u);
        EXPECT_EQ(count("SENT"), 3u);
        std::vector<std::string> texts;
        for (const std::string& stored : Lab::instance().delivered()) {
            const size_t ours = stored.find("\nTo: ");  // behind the servers' own lines
            EXPECT_NE(ours, std::string::npos) << stored;
            if (ours != std::string::npos) texts.push_back(stored.substr(ours));
        }
        std::sort(texts.begin(), texts.end());
        return texts;
    };
    const std::vector<std::string> lockStep = deliverOnce();
    EXPECT_EQ(lockStep.size(), 5u);
    host.general.smtppipe = 1;
    EXPECT_EQ(deliverOnce(), lockStep);
    if (Lab::instance().submission().empty()) GTEST_SKIP() << "dovecot-submissiond is not installed";
    ASSERT_NE(ehloReply(Lab::instance().submission()).find("CHUNKING"), std::string::npos);
    host.general.smtp = "127.0.0.1:" + Lab::instance().submission();
    host.general.smtpuser = Lab::instance().env("POP3_USER");
    host.general.smtppass = Lab::instance().env("POP3_PASS");
    EXPECT_EQ(deliverOnce(), lockStep) << Lab::instance().serverLog("submission/dovecot.log");
}

TEST_F(DeliveryTest, AnEmptyOutboxIsReportedWithoutConnecting) {
    delivery.start(transfer::DeliveryKind::News);
    delivery.deliverAll(true);
    delivery.deliverAll(false);
    EXPECT_EQ(host.boxes, (std::vector<std::string>{"no articles to post", "no items to deliver"}));
    EXPECT_EQ(transfers.transferState, transfer::kIdle);
}

}  // namespace
