// The engine's whole conversations on the Qt backend of the event loop, where
// sockets are watched by level-triggered QSocketNotifiers and posted messages
// travel as queued calls: the same wire bytes and reports as on the poll loop.
#include "support/enginescenarios.h"

#include "ui/qtloop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <memory>

namespace {

using namespace testsupport;

// Runs Qt's event loop until done() or the time is up.
bool runQt(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}

class QtConversation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "engine_qt_test";
        static char* argv[] = {name, nullptr};
        s_app = std::make_unique<QCoreApplication>(argc, argv);
        s_loop = std::make_unique<QtEventLoop>();
    }
    static void TearDownTestSuite() {
        s_loop.reset();
        s_app.reset();
    }
    EngineSession session{runQt};

    static std::unique_ptr<QCoreApplication> s_app;
    static std::unique_ptr<QtEventLoop> s_loop;
};

std::unique_ptr<QCoreApplication> QtConversation::s_app;
std::unique_ptr<QtEventLoop> QtConversation::s_loop;

ScriptServer::Options byteByByte() {
    ScriptServer::Options o;
    o.chunk = 1;
    o.pauseMicros = 300;
    return o;
}

TEST_F(QtConversation, Pop3Retrieval) { pop3RetrievalScenario(session, {}); }
TEST_F(QtConversation, Pop3RetrievalByteByByte) { pop3RetrievalScenario(session, byteByByte()); }
TEST_F(QtConversation, SmtpSendToThreeRecipients) { smtpThreeRecipientsScenario(session, {}); }
TEST_F(QtConversation, NntpSession) { nntpSessionScenario(session, {}); }
TEST_F(QtConversation, NntpSessionByteByByte) { nntpSessionScenario(session, byteByByte()); }
TEST_F(QtConversation, TlsLargeTransfersBothWays) { tlsScenario(session); }

TEST_F(QtConversation, ServerCloseAndSilenceAreReported) {
    {
        ScriptServer server({ScriptServer::S("+OK\r\n"), ScriptServer::Close()});
        session.open(server.host(), netwire::kServerPop3);
        EXPECT_EQ(session.next().text, "connected to pop3 server");
        EXPECT_EQ(session.next().text, "connexion closed");
        EXPECT_TRUE(session.settle());
    }
    netwire::SetReplyTimeout(100);
    {
        ScriptServer server({ScriptServer::S("200 ok\r\n"), ScriptServer::C("LIST\r\n"), ScriptServer::Hold()});
        session.open(server.host(), netwire::kServerNntp);
        EXPECT_EQ(session.next().text, "connected to nntp server");
        int32_t count;
        netwire::ListGroups(kDoneMsg, "GROUP.LST", count);
        EXPECT_EQ(session.next().text, "server not responding");
        EXPECT_TRUE(session.settle());
    }
    netwire::SetReplyTimeout(120000);
}

}  // namespace
