// Mail retrieval with unique ids against a scripted POP3 server: only
// messages not filed before are fetched, the record of filed ids decides
// what is deleted, and a server without UIDL gets the classic run.
#include "transfer/transfer.h"
#include "transfer/uidrecord.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"
#include "recordinghost.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <string>
#include <vector>

using testsupport::readFile;
using testsupport::ScriptServer;
using testsupport::writeFile;
using S = testsupport::ScriptServer;

namespace {

using FakeHost = testsupport::RecordingHost;

std::string retr(const std::string& subject) {
    return "+OK\r\nSubject: " + subject + "\r\nMessage-Id: <" + subject + "@x>\r\n\r\nbody\r\n.\r\n";
}

// Logon and STAT of three messages, a server without pipelining (so the
// rest is one command at a time), then the UIDL answer given.
std::vector<S::Step> listed(const std::string& uidlReply) {
    return {S::S("+OK ready\r\n"), S::C("USER ann\r\n"),    S::S("+OK\r\n"), S::C("PASS secret\r\n"),
            S::S("+OK\r\n"),        S::C("STAT\r\n"),       S::S("+OK 3 900\r\n"), S::C("CAPA\r\n"),
            S::S("-ERR\r\n"),       S::C("UIDL\r\n"),       S::S(uidlReply)};
}
const std::string kThreeIds = "+OK\r\n1 id-a\r\n2 id-b\r\n3 id-c\r\n.\r\n";

void add(std::vector<S::Step>& script, std::vector<S::Step> more) {
    script.insert(script.end(), more.begin(), more.end());
}

class UidlTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"IN", "OUT", "SENT", "BIN"}) platform::createDirectory(d);
        host.general.user = "ann";
        host.general.pass = "secret";
        host.general.uidl = 1;
    }
    void TearDown() override {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        loop.runFor(20);
    }
    // Plays the script; true when the client sent exactly its C lines.
    void run(std::vector<S::Step> script) {
        ScriptServer server(std::move(script));
        host.general.pop = server.host();
        transfers.retrieveMail();
        ASSERT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 10000));
        ASSERT_TRUE(server.finish()) << server.error();
        EXPECT_EQ(server.received(), server.expected());
    }
    std::string recordPath() const {
        return dir.path() + "/" + transfer::UidRecord::fileName(host.general.pop, host.general.user);
    }
    static uint32_t inboxCount() {
        uint32_t n = 0;
        torvakit::GetFile("IN/n.cnt", n);
        return n;
    }

    testsupport::TempDir dir{true};
    platform::PollLoop loop;
    FakeHost host;
    transfer::Transfers transfers{host, dir.path()};
};

TEST_F(UidlTest, LeftOnTheServerAMessageIsFiledOnceAndNeverDeleted) {
    host.general.leave = 1;
    auto first = listed(kThreeIds);
    add(first, {S::C("RETR 1\r\n"), S::S(retr("a")), S::C("RETR 2\r\n"), S::S(retr("b")), S::C("RETR 3\r\n"),
                S::S(retr("c")), S::C("QUIT\r\n"), S::S("+OK\r\n")});
    run(first);
    EXPECT_EQ(inboxCount(), 3u);
    EXPECT_EQ(host.boxes.back(), "3 new messages retrieved");

    const std::string record = readFile(recordPath());
    EXPECT_NE(record.find(" id-c\n"), std::string::npos);
    struct stat st;
    ASSERT_EQ(::stat(recordPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // One new message arrived and "id-a" has gone from the server.
    ScriptServer server([&] {
        auto second = listed("+OK\r\n1 id-b\r\n2 id-c\r\n3 id-d\r\n.\r\n");
        add(second, {S::C("RETR 3\r\n"), S::S(retr("d")), S::C("QUIT\r\n"), S::S("+OK\r\n")});
        return second;
    }());
    // The record is per server and user; this server stands for the first
    // one (a new port each time).
    platform::renameReplace(recordPath(), dir.path() + "/" + transfer::UidRecord::fileName(server.host(), "ann"));
    host.general.pop = server.host();
    transfers.retrieveMail();
    ASSERT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 10000));
    ASSERT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(inboxCount(), 4u);
    EXPECT_EQ(host.boxes.back(), "1 new messages retrieved");
    // The id no longer on the server was dropped from the record.
    const std::string pruned = readFile(recordPath());
    EXPECT_EQ(pruned.find("id-a"), std::string::npos);
    EXPECT_NE(pruned.find(" id-d\n"), std::string::npos);
}

TEST_F(UidlTest, WithoutLeavingAMessageFiledBeforeACrashIsDeletedNotFiledAgain) {
    // "id-b" was filed by a run that died before its deletions.
    ScriptServer server([] {
        auto script = listed(kThreeIds);
        add(script, {S::C("RETR 1\r\n"), S::S(retr("a")), S::C("RETR 3\r\n"), S::S(retr("c")), S::C("DELE 1\r\n"),
                     S::S("+OK\r\n"), S::C("DELE 2\r\n"), S::S("+OK\r\n"), S::C("DELE 3\r\n"), S::S("+OK\r\n"),
                     S::C("QUIT\r\n"), S::S("+OK\r\n")});
        return script;
    }());
    host.general.pop = server.host();
    writeFile(recordPath(), "# ann@x\n1700000000 id-b\n");
    transfers.retrieveMail();
    ASSERT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 10000));
    ASSERT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(inboxCount(), 2u);
    EXPECT_EQ(host.boxes.back(), "2 new messages retrieved");
}

TEST_F(UidlTest, LeftForSomeDaysOnlyTheOlderFiledMessagesAreDeleted) {
    host.general.leave = 1;
    host.general.leavedays = 7;
    ScriptServer server([] {
        auto script = listed(kThreeIds);
        add(script, {S::C("RETR 3\r\n"), S::S(retr("c")), S::C("DELE 1\r\n"), S::S("+OK\r\n"), S::C("QUIT\r\n"),
                     S::S("+OK\r\n")});
        return script;
    }());
    host.general.pop = server.host();
    const long now = static_cast<long>(std::time(nullptr));
    writeFile(recordPath(), "# ann@x\n" + std::to_string(now - 8 * 86400) + " id-a\n" +
                                std::to_string(now - 6 * 86400) + " id-b\n");
    transfers.retrieveMail();
    ASSERT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 10000));
    ASSERT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(inboxCount(), 1u);
}

TEST_F(UidlTest, AShortListFetchesTheMessagesWithoutIdsAndForgetsNothing) {
    host.general.leave = 1;
    ScriptServer server([] {
        auto script = listed("+OK\r\n2 id-b\r\n.\r\n");
        add(script, {S::C("RETR 1\r\n"), S::S(retr("a")), S::C("RETR 3\r\n"), S::S(retr("c")), S::C("QUIT\r\n"),
                     S::S("+OK\r\n")});
        return script;
    }());
    host.general.pop = server.host();
    writeFile(recordPath(), "# ann@x\n1700000000 id-b\n1700000000 id-z\n");
    transfers.retrieveMail();
    ASSERT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 10000));
    ASSERT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(inboxCount(), 2u);
    EXPECT_NE(readFile(recordPath()).find(" id-z\n"), std::string::npos);
}

TEST_F(UidlTest, AServerWithoutUidlGetsTheClassicRun) {
    auto script = listed("-ERR unknown command\r\n");
    add(script, {S::C("RETR 1\r\n"), S::S(retr("a")), S::C("RETR 2\r\n"), S::S(retr("b")), S::C("RETR 3\r\n"),
                 S::S(retr("c")), S::C("DELE 1\r\n"), S::S("+OK\r\n"), S::C("DELE 2\r\n"), S::S("+OK\r\n"),
                 S::C("DELE 3\r\n"), S::S("+OK\r\n"), S::C("QUIT\r\n"), S::S("+OK\r\n")});
    run(script);
    EXPECT_EQ(inboxCount(), 3u);
    EXPECT_EQ(host.boxes.back(), "3 new messages retrieved");
}

TEST(UidRecord, ATornLastLineIsCutAndTheNextIdStartsItsOwnLine) {
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/uidl.lst";
    writeFile(path, "# ann@x\n100 id-a\n200 id-b\n30");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    transfer::UidRecord record;
    ASSERT_TRUE(record.open(path, "ann@x"));
    EXPECT_EQ(record.filedAt("id-a"), 100);
    EXPECT_EQ(record.filedAt("id-b"), 200);
    EXPECT_EQ(record.size(), 2u);
    ASSERT_TRUE(record.add("id-c", 300));
    EXPECT_EQ(readFile(path), "# ann@x\n100 id-a\n200 id-b\n300 id-c\n");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Lines of no meaning are skipped, not taken for ids.
    record.close();
    writeFile(path, "garbage\n 1 x\n12 \n400 id-d\n");
    ASSERT_TRUE(record.open(path, "ann@x"));
    EXPECT_EQ(record.size(), 1u);
    EXPECT_EQ(record.filedAt("id-d"), 400);

    // Marks left by a kill around a filing: the header file decides, and the
    // answer is written down so a later item of that name cannot change it.
    record.close();
    const std::string filed = dir.path() + "/N0000001.omh", unfiled = dir.path() + "/N0000002.omh";
    writeFile(filed, "+OK\r\n");
    writeFile(path, "# ann@x\n?500 id-e\t" + filed + "\n?600 id-f\t" + unfiled + "\n");
    ASSERT_TRUE(record.open(path, "ann@x"));
    EXPECT_EQ(record.filedAt("id-e"), 500);
    EXPECT_EQ(record.filedAt("id-f"), -1);
    writeFile(unfiled, "+OK\r\n");
    EXPECT_FALSE(record.addPending("id-g", 700, unfiled));  // a name already taken would pass for it
    record.close();
    ASSERT_TRUE(record.open(path, "ann@x"));
    EXPECT_EQ(record.filedAt("id-f"), -1);
    EXPECT_EQ(readFile(path), "# ann@x\n500 id-e\n");
}

}  // namespace
