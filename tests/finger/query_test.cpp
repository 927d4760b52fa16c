// whoprobe-query, run as a separate process against the scripted server.
#include "fingerserver.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

using fingertest::ScriptedFingerServer;

const std::string kProgram = OMAIL_BINARY_DIR "/bin/whoprobe-query";

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

ProgramRun runQuery(const std::string& arguments) {
    testsupport::TempDir dir;
    std::string command = kProgram + " " + arguments + " 2>" + dir.file("stderr");
    ProgramRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = testsupport::readFile(dir.file("stderr"));
    return run;
}

class QueryProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access(kProgram.c_str(), X_OK) != 0) FAIL() << kProgram << " was not built";
    }
};

TEST_F(QueryProgram, PrintsTheReplyWithTheLineEndsOfTheTerminal) {
    ScriptedFingerServer server({{"Login: alice\r\nPlan:\n"}, 0, false});
    ProgramRun run = runQuery(server.target("alice"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Login: alice\nPlan:\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(server.received(), "alice\r\n");

    ScriptedFingerServer raw({{"Login: alice\r\nPlan:\n"}, 0, false});
    run = runQuery("--raw -v " + raw.target("alice"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Login: alice\r\nPlan:\r\n");
    std::string site = "127.0.0.1:" + std::to_string(raw.port());
    EXPECT_EQ(run.err, "looking up site [" + site + "]\nconnecting to site [" + site + "]\n");
}

TEST_F(QueryProgram, FailuresGoToStandardErrorWithStatusOne) {
    ProgramRun invalid = runQuery("alice");
    EXPECT_EQ(invalid.status, 1);
    EXPECT_EQ(invalid.out, "");
    EXPECT_EQ(invalid.err, "whoprobe-query: Invalid query\n");

    ScriptedFingerServer silent({{}, 0, true});
    ProgramRun late = runQuery("--timeout 1 " + silent.target("alice"));
    EXPECT_EQ(late.status, 1);
    EXPECT_EQ(late.err, "whoprobe-query: no reply within 1 s\n");
}

TEST_F(QueryProgram, WrongUsageHasStatusTwo) {
    for (const char* arguments : {"", "--bogus alice@127.0.0.1", "a@127.0.0.1 b@127.0.0.1",
                                  "--timeout x alice@127.0.0.1", "--timeout"}) {
        SCOPED_TRACE(arguments);
        ProgramRun run = runQuery(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("usage: whoprobe-query"), std::string::npos);
    }
}

}  // namespace
