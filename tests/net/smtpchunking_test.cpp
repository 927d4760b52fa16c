// SendMailItemsAhead against scripted servers that announce PIPELINING and
// CHUNKING: the items go as BDAT chunks carrying exactly what DATA would
// carry, unstuffed, several in flight; each completes on its own last
// reply, a refused one without stopping the others, and a close part-way
// completes what was accepted before it.
#include "support/enginetest.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"

#include "platform/pollloop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace testsupport;
using SS = ScriptServer;

const char* const kEhlo = "250-lab\r\n250-PIPELINING\r\n250 CHUNKING\r\n";

struct Chunked {
    std::string header, body;
    std::string group;  // what the client sends for the item
};

// An outbox item to one recipient per address; its chunk is the header
// file, the body and the signature with CR LF line ends, each file followed
// by the empty line the DATA exchange sends behind it.
Chunked item(TempDir& dir, const std::string& name, std::vector<std::string> to, const std::string& body,
             const std::string& bodyOnWire, bool withSignature = false) {
    std::string header = "From: me@lab.test\r\nMessage-Id: <" + name + "@lab.test>\r\n";
    for (const std::string& t : to) header += "To: " + t + "\r\n";
    Chunked c{name + ".omh", name + ".omb", "MAIL FROM:<me@lab.test>\r\n"};
    writeFile(dir.file(c.header), header);
    writeFile(dir.file(c.body), body);
    for (const std::string& t : to) c.group += "RCPT TO:<" + t + ">\r\n";
    std::string chunk = header + "\r\n" + bodyOnWire + (withSignature ? "-- \r\nme\r\n\r\n" : "");
    c.group += "BDAT " + std::to_string(chunk.size()) + " LAST\r\n" + chunk;
    return c;
}

std::vector<netwire::OutboxItem> from(const std::vector<Chunked>& items, size_t first) {
    std::vector<netwire::OutboxItem> list;
    for (size_t i = first; i < items.size(); ++i) list.push_back({items[i].header, items[i].body});
    return list;
}

struct Session {
    explicit Session(ScriptServer& server) {
        netwire::ServerOptions options;
        options.smtpPipelining = true;
        netwire::OpenServer(&s.window, kSocketMsg, kDoneMsg, kStatusMsg, server.host(), netwire::kServerSmtp, options);
        EXPECT_EQ(s.next().text, "connected to smtp server");
    }
    Report send(const std::vector<Chunked>& items, size_t first, int window = 64, const char* signature = "") {
        const auto list = from(items, first);
        netwire::SendMailItemsAhead(kDoneMsg, list, signature, window);
        return s.next();
    }
    platform::PollLoop loop;
    EngineSession s{[this](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};
};

TEST(SmtpChunking, ItemsGoAsUnstuffedChunksInFlightWhateverTheReplySplit) {
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        TempDir dir(true);
        writeFile(dir.file("sig.txt"), "-- \r\nme\r\n");
        // Leading dots stay as they are; a bare LF and a last line without
        // its line end come out as CR LF lines.
        const std::vector<Chunked> items{
            item(dir, "a", {"x@lab.test"}, ".dot\r\n..two\nbare\r\n.\r\nlast", ".dot\r\n..two\r\nbare\r\n.\r\nlast\r\n", true),
            // Two recipients: the text waits for both replies.
            item(dir, "b", {"y@lab.test", "z@lab.test"}, "text\r\n", "text\r\n\r\n", true),
            item(dir, "c", {"x@lab.test"}, "more\r\n", "more\r\n\r\n", true)};
        const std::string bMailRcpt = items[1].group.substr(0, items[1].group.find("BDAT"));
        ScriptServer::Options options;
        if (mode == 1) options.chunk = 1, options.pauseMicros = 50;
        if (mode == 2) options.joinReplies = true;
        ScriptServer server({SS::S("220 lab\r\n"), SS::C("EHLO orrindel.mail\r\n"), SS::S(kEhlo),
                             SS::C(items[0].group + bMailRcpt), SS::S("250 ok\r\n250 ok\r\n250 queued a\r\n"),
                             SS::S("250 ok\r\n250 ok\r\n250-z\r\n250 ok\r\n"),
                             SS::C(items[1].group.substr(bMailRcpt.size()) + items[2].group),
                             SS::S("250 queued b\r\n250 ok\r\n250 ok\r\n250 queued c\r\n"), SS::C("QUIT\r\n")},
                            options);
        Session session(server);
        for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(session.send(items, i, 64, "sig.txt").text, "message sent");
        netwire::AbortConnection();
        EXPECT_TRUE(session.s.settle());
        server.finish();
        EXPECT_EQ(server.received(), server.expected());
    }
}

TEST(SmtpChunking, ARefusedItemInTheWindowLeavesTheOthersSentAndResetsBeforeTheNext) {
    TempDir dir(true);
    const std::vector<Chunked> items{item(dir, "a", {"x@lab.test"}, "1\r\n", "1\r\n\r\n"),
                                     item(dir, "b", {"nobody@lab.test"}, "2\r\n", "2\r\n\r\n"),
                                     item(dir, "c", {"x@lab.test"}, "3\r\n", "3\r\n\r\n"),
                                     item(dir, "d", {"x@lab.test"}, "4\r\n", "4\r\n\r\n")};
    // Two in flight: c goes when a is done, before b's refusal is known;
    // d, sent after it, resets the failed transaction first.
    ScriptServer server({SS::S("220 lab\r\n"), SS::C("EHLO orrindel.mail\r\n"), SS::S(kEhlo),
                         SS::C(items[0].group + items[1].group), SS::S("250 ok\r\n250 ok\r\n250 queued a\r\n"),
                         SS::C(items[2].group),
                         SS::S("250 ok\r\n550 no such user\r\n554 no valid recipients\r\n"),
                         SS::C("RSET\r\n" + items[3].group),
                         SS::S("250 ok\r\n250 ok\r\n250 queued c\r\n250 reset\r\n250 ok\r\n250 ok\r\n250 queued d\r\n"),
                         SS::C("QUIT\r\n")});
    Session session(server);
    EXPECT_EQ(session.send(items, 0, 2).text, "message sent");
    Report b = session.send(items, 1, 2);
    EXPECT_EQ(b.msg, kDoneMsg);
    EXPECT_EQ(b.wParam, 1u);
    EXPECT_EQ(b.text, "rcpt to: failed [550]");
    EXPECT_EQ(session.send(items, 2, 2).text, "message sent");
    EXPECT_EQ(session.send(items, 3, 2).text, "message sent");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateConnected);
    netwire::AbortConnection();
    EXPECT_TRUE(session.s.settle());
    server.finish();
    EXPECT_EQ(server.received(), server.expected());
}

TEST(SmtpChunking, AnItemWithARefusedRecipientAmongSeveralSendsRsetInsteadOfItsText) {
    TempDir dir(true);
    const std::vector<Chunked> items{item(dir, "a", {"x@lab.test", "nobody@lab.test"}, "1\r\n", "1\r\n\r\n"),
                                     item(dir, "b", {"x@lab.test"}, "2\r\n", "2\r\n\r\n")};
    const std::string aMailRcpt = items[0].group.substr(0, items[0].group.find("BDAT"));
    ScriptServer server({SS::S("220 lab\r\n"), SS::C("EHLO orrindel.mail\r\n"), SS::S(kEhlo), SS::C(aMailRcpt),
                         SS::S("250 ok\r\n250 ok\r\n550 no such user\r\n"), SS::C("RSET\r\n" + items[1].group),
                         SS::S("250 reset\r\n250 ok\r\n250 ok\r\n250 queued b\r\n"), SS::C("QUIT\r\n")});
    Session session(server);
    Report a = session.send(items, 0);
    EXPECT_EQ(a.wParam, 1u);
    EXPECT_EQ(a.text, "rcpt to: failed [550]");
    EXPECT_EQ(session.send(items, 1).text, "message sent");
    netwire::AbortConnection();
    EXPECT_TRUE(session.s.settle());
    server.finish();
    EXPECT_EQ(server.received(), server.expected());
}

TEST(SmtpChunking, AServerClosingPartWayCompletesOnlyWhatItAccepted) {
    TempDir dir(true);
    const std::vector<Chunked> items{item(dir, "a", {"x@lab.test"}, "1\r\n", "1\r\n\r\n"),
                                     item(dir, "b", {"y@lab.test"}, "2\r\n", "2\r\n\r\n"),
                                     item(dir, "c", {"x@lab.test"}, "3\r\n", "3\r\n\r\n")};
    ScriptServer server({SS::S("220 lab\r\n"), SS::C("EHLO orrindel.mail\r\n"), SS::S(kEhlo),
                         SS::C(items[0].group + items[1].group + items[2].group),
                         SS::S("250 ok\r\n250 ok\r\n250 queued a\r\n250 ok\r\n250 ok\r\n25"), SS::Close()});
    Session session(server);
    EXPECT_EQ(session.send(items, 0).text, "message sent");
    session.s.run(50);  // the close arrives while b's replies are held
    Report b = session.send(items, 1);
    EXPECT_TRUE(b.isError());
    EXPECT_EQ(b.text, "connexion closed");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateIdle);
    EXPECT_TRUE(session.s.settle());
    server.finish();
    EXPECT_EQ(server.received(), server.expected());
}

}  // namespace
