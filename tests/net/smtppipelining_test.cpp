// SendMailItemAhead on the engine itself: while the replies to an item sent
// ahead are owed, only that item may be sent; anything else is refused as
// busy, and nothing of it reaches the wire.
#include "support/enginetest.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"

#include "platform/pollloop.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;
using SS = ScriptServer;

TEST(SmtpPipelining, AnotherItemWhileRepliesAreOwedIsRefusedAsBusy) {
    TempDir dir(true);
    platform::PollLoop loop;
    EngineSession s{[&](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};
    writeFile(dir.file("a.omh"), "To: x@lab.test\r\nFrom: me@lab.test\r\nMessage-Id: <a@lab.test>\r\n");
    writeFile(dir.file("b.omh"), "To: y@lab.test\r\nFrom: me@lab.test\r\nMessage-Id: <b@lab.test>\r\n");
    writeFile(dir.file("c.omh"), "To: z@lab.test\r\nFrom: me@lab.test\r\nMessage-Id: <c@lab.test>\r\n");
    writeFile(dir.file("a.omb"), "text\r\n");
    ScriptServer server({SS::S("220 lab\r\n"), SS::C("EHLO orrindel.mail\r\n"), SS::S("250-lab\r\n250 PIPELINING\r\n"),
                         SS::C("MAIL FROM:<me@lab.test>\r\nRCPT TO:<x@lab.test>\r\nDATA\r\n"),
                         SS::S("250 ok\r\n250 ok\r\n354 go\r\n"),
                         SS::C("To: x@lab.test\r\nFrom: me@lab.test\r\nMessage-Id: <a@lab.test>\r\n\r\ntext\r\n\r\n.\r\n"
                               "MAIL FROM:<me@lab.test>\r\nRCPT TO:<y@lab.test>\r\nDATA\r\n"),
                         SS::S("250 queued\r\n250 ok\r\n250 ok\r\n354 go\r\n"), SS::C("QUIT\r\n")});
    netwire::ServerOptions options;
    options.smtpPipelining = true;
    netwire::OpenServer(&s.window, kSocketMsg, kDoneMsg, kStatusMsg, server.host(), netwire::kServerSmtp, options);
    ASSERT_EQ(s.next().text, "connected to smtp server");
    netwire::SendMailItemAhead(kDoneMsg, "a.omh", "a.omb", "", "b.omh");
    ASSERT_EQ(s.next().text, "message sent");
    s.run(50);  // b's replies arrive and must stay unread
    netwire::SendMailItemAhead(kDoneMsg, "c.omh", "a.omb", "", "");
    Report r = s.next();
    EXPECT_TRUE(r.isError());
    EXPECT_EQ(r.text, "dll busy (SendMailItemAhead)");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateIdle);
    EXPECT_TRUE(s.settle());
    server.finish();
    EXPECT_EQ(server.received(), server.expected());
}

}  // namespace
