#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

using namespace torvakit;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool isDir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Subscriptions : public ::testing::Test {
protected:
    TempDir dir{true};
    int add(std::string group) { return AddSub("subscr.dat", "SUBSCR.LST", "SUBSCR.IDX", group); }
    int remove(std::string group) { return SubSub("subscr.dat", "SUBSCR.LST", group); }
};

}  // namespace

TEST_F(Subscriptions, AddStoresLowerCaseOnce) {
    std::string group = "Comp.Lang.C";
    EXPECT_EQ(AddSub("subscr.dat", "SUBSCR.LST", "SUBSCR.IDX", group), 0);
    EXPECT_EQ(group, "comp.lang.c");
    EXPECT_EQ(readFile("subscr.dat"), "comp.lang.c:N0000000:0000000000:\r\n");
    EXPECT_EQ(readFile("SUBSCR.LST"), "comp.lang.c\r\n");
    EXPECT_EQ(readFile("SUBSCR.IDX"), "1\r\n");
    EXPECT_TRUE(isDir("N0000000"));
    EXPECT_EQ(add("COMP.lang.c"), 1);
    EXPECT_EQ(readFile("subscr.dat"), "comp.lang.c:N0000000:0000000000:\r\n");
}

TEST_F(Subscriptions, AddSkipsTakenFolderNames) {
    writeFile("SUBSCR.IDX", "5\r\n");
    mkdir("N0000005", 0777);
    writeFile("n0000006", "a file in the way");
    EXPECT_EQ(add("alt.test"), 0);
    EXPECT_EQ(readFile("subscr.dat"), "alt.test:N0000007:0000000000:\r\n");
    EXPECT_EQ(readFile("SUBSCR.IDX"), "8\r\n");
    writeFile("SUBSCR.IDX", "9999999\r\n");
    EXPECT_EQ(add("alt.wrap"), 0);
    EXPECT_TRUE(isDir("N9999999"));
    EXPECT_EQ(readFile("SUBSCR.IDX"), "0\r\n");
}

TEST_F(Subscriptions, AddRefusesWhatCannotBeStored) {
    EXPECT_EQ(add("bad:name"), 2);
    EXPECT_EQ(add(""), 2);
    EXPECT_EQ(add("two\r\nlines"), 2);
    EXPECT_FALSE(std::ifstream("subscr.dat").good());
    // The subscription file cannot be written: no folder is left behind.
    mkdir("subscr.dat", 0777);
    EXPECT_EQ(add("alt.x"), 2);
    EXPECT_FALSE(isDir("N0000000"));
    EXPECT_FALSE(std::ifstream("SUBSCR.LST").good());
}

TEST_F(Subscriptions, ArticleNumbersInPlace) {
    add("comp.a");
    add("comp.b");
    const std::size_t size = readFile("subscr.dat").size();
    uint32_t n = 7;
    EXPECT_EQ(getarticlen("comp.b", "subscr.dat", n), 1);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(setarticlen("comp.b", "subscr.dat", 4294967295u), 1);
    EXPECT_EQ(getarticlen("comp.b", "subscr.dat", n), 1);
    EXPECT_EQ(n, 4294967295u);
    EXPECT_EQ(setarticlen("comp.a", "subscr.dat", 12), 1);
    EXPECT_EQ(readFile("subscr.dat"),
              "comp.a:N0000000:0000000012:\r\ncomp.b:N0000001:4294967295:\r\n");
    EXPECT_EQ(readFile("subscr.dat").size(), size);
    EXPECT_EQ(getarticlen("comp", "subscr.dat", n), 0);  // names match whole
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(setarticlen("COMP.A", "subscr.dat", 1), 0);  // and with case
    std::string folder = "untouched";
    EXPECT_EQ(GetHomeDir("comp.x", "subscr.dat", folder), 0);
    EXPECT_EQ(folder, "untouched");
    EXPECT_EQ(GetHomeDir("comp.b", "subscr.dat", folder), 1);
    EXPECT_EQ(folder, "N0000001\\");
    EXPECT_EQ(getarticlen("comp.a", "missing.dat", n), 0);
}

TEST_F(Subscriptions, DamagedLinesAreNotOverwritten) {
    // A short number field, a line without CR, a last line without line end.
    writeFile("subscr.dat", "short:N0000001:12:\r\nlf:N0000002:0000000001:\nlast:N0000003:0000000002:");
    EXPECT_EQ(setarticlen("short", "subscr.dat", 99), 0);
    EXPECT_EQ(setarticlen("lf", "subscr.dat", 5), 1);
    EXPECT_EQ(setarticlen("last", "subscr.dat", 6), 1);
    EXPECT_EQ(readFile("subscr.dat"),
              "short:N0000001:12:\r\nlf:N0000002:0000000005:\nlast:N0000003:0000000006:");
    uint32_t n = 0;
    EXPECT_EQ(getarticlen("short", "subscr.dat", n), 1);
    EXPECT_EQ(n, 12u);
}

TEST_F(Subscriptions, RemoveRewritesBothFilesAndTheFolder) {
    add("comp.a");
    add("comp.b");
    add("comp.c");
    writeFile("N0000001/n.lst", "x");
    writeFile("N0000001/N0000009.omh", "x");
    EXPECT_EQ(remove("Comp.B"), 0);
    EXPECT_EQ(readFile("subscr.dat"),
              "comp.a:N0000000:0000000000:\r\ncomp.c:N0000002:0000000000:\r\n");
    EXPECT_EQ(readFile("SUBSCR.LST"), "comp.a\r\ncomp.c\r\n");
    EXPECT_FALSE(isDir("N0000001"));
    EXPECT_TRUE(isDir("N0000000"));
    EXPECT_FALSE(std::ifstream("OMAIL.TMP").good());
    EXPECT_EQ(remove("comp.b"), 1);
    EXPECT_EQ(remove("comp.a"), 0);
    EXPECT_EQ(remove("comp.c"), 0);
    EXPECT_EQ(readFile("subscr.dat"), "");
    EXPECT_EQ(readFile("SUBSCR.LST"), "");
}

TEST_F(Subscriptions, RemoveNeverDeletesOtherFolders) {
    mkdir("IN", 0777);
    writeFile("IN/n.lst", "mail");
    writeFile("subscr.dat", "evil:IN:0000000000:\r\nworse::0000000000:\r\nup:..:0000000000:\r\n"
                            "\r\nkept:N0000004:0000000000:\r\n");
    EXPECT_EQ(remove("evil"), 0);
    EXPECT_EQ(remove("worse"), 0);
    EXPECT_EQ(remove("up"), 0);
    EXPECT_EQ(readFile("IN/n.lst"), "mail");
    EXPECT_EQ(readFile("subscr.dat"), "kept:N0000004:0000000000:\r\n");
    EXPECT_EQ(readFile("SUBSCR.LST"), "kept\r\n");
}

TEST_F(Subscriptions, RemoveFailureChangesNothing) {
    add("comp.a");
    const std::string before = readFile("subscr.dat");
    mkdir("OMAIL.TMP", 0777);
    EXPECT_EQ(remove("comp.a"), 2);
    EXPECT_EQ(readFile("subscr.dat"), before);
    EXPECT_EQ(readFile("SUBSCR.LST"), "comp.a\r\n");
    EXPECT_TRUE(isDir("N0000000"));
}

TEST_F(Subscriptions, UpperCaseFileNames) {
    writeFile("SUBSCR.DAT", "comp.a:N0000000:0000000003:\r\n");
    uint32_t n = 0;
    EXPECT_EQ(getarticlen("comp.a", "subscr.dat", n), 1);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(add("comp.a"), 1);
    EXPECT_EQ(remove("comp.a"), 0);
    EXPECT_EQ(readFile("SUBSCR.DAT"), "");
}
