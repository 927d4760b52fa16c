// Store names resolve without regard to case; renames, copies and listings.
#include "platform/fsys.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace platform;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(Paths, ResolveEachExistingComponentWithoutRegardToCase) {
    TempDir dir(true);
    fs::create_directories("IN");
    writeFile("IN/N0000001.OMH", "h");
    EXPECT_EQ(resolvePath("in\\n0000001.omh"), "IN/N0000001.OMH");
    EXPECT_EQ(resolvePath("In/N0000001.omh"), "IN/N0000001.OMH");
    EXPECT_EQ(resolvePath(dir.path() + "/in/n.lst"), dir.path() + "/IN/n.lst");  // a new file keeps its spelling
    EXPECT_EQ(resolvePath("out\\n.lst"), "out/n.lst");
    EXPECT_TRUE(fileExists("in\\n0000001.OMH"));
    EXPECT_FALSE(fileExists("in"));
    EXPECT_TRUE(directoryExists("in\\"));
    EXPECT_EQ(fileSize("in/N0000001.omh"), 1);
    EXPECT_EQ(fileSize("in/none"), -1);
    auto f = openFile("in\\n0000001.omh", "rb");
    ASSERT_TRUE(f);
}

TEST(Paths, ANewEntryInACachedDirectoryIsFound) {
    TempDir dir(true);
    fs::create_directories("IN");
    writeFile("IN/A.OMH", "a");
    EXPECT_TRUE(fileExists("in/a.omh"));
    EXPECT_FALSE(fileExists("in/b.omh"));
    writeFile("IN/B.OMH", "b");  // the listing of IN must not be stale
    EXPECT_TRUE(fileExists("in/b.omh"));
}

TEST(Paths, DeletingKeepsTheCachedListingTrue) {
    TempDir dir(true);
    fs::create_directories("IN");
    writeFile("IN/A.OMH", "a");
    writeFile("IN/B.OMH", "b");
    writeFile("IN/c.omh", "c");
    writeFile("IN/C.OMH", "C");
    EXPECT_TRUE(fileExists("in/a.omh"));  // IN is listed and kept
    EXPECT_TRUE(deleteFile("in/a.omh"));
    EXPECT_FALSE(fileExists("in/a.omh"));
    EXPECT_TRUE(fileExists("in/b.omh"));
    // Deleting one spelling of a name leaves the other findable.
    const std::string kept = resolvePath("in/c.OMH");
    EXPECT_TRUE(deleteFile(kept));
    EXPECT_TRUE(fileExists("in/c.OMH")) << kept;
    writeFile("IN/A.OMH", "again");  // a change by another hand after the deletion is seen
    EXPECT_TRUE(fileExists("in/a.omh"));
    EXPECT_FALSE(deleteFile("in/none"));
}

TEST(Rename, MovesKeepTheCachedListingsTrue) {
    TempDir dir(true);
    fs::create_directories("IN");
    fs::create_directories("TMP");
    writeFile("IN/A.OMH", "a");
    writeFile("TMP/x", "x");
    writeFile("TMP/y", "y");
    EXPECT_TRUE(fileExists("in/a.omh"));  // both listed and kept
    EXPECT_TRUE(fileExists("tmp/X"));
    EXPECT_TRUE(renameNoReplace("tmp/x", "in/B.OMH"));
    EXPECT_EQ(resolvePath("in/b.omh"), "IN/B.OMH");
    EXPECT_EQ(resolvePath("tmp/X"), "TMP/X");  // a missing name keeps its spelling
    EXPECT_FALSE(renameNoReplace("tmp/y", "in/b.omh"));  // taken in another spelling
    EXPECT_TRUE(renameNoReplace("tmp/y", "tmp/Z"));      // within one directory
    EXPECT_EQ(resolvePath("tmp/z"), "TMP/Z");
    EXPECT_FALSE(fileExists("tmp/y"));
    writeFile("IN/C.OMH", "c");  // a change by another hand after the moves is seen
    EXPECT_TRUE(fileExists("in/c.omh"));
}

TEST(Rename, FailsWhenTheTargetExistsInAnyCase) {
    TempDir dir(true);
    writeFile("a", "1");
    writeFile("B", "2");
    EXPECT_FALSE(renameNoReplace("a", "b"));
    EXPECT_EQ(readFile("B"), "2");
    EXPECT_TRUE(renameNoReplace("a", "c"));
    EXPECT_FALSE(fs::exists("a"));
    EXPECT_EQ(readFile("c"), "1");
    EXPECT_FALSE(renameNoReplace("missing", "d"));
    EXPECT_TRUE(renameReplace("c", "b"));
    EXPECT_EQ(readFile("B"), "1");
}

TEST(Copy, ReplacesTheTargetAndKeepsTheSource) {
    TempDir dir(true);
    std::string big(200000, 'x');
    writeFile("src", big);
    writeFile("dst", "old");
    EXPECT_TRUE(copyFileReplace("src", "DST"));  // "dst" resolved without regard to case
    EXPECT_EQ(readFile("dst"), big);
    EXPECT_EQ(readFile("src"), big);
    EXPECT_FALSE(copyFileReplace("missing", "dst"));
    EXPECT_EQ(readFile("dst"), big);
}

TEST(Listing, WildcardsAndKinds) {
    EXPECT_TRUE(wildcardMatch("*.omh", "N0000001.OMH"));
    EXPECT_TRUE(wildcardMatch("N???????.omh", "N0000001.omh"));
    EXPECT_FALSE(wildcardMatch("N???????.omh", "N000001.omh"));
    EXPECT_TRUE(wildcardMatch("*", ""));
    EXPECT_TRUE(wildcardMatch("a*b*c", "aXXbYYc"));
    EXPECT_FALSE(wildcardMatch("a*b*c", "aXXbYY"));

    TempDir dir(true);
    fs::create_directories("f/sub.omh");
    writeFile("f/N1.OMH", "");
    writeFile("f/N2.omh", "");
    writeFile("f/N2.omb", "");
    EXPECT_EQ(findFiles("F", "*.omh", false, true), (std::vector<std::string>{"N1.OMH", "N2.omh"}));
    EXPECT_EQ(findFiles("f", "*.omh", true, false), (std::vector<std::string>{"sub.omh"}));
    EXPECT_EQ(findFiles("f", "*").size(), 4u);
    EXPECT_TRUE(findFiles("nothere", "*").empty());
}

TEST(Directories, CreateAndRemove) {
    TempDir dir(true);
    EXPECT_TRUE(createDirectory("New"));
    EXPECT_FALSE(createDirectory("new\\"));  // exists, in another case
    EXPECT_TRUE(removeDirectory("NEW"));
    EXPECT_FALSE(fs::exists("New"));
}
