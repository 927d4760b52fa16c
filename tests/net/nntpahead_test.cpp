// HEAD and BODY sent ahead: each reply reaches the files only when the
// caller asks for it, and a command out of turn is refused.
#include "support/enginetest.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"

#include "platform/fsys.h"
#include "platform/pollloop.h"

namespace {

using namespace testsupport;
using SS = ScriptServer;

TEST(NntpAhead, HeldRepliesWaitForTheCallerAndACommandOutOfTurnIsBusy) {
    TempDir dir{true};
    platform::PollLoop loop;
    EngineSession s{[&](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};
    const std::string head5 = "221 5 <five@x> head\r\nSubject: five\r\n.\r\n";
    SS server({SS::S("200 ok\r\n"), SS::C("HEAD 5\r\nBODY 5\r\nHEAD 6\r\nBODY 6\r\n"),
               SS::S(head5 + "222 5 <five@x> body\r\n..dot\r\n.\r\n221 6 <six@x> head\r\nSubject: six\r\n.\r\n" +
                     "423 no such article\r\n"),
               SS::C("QUIT\r\n")});
    s.open(server.host(), netwire::kServerNntp);
    ASSERT_EQ(s.next().text, "connected to nntp server");

    int32_t number = 0;
    netwire::GetHeaderAhead(kDoneMsg, "head.tmp", 5, 6, 8, true, number);
    EXPECT_EQ(s.next().text, "header retrieved");
    EXPECT_EQ(number, 5);
    s.run(50);  // every reply has arrived by now; none may touch the files
    EXPECT_EQ(readFile("head.tmp"), "221 5 <five@x> head\r\nSubject: five\r\n");
    EXPECT_FALSE(platform::fileExists("body.tmp"));

    netwire::GetBodyAhead(kDoneMsg, "body.tmp", 5);
    EXPECT_EQ(s.next().text, "body retrieved");
    EXPECT_EQ(readFile("body.tmp"), ".dot\r\n");
    EXPECT_EQ(readFile("head.tmp"), "221 5 <five@x> head\r\nSubject: five\r\n");

    // HEAD 6 is owed: a lock-step command would read its reply as its own.
    netwire::GetBody(kDoneMsg, "body.tmp", 6, "");
    EXPECT_EQ(s.next().text, "dll busy (GetBody)");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateIdle);
    EXPECT_TRUE(s.settle());
    server.finish();
    EXPECT_EQ(server.received(), server.expected());
}

}  // namespace
