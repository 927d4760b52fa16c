// TLS, STARTTLS and logins against scripted servers: the bytes each side
// sees, certificates refused for each reason and accepted once the user
// trusted them, and no credential on the wire whenever TLS was asked for and
// did not come about.
#include "support/enginetest.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"
#include "support/testcerts.h"
#include "support/tlsserver.h"

#include "platform/fsys.h"
#include "platform/pollloop.h"

#include <sys/stat.h>

namespace {

using namespace testsupport;
using SS = ScriptServer;
using TS = TlsScriptServer;

class Tls : public ::testing::Test {
protected:
    void SetUp() override { netwire::SetCertificateAuthorities(ca.caFile()); }
    void TearDown() override {
        netwire::SetCertificateAuthorities("");
        netwire::SetTrustFile("");
    }

    TS::Options tlsOptions(const CertFiles& cert, std::vector<SS::Step> plain = {}) {
        TS::Options o;
        o.cert = cert.cert;
        o.key = cert.key;
        o.plain = std::move(plain);
        o.timeoutMs = 3000;
        return o;
    }

    void open(const std::string& host, int type, int security, const std::string& user = "",
              const std::string& password = "") {
        netwire::ServerOptions o;
        o.security = security;
        o.user = user;
        o.password = password;
        netwire::OpenServer(&session.window, kSocketMsg, kDoneMsg, kStatusMsg, host, type, o);
    }

    // What the client must never have sent when TLS did not come about.
    static void expectNoCredential(const std::string& bytes, const std::string& where) {
        for (const char* word : {"USER", "PASS", "AUTH", "secret"})
            EXPECT_EQ(bytes.find(word), std::string::npos) << where << ": " << word << " on the wire";
    }

    TempDir dir{true};
    TestCa ca{dir.path()};
    CertFiles good = ca.issue("good", "mail.test");
    platform::PollLoop loop;
    EngineSession session{[this](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};
};

TEST_F(Tls, ImplicitPop3RetrievesALargeMessageThroughTls) {
    std::string body;
    for (int i = 0; i < 3000; ++i) body += "line " + std::to_string(i) + " of a message that spans many TLS records\r\n";
    body += "..dot\r\n";
    TS server({SS::S("+OK ready\r\n"), SS::C("USER joe\r\n"), SS::S("+OK\r\n"), SS::C("PASS secret\r\n"),
               SS::S("+OK\r\n"), SS::C("STAT\r\n"), SS::S("+OK 1 9\r\n"), SS::C("RETR 1\r\n"),
               SS::S("+OK\r\nSubject: big\r\n\r\n" + body + ".\r\n"), SS::C("QUIT\r\n")},
              tlsOptions(good));
    open(server.host(), netwire::kServerPop3, netwire::kSecurityTls);
    EXPECT_EQ(session.next().text, "connected to pop3 server");
    int32_t count = 0;
    session.expectNumericCompletion();
    netwire::OpenMailBox(kDoneMsg, "joe", "secret", count);
    EXPECT_EQ(session.next().lParam, 1);
    netwire::GetMailItem(kDoneMsg, "h.tmp", "b.tmp", 1);
    EXPECT_EQ(session.next().text, "mail item retrieved");
    body.replace(body.size() - 7, 7, ".dot\r\n");
    EXPECT_EQ(readFile(dir.file("b.tmp")), body);
    netwire::AbortConnection();
    EXPECT_TRUE(session.settle());
    EXPECT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());
    EXPECT_EQ(session.statusTexts()[2], "starting tls...");
}

TEST_F(Tls, StartTlsOnEachProtocolAndTheLoginsThatFollow) {
    {  // POP3: STLS before anything else; the logon comes over TLS.
        TS server({SS::C("USER joe\r\n"), SS::S("+OK\r\n"), SS::C("PASS secret\r\n"), SS::S("+OK\r\n"),
                   SS::C("STAT\r\n"), SS::S("+OK 0 0\r\n"), SS::C("QUIT\r\n")},
                  tlsOptions(good, {SS::S("+OK hi\r\n"), SS::C("STLS\r\n"), SS::S("+OK begin\r\n")}));
        open(server.host(), netwire::kServerPop3, netwire::kSecurityStartTls);
        EXPECT_EQ(session.next().text, "connected to pop3 server");
        int32_t count = -1;
        session.expectNumericCompletion();
        netwire::OpenMailBox(kDoneMsg, "joe", "secret", count);
        EXPECT_EQ(session.next().msg, kDoneMsg);
        netwire::AbortConnection();
        EXPECT_TRUE(session.settle());
        EXPECT_TRUE(server.finish()) << server.error();
        EXPECT_EQ(server.received(), server.expected());
    }
    {  // SMTP: EHLO, STARTTLS, EHLO again over TLS, AUTH PLAIN.
        TS server({SS::C("EHLO orrindel.mail\r\n"), SS::S("250-x\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n"),
                   SS::C("AUTH PLAIN AGpvZQBzZWNyZXQ=\r\n"), SS::S("235 ok\r\n"), SS::C("QUIT\r\n")},
                  tlsOptions(good, {SS::S("220 hi\r\n"), SS::C("EHLO orrindel.mail\r\n"),
                                    SS::S("250-x\r\n250-STARTTLS\r\n250 SIZE 100\r\n"), SS::C("STARTTLS\r\n"),
                                    SS::S("220 go\r\n")}));
        open(server.host(), netwire::kServerSmtp, netwire::kSecurityStartTls, "joe", "secret");
        EXPECT_EQ(session.next().text, "connected to smtp server");
        netwire::AbortConnection();
        EXPECT_TRUE(session.settle());
        EXPECT_TRUE(server.finish()) << server.error();
        EXPECT_EQ(server.received(), server.expected());
    }
    {  // SMTP: AUTH LOGIN when PLAIN is not offered; a refused password gives the server's code.
        TS server({SS::S("220 hi\r\n"), SS::C("EHLO orrindel.mail\r\n"), SS::S("250-x\r\n250 AUTH LOGIN\r\n"),
                   SS::C("AUTH LOGIN\r\n"), SS::S("334 VXNlcm5hbWU6\r\n"), SS::C("am9l\r\n"),
                   SS::S("334 UGFzc3dvcmQ6\r\n"), SS::C("c2VjcmV0\r\n"), SS::S("535 no\r\n"), SS::C("QUIT\r\n")},
                  tlsOptions(good));
        open(server.host(), netwire::kServerSmtp, netwire::kSecurityTls, "joe", "secret");
        EXPECT_EQ(session.next().text, "smtp authentication failed [535]");
        EXPECT_TRUE(session.settle());
        EXPECT_TRUE(server.finish()) << server.error();
        EXPECT_EQ(server.received(), server.expected());
    }
    {  // NNTP: STARTTLS, then AUTHINFO USER and PASS.
        TS server({SS::C("AUTHINFO USER joe\r\n"), SS::S("381 more\r\n"), SS::C("AUTHINFO PASS secret\r\n"),
                   SS::S("281 ok\r\n"), SS::C("QUIT\r\n")},
                  tlsOptions(good, {SS::S("200 hi\r\n"), SS::C("STARTTLS\r\n"), SS::S("382 go\r\n")}));
        open(server.host(), netwire::kServerNntp, netwire::kSecurityStartTls, "joe", "secret");
        EXPECT_EQ(session.next().text, "connected to nntp server");
        netwire::AbortConnection();
        EXPECT_TRUE(session.settle());
        EXPECT_TRUE(server.finish()) << server.error();
        EXPECT_EQ(server.received(), server.expected());
    }
}

TEST_F(Tls, NntpLogsOnWithAUserAndReports480WithoutOne) {
    // With a user the login comes right after the greeting; a wrong
    // password ends the connection with the server's code.
    SS server({SS::S("200 hi\r\n"), SS::C("AUTHINFO USER joe\r\n"), SS::S("381 more\r\n"),
               SS::C("AUTHINFO PASS secret\r\n"), SS::S("481 rejected\r\n"), SS::C("QUIT\r\n")});
    open(server.host(), netwire::kServerNntp, netwire::kSecurityNone, "joe", "secret");
    EXPECT_EQ(session.next().text, "nntp authentication failed [481]");
    EXPECT_TRUE(session.settle());
    EXPECT_TRUE(server.finish()) << server.error();
    EXPECT_EQ(server.received(), server.expected());

    // Without one the server's 480 is the end, with a text that says why.
    SS bare({SS::S("200 hi\r\n"), SS::C("GROUP alt.a\r\n"), SS::S("480 login first\r\n"), SS::C("QUIT\r\n")});
    session.open(bare.host(), netwire::kServerNntp);
    EXPECT_EQ(session.next().text, "connected to nntp server");
    int32_t count = 0, first = 0, last = 0;
    netwire::OpenGroup(kDoneMsg, "alt.a", count, first, last);
    EXPECT_EQ(session.next().text, "nntp server asks for authentication [480]");
    EXPECT_TRUE(session.settle());
    EXPECT_TRUE(bare.finish()) << bare.error();
    EXPECT_EQ(bare.received(), bare.expected());
}

TEST_F(Tls, StartTlsNotOfferedOrRefusedEndsBeforeAnyCredential) {
    struct Case {
        int type;
        std::vector<SS::Step> script;
        std::string error;
    };
    std::vector<Case> cases = {
        {netwire::kServerPop3, {SS::S("+OK hi\r\n"), SS::C("STLS\r\n"), SS::S("-ERR unknown command\r\n"),
                                SS::C("QUIT\r\n")}, "pop3 server refused STLS"},
        {netwire::kServerSmtp, {SS::S("220 hi\r\n"), SS::C("EHLO orrindel.mail\r\n"),
                                SS::S("250-x\r\n250 AUTH PLAIN LOGIN\r\n"), SS::C("QUIT\r\n")},
         "smtp server does not offer STARTTLS"},
        {netwire::kServerSmtp, {SS::S("220 hi\r\n"), SS::C("EHLO orrindel.mail\r\n"),
                                SS::S("250-x\r\n250 STARTTLS\r\n"), SS::C("STARTTLS\r\n"), SS::S("454 not now\r\n"),
                                SS::C("QUIT\r\n")}, "smtp server refused STARTTLS [454]"},
        {netwire::kServerNntp, {SS::S("200 hi\r\n"), SS::C("STARTTLS\r\n"), SS::S("502 no\r\n"), SS::C("QUIT\r\n")},
         "nntp server refused STARTTLS [502]"},
        // Bytes behind the go-ahead were not sent by the server TLS would verify.
        {netwire::kServerPop3, {SS::S("+OK hi\r\n"), SS::C("STLS\r\n"), SS::S("+OK go\r\n+OK injected\r\n"),
                                SS::C("QUIT\r\n")}, "unexpected data after pop3 STARTTLS reply"},
    };
    for (const Case& c : cases) {
        SS::Options options;
        options.joinReplies = true;
        SS server(c.script, options);
        open(server.host(), c.type, netwire::kSecurityStartTls, "joe", "secret");
        EXPECT_EQ(session.next().text, c.error);
        EXPECT_TRUE(session.settle());
        EXPECT_EQ(netwire::ConnectionState(), netwire::kStateIdle);
        int32_t count = 0;
        netwire::OpenMailBox(kDoneMsg, "joe", "secret", count);
        EXPECT_EQ(session.next().text, "not connected (OpenMailBox)");
        EXPECT_TRUE(session.settle());
        server.finish();
        EXPECT_EQ(server.received(), server.expected()) << c.error;
        expectNoCredential(server.received(), c.error);
    }
}

TEST_F(Tls, HandshakeCutAtEveryByteSendsNoCredential) {
    // SMTP with a user: the engine itself would send AUTH as soon as TLS is on.
    std::vector<SS::Step> plain = {SS::S("220 hi\r\n"), SS::C("EHLO orrindel.mail\r\n"),
                                   SS::S("250-x\r\n250 STARTTLS\r\n"), SS::C("STARTTLS\r\n"), SS::S("220 go\r\n")};
    std::vector<SS::Step> script = {SS::C("EHLO orrindel.mail\r\n"), SS::S("250-x\r\n250 AUTH PLAIN\r\n"),
                                    SS::C("AUTH PLAIN AGpvZQBzZWNyZXQ=\r\n"), SS::S("235 ok\r\n")};
    long flight = 0;
    {
        TS whole(script, tlsOptions(good, plain));
        open(whole.host(), netwire::kServerSmtp, netwire::kSecurityStartTls, "joe", "secret");
        ASSERT_EQ(session.next().text, "connected to smtp server");
        flight = whole.handshakeBytes();
        netwire::AbortConnection();
        EXPECT_TRUE(session.settle());
    }
    ASSERT_GT(flight, 100);
    // Every cut short of the server's whole handshake. Its signature is a
    // few bytes longer or shorter from one connection to the next, so near
    // the end a connection may have had all of its handshake: it then ends
    // at the EHLO that followed, still before AUTH.
    constexpr long kSignatureSlack = 8;
    for (long cut = 0; cut < flight; ++cut) {
        TS::Options o = tlsOptions(good, plain);
        o.cutAt = cut;
        TS server(script, o);
        open(server.host(), netwire::kServerSmtp, netwire::kSecurityStartTls, "joe", "secret");
        Report r = session.next();
        std::string where = "cut at " + std::to_string(cut);
        EXPECT_TRUE(r.isError()) << where << ": " << r.text;
        // (or, when the server closed with the client's next bytes unread,
        // at a reset)
        bool whole = cut >= flight - kSignatureSlack && (r.text == "connexion closed" || r.text == "WSAECONNRESET");
        if (!whole) {
            EXPECT_EQ(r.text.rfind("tls handshake failed", 0), 0u) << where << ": " << r.text;
        }
        EXPECT_TRUE(session.settle()) << where;
        server.finish();
        expectNoCredential(server.received() + server.rawReceived(), where);
        EXPECT_EQ(server.received(), "EHLO orrindel.mail\r\nSTARTTLS\r\n") << where;
    }
}

TEST_F(Tls, CertificatesRefusedForEachReasonAndTrustedByTheUser) {
    std::string trustFile = dir.file("trusted.txt");
    netwire::SetTrustFile(trustFile);
    auto attempt = [&](const CertFiles& cert, const std::string& host) {
        TS server({SS::S("+OK hi\r\n"), SS::C("QUIT\r\n")}, tlsOptions(cert));
        open(host + ":" + std::to_string(server.port()), netwire::kServerPop3, netwire::kSecurityTls);
        std::string text = session.next().text;
        if (netwire::ConnectionState() == netwire::kStateConnected) netwire::AbortConnection();
        EXPECT_TRUE(session.settle());
        server.finish();
        return text;
    };
    std::string host, fingerprint;

    CertFiles selfSigned = ca.issue("self", "mail.test", -1, 30, true);
    EXPECT_EQ(attempt(selfSigned, "127.0.0.1"), "certificate not trusted (SHA-256 " + selfSigned.fingerprint + ")");
    EXPECT_EQ(netwire::LastCertificateProblem(host, fingerprint), netwire::kCertificateNotTrusted);
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(fingerprint, selfSigned.fingerprint);

    EXPECT_EQ(netwire::TrustCertificate(host, fingerprint), 0);
    struct stat st{};
    ASSERT_EQ(::stat(trustFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(attempt(selfSigned, "127.0.0.1"), "connected to pop3 server");
    EXPECT_EQ(netwire::LastCertificateProblem(host, fingerprint), netwire::kCertificateOk);
    // Trusted for that host only.
    EXPECT_EQ(attempt(selfSigned, "localhost"), "certificate not trusted (SHA-256 " + selfSigned.fingerprint + ")");

    // The same host with another certificate asks again.
    CertFiles changed = ca.issue("changed", "mail.test", -1, 30, true);
    EXPECT_EQ(attempt(changed, "127.0.0.1"), "certificate not trusted (SHA-256 " + changed.fingerprint + ")");
    EXPECT_EQ(netwire::LastCertificateProblem(host, fingerprint), netwire::kCertificateNotTrusted);
    EXPECT_EQ(fingerprint, changed.fingerprint);

    CertFiles expired = ca.issue("expired", "mail.test", -60, -1);
    EXPECT_EQ(attempt(expired, "127.0.0.1"), "certificate expired (SHA-256 " + expired.fingerprint + ")");
    CertFiles early = ca.issue("early", "mail.test", 2, 30);
    EXPECT_EQ(attempt(early, "127.0.0.1"), "certificate not yet valid (SHA-256 " + early.fingerprint + ")");
    CertFiles other = ca.issue("other", "other.test", -1, 30, false, false);
    EXPECT_EQ(attempt(other, "127.0.0.1"), "certificate is for another host (SHA-256 " + other.fingerprint + ")");
    EXPECT_EQ(netwire::LastCertificateProblem(host, fingerprint), netwire::kCertificateOtherHost);
    // A name is checked as a name.
    CertFiles named = ca.issue("named", "localhost", -1, 30, false, false);
    EXPECT_EQ(attempt(named, "localhost"), "connected to pop3 server");

    // Without the test's authority even a well-made certificate is unknown.
    netwire::SetCertificateAuthorities("");
    EXPECT_EQ(attempt(good, "127.0.0.1"), "certificate not trusted (SHA-256 " + good.fingerprint + ")");

    EXPECT_EQ(netwire::TrustCertificate("127.0.0.1", "not a fingerprint"), 3);
    netwire::SetTrustFile("");
    EXPECT_EQ(netwire::TrustCertificate("127.0.0.1", good.fingerprint), 1);
}

TEST_F(Tls, UidlListsIdsAndAServerWithoutItKeepsTheConnection) {
    SS server({SS::S("+OK hi\r\n"), SS::C("UIDL\r\n"), SS::S("+OK\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n2  abc \r\n.\r\n"),
               SS::C("UIDL\r\n"), SS::S("-ERR not here\r\n"), SS::C("QUIT\r\n")});
    session.open(server.host(), netwire::kServerPop3);
    EXPECT_EQ(session.next().text, "connected to pop3 server");
    int32_t count = 0;
    netwire::ListUniqueIds(kDoneMsg, "uidl.tmp", count);
    Report r = session.next();
    EXPECT_EQ(r.text, "2 unique ids listed");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(readFile(dir.file("uidl.tmp")), "1 whqtswO00WBw418f9t5JxYwZ\r\n2 abc\r\n");
    netwire::ListUniqueIds(kDoneMsg, "uidl.tmp", count);
    r = session.next();
    EXPECT_EQ(r.wParam, 1u);
    EXPECT_EQ(r.text, "uidl not supported");
    EXPECT_EQ(netwire::ConnectionState(), netwire::kStateConnected);
    netwire::AbortConnection();
    EXPECT_TRUE(session.settle());
    server.finish();
    EXPECT_EQ(server.received(), "UIDL\r\nUIDL\r\nQUIT\r\n");
}

}  // namespace
