// Mail retrieval run headless under the poll loop against a scripted POP3
// server: the whole conversation byte for byte, filing into the inbox and
// the personal folders, the dialogs, the password, cancel, a dropped
// connection and automatic retrieval by the timer.
#include "transfer/transfer.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using testsupport::readFile;
using testsupport::ScriptServer;
using testsupport::writeFile;

namespace {

class FakeHost : public transfer::Host {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::vector<std::string> folders;
    std::vector<std::string> statuses;
    std::vector<std::string> boxes;
    std::vector<std::string> prompts;
    std::string passwordAnswer;  // empty: the user cancels the prompt
    int locks = 0;
    int unlocks = 0;
    int ends = 0;

    void showStatus(const std::string& text) override { statuses.push_back(text); }
    void information(const std::string& text) override { boxes.push_back(text); }
    bool askPassword(std::string_view caption, std::string& text) override {
        prompts.emplace_back(caption);
        text = passwordAnswer;
        return !text.empty();
    }
    void lockForTransfer() override { ++locks; }
    void unlockAfterTransfer() override { ++unlocks; }
    void mailRetrievalEnded() override { ++ends; }
    std::vector<std::string> personalFolders() const override { return folders; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
};

std::string message(const std::string& from, const std::string& to, const std::string& subject) {
    return "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject +
           "\r\nDate: Sat, 6 Dec 1997 19:01:54 +0100\r\nMessage-Id: <" + subject + "@example.org>\r\n\r\nbody of " +
           subject + "\r\n";
}

// The server's side of a RETR: the status line, the message, the end mark.
std::string retrReply(const std::string& text) { return "+OK message follows\r\n" + text + ".\r\n"; }

std::vector<ScriptServer::Step> logon(int count) {
    using S = ScriptServer;
    std::vector<ScriptServer::Step> script{
        S::S("+OK ready\r\n"), S::C("USER ann\r\n"), S::S("+OK\r\n"), S::C("PASS secret\r\n"),
        S::S("+OK logged in\r\n"), S::C("STAT\r\n"), S::S("+OK " + std::to_string(count) + " 600\r\n")};
    // Before several messages the capabilities are asked for; this server
    // knows no CAPA, so everything after it is the one-at-a-time exchange.
    if (count > 1) {
        script.push_back(S::C("CAPA\r\n"));
        script.push_back(S::S("-ERR unknown command\r\n"));
    }
    return script;
}

// A mailbox served completely: logon, every RETR, every DELE, QUIT.
std::vector<ScriptServer::Step> wholeRun(const std::vector<std::string>& messages) {
    using S = ScriptServer;
    auto script = logon(static_cast<int>(messages.size()));
    for (size_t i = 0; i < messages.size(); ++i) {
        script.push_back(S::C("RETR " + std::to_string(i + 1) + "\r\n"));
        script.push_back(S::S(retrReply(messages[i])));
    }
    for (size_t i = 0; i < messages.size(); ++i) {
        script.push_back(S::C("DELE " + std::to_string(i + 1) + "\r\n"));
        script.push_back(S::S("+OK deleted\r\n"));
    }
    script.push_back(S::C("QUIT\r\n"));
    script.push_back(S::S("+OK bye\r\n"));
    return script;
}

class RetrieveTest : public ::testing::Test {
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

    void start(const ScriptServer& server) {
        host.general.pop = server.host();
        transfers.retrieveMail();
    }
    bool runToEnd(int timeoutMs = 10000) {
        return loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, timeoutMs);
    }
    static std::vector<std::string> records(const std::string& folder) {
        std::string list = readFile(platform::resolvePath(folder + "/n.lst"));
        std::vector<std::string> lines;
        size_t at = 0;
        while (at < list.size()) {
            size_t end = list.find("\r\n", at);
            if (end == std::string::npos) break;
            lines.push_back(list.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    static uint32_t count(const std::string& folder) {
        uint32_t n = 0;
        torvakit::GetFile(folder + "/n.cnt", n);
        return n;
    }

    testsupport::TempDir dir{true};
    platform::PollLoop loop;
    FakeHost host;
    transfer::Transfers transfers{host, dir.path()};
};

TEST_F(RetrieveTest, ThreeMessagesAreFiledThenDeletedInOneConnection) {
    writeFile("IN/n7.idx", "stale");
    writeFile("IN/n2.idx", "stale");
    ScriptServer server(wholeRun({message("Bob <bob@b.org>", "ann@a.org", "one"),
                                  message("Cy <cy@c.org>", "ann@a.org", "two"),
                                  message("Di <di@d.org>", "ann@a.org", "three")}));
    start(server);
    EXPECT_EQ(transfers.transferState, transfer::kRetrievingMail);
    ASSERT_TRUE(runToEnd());
    ASSERT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());

    EXPECT_EQ(host.boxes, std::vector<std::string>{"3 new messages retrieved"});
    EXPECT_EQ(host.locks, 1);
    EXPECT_EQ(host.unlocks, 1);
    EXPECT_EQ(host.ends, 1);
    EXPECT_TRUE(host.prompts.empty());  // the stored password was adopted
    EXPECT_EQ(transfers.retrievalPassword, "secret");

    auto lines = records("IN");
    ASSERT_EQ(lines.size(), 27u);
    for (int r = 0; r < 3; ++r) EXPECT_EQ(lines[r * 9 + 1], "U") << r;
    EXPECT_EQ(lines[4], "one");
    EXPECT_EQ(lines[13], "two");
    EXPECT_EQ(lines[22], "three");
    EXPECT_EQ(count("IN"), 3u);
    // Each item's header keeps the server's status line; the body is apart.
    const std::string header = readFile(platform::resolvePath("IN/" + lines[0]));
    EXPECT_EQ(header.rfind("+OK message follows\r\nFrom: Bob", 0), 0u);
    std::string bodyName = lines[0];
    bodyName.back() = 'b';
    EXPECT_EQ(readFile(platform::resolvePath("IN/" + bodyName)), "body of one\r\n");
    // The changed folder sorts afresh; nothing is left in the data directory.
    EXPECT_FALSE(platform::fileExists("IN/n7.idx"));
    EXPECT_FALSE(platform::fileExists("IN/n2.idx"));
    EXPECT_FALSE(platform::fileExists("head.tmp"));
    EXPECT_FALSE(platform::fileExists("body.tmp"));
    // Progress reached the status bar; closing the connection says "ready".
    EXPECT_TRUE(loop.runUntil([&] { return !host.statuses.empty() && host.statuses.back() == "ready"; }, 2000));
    EXPECT_NE(std::find(host.statuses.begin(), host.statuses.end(), "retrieving mail item 3"), host.statuses.end());
}

TEST_F(RetrieveTest, AnEmptyMailboxSaysSoAndQuits) {
    auto script = logon(0);
    script.push_back(ScriptServer::C("QUIT\r\n"));
    script.push_back(ScriptServer::S("+OK bye\r\n"));
    ScriptServer server(script);
    start(server);
    ASSERT_TRUE(runToEnd());
    ASSERT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(host.boxes, std::vector<std::string>{"no new messages available"});
    EXPECT_EQ(host.unlocks, 1);
    EXPECT_EQ(host.ends, 0);
    EXPECT_FALSE(platform::fileExists("IN/n.lst"));
}

TEST_F(RetrieveTest, AWrongPasswordIsForgottenAndAskedForNextTime) {
    using S = ScriptServer;
    ScriptServer server({S::S("+OK ready\r\n"), S::C("USER ann\r\n"), S::S("+OK\r\n"), S::C("PASS secret\r\n"),
                         S::S("-ERR authentication failed\r\n"), S::Close()});
    start(server);
    ASSERT_TRUE(runToEnd());
    server.finish();
    EXPECT_EQ(host.boxes, std::vector<std::string>{"password failed"});
    EXPECT_TRUE(transfers.retrievalPassword.empty());
    EXPECT_EQ(host.unlocks, 1);

    // The setting has not changed, so it is not adopted again: the user is
    // asked, and cancelling the prompt starts nothing.
    transfers.retrieveMail();
    EXPECT_EQ(host.prompts, std::vector<std::string>{"please enter your password"});
    EXPECT_EQ(transfers.transferState, transfer::kIdle);
    EXPECT_EQ(host.locks, 1);

    // A changed setting is adopted without asking.
    host.general.pass = "other";
    host.general.pop = "127.0.0.1:1";  // nobody listens: the run ends with an error
    transfers.retrieveMail();
    EXPECT_EQ(transfers.retrievalPassword, "other");
    EXPECT_EQ(host.prompts.size(), 1u);
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(host.boxes.size(), 2u);
}

TEST_F(RetrieveTest, AnEnteredPasswordIsUsedButNotStored) {
    host.general.pass.clear();
    host.passwordAnswer = "secret";
    auto script = logon(0);
    script.push_back(ScriptServer::C("QUIT\r\n"));
    ScriptServer server(script);
    start(server);
    EXPECT_EQ(host.prompts.size(), 1u);
    ASSERT_TRUE(runToEnd());
    ASSERT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(transfers.retrievalPassword, "secret");
    EXPECT_TRUE(host.general.pass.empty());
}

TEST_F(RetrieveTest, CancelWhileRetrievingLeavesEveryMessageOnTheServer) {
    using S = ScriptServer;
    auto script = logon(2);
    script.push_back(S::C("RETR 1\r\n"));
    script.push_back(S::S("+OK message follows\r\nFrom: a@b\r\n"));  // and then nothing more
    script.push_back(S::Hold());
    ScriptServer server(script);
    start(server);
    ASSERT_TRUE(loop.runUntil([&] { return platform::fileExists("head.tmp"); }, 10000));
    loop.runFor(50);
    transfers.userCancel();
    EXPECT_EQ(transfers.transferState, transfer::kIdle);
    EXPECT_EQ(host.unlocks, 1);
    server.finish();
    const std::string sent = server.received();
    EXPECT_EQ(sent.find("DELE"), std::string::npos) << sent;
    EXPECT_TRUE(host.boxes.empty());  // the user's own cancel is not reported
    EXPECT_EQ(count("IN"), 0u);
    // A second cancel with nothing running changes nothing.
    transfers.userCancel();
    EXPECT_EQ(host.unlocks, 1);
}

TEST_F(RetrieveTest, ADroppedConnectionKeepsWhatWasFiledAndDeletesNothing) {
    using S = ScriptServer;
    auto script = logon(3);
    script.push_back(S::C("RETR 1\r\n"));
    script.push_back(S::S(retrReply(message("x@y.org", "ann@a.org", "first"))));
    script.push_back(S::C("RETR 2\r\n"));
    script.push_back(S::S("+OK message follows\r\nFrom: half\r\n"));
    script.push_back(S::Close());
    ScriptServer server(script);
    start(server);
    ASSERT_TRUE(runToEnd());
    server.finish();
    EXPECT_EQ(server.received().find("DELE"), std::string::npos);
    ASSERT_EQ(host.boxes.size(), 1u);  // the engine's error text
    EXPECT_EQ(count("IN"), 1u);
    auto lines = records("IN");
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[4], "first");
    EXPECT_EQ(host.ends, 0);
}

TEST_F(RetrieveTest, AMessageThatCannotBeFiledStopsTheRunBeforeAnyDelete) {
    // The inbox list cannot be written: the message must stay on the server.
    platform::createDirectory("IN/n.lst");
    using S = ScriptServer;
    auto script = logon(1);
    script.push_back(S::C("RETR 1\r\n"));
    script.push_back(S::S(retrReply(message("x@y.org", "ann@a.org", "first"))));
    script.push_back(S::C("QUIT\r\n"));
    ScriptServer server(script);
    start(server);
    ASSERT_TRUE(runToEnd());
    server.finish();
    EXPECT_EQ(server.received().find("DELE"), std::string::npos) << server.received();
    EXPECT_EQ(host.boxes, std::vector<std::string>{"cannot file retrieved mail item"});
}

TEST_F(RetrieveTest, ANumberFileThatCannotBeRewrittenFilesNothingOverAnotherItem) {
    // omail.dat replaced by a directory: every message would get the same
    // number and land on the files of the one before.
    platform::createDirectory("omail.dat");
    writeFile("IN/N0000000.omh", "+OK kept\r\n");
    using S = ScriptServer;
    auto script = logon(2);
    script.push_back(S::C("RETR 1\r\n"));
    script.push_back(S::S(retrReply(message("x@y.org", "ann@a.org", "first"))));
    script.push_back(S::C("QUIT\r\n"));
    ScriptServer server(script);
    start(server);
    ASSERT_TRUE(runToEnd());
    server.finish();
    EXPECT_EQ(server.received().find("DELE"), std::string::npos) << server.received();
    EXPECT_EQ(host.boxes, std::vector<std::string>{"cannot file retrieved mail item"});
    EXPECT_EQ(readFile(platform::resolvePath("IN/N0000000.omh")), "+OK kept\r\n");
    EXPECT_EQ(count("IN"), 0u);
}

TEST_F(RetrieveTest, CancellingATimerStartedRunLetsTheTimerFireAgain) {
    host.general.timei = 1;
    using S = ScriptServer;
    auto script = logon(1);
    script.push_back(S::C("RETR 1\r\n"));
    script.push_back(S::Hold());
    ScriptServer server(script);
    host.general.pop = server.host();
    for (int tick = 0; tick < 6; ++tick) transfers.timerTick();
    ASSERT_EQ(host.locks, 1);
    ASSERT_TRUE(loop.runUntil([&] { return server.received().find("RETR 1") != std::string::npos; }, 10000));
    transfers.userCancel();
    server.finish();
    EXPECT_FALSE(transfers.automaticRun);
    // The next due time starts a run again, and a manual run asks nothing
    // it would not have asked.
    auto quiet = logon(0);
    quiet.push_back(S::C("QUIT\r\n"));
    ScriptServer next(quiet);
    host.general.pop = next.host();
    for (int tick = 0; tick < 6; ++tick) transfers.timerTick();
    EXPECT_EQ(host.locks, 2);
    ASSERT_TRUE(runToEnd());
    next.finish();
}

class FilingTest : public RetrieveTest {
protected:
    // Retrieves the messages and gives the folder each one went to.
    void retrieve(const std::vector<std::string>& messages) {
        ScriptServer server(wholeRun(messages));
        start(server);
        ASSERT_TRUE(runToEnd());
        ASSERT_TRUE(server.finish()) << server.error();
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0], std::to_string(messages.size()) + " new messages retrieved");
    }
    void makeFolders(const std::vector<std::string>& names) {
        host.folders = names;
        for (const auto& n : names) {
            std::string lower = n;
            torvakit::stringlower(lower);
            platform::createDirectory(lower);
        }
    }
};

TEST_F(FilingTest, ByAuthorTheFirstMatchingFolderInSortedOrderWins) {
    host.options.rfrom = 1;
    host.options.rrecip = 0;
    makeFolders({"Bob", "bobby"});
    retrieve({message("Bobby Tables <bobby@x.org>", "ann@a.org", "one")});
    EXPECT_EQ(count("bob"), 1u);
    EXPECT_EQ(count("bobby"), 0u);
    EXPECT_EQ(count("IN"), 0u);
}

TEST_F(FilingTest, ByAuthorReplyToCountsAndTheRecipientDoesNotWhenSwitchedOff) {
    host.options.rfrom = 1;
    host.options.rrecip = 0;
    makeFolders({"lists", "work"});
    retrieve({"From: someone@x.org\r\nReply-To: team@work.example\r\nTo: ann@a.org\r\nSubject: a\r\n\r\nx\r\n",
              "From: someone@x.org\r\nTo: lists@a.org\r\nSubject: b\r\n\r\nx\r\n"});
    EXPECT_EQ(count("work"), 1u);
    EXPECT_EQ(count("lists"), 0u);
    EXPECT_EQ(count("IN"), 1u);
}

TEST_F(FilingTest, ByRecipientOnlyTheFirstToAddressIsTested) {
    makeFolders({"friends", "news"});  // rrecip is on by default
    retrieve({message("x@y.org", "Friends List <friends@lists.org>, news@a.org", "one"),
              message("x@y.org", "ann@a.org, news@a.org", "two"),
              message("news@y.org", "ann@a.org", "three")});
    EXPECT_EQ(count("friends"), 1u);
    EXPECT_EQ(count("news"), 0u);
    EXPECT_EQ(count("IN"), 2u);
}

TEST_F(FilingTest, WithoutPersonalFoldersEverythingGoesToTheInbox) {
    retrieve({message("x@y.org", "in@a.org", "one")});
    EXPECT_EQ(count("IN"), 1u);
}

TEST_F(FilingTest, AMatchingFolderThatIsGoneFromDiskFallsBackToTheInbox) {
    host.folders = {"friends"};  // listed, but its directory was removed
    retrieve({message("x@y.org", "friends@lists.org", "one")});
    EXPECT_EQ(count("IN"), 1u);
}

TEST_F(RetrieveTest, TheTimerStartsASilentRetrievalOnItsThirtiethTickForFiveMinutes) {
    host.general.timei = 5;
    auto script = logon(0);
    script.push_back(ScriptServer::C("QUIT\r\n"));
    ScriptServer server(script);
    host.general.pop = server.host();
    for (int tick = 1; tick < 30; ++tick) transfers.timerTick();
    EXPECT_EQ(host.locks, 0);
    transfers.timerTick();
    EXPECT_EQ(host.locks, 1);
    EXPECT_TRUE(transfers.automaticRun);
    EXPECT_EQ(transfers.timerMinutes, 0);
    // While the automatic run goes on, ticks only reset the counters.
    transfers.timerTick();
    EXPECT_EQ(transfers.timerSeconds, 0);
    ASSERT_TRUE(runToEnd());
    server.finish();
    EXPECT_TRUE(host.boxes.empty());  // no "no new messages available"
    EXPECT_FALSE(transfers.automaticRun);
}

TEST_F(RetrieveTest, TheTimerSkipsADueTimeThatFindsATransferRunning) {
    host.general.timei = 1;
    transfers.transferState = transfer::kSendingMail;
    for (int tick = 0; tick < 6; ++tick) transfers.timerTick();
    EXPECT_EQ(host.locks, 0);
    EXPECT_EQ(transfers.timerMinutes, 0);  // reset, not queued
    transfers.transferState = transfer::kIdle;
    host.general.timei = 0;
    for (int tick = 0; tick < 60; ++tick) transfers.timerTick();
    EXPECT_EQ(host.locks, 0);  // switched off
}

TEST_F(RetrieveTest, AnAutomaticRunWithoutPasswordDoesNothing) {
    host.general.pass.clear();
    host.general.timei = 1;
    for (int tick = 0; tick < 6; ++tick) transfers.timerTick();
    EXPECT_TRUE(host.prompts.empty());
    EXPECT_EQ(host.locks, 0);
    EXPECT_FALSE(transfers.automaticRun);
}

TEST_F(RetrieveTest, OtherTransfersGetTheirCompletionsAndTheCancelHook) {
    std::vector<uintptr_t> seen;
    transfers.setCompletionHandler(transfer::kDeliverMessage, [&](uintptr_t w, intptr_t) { seen.push_back(w); });
    std::vector<std::string> cancels;
    transfers.addCancelHook([&](bool normal) { cancels.push_back(normal ? "first normal" : "first stopped"); });
    transfers.addCancelHook([&](bool) {
        cancels.push_back(host.unlocks == 0 ? "second before unlock" : "second after unlock");
    });
    platform::PostMessage(&transfers, transfer::kDeliverMessage, 7, 0);
    // A mail completion while no retrieval runs is ignored.
    platform::PostMessage(&transfers, transfer::kMailMessage, 0, 0);
    loop.runFor(20);
    EXPECT_EQ(seen, std::vector<uintptr_t>{7});
    transfers.transferState = transfer::kSendingMail;
    transfers.userCancel();
    EXPECT_EQ(cancels, (std::vector<std::string>{"first stopped", "second before unlock"}));
    EXPECT_EQ(transfers.transferState, transfer::kIdle);
}

}  // namespace
