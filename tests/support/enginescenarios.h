// Whole conversations of the protocol engine with a scripted server, shared
// by the tests on the poll loop and on the Qt backend: a POP3 retrieval, an
// SMTP send to three recipients and an NNTP session. Each checks the wire
// bytes, the files written and the reports.
#pragma once

#include "support/enginetest.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"
#include "support/testcerts.h"
#include "support/tlsserver.h"

#include "platform/fsys.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace testsupport {

using SS = ScriptServer;

inline void pop3RetrievalScenario(EngineSession& s, const ScriptServer::Options& options) {
    TempDir dir(true);
    ScriptServer server({SS::S("+OK POP3 ready <1.2@x>\r\n"),
                         SS::C("USER joe\r\n"), SS::S("+OK\r\n"),
                         SS::C("PASS secret\r\n"), SS::S("+OK logged in\r\n"),
                         SS::C("STAT\r\n"), SS::S("+OK 2 320\r\n"),
                         SS::C("RETR 1\r\n"),
                         SS::S("+OK 120 octets\r\nFrom: a@b\r\nSubject: hi\r\n..dotted header\r\n\r\n"
                               "body line\r\n..starts with dot\r\nlf only\n\r\n.\r\n"),
                         SS::C("RETR 2\r\n"), SS::S("+OK\r\nSubject: none\r\n.\r\n"),
                         SS::C("DELE 1\r\n"), SS::S("+OK\r\n"),
                         SS::C("DELE 2\r\n"), SS::S("+OK deleted\r\n"),
                         SS::C("QUIT\r\n")},
                        options);
    s.open(server.host(), netwire::kServerPop3);
    Report r = s.next();
    EXPECT_EQ(r.text, "connected to pop3 server");
    EXPECT_EQ(r.wParam, 0u);

    int32_t count = -1;
    s.expectNumericCompletion();
    netwire::OpenMailBox(kDoneMsg, "joe", "secret", count);
    r = s.next();
    EXPECT_EQ(r.msg, kDoneMsg);
    EXPECT_EQ(r.lParam, 2);
    EXPECT_EQ(count, 2);

    netwire::GetMailItem(kDoneMsg, "head1.tmp", "body1.tmp", 1);
    EXPECT_EQ(s.next().text, "mail item retrieved");
    EXPECT_EQ(readFile(dir.file("head1.tmp")), "+OK 120 octets\r\nFrom: a@b\r\nSubject: hi\r\n.dotted header\r\n");
    EXPECT_EQ(readFile(dir.file("body1.tmp")), "body line\r\n.starts with dot\r\nlf only\r\n\r\n");

    netwire::GetMailItem(kDoneMsg, "head2.tmp", "body2.tmp", 2);
    EXPECT_EQ(s.next().text, "mail item retrieved");
    EXPECT_EQ(readFile(dir.file("head2.tmp")), "+OK\r\nSubject: none\r\n");
    EXPECT_FALSE(platform::fileExists(dir.file("body2.tmp")));

    netwire::DeleteMailItem(kDoneMsg, 1);
    EXPECT_EQ(s.next().text, "mail item deleted");
    netwire::DeleteMailItem(kDoneMsg, 2);
    EXPECT_EQ(s.next().text, "mail item deleted");
    netwire::AbortConnection();
    EXPECT_TRUE(s.settle());
    EXPECT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(s.statusTexts(),
              (std::vector<std::string>{"looking up host...", "connecting to host...",
                                        "logging on to pop3 server...", "retrieving mail item 1",
                                        "retrieving mail item 2", "deleting mail item 1",
                                        "deleting mail item 2", "ready"}));
}

inline void smtpThreeRecipientsScenario(EngineSession& s, const ScriptServer::Options& options) {
    TempDir dir(true);
    writeFile(dir.file("item.omh"),
              "To: a@x.org, Bee <b@y.org>\r\nCc: c@z.org\r\nFrom: Me <me@here.org>\r\nSubject: test\r\n"
              "Message-Id: <1@here.org>\r\nX-Attachment: none (0)\r\n");
    writeFile(dir.file("item.omb"), "line one\r\n.dot line\r\n\r\nlast line without newline");
    writeFile(dir.file("sig.txt"), "-- \r\nMe\r\n");
    std::string data =
        "To: a@x.org, Bee <b@y.org>\r\nCc: c@z.org\r\nFrom: Me <me@here.org>\r\nSubject: test\r\n"
        "Message-Id: <1@here.org>\r\nX-Attachment: none (0)\r\n\r\n"
        "line one\r\n..dot line\r\n\r\nlast line without newline\r\n"
        "-- \r\nMe\r\n\r\n.\r\n";
    ScriptServer server({SS::S("220-smtp.example ESMTP\r\n220 ready\r\n"),
                         SS::C("HELO orrindel.mail\r\n"), SS::S("250 hello\r\n"),
                         SS::C("MAIL FROM:<me@here.org>\r\n"), SS::S("250 ok\r\n"),
                         SS::C("RCPT TO:<a@x.org>\r\n"), SS::S("250 ok\r\n"),
                         SS::C("RCPT TO:<b@y.org>\r\n"), SS::S("250-fine\r\n250 ok\r\n"),
                         SS::C("RCPT TO:<c@z.org>\r\n"), SS::S("250 ok\r\n"),
                         SS::C("DATA\r\n"), SS::S("354 go ahead\r\n"),
                         SS::C(data), SS::S("250 queued\r\n"),
                         SS::C("QUIT\r\n")},
                        options);
    s.open(server.host(), netwire::kServerSmtp);
    EXPECT_EQ(s.next().text, "connected to smtp server");
    netwire::SendMailItem(kDoneMsg, "item.omh", "item.omb", "sig.txt");
    Report r = s.next();
    EXPECT_EQ(r.text, "message sent");
    EXPECT_EQ(r.wParam, 0u);
    netwire::AbortConnection();
    EXPECT_TRUE(s.settle());
    EXPECT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    auto texts = s.statusTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "sending message <1@here.org>"), texts.end());
}

inline void nntpSessionScenario(EngineSession& s, const ScriptServer::Options& options) {
    TempDir dir(true);
    writeFile(dir.file("art.omh"), "Newsgroups: alt.test\r\nFrom: me@here.org\r\nSubject: hello\r\n"
                                   "Message-Id: <p1@here.org>\r\n");
    writeFile(dir.file("art.omb"), "text\r\n.\r\nend\r\n");
    ScriptServer server(
        {SS::S("200 news ready\r\n"),
         SS::C("LIST\r\n"),
         SS::S("215 list follows\r\nComp.Lang.C 0000000010 0000000001 y\r\nalt.test 5 1 y\r\n_junk 1 1 y\r\n"
               "..dotted 1 1 y\r\n.\r\n"),
         SS::C("DATE\r\n"), SS::S("111 20261207221500\r\n"),
         SS::C("NEWGROUPS 261207 221500\r\n"), SS::S("231 new groups\r\nnew.group 1 1 y\r\n.\r\n"),
         SS::C("GROUP alt.test\r\n"), SS::S("211 5 1 5 alt.test\r\n"),
         SS::C("HEAD 1\r\n"), SS::S("221 1 <a1@x> head\r\nFrom: x\r\n.. dropped\r\nSubject: s\r\n.\r\n"),
         SS::C("NEXT\r\n"), SS::S("223 2 <a2@x> next\r\n"),
         SS::C("BODY 2\r\n"), SS::S("222 2 <a2@x> body\r\nline\r\n..dot\r\n.\r\n"),
         SS::C("BODY <a1@x>\r\n"), SS::S("222 1 <a1@x> body\r\nb1\r\n.\r\n"),
         SS::C("POST\r\n"), SS::S("340 send article\r\n"),
         SS::C("Newsgroups: alt.test\r\nFrom: me@here.org\r\nSubject: hello\r\nMessage-Id: <p1@here.org>\r\n"
               "\r\ntext\r\n..\r\nend\r\n\r\n.\r\n"),
         SS::S("240 article posted\r\n"),
         SS::C("QUIT\r\n")},
        options);
    s.open(server.host(), netwire::kServerNntp);
    EXPECT_EQ(s.next().text, "connected to nntp server");

    int32_t count = -1;
    netwire::ListGroups(kDoneMsg, "GROUP.LST", count);
    EXPECT_EQ(s.next().text, "2 newsgroups listed");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(readFile(dir.file("GROUP.LST")), "comp.lang.c\r\nalt.test\r\n");

    netwire::NewsDate(kDoneMsg, "NEWS.DAT");
    EXPECT_EQ(s.next().text, "got news server date");
    EXPECT_EQ(readFile(dir.file("NEWS.DAT")), "261207221500\r\n");

    netwire::ListNewGroups(kDoneMsg, "NEWGRP.LST", "NEWS.DAT", count);
    EXPECT_EQ(s.next().text, "1 new newsgroups listed");
    EXPECT_EQ(readFile(dir.file("NEWGRP.LST")), "new.group\r\n");

    int32_t articles = 0, first = 0, last = 0;
    netwire::OpenGroup(kDoneMsg, "alt.test", articles, first, last);
    EXPECT_EQ(s.next().text, "newsgroup open");
    EXPECT_EQ(articles, 5);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 5);

    int32_t number = 0;
    netwire::GetHeader(kDoneMsg, "head.tmp", 1, number);
    EXPECT_EQ(s.next().text, "header retrieved");
    EXPECT_EQ(number, 1);
    EXPECT_EQ(readFile(dir.file("head.tmp")), "221 1 <a1@x> head\r\nFrom: x\r\nSubject: s\r\n");

    netwire::NextHeader(kDoneMsg, number);
    EXPECT_EQ(s.next().text, "next query completed");
    EXPECT_EQ(number, 2);

    netwire::GetBody(kDoneMsg, "body.tmp", 2, "");
    EXPECT_EQ(s.next().text, "body retrieved");
    EXPECT_EQ(readFile(dir.file("body.tmp")), "line\r\n.dot\r\n");
    netwire::GetBody(kDoneMsg, "body2.tmp", -1, "<a1@x>");
    EXPECT_EQ(s.next().text, "body retrieved");
    EXPECT_EQ(readFile(dir.file("body2.tmp")), "b1\r\n");

    netwire::PostItem(kDoneMsg, "art.omh", "art.omb", "");
    EXPECT_EQ(s.next().text, "article posted");
    netwire::AbortConnection();
    EXPECT_TRUE(s.settle());
    EXPECT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
}

// TLS under whichever loop runs the engine: a large message retrieved over
// TLS from the first byte, and a large item sent after STARTTLS and a login,
// so that both directions meet a full socket in the middle of TLS records.
inline void tlsScenario(EngineSession& s) {
    TempDir dir(true);
    TestCa ca(dir.path());
    CertFiles cert = ca.issue("server", "mail.test");
    netwire::SetCertificateAuthorities(ca.caFile());
    TlsScriptServer::Options options;
    options.cert = cert.cert;
    options.key = cert.key;

    std::string body;
    for (int i = 0; body.size() < 1500000; ++i)
        body += "line " + std::to_string(i) + " " + std::string(90, 'a' + i % 26) + "\r\n";
    {
        TlsScriptServer server({SS::S("+OK ready\r\n"), SS::C("USER joe\r\n"), SS::S("+OK\r\n"),
                                SS::C("PASS secret\r\n"), SS::S("+OK\r\n"), SS::C("STAT\r\n"),
                                SS::S("+OK 1 9\r\n"), SS::C("RETR 1\r\n"),
                                SS::S("+OK\r\nSubject: big\r\n\r\n" + body + ".\r\n"), SS::C("QUIT\r\n")},
                               options);
        netwire::ServerOptions tls;
        tls.security = netwire::kSecurityTls;
        netwire::OpenServer(&s.window, kSocketMsg, kDoneMsg, kStatusMsg, server.host(), netwire::kServerPop3, tls);
        EXPECT_EQ(s.next().text, "connected to pop3 server");
        int32_t count = 0;
        s.expectNumericCompletion();
        netwire::OpenMailBox(kDoneMsg, "joe", "secret", count);
        EXPECT_EQ(s.next().lParam, 1);
        netwire::GetMailItem(kDoneMsg, "h.tmp", "b.tmp", 1);
        EXPECT_EQ(s.next(30000).text, "mail item retrieved");
        EXPECT_TRUE(readFile(dir.file("b.tmp")) == body);
        netwire::AbortConnection();
        EXPECT_TRUE(s.settle());
        EXPECT_TRUE(server.finish()) << server.error();
        EXPECT_EQ(server.received(), server.expected());
    }
    {
        writeFile(dir.file("item.omh"), "To: a@x.org\r\nFrom: me@here.org\r\nMessage-Id: <t@here.org>\r\n");
        writeFile(dir.file("item.omb"), body);
        std::string data = "To: a@x.org\r\nFrom: me@here.org\r\nMessage-Id: <t@here.org>\r\n\r\n" + body + "\r\n.\r\n";
        options.plain = {SS::S("220 hi\r\n"), SS::C("EHLO orrindel.mail\r\n"), SS::S("250-x\r\n250 STARTTLS\r\n"),
                         SS::C("STARTTLS\r\n"), SS::S("220 go\r\n")};
        TlsScriptServer server({SS::C("EHLO orrindel.mail\r\n"), SS::S("250-x\r\n250 AUTH PLAIN\r\n"),
                                SS::C("AUTH PLAIN AGpvZQBzZWNyZXQ=\r\n"), SS::S("235 ok\r\n"),
                                SS::C("MAIL FROM:<me@here.org>\r\n"), SS::S("250 ok\r\n"),
                                SS::C("RCPT TO:<a@x.org>\r\n"), SS::S("250 ok\r\n"), SS::C("DATA\r\n"),
                                SS::S("354 go\r\n"), SS::C(data), SS::S("250 queued\r\n"), SS::C("QUIT\r\n")},
                               options);
        netwire::ServerOptions login;
        login.security = netwire::kSecurityStartTls;
        login.user = "joe";
        login.password = "secret";
        netwire::OpenServer(&s.window, kSocketMsg, kDoneMsg, kStatusMsg, server.host(), netwire::kServerSmtp, login);
        EXPECT_EQ(s.next().text, "connected to smtp server");
        netwire::SendMailItem(kDoneMsg, "item.omh", "item.omb", "");
        EXPECT_EQ(s.next(30000).text, "message sent");
        netwire::AbortConnection();
        EXPECT_TRUE(s.settle());
        EXPECT_TRUE(server.finish()) << server.error();
        EXPECT_TRUE(server.received() == server.expected());
    }
    netwire::SetCertificateAuthorities("");
}

}  // namespace testsupport
