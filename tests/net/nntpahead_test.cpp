// HEAD and BODY sent ahead: each reply reaches the files only when the
// caller asks for it, and a command out of turn is refused.
#include "support/enginetest.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"

#include "platform/fsys.h"
#include "platform/pollloop.h"

#include <algorithm>
#include <vector>

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

// Bodies by message id sent ahead: each reply reaches the file only when
// asked for, a refused id is asked again by number behind the window, and
// the replies may arrive whole or a byte at a time.
TEST(NntpAhead, BodiesAheadComeInOrderAndARefusedIdIsAskedAgainByNumber) {
    using netwire::BodySelector;
    for (size_t chunk : {size_t{0}, size_t{1}}) {
        SCOPED_TRACE(chunk);
        TempDir dir{true};
        platform::PollLoop loop;
        EngineSession s{[&](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};
        SS::Options options;
        options.chunk = chunk;
        options.pauseMicros = 20;
        SS server({SS::S("200 ok\r\n"), SS::C("BODY <a@x>\r\nBODY <b@x>\r\nBODY <c@x>\r\n"),
                   SS::S("222 0 <a@x> body\r\nA\r\n..a\r\n.\r\n430 no such article\r\n222 0 <c@x> body\r\nC\r\n.\r\n"),
                   SS::C("BODY 2\r\n"), SS::S("222 2 <b@x> body\r\nB\r\n.\r\n"), SS::C("QUIT\r\n")},
                  options);
        s.open(server.host(), netwire::kServerNntp);
        ASSERT_EQ(s.next().text, "connected to nntp server");

        const BodySelector a{-1, "<a@x>"}, b{-1, "<b@x>"}, c{-1, "<c@x>"}, two{2, ""};
        std::vector<BodySelector> list{a, b, c};
        netwire::GetBodiesAhead(kDoneMsg, "body.tmp", list, 4);
        Report r = s.next();
        EXPECT_EQ(r.text, "body retrieved");
        EXPECT_EQ(r.wParam, 0u);
        s.run(100);  // the replies behind it have arrived; they must wait
        EXPECT_EQ(readFile("body.tmp"), "A\r\n.a\r\n");

        list = {b, c};
        netwire::GetBodiesAhead(kDoneMsg, "body.tmp", list, 4);
        r = s.next();
        EXPECT_EQ(r.text, "body not available [430]");
        EXPECT_EQ(r.wParam, 1u);
        EXPECT_EQ(netwire::ConnectionState(), netwire::kStateConnected);

        list = {c, two};  // the refused one by number, behind what is owed
        netwire::GetBodiesAhead(kDoneMsg, "body.tmp", list, 4);
        EXPECT_EQ(s.next().text, "body retrieved");
        EXPECT_EQ(readFile("body.tmp"), "C\r\n");

        list = {two};
        netwire::GetBodiesAhead(kDoneMsg, "body.tmp", list, 4);
        EXPECT_EQ(s.next().text, "body retrieved");
        EXPECT_EQ(readFile("body.tmp"), "B\r\n");
        const std::vector<std::string> texts = s.statusTexts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "getting body 2"), 1);
        netwire::AbortConnection();
        EXPECT_TRUE(s.settle());
        server.finish();
        EXPECT_EQ(server.received(), server.expected());
    }
}

// While bodies are owed, a call for another body than the next reply, or a
// lock-step command, would read that reply as its own: both are busy.
TEST(NntpAhead, ABodyOutOfTurnOrALockStepCommandIsBusyWhileBodiesAreOwed) {
    for (bool lockStep : {false, true}) {
        SCOPED_TRACE(lockStep);
        TempDir dir{true};
        platform::PollLoop loop;
        EngineSession s{[&](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};
        SS server({SS::S("200 ok\r\n"), SS::C("BODY 1\r\nBODY 2\r\n"),
                   SS::S("222 1 <1@x> body\r\n1\r\n.\r\n222 2 <2@x> body\r\n2\r\n.\r\n"), SS::C("QUIT\r\n")});
        s.open(server.host(), netwire::kServerNntp);
        ASSERT_EQ(s.next().text, "connected to nntp server");
        std::vector<netwire::BodySelector> list{{1, ""}, {2, ""}};
        netwire::GetBodiesAhead(kDoneMsg, "body.tmp", list, 8);
        EXPECT_EQ(s.next().text, "body retrieved");
        if (lockStep) {
            netwire::GetBody(kDoneMsg, "body.tmp", 2, "");
            EXPECT_EQ(s.next().text, "dll busy (GetBody)");
        } else {
            list = {{3, ""}};
            netwire::GetBodiesAhead(kDoneMsg, "body.tmp", list, 8);
            EXPECT_EQ(s.next().text, "dll busy (GetBodiesAhead)");
        }
        EXPECT_EQ(netwire::ConnectionState(), netwire::kStateIdle);
        EXPECT_EQ(readFile("body.tmp"), "1\r\n");
        EXPECT_TRUE(s.settle());
        server.finish();
        EXPECT_EQ(server.received(), server.expected());
    }
}

}  // namespace
