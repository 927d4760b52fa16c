// Mail retrieval from a scripted POP3 server that announces PIPELINING:
// commands go out as a window in one write, replies are read in order (whole,
// split at every byte, or joined), every message is filed before the next
// one's bytes reach the temporary files, and a refusal or a close in the
// middle of a batch files what was complete and deletes nothing.
#include "transfer/transfer.h"
#include "transfer/uidrecord.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"
#include "support/testcerts.h"
#include "support/tlsserver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using testsupport::readFile;
using testsupport::ScriptServer;
using testsupport::writeFile;
using S = testsupport::ScriptServer;

namespace {

class QuietHost : public transfer::Host {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::vector<std::string> statuses;
    std::vector<std::string> boxes;
    void showStatus(const std::string& text) override { statuses.push_back(text); }
    void information(const std::string& text) override { boxes.push_back(text); }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return {}; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
};

std::string message(int n) {
    return "From: s" + std::to_string(n) + "@b.org\r\nTo: ann@a.org\r\nSubject: m" + std::to_string(n) +
           "\r\n\r\n..dotted line of " + std::to_string(n) + "\r\nbody " + std::to_string(n) + "\r\n";
}
std::string retr(int n) { return "+OK " + std::to_string(n) + "\r\n" + message(n) + ".\r\n"; }
std::string commands(const char* verb, int from, int to) {
    std::string text;
    for (int n = from; n <= to; ++n) text += std::string(verb) + " " + std::to_string(n) + "\r\n";
    return text;
}

std::vector<ScriptServer::Step> logonWithPipelining(int count) {
    return {S::S("+OK ready\r\n"), S::C("USER ann\r\n"), S::S("+OK\r\n"), S::C("PASS secret\r\n"),
            S::S("+OK in\r\n"), S::C("STAT\r\n"), S::S("+OK " + std::to_string(count) + " 900\r\n"),
            S::C("CAPA\r\n"), S::S("+OK\r\nTOP\r\npipelining\r\nUIDL\r\n.\r\n")};
}

class PipeliningTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"IN", "OUT", "SENT", "BIN"}) platform::createDirectory(d);
        host.general.user = "ann";
        host.general.pass = "secret";
    }
    void TearDown() override {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        loop.runFor(20);
    }
    template <class Server>
    void run(Server& server) {
        host.general.pop = server.host();
        transfers.retrieveMail();
        ASSERT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 20000));
        server.finish();
    }
    // The subjects of the inbox records, in filing order.
    static std::vector<std::string> subjects() {
        std::string list = readFile(platform::resolvePath("IN/n.lst"));
        std::vector<std::string> lines, out;
        for (size_t at = 0, end; (end = list.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(list.substr(at, end - at));
        for (size_t r = 4; r < lines.size(); r += 9) out.push_back(lines[r]);
        return out;
    }

    testsupport::TempDir dir{true};
    platform::PollLoop loop;
    QuietHost host;
    transfer::Transfers transfers{host, dir.path()};
};

TEST_F(PipeliningTest, AWindowOfCommandsFilesEveryMessageWhateverTheReplySplit) {
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        ScriptServer::Options options;
        if (mode == 1) options.chunk = 1, options.pauseMicros = 50;
        if (mode == 2) options.joinReplies = true;
        auto script = logonWithPipelining(3);
        script.push_back(S::C(commands("RETR", 1, 3)));
        for (int n = 1; n <= 3; ++n) script.push_back(S::S(retr(n)));
        script.push_back(S::C(commands("DELE", 1, 3)));
        for (int n = 1; n <= 3; ++n) script.push_back(S::S("+OK deleted\r\n"));
        script.push_back(S::C("QUIT\r\n"));
        script.push_back(S::S("+OK bye\r\n"));
        ScriptServer server(script, options);
        const size_t before = subjects().size();
        run(server);
        EXPECT_EQ(server.received(), server.expected());
        auto filed = subjects();
        ASSERT_EQ(filed.size(), before + 3);
        for (int n = 1; n <= 3; ++n) EXPECT_EQ(filed[before + n - 1], "m" + std::to_string(n));
        // The last message's files, dot-unstuffed and split as one at a time.
        uint32_t next = 0;
        torvakit::GetFile("omail.dat", next);
        char name[16];
        std::snprintf(name, sizeof name, "IN/N%07u.omb", next - 1);
        EXPECT_EQ(readFile(platform::resolvePath(name)), ".dotted line of 3\r\nbody 3\r\n");
        EXPECT_EQ(host.boxes.back(), "3 new messages retrieved");
        bool progress = false;
        for (const auto& s : host.statuses) progress = progress || s == "retrieving mail item 3";
        EXPECT_TRUE(progress);
    }
}

TEST_F(PipeliningTest, ARefusedRetrievalFilesTheMessagesBeforeItAndDeletesNothing) {
    auto script = logonWithPipelining(4);
    script.push_back(S::C(commands("RETR", 1, 4)));
    script.push_back(S::S(retr(1) + "-ERR no such message\r\n" + retr(3) + retr(4)));
    script.push_back(S::C("QUIT\r\n"));
    ScriptServer server(script);
    run(server);
    EXPECT_EQ(server.received().find("DELE"), std::string::npos) << server.received();
    EXPECT_EQ(subjects(), std::vector<std::string>{"m1"});
    EXPECT_FALSE(platform::fileExists("head.tmp"));
}

TEST_F(PipeliningTest, AServerClosingInsideTheBatchKeepsWhatWasComplete) {
    auto script = logonWithPipelining(3);
    script.push_back(S::C(commands("RETR", 1, 3)));
    script.push_back(S::S(retr(1) + retr(2) + "+OK 3\r\nFrom: half"));
    script.push_back(S::Close());
    ScriptServer server(script);
    run(server);
    EXPECT_EQ(server.received().find("DELE"), std::string::npos) << server.received();
    EXPECT_EQ(subjects(), (std::vector<std::string>{"m1", "m2"}));
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ(host.boxes.back(), "connexion closed");
}

// Over TLS the replies come in records that cut them anywhere (a few bytes
// each) or carry several of them (joined into one write, records of 16 KB
// ending inside a message); every message is filed as sent, byte for byte.
TEST_F(PipeliningTest, OverTlsEveryMessageIsFiledByteForByteWhereverTheRecordsEnd) {
    testsupport::TestCa ca(dir.path());
    const testsupport::CertFiles cert = ca.issue("pop", "mail.test");
    netwire::SetCertificateAuthorities(ca.caFile());
    host.general.popsec = netwire::kSecurityTls;
    std::string filler;
    for (int i = 0; i < 90; ++i) filler += "a line of some length to make the message span records " + std::to_string(i) + "\r\n";
    auto bodyOf = [&](int n) { return ".dotted line of " + std::to_string(n) + "\r\n" + filler + "end " + std::to_string(n) + "\r\n"; };
    auto headerOf = [](int n) { return "From: s" + std::to_string(n) + "@b.org\r\nSubject: m" + std::to_string(n) + "\r\n"; };
    for (int mode = 0; mode < 2; ++mode) {
        SCOPED_TRACE(mode);
        auto script = logonWithPipelining(3);
        script.push_back(S::C(commands("RETR", 1, 3)));
        for (int n = 1; n <= 3; ++n) {
            std::string stuffed = bodyOf(n);
            stuffed.insert(0, ".");
            script.push_back(S::S("+OK " + std::to_string(n) + "\r\n" + headerOf(n) + "\r\n" + stuffed + ".\r\n"));
        }
        script.push_back(S::C(commands("DELE", 1, 3)));
        for (int n = 1; n <= 3; ++n) script.push_back(S::S("+OK deleted\r\n"));
        script.push_back(S::C("QUIT\r\n"));
        testsupport::TlsScriptServer::Options options;
        options.cert = cert.cert;
        options.key = cert.key;
        if (mode == 0) options.recordSize = 5;
        else options.joinReplies = true;
        testsupport::TlsScriptServer server(script, options);
        std::vector<std::string> before;
        for (const auto& e : std::filesystem::directory_iterator("IN"))
            if (e.path().extension() == ".omh") before.push_back(e.path().stem().string());
        run(server);
        EXPECT_EQ(server.received(), server.expected());
        std::vector<std::string> items;
        for (const auto& e : std::filesystem::directory_iterator("IN"))
            if (e.path().extension() == ".omh" && std::find(before.begin(), before.end(), e.path().stem()) == before.end())
                items.push_back(e.path().stem().string());
        std::sort(items.begin(), items.end());
        ASSERT_EQ(items.size(), 3u);
        for (int n = 1; n <= 3; ++n) {
            const std::string stem = platform::resolvePath("IN/" + items[n - 1]);
            EXPECT_EQ(readFile(stem + ".omh"), "+OK " + std::to_string(n) + "\r\n" + headerOf(n)) << n;
            EXPECT_EQ(readFile(stem + ".omb"), bodyOf(n)) << n;
        }
        EXPECT_EQ(host.boxes.back(), "3 new messages retrieved");
    }
    netwire::SetCertificateAuthorities("");
}

// With unique ids the numbers sent ahead skip what was filed before; a
// message whose id the server repeats is filed once; the deletions, chosen
// after the filing, go out in one window too.
TEST_F(PipeliningTest, WithUniqueIdsOnlyTheUnfiledMessagesAreSentAhead) {
    host.general.uidl = 1;
    auto script = logonWithPipelining(5);
    script.push_back(S::C("UIDL\r\n"));
    script.push_back(S::S("+OK\r\n1 id-a\r\n2 id-b\r\n3 id-c\r\n4 id-c\r\n5 id-e\r\n.\r\n"));
    script.push_back(S::C("RETR 1\r\nRETR 3\r\nRETR 4\r\nRETR 5\r\n"));
    for (int n : {1, 3, 4, 5}) script.push_back(S::S(retr(n)));
    script.push_back(S::C(commands("DELE", 1, 5)));
    for (int n = 1; n <= 5; ++n) script.push_back(S::S("+OK deleted\r\n"));
    script.push_back(S::C("QUIT\r\n"));
    script.push_back(S::S("+OK bye\r\n"));
    ScriptServer::Options options;
    options.chunk = 7, options.pauseMicros = 50;
    ScriptServer server(script, options);
    // "id-b" was filed by an earlier run that did not get to delete it.
    const std::string record = dir.path() + "/" + transfer::UidRecord::fileName(server.host(), "ann");
    writeFile(record, "# ann@x\n1700000000 id-b\n");
    run(server);
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(subjects(), (std::vector<std::string>{"m1", "m3", "m5"}));
    EXPECT_EQ(host.boxes.back(), "3 new messages retrieved");
    const std::string ids = readFile(record);
    for (const char* id : {" id-a\n", " id-c\n", " id-e\n"}) EXPECT_NE(ids.find(id), std::string::npos) << id;
    EXPECT_EQ(ids.find(" id-c\n"), ids.rfind(" id-c\n"));
    EXPECT_FALSE(platform::fileExists("head.tmp"));
}

}  // namespace
