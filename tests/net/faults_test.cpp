// Servers that fail: the connection closed at every byte of each protocol's
// conversation, or the server falling silent after every reply. Whatever
// happens, the engine reports an error after "ready", ends Idle and keeps
// no file open.
#include "support/enginetest.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"

#include "platform/pollloop.h"

#include <functional>

namespace {

using namespace testsupport;
using SS = ScriptServer;
using Command = std::function<void()>;

struct Conversation {
    int serverType;
    std::vector<SS::Step> script;  // without the closing QUIT
    std::vector<Command> commands; // issued one per completion, after the greeting
};

int32_t g_slot1, g_slot2, g_slot3;

Conversation pop3() {
    return {netwire::kServerPop3,
            {SS::S("+OK ready\r\n"), SS::C("USER u\r\n"), SS::S("+OK\r\n"), SS::C("PASS p\r\n"),
             SS::S("+OK\r\n"), SS::C("STAT\r\n"), SS::S("+OK 1 50\r\n"), SS::C("RETR 1\r\n"),
             SS::S("+OK\r\nSubject: x\r\n\r\nbody\r\n.\r\n"), SS::C("DELE 1\r\n"), SS::S("+OK\r\n")},
            {[] { netwire::OpenMailBox(kDoneMsg, "u", "p", g_slot1); },
             [] { netwire::GetMailItem(kDoneMsg, "head.tmp", "body.tmp", 1); },
             [] { netwire::DeleteMailItem(kDoneMsg, 1); }}};
}

Conversation smtp() {
    return {netwire::kServerSmtp,
            {SS::S("220 hi\r\n"), SS::C("HELO orrindel.mail\r\n"), SS::S("250 ok\r\n"),
             SS::C("MAIL FROM:<a@b>\r\n"), SS::S("250 ok\r\n"), SS::C("RCPT TO:<c@d>\r\n"), SS::S("250 ok\r\n"),
             SS::C("DATA\r\n"), SS::S("354 go\r\n"), SS::C("To: c@d\r\nFrom: a@b\r\n\r\nhello\r\n\r\n.\r\n"),
             SS::S("250 sent\r\n")},
            {[] { netwire::SendMailItem(kDoneMsg, "item.omh", "item.omb", ""); }}};
}

Conversation nntp() {
    return {netwire::kServerNntp,
            {SS::S("200 ready\r\n"), SS::C("LIST\r\n"), SS::S("215 ok\r\nalt.a 1 1 y\r\n.\r\n"),
             SS::C("DATE\r\n"), SS::S("111 20260101120000\r\n"), SS::C("GROUP alt.a\r\n"),
             SS::S("211 1 1 1 alt.a\r\n"), SS::C("HEAD 1\r\n"), SS::S("221 1 <m@x>\r\nSubject: s\r\n.\r\n"),
             SS::C("BODY 1\r\n"), SS::S("222 1 <m@x>\r\ntext\r\n.\r\n"), SS::C("POST\r\n"), SS::S("340 go\r\n"),
             SS::C("Newsgroups: alt.a\r\n\r\nhello\r\n\r\n.\r\n"), SS::S("240 ok\r\n")},
            {[] { netwire::ListGroups(kDoneMsg, "GROUP.LST", g_slot1); },
             [] { netwire::NewsDate(kDoneMsg, "NEWS.DAT"); },
             [] { netwire::OpenGroup(kDoneMsg, "alt.a", g_slot1, g_slot2, g_slot3); },
             [] { netwire::GetHeader(kDoneMsg, "head.tmp", 1, g_slot1); },
             [] { netwire::GetBody(kDoneMsg, "body.tmp", 1, ""); },
             [] { netwire::PostItem(kDoneMsg, "art.omh", "art.omb", ""); }}};
}

void writeItems(const TempDir& dir) {
    writeFile(dir.file("item.omh"), "To: c@d\r\nFrom: a@b\r\n");
    writeFile(dir.file("item.omb"), "hello\r\n");
    writeFile(dir.file("art.omh"), "Newsgroups: alt.a\r\n");
    writeFile(dir.file("art.omb"), "hello\r\n");
}

size_t serverBytes(const std::vector<SS::Step>& script) {
    size_t n = 0;
    for (const auto& s : script)
        if (s.kind == SS::Kind::Send) n += s.data.size();
    return n;
}

// The script up to `cut` bytes of server output, then `end`.
std::vector<SS::Step> cutAt(const std::vector<SS::Step>& script, size_t cut, SS::Step end) {
    std::vector<SS::Step> out;
    size_t sent = 0;
    for (const auto& s : script) {
        if (s.kind == SS::Kind::Send) {
            if (sent + s.data.size() > cut) {
                if (cut > sent) out.push_back(SS::S(s.data.substr(0, cut - sent)));
                break;
            }
            sent += s.data.size();
        }
        out.push_back(s);
    }
    out.push_back(end);
    return out;
}

class Faults : public ::testing::Test {
protected:
    platform::PollLoop loop;
    LoopRunner runner = [this](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); };

    // Plays the conversation against the cut script; true when every command
    // completed.
    bool play(const Conversation& conv, std::vector<SS::Step> script, EngineSession& s) {
        SS::Options options;
        options.timeoutMs = 3000;
        SS server(std::move(script), options);
        s.open(server.host(), conv.serverType);
        bool completed = true;
        Report r = s.next();
        for (size_t i = 0; completed; ++i) {
            if (r.msg == 0 || r.isError() || r.wParam != 0 || netwire::ConnectionState() != netwire::kStateConnected) {
                completed = false;
                break;
            }
            if (i == conv.commands.size()) break;
            if (i == 0 && conv.serverType == netwire::kServerPop3) s.expectNumericCompletion();
            conv.commands[i]();
            r = s.next();
        }
        if (completed) netwire::AbortConnection();
        EXPECT_TRUE(s.settle());
        return completed;
    }

    void checkFailedCleanly(EngineSession& s, const std::string& where) {
        EXPECT_EQ(netwire::ConnectionState(), netwire::kStateIdle) << where;
        std::vector<std::string> texts = s.statusTexts();
        // Find the first error: "ready" came right before it.
        for (size_t i = 0; i < texts.size(); ++i) {
            if (texts[i].empty() || texts[i][0] != '!') continue;
            ASSERT_GT(i, 0u) << where;
            EXPECT_EQ(texts[i - 1], "ready") << where;
            return;
        }
        // A refusal of a command that keeps the connection (none here) or a
        // failed file: the completion carried the error.
        bool failedCompletion = false;
        for (const Report& r : s.window.reports) failedCompletion = failedCompletion || (r.isDone() && r.wParam == 1);
        EXPECT_TRUE(failedCompletion) << where << ": no error reported";
    }

    void closeEverywhere(const Conversation& conv) {
        TempDir dir(true);
        writeItems(dir);
        size_t total = serverBytes(conv.script);
        for (size_t cut = 0; cut < total; ++cut) {
            EngineSession s(runner);
            bool completed = play(conv, cutAt(conv.script, cut, SS::Close()), s);
            std::string where = "closed after " + std::to_string(cut) + " bytes";
            EXPECT_FALSE(completed) << where;
            checkFailedCleanly(s, where);
        }
    }

    void silenceEverywhere(const Conversation& conv) {
        TempDir dir(true);
        writeItems(dir);
        netwire::SetReplyTimeout(100);
        size_t cut = 0;
        for (const auto& step : conv.script) {
            if (step.kind != SS::Kind::Send) continue;
            for (size_t partial : {size_t{0}, step.data.size() / 2}) {
                EngineSession s(runner);
                bool completed = play(conv, cutAt(conv.script, cut + partial, SS::Hold()), s);
                std::string where = "silent after " + std::to_string(cut + partial) + " bytes";
                EXPECT_FALSE(completed) << where;
                checkFailedCleanly(s, where);
                EXPECT_EQ(s.lastError(), "server not responding") << where;
            }
            cut += step.data.size();
        }
        netwire::SetReplyTimeout(120000);
    }
};

TEST_F(Faults, Pop3ServerClosesAtEveryByte) { closeEverywhere(pop3()); }
TEST_F(Faults, SmtpServerClosesAtEveryByte) { closeEverywhere(smtp()); }
TEST_F(Faults, NntpServerClosesAtEveryByte) { closeEverywhere(nntp()); }

TEST_F(Faults, Pop3ServerFallsSilentAtEveryStep) { silenceEverywhere(pop3()); }
TEST_F(Faults, SmtpServerFallsSilentAtEveryStep) { silenceEverywhere(smtp()); }
TEST_F(Faults, NntpServerFallsSilentAtEveryStep) { silenceEverywhere(nntp()); }

TEST_F(Faults, WholeConversationsStillCompleteUncut) {
    TempDir dir(true);
    writeItems(dir);
    for (const Conversation& conv : {pop3(), smtp(), nntp()}) {
        EngineSession s(runner);
        auto script = conv.script;
        script.push_back(SS::C("QUIT\r\n"));
        EXPECT_TRUE(play(conv, script, s)) << conv.serverType;
    }
}

}  // namespace
