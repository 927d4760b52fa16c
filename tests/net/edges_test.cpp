// Edge cases of the engine and the three protocols against scripted servers.
#include "support/enginetest.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"

#include "platform/fsys.h"
#include "platform/pollloop.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace testsupport;
using SS = ScriptServer;
using Strings = std::vector<std::string>;

class Edges : public ::testing::Test {
protected:
    TempDir dir{true};
    platform::PollLoop loop;
    EngineSession s{[this](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};

    // Connects to the server and checks the greeting was accepted.
    void connect(SS& server, int type, const char* connectedText) {
        s.open(server.host(), type);
        ASSERT_EQ(s.next().text, connectedText);
    }
    void finish(SS& server) {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        EXPECT_TRUE(s.settle());
        server.finish();
        EXPECT_EQ(server.received(), server.expected());
    }
};

// Connection ----------------------------------------------------------------

TEST_F(Edges, AbortWhileIdleOnlyPostsReady) {
    SS server({SS::S("200 ok\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerNntp, "connected to nntp server");
    finish(server);
    s.window.reports.clear();
    netwire::AbortConnection();
    netwire::AbortConnection();
    EXPECT_TRUE(s.settle());
    EXPECT_EQ(s.statusTexts(), (Strings{"ready", "ready"}));
}

TEST_F(Edges, CommandsWithoutConnectionAreRefusedByName) {
    SS server({SS::S("200 ok\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerNntp, "connected to nntp server");
    finish(server);
    int32_t n;
    s.window.reports.clear();
    netwire::ListGroups(kDoneMsg, "x", n);
    netwire::GetMailItem(kDoneMsg, "h", "b", 1);
    s.settle();
    EXPECT_EQ(s.statusTexts(), (Strings{"ready", "!not connected (ListGroups)", "ready", "!not connected (GetMailItem)"}));
}

TEST_F(Edges, SecondCommandWhileOneRunsIsBusy) {
    SS server({SS::S("200 ok\r\n"), SS::C("HEAD 7\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerNntp, "connected to nntp server");
    int32_t n;
    netwire::GetHeader(kDoneMsg, "head.tmp", 7, n);
    netwire::GetBody(kDoneMsg, "body.tmp", 7, "");
    EXPECT_EQ(s.next().text, "dll busy (GetBody)");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateIdle);
    finish(server);
}

TEST_F(Edges, OpenServerWhileConnectedIsBusyAndCloses) {
    SS server({SS::S("+OK\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerPop3, "connected to pop3 server");
    s.open(server.host(), netwire::kServerPop3);
    EXPECT_EQ(s.next().text, "dll busy (OpenServer)");
    auto texts = s.statusTexts();
    EXPECT_EQ(texts.back(), "!dll busy (OpenServer)");
    EXPECT_EQ(texts[texts.size() - 2], "ready");
    finish(server);
}

TEST_F(Edges, HostNameIsLookedUpAndPortSuffixHonoured) {
    SS server({SS::S("200 hi\r\n"), SS::C("QUIT\r\n")});
    s.open("localhost:" + std::to_string(server.port()), netwire::kServerNntp);
    EXPECT_EQ(s.next().text, "connected to nntp server");
    finish(server);
}

// A name with an empty label fails inside the resolver, so no DNS query
// leaves the machine.
TEST_F(Edges, UnknownHostIsReported) {
    s.open("no..such.host", netwire::kServerPop3);
    EXPECT_EQ(s.next().text, "host unknown");
    EXPECT_TRUE(s.settle());
}

TEST_F(Edges, RefusedConnectionIsReported) {
    // A port that was just free: nothing listens on it.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    s.open("127.0.0.1:" + std::to_string(ntohs(a.sin_port)), netwire::kServerSmtp);
    std::string text = s.next().text;
    EXPECT_TRUE(text == "cannot connect to host" || text == "WSAECONNREFUSED") << text;
    EXPECT_TRUE(s.settle());
}

TEST_F(Edges, GreetingWithoutLineEndIsRefusedNotSpun) {
    SS server({SS::S(std::string(20000, 'x'))});
    s.open(server.host(), netwire::kServerPop3);
    EXPECT_EQ(s.next().text, "line too long in pop3 reply");
    EXPECT_TRUE(s.settle());
}

TEST_F(Edges, BinaryJunkGreetingIsRefused) {
    std::string junk("\x00\xff\x01\x80 junk\n\x7f", 10);
    SS nntpServer({SS::S(junk)});
    s.open(nntpServer.host(), netwire::kServerNntp);
    EXPECT_EQ(s.next().text, "cannot connect to nntp server [0]");
    s.settle();
    SS popServer({SS::S(junk)});
    s.open(popServer.host(), netwire::kServerPop3);
    EXPECT_EQ(s.next().text, "cannot connect to pop3 server");
    EXPECT_TRUE(s.settle());
    // The server's close after a refused greeting is not reported again.
    s.run(30);
    EXPECT_EQ(s.statusTexts().back(), "!cannot connect to pop3 server");
}

TEST_F(Edges, GreetingSplitAndTwoRepliesInOneRead) {
    SS::Options split;
    split.splitAt = {1, 2, 5};
    SS server({SS::S("+OK hello\r\n"), SS::C("USER u\r\n"), SS::S("+OK\r\n"), SS::C("PASS p\r\n"),
               SS::S("+OK\r\n+OK 3 4711\r\n"), SS::C("STAT\r\n"), SS::C("QUIT\r\n")},
              split);
    connect(server, netwire::kServerPop3, "connected to pop3 server");
    int32_t count = 0;
    s.expectNumericCompletion();
    netwire::OpenMailBox(kDoneMsg, "u", "p", count);
    Report r = s.next();
    EXPECT_EQ(r.lParam, 3);
    EXPECT_EQ(count, 3);
    finish(server);
}

// POP3 ----------------------------------------------------------------------

TEST_F(Edges, Pop3ReplyCaseAndStatForms) {
    SS lower({SS::S("+ok hello\r\n")});
    s.open(lower.host(), netwire::kServerPop3);
    EXPECT_EQ(s.next().text, "cannot connect to pop3 server");
    s.settle();

    for (const char* stat : {"+OK\r\n", "-ERR no\r\n"}) {
        SS server({SS::S("+OK\r\n"), SS::C("USER u\r\n"), SS::S("+OK\r\n"), SS::C("PASS p\r\n"), SS::S("+OK\r\n"),
                   SS::C("STAT\r\n"), SS::S(stat), SS::C("QUIT\r\n")});
        connect(server, netwire::kServerPop3, "connected to pop3 server");
        int32_t count = 9;
        s.expectNumericCompletion();
        netwire::OpenMailBox(kDoneMsg, "u", "p", count);
        Report r = s.next();
        EXPECT_EQ(r.wParam, 0u) << stat;
        EXPECT_EQ(r.lParam, 0) << stat;
        EXPECT_EQ(count, 0) << stat;
        finish(server);
    }
}

TEST_F(Edges, Pop3WrongPasswordIsReportedOnce) {
    SS server({SS::S("+OK\r\n"), SS::C("USER u\r\n"), SS::S("+OK\r\n"), SS::C("PASS bad\r\n"),
               SS::S("-ERR authentication failed\r\n"), SS::Close()});
    connect(server, netwire::kServerPop3, "connected to pop3 server");
    int32_t count;
    netwire::OpenMailBox(kDoneMsg, "u", "bad", count);
    EXPECT_EQ(s.next().text, "password failed");
    s.run(50);
    EXPECT_EQ(s.lastError(), "password failed");
    auto texts = s.statusTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "!connexion closed"), 0);
    finish(server);
}

TEST_F(Edges, Pop3RefusesOverlongOrMultiLineCredentials) {
    SS server({SS::S("+OK\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerPop3, "connected to pop3 server");
    int32_t count;
    netwire::OpenMailBox(kDoneMsg, "u", std::string(300, 'p'), count);
    EXPECT_EQ(s.next().text, "password too long");
    finish(server);
    SS server2({SS::S("+OK\r\n"), SS::C("QUIT\r\n")});
    connect(server2, netwire::kServerPop3, "connected to pop3 server");
    netwire::OpenMailBox(kDoneMsg, "u\r\nDELE 1", "p", count);
    EXPECT_EQ(s.next().text, "invalid user name");
    finish(server2);
}

TEST_F(Edges, Pop3RetrKeepsLongLinesAndBinaryBytesWhole) {
    std::string longLine(40000, 'L');
    std::string binary("bin\x00\xff\x80\rtail", 12);
    SS server({SS::S("+OK\r\n"), SS::C("RETR 1\r\n"),
               SS::S("+OK\r\nX-Long: " + longLine + "\r\n\r\n." + longLine + "\r\n" + binary + "\r\nend\n.\r\n"),
               SS::C("QUIT\r\n")});
    connect(server, netwire::kServerPop3, "connected to pop3 server");
    netwire::GetMailItem(kDoneMsg, "h.tmp", "b.tmp", 1);
    EXPECT_EQ(s.next().text, "mail item retrieved");
    EXPECT_EQ(readFile(dir.file("h.tmp")), "+OK\r\nX-Long: " + longLine + "\r\n");
    EXPECT_EQ(readFile(dir.file("b.tmp")), longLine + "\r\n" + binary + "\r\nend\r\n");
    finish(server);
}

TEST_F(Edges, Pop3UnwritableHeaderFileFailsOnCompletion) {
    SS server({SS::S("+OK\r\n"), SS::C("RETR 1\r\n"), SS::S("+OK\r\nSubject: x\r\n.\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerPop3, "connected to pop3 server");
    netwire::GetMailItem(kDoneMsg, "missing-dir/h.tmp", "missing-dir/b.tmp", 1);
    Report r = s.next();
    EXPECT_EQ(r.msg, kDoneMsg);
    EXPECT_EQ(r.wParam, 1u);
    EXPECT_EQ(r.text, "cannot write header file");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateIdle);
    finish(server);
}

TEST_F(Edges, Pop3RefusedMessageAndStaleBodyFile) {
    writeFile(dir.file("b.tmp"), "an older message's body\r\n");
    SS server({SS::S("+OK\r\n"), SS::C("RETR 1\r\n"), SS::S("+OK\r\nSubject: x\r\n.\r\n"), SS::C("RETR 2\r\n"),
               SS::S("-ERR no such message\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerPop3, "connected to pop3 server");
    netwire::GetMailItem(kDoneMsg, "h.tmp", "b.tmp", 1);
    EXPECT_EQ(s.next().text, "mail item retrieved");
    EXPECT_FALSE(platform::fileExists(dir.file("b.tmp")));
    netwire::GetMailItem(kDoneMsg, "h.tmp", "b.tmp", 2);
    EXPECT_EQ(s.next().text, "cannot retreive mail");
    finish(server);
}

// SMTP ----------------------------------------------------------------------

class SmtpEdges : public Edges {
protected:
    std::vector<SS::Step> upToData(const std::string& from, const Strings& rcpts) {
        std::vector<SS::Step> steps{SS::S("220 hi\r\n"), SS::C("HELO orrindel.mail\r\n"), SS::S("250 ok\r\n"),
                                    SS::C("MAIL FROM:" + from + "\r\n"), SS::S("250 ok\r\n")};
        for (const auto& r : rcpts) {
            steps.push_back(SS::C("RCPT TO:" + r + "\r\n"));
            steps.push_back(SS::S("250 ok\r\n"));
        }
        steps.push_back(SS::C("DATA\r\n"));
        steps.push_back(SS::S("354 go\r\n"));
        return steps;
    }
};

TEST_F(SmtpEdges, SignatureFollowsAttachmentMarker) {
    writeFile(dir.file("sig"), "SIG\r\n");
    writeFile(dir.file("b.omb"), "body\r\n");
    for (bool withSig : {false, true}) {
        writeFile(dir.file("h.omh"), std::string("To: x@y\r\nFrom: a@b\r\nX-Attachment: f.zip (") +
                                         (withSig ? "0" : "2") + "/2)\r\n");
        auto steps = upToData("<a@b>", {"<x@y>"});
        std::string data = "To: x@y\r\nFrom: a@b\r\nX-Attachment: f.zip (" + std::string(withSig ? "0" : "2") +
                           "/2)\r\n\r\nbody\r\n\r\n" + (withSig ? "SIG\r\n\r\n" : "") + ".\r\n";
        steps.push_back(SS::C(data));
        steps.push_back(SS::S("250 ok\r\n"));
        steps.push_back(SS::C("QUIT\r\n"));
        SS server(steps);
        connect(server, netwire::kServerSmtp, "connected to smtp server");
        netwire::SendMailItem(kDoneMsg, "h.omh", "b.omb", "sig");
        EXPECT_EQ(s.next().text, "message sent");
        finish(server);
    }
}

TEST_F(SmtpEdges, LongLinesAreSplitNotLostAndLargeBodiesStream) {
    std::string line3000;
    for (int i = 0; i < 3000; ++i) line3000 += static_cast<char>('a' + i % 26);
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "line " + std::to_string(i) + " of a long body\r\n";
    writeFile(dir.file("h.omh"), "To: x@y\r\nFrom: a@b\r\n");
    writeFile(dir.file("b.omb"), line3000 + "\r\n" + big);
    auto steps = upToData("<a@b>", {"<x@y>"});
    steps.push_back(SS::C("To: x@y\r\nFrom: a@b\r\n\r\n" + line3000.substr(0, 2047) + "\r\n" + line3000.substr(2047) +
                          "\r\n" + big + "\r\n.\r\n"));
    steps.push_back(SS::S("250 ok\r\n"));
    steps.push_back(SS::C("QUIT\r\n"));
    SS server(steps);
    connect(server, netwire::kServerSmtp, "connected to smtp server");
    netwire::SendMailItem(kDoneMsg, "h.omh", "b.omb", "");
    EXPECT_EQ(s.next().text, "message sent");
    finish(server);
}

TEST_F(SmtpEdges, RecipientListTooLongIsRefusedBeforeSending) {
    std::string to = "To: ";
    for (int i = 0; i < 150; ++i) to += "person" + std::to_string(i) + "@example.org, ";
    writeFile(dir.file("h.omh"), to + "\r\nFrom: a@b\r\n");
    writeFile(dir.file("b.omb"), "x\r\n");
    SS server({SS::S("220 hi\r\n"), SS::C("HELO orrindel.mail\r\n"), SS::S("250 ok\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerSmtp, "connected to smtp server");
    netwire::SendMailItem(kDoneMsg, "h.omh", "b.omb", "");
    EXPECT_EQ(s.next().text, "recipient list too long");
    finish(server);

    writeFile(dir.file("h.omh"), "To: <" + std::string(300, 'r') + "@x>\r\nFrom: a@b\r\n");
    SS server2({SS::S("220 hi\r\n"), SS::C("HELO orrindel.mail\r\n"), SS::S("250 ok\r\n"), SS::C("QUIT\r\n")});
    connect(server2, netwire::kServerSmtp, "connected to smtp server");
    netwire::SendMailItem(kDoneMsg, "h.omh", "b.omb", "");
    EXPECT_EQ(s.next().text, "recipient address too long");
    finish(server2);
}

TEST_F(SmtpEdges, RefusalsCloseWithTheirCode) {
    writeFile(dir.file("h.omh"), "From: a@b\r\n");  // no recipients: one empty RCPT
    writeFile(dir.file("b.omb"), "x\r\n");
    SS server({SS::S("220 hi\r\n"), SS::C("HELO orrindel.mail\r\n"), SS::S("250 ok\r\n"), SS::C("MAIL FROM:<a@b>\r\n"),
               SS::S("250 ok\r\n"), SS::C("RCPT TO:<>\r\n"), SS::S("251 forwarded\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerSmtp, "connected to smtp server");
    netwire::SendMailItem(kDoneMsg, "h.omh", "b.omb", "");
    EXPECT_EQ(s.next().text, "rcpt to: failed [251]");
    finish(server);

    SS refused({SS::S("554 go away\r\n")});
    s.open(refused.host(), netwire::kServerSmtp);
    EXPECT_EQ(s.next().text, "cannot connect to smtp server [554]");
    EXPECT_TRUE(s.settle());
}

TEST_F(SmtpEdges, MissingItemFilesAreReported) {
    SS server({SS::S("220 hi\r\n"), SS::C("HELO orrindel.mail\r\n"), SS::S("250 ok\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerSmtp, "connected to smtp server");
    netwire::SendMailItem(kDoneMsg, "nothing.omh", "nothing.omb", "");
    EXPECT_EQ(s.next().text, "cannot read header file");
    finish(server);
}

TEST_F(SmtpEdges, UnreadableBodyAbortsInsteadOfSendingACutMessage) {
    writeFile(dir.file("h.omh"), "To: x@y\r\nFrom: a@b\r\n");
    ASSERT_TRUE(platform::createDirectory(dir.file("b.omb")));  // opens, but every read fails
    auto steps = upToData("<a@b>", {"<x@y>"});
    steps.push_back(SS::Hold());
    SS server(steps);
    connect(server, netwire::kServerSmtp, "connected to smtp server");
    netwire::SendMailItem(kDoneMsg, "h.omh", "b.omb", "");
    EXPECT_EQ(s.next().text, "cannot read file");
    EXPECT_TRUE(s.settle());
    server.finish();
    EXPECT_EQ(server.received().find("\r\n.\r\n"), std::string::npos) << server.received();
}

// NNTP ----------------------------------------------------------------------

TEST_F(Edges, NntpRefusedArticleKeepsConnection) {
    SS server({SS::S("201-first\r\n201 no posting\r\n"), SS::C("HEAD 9\r\n"), SS::S("423 no such article\r\n"),
               SS::C("HEAD\r\n"), SS::S("221 4 <cur@x>\r\nA: b\r\n.\r\n"), SS::C("NEXT\r\n"),
               SS::S("421 no next\r\n"), SS::C("BODY <m@x>\r\n"), SS::S("430 gone\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerNntp, "connected to nntp server");
    int32_t number = 0;
    netwire::GetHeader(kDoneMsg, "h.tmp", 9, number);
    Report r = s.next();
    EXPECT_EQ(r.wParam, 1u);
    EXPECT_EQ(r.text, "header not available [423]");
    EXPECT_EQ(number, -1);
    netwire::GetHeader(kDoneMsg, "h.tmp", -1, number);
    EXPECT_EQ(s.next().text, "header retrieved");
    EXPECT_EQ(number, 4);
    netwire::NextHeader(kDoneMsg, number);
    EXPECT_EQ(s.next().text, "no next header [421]");
    EXPECT_EQ(number, -1);
    netwire::GetBody(kDoneMsg, "b.tmp", -1, "<m@x>");
    EXPECT_EQ(s.next().text, "body not available [430]");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateConnected);
    finish(server);
}

TEST_F(Edges, NntpDatesAndMissingDateFile) {
    SS server({SS::S("200 ok\r\n"), SS::C("NEWGROUPS 991231 120000\r\n"), SS::S("231 none\r\n.\r\n"), SS::C("DATE\r\n"),
               SS::S("111 19991231235959\r\n"), SS::C("DATE\r\n"), SS::S("111 991231235959\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerNntp, "connected to nntp server");
    int32_t count = 5;
    netwire::ListNewGroups(kDoneMsg, "NEWGRP.LST", "no-such-date-file", count);
    EXPECT_EQ(s.next().text, "0 new newsgroups listed");
    EXPECT_EQ(count, 0);
    netwire::NewsDate(kDoneMsg, "NEWS.DAT");
    EXPECT_EQ(s.next().text, "got news server date");
    EXPECT_EQ(readFile(dir.file("NEWS.DAT")), "991231235959\r\n");
    netwire::NewsDate(kDoneMsg, "NEWS.DAT");
    EXPECT_EQ(s.next().text, "got news server date");
    EXPECT_EQ(readFile(dir.file("NEWS.DAT")), "991231235959\r\n");
    finish(server);
}

TEST_F(Edges, NntpPostRefusals) {
    writeFile(dir.file("a.omh"), "Newsgroups: x\r\n");
    writeFile(dir.file("a.omb"), "hi\r\n");
    SS server({SS::S("200 ok\r\n"), SS::C("POST\r\n"), SS::S("440 no posting\r\n"), SS::C("POST\r\n"),
               SS::S("340 go\r\n"), SS::C("Newsgroups: x\r\n\r\nhi\r\n\r\n.\r\n"), SS::S("441 rejected\r\n"),
               SS::C("QUIT\r\n")});
    connect(server, netwire::kServerNntp, "connected to nntp server");
    netwire::PostItem(kDoneMsg, "a.omh", "a.omb", "");
    Report r = s.next();
    EXPECT_EQ(r.wParam, 1u);
    EXPECT_EQ(r.text, "posting failed [440]");
    netwire::PostItem(kDoneMsg, "a.omh", "a.omb", "");
    r = s.next();
    EXPECT_TRUE(r.isError());
    EXPECT_EQ(r.text, "posting failed [441]");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateConnected);
    finish(server);
}

TEST_F(Edges, NntpRefusesCommandInjection) {
    SS server({SS::S("200 ok\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerNntp, "connected to nntp server");
    netwire::GetBody(kDoneMsg, "b.tmp", -1, "<x@y>\r\nPOST");
    EXPECT_EQ(s.next().text, "invalid message id");
    finish(server);
    SS server2({SS::S("200 ok\r\n"), SS::C("QUIT\r\n")});
    connect(server2, netwire::kServerNntp, "connected to nntp server");
    int32_t a, b, c;
    netwire::OpenGroup(kDoneMsg, std::string(300, 'g'), a, b, c);
    EXPECT_EQ(s.next().text, "newsgroup name too long");
    finish(server2);
}

TEST_F(Edges, NntpUnwritableListFileClosesConnection) {
    SS server({SS::S("200 ok\r\n"), SS::C("LIST\r\n"), SS::S("215 ok\r\na 1 1 y\r\n.\r\n"), SS::C("QUIT\r\n")});
    connect(server, netwire::kServerNntp, "connected to nntp server");
    int32_t count;
    netwire::ListGroups(kDoneMsg, "missing-dir/GROUP.LST", count);
    EXPECT_EQ(s.next().text, "cannot write newsgroups file");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateIdle);
    finish(server);
}

}  // namespace
