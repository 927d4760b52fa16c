// The process lock (with real processes), error names and the line helpers.
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

using namespace torvakit;
using testsupport::TempDir;

namespace {

const std::string kLocker = std::string(OMAIL_BINARY_DIR) + "/bin/locker";

// A locker process with a pipe to its stdin (closing it lets a holder go)
// and one from its stdout (the lock result).
struct Locker {
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;

    Locker(const std::string& dir, bool hold) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            execl(kLocker.c_str(), "locker", dir.c_str(), hold ? "hold" : nullptr, nullptr);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        toChild = in[1];
        fromChild = out[0];
    }
    ~Locker() {
        if (toChild >= 0) close(toChild);
        if (fromChild >= 0) close(fromChild);
        if (pid > 0) waitpid(pid, nullptr, 0);
    }
    // The result line the child printed: "0", "1", or "" when it died first.
    std::string result() {
        std::string line;
        char c;
        while (read(fromChild, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    void kill9() {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

}  // namespace

TEST(ApplicationLock, ExcludesASecondProcessUntilTheFirstEnds) {
    TempDir dir;
    {
        Locker first(dir.path(), true);
        ASSERT_EQ(first.result(), "0");
        Locker second(dir.path(), false);
        EXPECT_EQ(second.result(), "1");
        close(first.toChild);  // the holder ends normally
        first.toChild = -1;
    }
    Locker third(dir.path(), false);
    EXPECT_EQ(third.result(), "0");
}

TEST(ApplicationLock, IsReleasedWhenTheHolderIsKilled) {
    TempDir dir;
    Locker first(dir.path(), true);
    ASSERT_EQ(first.result(), "0");
    Locker blocked(dir.path(), false);
    EXPECT_EQ(blocked.result(), "1");
    first.kill9();
    Locker after(dir.path(), false);
    EXPECT_EQ(after.result(), "0");
}

TEST(ApplicationLock, AnotherDirectoryIsIndependent) {
    TempDir a, b;
    Locker first(a.path(), true);
    ASSERT_EQ(first.result(), "0");
    Locker other(b.path(), false);
    EXPECT_EQ(other.result(), "0");
}

TEST(ApplicationLock, CreatesTheLockFileAndFixedFoldersOnceInThisProcess) {
    TempDir dir(true);
    std::filesystem::create_directory("in");  // an existing folder in another case is kept
    EXPECT_EQ(ApplicationLock("FILE.LOK"), 0);
    EXPECT_EQ(testsupport::readFile("FILE.LOK"), "LOCK FILE\r\n");
    for (const char* d : {"OUT", "SENT", "BIN", "DECODE"}) EXPECT_TRUE(std::filesystem::is_directory(d)) << d;
    EXPECT_TRUE(std::filesystem::is_directory("in"));
    EXPECT_FALSE(std::filesystem::exists("IN"));
    // Taken already by this process; and after release it is not taken again.
    EXPECT_EQ(ApplicationLock("FILE.LOK"), 1);
    EXPECT_EQ(ApplicationUnlock(), 0);
    EXPECT_EQ(ApplicationUnlock(), 1);
    EXPECT_EQ(ApplicationLock("FILE.LOK"), 1);
}

TEST(GetWSAError, NamesListedCodesAndFormatsOthers) {
    EXPECT_STREQ(GetWSAError(10060), "WSAETIMEDOUT");
    EXPECT_STREQ(GetWSAError(10035), "WSAEWOULDBLOCK");
    EXPECT_STREQ(GetWSAError(11004), "WSANO_DATA_NO_ADDR");
    EXPECT_STREQ(GetWSAError(10093), "WSANOTINITIALISED");
    EXPECT_STREQ(GetWSAError(10042), "WINSOCK ERROR 10042");
    EXPECT_STREQ(GetWSAError(10080), "WINSOCK ERROR 10080");
    EXPECT_STREQ(GetWSAError(0), "WINSOCK ERROR 0");
    EXPECT_STREQ(GetWSAError(-5), "WINSOCK ERROR -5");
    EXPECT_EQ(OpenWinsock(), 0);
    EXPECT_EQ(CloseWinsock(), 0);
}

TEST(ReplyLines, StatusAndClassification) {
    EXPECT_EQ(serverstatus("250 ok\r\n"), 250);
    EXPECT_EQ(serverstatus(" 250 ok\r\n"), 0);
    EXPECT_EQ(serverstatus("+OK 3 messages\r\n"), 0);
    EXPECT_EQ(serverstatus(""), 0);
    EXPECT_EQ(serverstatus("4"), 4);
    EXPECT_EQ(linestatus(".\r\n"), 2);
    EXPECT_EQ(linestatus("..text\r\n"), 1);
    EXPECT_EQ(linestatus(".\n"), 1);  // only "." followed by CR ends the data
    EXPECT_EQ(linestatus(" .\r\n"), 3);
    EXPECT_EQ(linestatus("text\r\n"), 3);
    EXPECT_EQ(linestatus(""), 3);
}

TEST(LineBuffer, FindsCopiesAndDropsLines) {
    EXPECT_EQ(eolnposition("abc", 0), -1);
    EXPECT_EQ(eolnposition("\nabc", 4), 0);
    EXPECT_EQ(eolnposition("ab\ncd\n", 6), 2);
    EXPECT_EQ(eolnposition("abc\n", 3), -1);  // the LF lies beyond the valid bytes

    char out[32];
    EXPECT_EQ(copylinefrombuffer("hello\nrest", out, sizeof out), 7);
    EXPECT_STREQ(out, "hello\r\n");
    EXPECT_EQ(copylinefrombuffer("hi\r\n", out, sizeof out), 4);
    EXPECT_STREQ(out, "hi\r\n");
    char small[10];
    EXPECT_EQ(copylinefrombuffer("0123456789abcdef\r\n", small, sizeof small), 9);
    EXPECT_STREQ(small, "0123456\r\n");
    // A buffer without any line end is not read past its valid bytes.
    EXPECT_EQ(copylinefrombuffer("abcdef", out, sizeof out, 3), 5);
    EXPECT_STREQ(out, "abc\r\n");

    char buf[] = "one\r\ntwo\r\n";
    int count = 10;
    EXPECT_EQ(shiftdownbuffer(buf, count, 4), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(std::string(buf, 5), "two\r\n");
    EXPECT_EQ(shiftdownbuffer(buf, count, 4), 0);
    EXPECT_EQ(count, 0);
}

TEST(LineBuffer, CopyToBufferFillsExactlyAndRefusesOverflow) {
    char dest[8];
    int pos = 0;
    EXPECT_EQ(copytobuffer(dest, 8, pos, "abcde", 5), 0);
    EXPECT_EQ(pos, 5);
    EXPECT_EQ(copytobuffer(dest, 8, pos, "xyz", 3), 0);  // exactly to capacity
    EXPECT_EQ(pos, 8);
    EXPECT_EQ(std::string(dest, 8), "abcdexyz");
    pos = 5;
    EXPECT_EQ(copytobuffer(dest, 8, pos, "wxyz", 4), 1);  // one byte too many: nothing copied
    EXPECT_EQ(pos, 5);
    EXPECT_EQ(std::string(dest, 8), "abcdexyz");
}
