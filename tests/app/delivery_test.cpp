// Outbox delivery against scripted servers: what a real server will not do
// on demand. A news server that refuses POST keeps that article in the
// outbox while the run goes on, and the final dialog names it.
#include "transfer/delivery.h"
#include "transfer/transfer.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"
#include "recordinghost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::readFile;
using testsupport::ScriptServer;
using testsupport::writeFile;

namespace {

using Host = testsupport::RecordingHost;

class ScriptedDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"IN", "OUT", "SENT", "BIN"}) platform::createDirectory(d);
    }
    void TearDown() override {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        loop.runFor(20);
    }
    // An article in the outbox; what goes on the wire for it.
    std::string article(const std::string& subject, const std::string& body) {
        std::string header, bodyName;
        torvakit::MakeFileNames("omail.dat", header, bodyName);
        writeFile(dir.file("OUT/" + bodyName), body);
        torvakit::MakeItem("OUT/" + header, "Me <me@lab.test>", "", subject, "local.test", "", "", "", "+0000", "",
                           "me", "lab.test", "", 4, 100, 0, 0, 0);
        return readFile(dir.file("OUT/" + header)) + "\r\n" + body + "\r\n.\r\n";
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

TEST_F(ScriptedDelivery, ARefusedPostKeepsTheArticleAndTheRunGoesOn) {
    article("a refused", "first\r\n");
    const std::string second = article("b posted", "second\r\n");
    ScriptServer server({ScriptServer::S("200 lab news\r\n"), ScriptServer::C("POST\r\n"),
                         ScriptServer::S("440 posting not permitted\r\n"), ScriptServer::C("POST\r\n"),
                         ScriptServer::S("340 send it\r\n"), ScriptServer::C(second),
                         ScriptServer::S("240 article received\r\n"), ScriptServer::C("QUIT\r\n"),
                         ScriptServer::S("205 bye\r\n")});
    host.general.nntp = server.host();
    delivery.start(transfer::DeliveryKind::News);
    ASSERT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 10000));
    ASSERT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(host.boxes, std::vector<std::string>{"1 articles posted\narticle refused by server: a refused "
                                                   "(posting failed [440])"});
    EXPECT_EQ(count("OUT"), 1u);
    EXPECT_EQ(count("SENT"), 1u);
    EXPECT_TRUE(platform::fileExists("OUT/N0000000.omh"));
    EXPECT_TRUE(platform::fileExists("SENT/N0000001.omh"));
    EXPECT_FALSE(transfers.deliveryFlag);
}

TEST_F(ScriptedDelivery, AConnectionLostAfterTheTextLeavesTheArticleInTheOutbox) {
    const std::string first = article("a lost", "text\r\n");
    ScriptServer server({ScriptServer::S("200 lab news\r\n"), ScriptServer::C("POST\r\n"),
                         ScriptServer::S("340 send it\r\n"), ScriptServer::C(first), ScriptServer::Close()});
    host.general.nntp = server.host();
    delivery.start(transfer::DeliveryKind::News);
    ASSERT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 10000));
    server.finish();
    EXPECT_EQ(count("OUT"), 1u);
    EXPECT_EQ(count("SENT"), 0u);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_FALSE(transfers.deliveryFlag);
    EXPECT_EQ(delivery.step(), transfer::DeliveryStep::Idle);
}

}  // namespace
