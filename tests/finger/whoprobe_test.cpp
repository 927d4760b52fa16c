// The Finger client against a scripted server on loopback.
#include "finger/whoprobe.h"
#include "fingerserver.h"

#include "platform/pollloop.h"
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using fingertest::ScriptedFingerServer;

constexpr uint32_t kDllMsg = platform::WM_USER + 1;
constexpr uint32_t kAppMsg = platform::WM_USER + 2;
constexpr uint32_t kErrMsg = platform::WM_USER + 3;
constexpr int kWaitMs = 5000;
constexpr int kPollMs = 5;

struct Message {
    uint32_t msg;
    uintptr_t wParam;
    std::string text;  // copied when handled, as a caller must

    bool operator==(const Message&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Message& m) {
    return out << "{" << m.msg - platform::WM_USER << ", " << m.wParam << ", \"" << m.text << "\"}";
}

Message progress(const std::string& text) { return {kErrMsg, 0, text}; }
Message error(const std::string& text) { return {kErrMsg, 1, text}; }
Message result(const std::string& text) { return {kAppMsg, 0, text}; }

// A caller's window: forwards socket notifications to the library (through
// an optional rewrite, to play a misbehaving socket layer) and keeps a copy
// of every text it is sent.
class Caller final : public platform::Window {
public:
    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        if (msg == kDllMsg) {
            notifications.push_back({wParam, lParam});
            if (rewrite) lParam = rewrite(wParam, lParam);
            whoprobe::ProcessDllMsg(wParam, lParam);
            return;
        }
        const char* text = reinterpret_cast<const char*>(lParam);
        messages.push_back({msg, wParam, text ? text : "(null)"});
    }

    bool finished() const {
        for (const Message& m : messages)
            if (m.msg == kAppMsg || (m.msg == kErrMsg && m.wParam == 1)) return true;
        return false;
    }
    bool saw(const Message& wanted) const {
        for (const Message& m : messages)
            if (m == wanted) return true;
        return false;
    }
    // The socket handle, once the connect notification came.
    uintptr_t socketHandle() const {
        for (auto [wParam, lParam] : notifications)
            if (platform::WSAGETSELECTEVENT(lParam) == platform::FD_CONNECT && wParam != 0) return wParam;
        return 0;
    }
    int readNotifications() const {
        int count = 0;
        for (auto [wParam, lParam] : notifications)
            if (wParam == socketHandle() && platform::WSAGETSELECTEVENT(lParam) == platform::FD_READ) ++count;
        return count;
    }

    std::vector<Message> messages;
    std::vector<std::pair<uintptr_t, intptr_t>> notifications;
    std::function<intptr_t(uintptr_t, intptr_t)> rewrite;
};

class FingerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(whoprobe::OpenWinsock(), 0);
        // The library reports an idle Abort to the window of the last query:
        // make that this test's window.
        finger("");
        drain();
        caller.messages.clear();
    }
    void TearDown() override {
        // Leave the library idle for the next test; a "Not in use" this
        // posts dies with the window.
        whoprobe::Abort();
        EXPECT_EQ(whoprobe::CloseWinsock(), 0);
    }

    void finger(const std::string& query) { whoprobe::Finger(&caller, kDllMsg, kAppMsg, kErrMsg, query); }
    bool runToEnd() {
        return loop.runUntil([this] { return caller.finished(); }, kWaitMs);
    }
    // For a condition another thread changes, which does not wake the loop.
    bool runUntil(const std::function<bool()>& done) {
        for (int waited = 0; waited < kWaitMs; waited += kPollMs) {
            if (done()) return true;
            loop.runOnce(kPollMs);
        }
        return done();
    }
    // Delivers what is queued now.
    void drain() {
        while (platform::hasPostedMessages()) loop.runOnce(0);
    }
    // Delivers whatever is queued or arrives within a short while.
    void settle() { loop.runFor(50); }
    // The reply of a whole query to a server that sends the given pieces.
    std::string replyFor(std::vector<std::string> pieces, int pauseMs = 0) {
        ScriptedFingerServer server({std::move(pieces), pauseMs, false});
        finger(server.target("alice"));
        EXPECT_TRUE(runToEnd());
        EXPECT_EQ(server.received(), "alice\r\n");
        EXPECT_FALSE(caller.messages.empty());
        Message last = caller.messages.empty() ? Message{} : caller.messages.back();
        EXPECT_EQ(last.msg, kAppMsg);
        return last.text;
    }
    // The library is idle exactly when Abort answers "Not in use".
    bool idle() {
        size_t before = caller.messages.size();
        whoprobe::Abort();
        drain();
        return caller.messages.size() == before + 1 && caller.messages.back() == result("Not in use");
    }

    platform::PollLoop loop;
    Caller caller;
};

TEST_F(FingerTest, DottedHostSkipsTheLookupAndReportsEachStep) {
    ScriptedFingerServer server({{"Login: alice\n"}, 0, false});
    std::string site = "127.0.0.1:" + std::to_string(server.port());
    finger(server.target("alice"));
    ASSERT_TRUE(runToEnd());

    ASSERT_FALSE(caller.notifications.empty());
    EXPECT_EQ(caller.notifications.front(), (std::pair<uintptr_t, intptr_t>{0, 0}));
    // "looking up" is read after the stand-in look-up was handled and
    // "connecting" formatted: each text must still be its own.
    std::vector<Message> expected = {progress("looking up site [" + site + "]"),
                                     progress("connecting to site [" + site + "]"),
                                     result("Login: alice\r\n")};
    EXPECT_EQ(caller.messages, expected);
    EXPECT_EQ(server.received(), "alice\r\n");
    EXPECT_TRUE(idle());
}

TEST_F(FingerTest, HostNameIsLookedUp) {
    ScriptedFingerServer server({{"ok\n"}, 0, false});
    std::string site = "localhost:" + std::to_string(server.port());
    finger("alice@" + site);
    ASSERT_TRUE(runToEnd());
    ASSERT_FALSE(caller.notifications.empty());
    EXPECT_NE(caller.notifications.front().first, 0u);
    std::vector<Message> expected = {progress("looking up site [" + site + "]"),
                                     progress("connecting to site [" + site + "]"), result("ok\r\n")};
    EXPECT_EQ(caller.messages, expected);
}

TEST_F(FingerTest, QueryLineIsEverythingBeforeTheLastAtSign) {
    ScriptedFingerServer twoAts({{"x"}, 0, false});
    finger("alice@example.org@127.0.0.1:" + std::to_string(twoAts.port()));
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(twoAts.received(), "alice@example.org\r\n");

    // The longest user part that fits the query line goes out whole.
    caller.messages.clear();
    std::string longest(whoprobe::kMaxUserPart, 'u');
    ScriptedFingerServer full({{"x"}, 0, false});
    finger(full.target(longest));
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(full.received(), longest + "\r\n");
    EXPECT_EQ(caller.messages.back(), result("x"));
}

TEST_F(FingerTest, ReplyInSeveralReadsArrivesWholeAndInOrder) {
    ScriptedFingerServer server({{"Login: al", "ice\nName: Al", "ice Liddell\n", "Plan: none\n"}, 30, false});
    finger(server.target("alice"));
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(caller.messages.back(), result("Login: alice\r\nName: Alice Liddell\r\nPlan: none\r\n"));
    EXPECT_GE(caller.readNotifications(), 2) << "the pieces should have come in separate reads";
}

TEST_F(FingerTest, LineEndsBecomeCrLfAndOtherCrsAreDropped) {
    EXPECT_EQ(replyFor({"a\nb\r\n"}), "a\r\nb\r\n");
    caller.messages.clear();
    EXPECT_EQ(replyFor({"x\ry\r\r\nz"}), "xy\r\nz");
    caller.messages.clear();
    // A CR LF split between two reads is still one line end.
    EXPECT_EQ(replyFor({"one\r", "\ntwo\n"}, 20), "one\r\ntwo\r\n");
    caller.messages.clear();
    EXPECT_EQ(replyFor({}), "");
}

TEST_F(FingerTest, ReplyKeepsItsFirst1024Bytes) {
    std::string exact;
    for (int i = 0; i < whoprobe::kReplyLimit; ++i) exact += static_cast<char>('a' + i % 26);
    EXPECT_EQ(replyFor({exact}), exact);

    // A longer reply is cut, and its end still arrives: the query does not
    // stall on the data it no longer keeps.
    caller.messages.clear();
    std::string longer = exact + std::string(5000, '#') + "tail\n";
    EXPECT_EQ(replyFor({longer.substr(0, 700), longer.substr(700, 2000), longer.substr(2700)}, 10), exact);
    EXPECT_FALSE(caller.saw(progress("Spurious winsock recv")));

    // Every byte a line feed: the converted reply doubles.
    caller.messages.clear();
    std::string feeds(whoprobe::kReplyLimit + 10, '\n');
    std::string crlfs;
    for (int i = 0; i < whoprobe::kReplyLimit; ++i) crlfs += "\r\n";
    EXPECT_EQ(replyFor({feeds}), crlfs);
}

TEST_F(FingerTest, MalformedQueriesAreRefusedBeforeAnyConnection) {
    struct Case {
        std::string query;
        const char* text;
    };
    std::string overlong(whoprobe::kMaxUserPart + 1, 'u');
    const Case cases[] = {
        {"alice", "Invalid query"},
        {"@127.0.0.1", "Invalid query"},
        {"", "Invalid query"},
        {overlong + "@127.0.0.1", "Invalid query"},
        {"alice@", "Invalid site name"},
        {"alice@255.255.255.255", "Invalid site name"},
        {"alice@255.255.255.255:79", "Invalid site name"},
        {"alice@127.0.0.1:", "Invalid site name"},
        {"alice@127.0.0.1:0", "Invalid site name"},
        {"alice@127.0.0.1:65536", "Invalid site name"},
        {"alice@127.0.0.1:7x", "Invalid site name"},
        {"alice@:79", "Invalid site name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query.size() > 40 ? c.query.substr(0, 40) + "..." : c.query);
        caller.messages.clear();
        finger(c.query);
        drain();
        EXPECT_EQ(caller.messages, std::vector<Message>{error(c.text)});
        EXPECT_TRUE(caller.notifications.empty());
        EXPECT_TRUE(idle());
    }
}

TEST_F(FingerTest, UnresolvableHostIsAnUnknownSite) {
    // An empty label fails in the resolver itself, without asking any name server.
    finger("alice@no..such.host");
    ASSERT_TRUE(runToEnd());
    std::vector<Message> expected = {progress("looking up site [no..such.host]"), error("Unknown Site")};
    EXPECT_EQ(caller.messages, expected);
    EXPECT_TRUE(idle());
}

TEST_F(FingerTest, RefusedConnection) {
    finger("alice@127.0.0.1:" + std::to_string(fingertest::closedPort()));
    ASSERT_TRUE(runToEnd());
    ASSERT_EQ(caller.messages.size(), 3u);
    const Message& last = caller.messages.back();
    EXPECT_EQ(last.wParam, 1u);
    // Refused in the connect notification, or by the connect call itself.
    EXPECT_TRUE(last.text == "Cannot connect to host" || last.text == "WSAECONNREFUSED") << last.text;
    EXPECT_TRUE(idle());
}

TEST_F(FingerTest, FingerDuringAQueryEndsItAndStartsNothing) {
    ScriptedFingerServer busy({{"too late\n"}, 0, true});
    ScriptedFingerServer second({{"second\n"}, 0, false});
    finger(busy.target("alice"));
    ASSERT_TRUE(runUntil([&] { return busy.queryArrived(); }));
    caller.messages.clear();

    finger(second.target("bob"));
    settle();
    EXPECT_EQ(caller.messages, std::vector<Message>{error("Dll in use")});
    busy.release();
    settle();
    EXPECT_EQ(caller.messages.size(), 1u) << "nothing more of the ended query";
    EXPECT_FALSE(second.accepted());
    EXPECT_TRUE(idle());
}

TEST_F(FingerTest, AbortWhileIdleAndStrayNotifications) {
    whoprobe::Abort();
    settle();
    EXPECT_EQ(caller.messages, std::vector<Message>{result("Not in use")});

    // A notification while idle: the result message first, then the error.
    caller.messages.clear();
    whoprobe::ProcessDllMsg(12345, platform::WSAMAKESELECTREPLY(platform::FD_READ, 0));
    settle();
    std::vector<Message> expected = {result("Not in use"), error("Dll not in use")};
    EXPECT_EQ(caller.messages, expected);
}

TEST_F(FingerTest, CancelledQueriesLeaveNothingBehind) {
    // Cancelled before the dotted host's stand-in look-up message was handled.
    finger("alice@127.0.0.1:" + std::to_string(fingertest::closedPort()));
    whoprobe::Abort();
    settle();
    EXPECT_EQ(caller.messages.size(), 1u);  // "looking up site [...]" only
    EXPECT_TRUE(idle());

    // Cancelled while connected, with a notification of its socket still to come.
    caller.messages.clear();
    ScriptedFingerServer held({{"late\n"}, 0, true});
    finger(held.target("alice"));
    ASSERT_TRUE(runUntil([&] { return held.queryArrived(); }));
    uintptr_t oldSocket = caller.socketHandle();
    ASSERT_NE(oldSocket, 0u);
    whoprobe::Abort();
    held.release();
    size_t before = caller.messages.size();
    whoprobe::ProcessDllMsg(oldSocket, platform::WSAMAKESELECTREPLY(platform::FD_READ, 0));
    settle();
    EXPECT_EQ(caller.messages.size(), before);

    // The next query runs normally.
    ScriptedFingerServer next({{"next\n"}, 0, false});
    finger(next.target("bob"));
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(caller.messages.back(), result("next\r\n"));
}

TEST_F(FingerTest, ForeignSocketMessageAndEmptyReadLeaveTheQueryRunning) {
    ScriptedFingerServer server({{"still here\n"}, 0, true});
    finger(server.target("alice"));
    ASSERT_TRUE(runUntil([&] { return server.queryArrived(); }));
    uintptr_t sock = caller.socketHandle();
    ASSERT_NE(sock, 0u);
    caller.messages.clear();

    whoprobe::ProcessDllMsg(sock + 1000, platform::WSAMAKESELECTREPLY(platform::FD_READ, 0));
    // A read notification with nothing to read yet.
    whoprobe::ProcessDllMsg(sock, platform::WSAMAKESELECTREPLY(platform::FD_READ, 0));
    settle();
    std::vector<Message> expected = {progress("Invalid socket message"), progress("Spurious winsock recv")};
    EXPECT_EQ(caller.messages, expected);

    server.release();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(caller.messages.back(), result("still here\r\n"));
}

TEST_F(FingerTest, UnexpectedNotificationsEndTheQuery) {
    struct Case {
        const char* name;
        std::function<intptr_t(uintptr_t, intptr_t)> rewrite;
        const char* text;
    };
    const Case cases[] = {
        {"look-up for another handle", nullptr, "Invalid lookup message"},
        {"read event while connecting",
         [](uintptr_t w, intptr_t l) {
             return w != 0 && platform::WSAGETSELECTEVENT(l) == platform::FD_CONNECT
                        ? platform::WSAMAKESELECTREPLY(platform::FD_READ, 0)
                        : l;
         },
         "Invalid connect message"},
        {"error on a connected socket",
         [](uintptr_t w, intptr_t l) {
             return w != 0 && platform::WSAGETSELECTEVENT(l) == platform::FD_WRITE
                        ? platform::WSAMAKESELECTREPLY(platform::FD_WRITE, platform::WSAECONNRESET)
                        : l;
         },
         "Winsock async error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        caller.messages.clear();
        caller.notifications.clear();
        caller.rewrite = c.rewrite;
        ScriptedFingerServer server({{"never seen\n"}, 0, false});
        finger(server.target("alice"));
        if (!c.rewrite) whoprobe::ProcessDllMsg(987654321, 0);  // before the stand-in is handled
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(caller.messages.back(), error(c.text));
        settle();
        EXPECT_EQ(caller.messages.back(), error(c.text)) << "nothing may follow the error";
        EXPECT_TRUE(idle());
    }
    caller.rewrite = nullptr;
}

TEST_F(FingerTest, CloseWinsockEndsARunningQuery) {
    ScriptedFingerServer server({{"late\n"}, 0, true});
    finger(server.target("alice"));
    ASSERT_TRUE(runUntil([&] { return server.queryArrived(); }));
    EXPECT_EQ(whoprobe::CloseWinsock(), 0);
    server.release();
    settle();
    EXPECT_FALSE(caller.finished());
    EXPECT_TRUE(idle());
    ASSERT_EQ(whoprobe::OpenWinsock(), 0);
}

TEST(WhoprobeErrorNames, NamedAndFallbackCodes) {
    EXPECT_STREQ(whoprobe::GetWSAError(10060), "WSAETIMEDOUT");
    EXPECT_STREQ(whoprobe::GetWSAError(10061), "WSAECONNREFUSED");
    EXPECT_STREQ(whoprobe::GetWSAError(11004), "WSANO_DATA_NO_ADDR");
    EXPECT_STREQ(whoprobe::GetWSAError(10042), "ERROR 10042");
    EXPECT_STREQ(whoprobe::GetWSAError(10072), "ERROR 10072");
    EXPECT_STREQ(whoprobe::GetWSAError(0), "ERROR 0");
    EXPECT_STREQ(whoprobe::GetWSAError(-1), "ERROR -1");
}

TEST(WhoprobeSocketLayer, CloseWithoutOpenReportsTheError) {
    EXPECT_EQ(whoprobe::CloseWinsock(), platform::WSANOTINITIALISED);
    ASSERT_EQ(whoprobe::OpenWinsock(), 0);
    EXPECT_EQ(whoprobe::CloseWinsock(), 0);
}

}  // namespace
