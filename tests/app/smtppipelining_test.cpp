// Outbox delivery with smtppipe set, against scripted SMTP servers: one
// that announces PIPELINING gets each item's MAIL, RCPT and DATA in one
// write, the next item's behind the "." of the one before, whatever way its
// replies are cut; a refusal or a close part-way keeps every item whose "."
// was not accepted in the outbox; a server that does not announce it (or
// does not know EHLO) gets the commands one at a time, as without smtppipe.
// One that also announces CHUNKING gets the items as BDAT chunks, a window
// of them in flight, and a refused item does not stop the ones behind it.
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
using S = testsupport::ScriptServer;

namespace {

using Host = testsupport::RecordingHost;

const char* const kEhloPipelining = "250-lab.test hello\r\n250-SIZE 1000000\r\n250-PIPELINING\r\n250 HELP\r\n";

struct Item {
    std::string envelope;  // MAIL, RCPT and DATA as the group sends them
    std::vector<std::string> commands;
    std::string data;      // the text, dot-stuffed, with its "."
    std::string chunked;   // MAIL, RCPT and BDAT with the text as it is
};

class PipelinedDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"IN", "OUT", "SENT", "BIN"}) platform::createDirectory(d);
        host.general.smtppipe = 1;
    }
    void TearDown() override {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        loop.runFor(20);
    }
    // A mail item in the outbox (subjects sort the walk) and its bytes.
    Item item(const std::string& subject, const std::string& to, const std::string& cc = "") {
        std::string header, body;
        torvakit::MakeFileNames("omail.dat", header, body);
        const std::string text = ".leading dot of " + subject + "\r\nline\r\n";
        writeFile(dir.file("OUT/" + body), text);
        torvakit::MakeItem("OUT/" + header, "Me <me@lab.test>", "", subject, to, cc, "", "", "+0000", "", "me",
                           "lab.test", "", 1, 100, 0, 0, 0);
        Item it;
        it.commands.push_back("MAIL FROM:<me@lab.test>\r\n");
        for (const std::string& r : {to, cc})
            if (!r.empty()) it.commands.push_back("RCPT TO:<" + r + ">\r\n");
        it.commands.push_back("DATA\r\n");
        for (const std::string& c : it.commands) it.envelope += c;
        it.data = readFile(dir.file("OUT/" + header)) + "\r\n." + text + "\r\n.\r\n";
        const std::string chunk = readFile(dir.file("OUT/" + header)) + "\r\n" + text + "\r\n";
        it.chunked = it.envelope.substr(0, it.envelope.size() - 6) + "BDAT " + std::to_string(chunk.size()) +
                     " LAST\r\n" + chunk;
        return it;
    }
    void run(ScriptServer& server) {
        host.general.smtp = server.host();
        delivery.start(transfer::DeliveryKind::Mail);
        ASSERT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 20000));
        server.finish();
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

TEST_F(PipelinedDelivery, GroupsGoOutBehindEachDotWhateverTheReplySplit) {
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        const Item a = item("a first", "x@lab.test");
        const Item b = item("b second", "y@lab.test", "z@lab.test");
        const Item c = item("c third", "x@lab.test");
        ScriptServer::Options options;
        if (mode == 1) options.chunk = 1, options.pauseMicros = 50;
        if (mode == 2) options.joinReplies = true;
        ScriptServer server({S::S("220 lab ESMTP\r\n"), S::C("EHLO orrindel.mail\r\n"), S::S(kEhloPipelining),
                             S::C(a.envelope), S::S("250 ok\r\n250 ok\r\n354 go\r\n"),
                             S::C(a.data + b.envelope),
                             S::S("250 queued a\r\n250 ok\r\n250-first line\r\n250 ok\r\n250 ok\r\n354 go\r\n"),
                             S::C(b.data + c.envelope), S::S("250 queued b\r\n"), S::S("250 ok\r\n250 ok\r\n"),
                             S::S("354 go\r\n"), S::C(c.data), S::S("250 queued c\r\n"), S::C("QUIT\r\n"),
                             S::S("221 bye\r\n")},
                            options);
        run(server);
        EXPECT_EQ(server.received(), server.expected());
        EXPECT_EQ(host.boxes.back(), "3 messages sent");
        EXPECT_EQ(count("OUT"), 0u);
        EXPECT_EQ(count("SENT"), 3u * (mode + 1));
    }
}

TEST_F(PipelinedDelivery, ARefusedRecipientInAGroupKeepsThatItemAndTheRest) {
    const Item a = item("a first", "x@lab.test");
    const Item b = item("b second", "y@lab.test", "nobody@lab.test");
    const Item c = item("c third", "x@lab.test");
    ScriptServer server({S::S("220 lab ESMTP\r\n"), S::C("EHLO orrindel.mail\r\n"), S::S(kEhloPipelining),
                         S::C(a.envelope), S::S("250 ok\r\n250 ok\r\n354 go\r\n"), S::C(a.data + b.envelope),
                         S::S("250 queued a\r\n250 ok\r\n250 ok\r\n550 no such user\r\n354 go\r\n"),
                         S::C("QUIT\r\n")});
    run(server);
    // Nothing of b's text went out: the server never saw its ".".
    EXPECT_EQ(server.received(), "EHLO orrindel.mail\r\n" + a.envelope + a.data + b.envelope + "QUIT\r\n");
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ(host.boxes.back().find("rcpt to: failed [550]"), 0u) << host.boxes.back();
    EXPECT_EQ(count("SENT"), 1u);
    EXPECT_EQ(count("OUT"), 2u);
    EXPECT_FALSE(transfers.deliveryFlag);
}

TEST_F(PipelinedDelivery, AServerClosingPartWayKeepsEveryItemWithoutItsAcceptedDot) {
    const Item a = item("a first", "x@lab.test");
    const Item b = item("b second", "y@lab.test");
    item("c third", "x@lab.test");
    for (bool beforeFirstDot : {true, false}) {
        SCOPED_TRACE(beforeFirstDot);
        std::vector<ScriptServer::Step> script{S::S("220 lab ESMTP\r\n"), S::C("EHLO orrindel.mail\r\n"),
                                               S::S(kEhloPipelining), S::C(a.envelope),
                                               S::S("250 ok\r\n250 ok\r\n354 go\r\n"), S::C(a.data + b.envelope)};
        script.push_back(S::S(beforeFirstDot ? "250 queu" : "250 queued a\r\n250 ok\r\n25"));
        script.push_back(S::Close());
        ScriptServer server(script);
        const uint32_t sentBefore = count("SENT");
        run(server);
        EXPECT_EQ(count("SENT"), sentBefore + (beforeFirstDot ? 0u : 1u));
        EXPECT_EQ(count("OUT"), beforeFirstDot ? 3u : 2u);
        ASSERT_FALSE(host.boxes.empty());
        EXPECT_EQ(host.boxes.back(), "connexion closed");
    }
}

TEST_F(PipelinedDelivery, AServerWithoutPipeliningGetsOneCommandAtATime) {
    for (bool knowsEhlo : {true, false}) {
        SCOPED_TRACE(knowsEhlo);
        const Item a = item("a first", "x@lab.test", "y@lab.test");
        std::vector<ScriptServer::Step> script{S::S("220 lab ESMTP\r\n"), S::C("EHLO orrindel.mail\r\n")};
        if (knowsEhlo) {
            script.push_back(S::S("250-lab.test hello\r\n250 HELP\r\n"));
        } else {
            script.push_back(S::S("500 what\r\n"));
            script.push_back(S::C("HELO orrindel.mail\r\n"));
            script.push_back(S::S("250 hello\r\n"));
        }
        for (const std::string& command : a.commands) {
            script.push_back(S::C(command));
            script.push_back(S::S(command == "DATA\r\n" ? "354 go\r\n" : "250 ok\r\n"));
        }
        for (ScriptServer::Step step : {S::C(a.data), S::S("250 queued\r\n"), S::C("QUIT\r\n")})
            script.push_back(step);
        ScriptServer server(script);
        run(server);
        EXPECT_EQ(server.received(), server.expected());
        EXPECT_EQ(host.boxes.back(), "1 messages sent");
    }
}

TEST_F(PipelinedDelivery, WithChunkingARefusedItemStaysAndTheOnesBehindItAreFiled) {
    const Item a = item("a first", "x@lab.test");
    const Item b = item("b second", "nobody@lab.test");
    const Item c = item("c third", "x@lab.test");
    ScriptServer server({S::S("220 lab ESMTP\r\n"), S::C("EHLO orrindel.mail\r\n"),
                         S::S("250-lab.test hello\r\n250-PIPELINING\r\n250 CHUNKING\r\n"),
                         S::C(a.chunked + b.chunked + c.chunked),
                         S::S("250 ok\r\n250 ok\r\n250 queued a\r\n250 ok\r\n550 no such user\r\n554 no recipients\r\n"
                              "250 ok\r\n250 ok\r\n250 queued c\r\n"),
                         S::C("QUIT\r\n"), S::S("221 bye\r\n")});
    run(server);
    EXPECT_EQ(server.received(), server.expected());
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ(host.boxes.back(), "2 messages sent\nmessage refused by server: b second (rcpt to: failed [550])");
    EXPECT_EQ(count("SENT"), 2u);
    EXPECT_EQ(count("OUT"), 1u);
}

}  // namespace
