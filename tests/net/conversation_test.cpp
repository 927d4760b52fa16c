// Whole POP3, SMTP and NNTP conversations on the poll loop, with the server's
// replies whole, split at every byte, and joined into single writes.
#include "support/enginescenarios.h"

#include "platform/pollloop.h"

namespace {

using namespace testsupport;

struct Delivery {
    const char* name;
    ScriptServer::Options options;
};

ScriptServer::Options byteByByte() {
    ScriptServer::Options o;
    o.chunk = 1;
    o.pauseMicros = 300;
    return o;
}

ScriptServer::Options joined() {
    ScriptServer::Options o;
    o.joinReplies = true;
    return o;
}

class Conversation : public ::testing::TestWithParam<Delivery> {
protected:
    platform::PollLoop loop;
    EngineSession session{[this](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};
};

TEST_P(Conversation, Pop3RetrievalWireBytesAndFiles) { pop3RetrievalScenario(session, GetParam().options); }
TEST_P(Conversation, SmtpSendToThreeRecipients) { smtpThreeRecipientsScenario(session, GetParam().options); }
TEST_P(Conversation, NntpSession) { nntpSessionScenario(session, GetParam().options); }

class TlsConversation : public ::testing::Test {
protected:
    platform::PollLoop loop;
    EngineSession session{[this](const std::function<bool()>& done, int ms) { return loop.runUntil(done, ms); }};
};

TEST_F(TlsConversation, LargeTransfersBothWays) { tlsScenario(session); }

INSTANTIATE_TEST_SUITE_P(Delivery, Conversation,
                         ::testing::Values(Delivery{"whole", {}}, Delivery{"byteByByte", byteByByte()},
                                           Delivery{"joined", joined()}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
