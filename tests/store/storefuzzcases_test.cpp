// Header files and lists written by other programs or damaged on disk: the
// records made from them, and the store's readers on broken files.
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

using namespace torvakit;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace fs = std::filesystem;

// Each tests/data/parse/<case>.hdr is filed as an item; the list record must
// equal <case>.expected byte for byte.
TEST(HeaderCases, RecordsFromDataFiles) {
    const fs::path data = fs::path(OMAIL_TEST_DATA) / "parse";
    int cases = 0;
    for (const auto& entry : fs::directory_iterator(data)) {
        if (entry.path().extension() != ".hdr") continue;
        TempDir dir(true);
        mkdir("in", 0777);
        writeFile("in/N0000001.omh", readFile(entry.path().string()));
        ASSERT_EQ(AppendToList("in\\N0000001.omh", "in\\N0000001.omb", "in\\n.lst", "in\\n.cnt", 'U'), 1);
        fs::path expected = entry.path();
        expected.replace_extension(".expected");
        EXPECT_EQ(readFile("in/n.lst"), readFile(expected.string())) << entry.path().filename();
        ++cases;
    }
    EXPECT_GE(cases, 10);
}

TEST(HeaderCases, HugeLinesStayNineLineRecords) {
    TempDir dir(true);
    mkdir("in", 0777);
    writeFile("in/N0000001.omh", "From: " + std::string(100000, 'f') + "\r\nSubject: " +
                                     std::string(100000, 's') + "\rDate: 6 Dec 1997\r\n" +
                                     std::string(100000, '\0'));
    ASSERT_EQ(AppendToList("in\\N0000001.omh", "", "in\\n.lst", "in\\n.cnt", 'U'), 1);
    const std::string list = readFile("in/n.lst");
    // Past 2047 bytes only LF ends a line, so the CR-ended Date line is part
    // of the skipped rest of the Subject line.
    EXPECT_EQ(list, "N0000001.omh\r\nU\r\n" + std::string(255, 'f') + "\r\n\r\n" +
                        std::string(255, 's') + "\r\n00 ??? 00\r\n000000000000\r\n-\r\n\r\n");
}

TEST(DamagedFolders, ShortAndMissingFiles) {
    TempDir dir(true);
    mkdir("in", 0777);
    const std::string record = "N0000001.omh\r\nU\r\na\r\nr\r\ns\r\n06 Dec 97\r\n971206000000\r\n-\r\n<i>\r\n";
    writeFile("in/n.lst", record + record);
    // An index cut inside its second record, an empty count file.
    writeFile("in/n7.idx", "0000000059  0000000001\r\n00000");
    writeFile("in/n.cnt", "");
    EXPECT_EQ(GetListStatus("in\\", 0, 7), 'U');
    EXPECT_EQ(GetListStatus("in\\", 1, 7), 'U');  // the cut record: first record
    EXPECT_EQ(SetListStatus("in\\", 0, 7, 'R'), 1);
    EXPECT_EQ(readFile("in/n.lst"), record + "N0000001.omh\r\nR" + record.substr(15));
    EXPECT_EQ(DeselectList("in\\", 7), 0);
    std::vector<int32_t> selection = {1, 1};
    EXPECT_EQ(MoveItems("in\\", "", 7, selection), 1);
    EXPECT_EQ(selection[1], -1);  // the cut index record selects nothing
    EXPECT_EQ(readFile("in/n.cnt"), "2\r\n");
    EXPECT_EQ(SortList("in\\n.lst", 7), 2);
    // A list that is pure junk reads as records of junk, never past its end.
    writeFile("in/n.lst", std::string("\x00\xff\r\r\n\n", 6) + std::string(5000, '\n'));
    std::string status, author, rcpt, subject, date, size;
    int32_t hasBody = 1;
    for (int row : {0, 1, 1000}) {
        EXPECT_EQ(ReadListItems(row, "in\\n7.idx", "in\\n.lst", status, author, rcpt, subject, date,
                                size, hasBody),
                  1);
        EXPECT_EQ(hasBody, 0);
    }
    EXPECT_EQ(SortList("in\\n.lst", 3), 2);
}

namespace {

// Lets files grow only to `bytes` while it lives, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

const std::string kHeader = "+OK\r\nFrom: Ann <a@b>\r\nSubject: s\r\n";

}  // namespace

TEST(DamagedFolders, AppendAfterCutOffLastLine) {
    TempDir dir(true);
    mkdir("in", 0777);
    writeFile("in/N0000001.omh", kHeader);
    writeFile("in/n.lst", "N0000000.omh\r\nU\r\nhalf a rec");
    ASSERT_EQ(AppendToList("in\\N0000001.omh", "", "in\\n.lst", "in\\n.cnt", 'O'), 1);
    const std::string list = readFile("in/n.lst");
    EXPECT_EQ(list.substr(0, 43), "N0000000.omh\r\nU\r\nhalf a rec\r\nN0000001.omh\r\n");
    EXPECT_EQ(UpdatePrevStatus("in\\n.lst", 'U'), 1);
    EXPECT_EQ(readFile("in/n.lst").substr(43, 3), "U\r\n");
}

TEST(DamagedFolders, FullDiskLeavesWholeRecordsOnly) {
    TempDir dir(true);
    mkdir("in", 0777);
    mkdir("bin", 0777);
    writeFile("in/N0000001.omh", kHeader);
    ASSERT_EQ(AppendToList("in\\N0000001.omh", "", "in\\n.lst", "in\\n.cnt", 'R'), 1);
    const std::string list = readFile("in/n.lst");
    writeFile("bin/n.lst", std::string(200, 'x') + "\r\n");
    {
        FileSizeLimit limit(list.size() + 20);
        EXPECT_EQ(AppendToList("in\\N0000001.omh", "", "in\\n.lst", "in\\n.cnt", 'R'), 0);
        EXPECT_EQ(readFile("in/n.lst"), list);  // no half record
        // The destination list cannot take the record: nothing moves.
        EXPECT_EQ(ExpireItems("in\\", "bin\\", 'R'), 0);
    }
    EXPECT_EQ(readFile("in/n.lst"), list);
    EXPECT_EQ(readFile("bin/n.lst"), std::string(200, 'x') + "\r\n");
    EXPECT_EQ(readFile("in/n.cnt"), "1\r\n");
    EXPECT_FALSE(std::ifstream("OMAIL.TMP").good());
}

TEST(DamagedFolders, StatusAfterCrOnlyLineEnds) {
    // Lines ended by CR alone are lines all the same: the status byte of the
    // second record follows one.
    TempDir dir(true);
    mkdir("in", 0777);
    const std::string list = "N0000000.omh\rS\ra\rr\rs\rd\r1\r-\r<i>\rN0000001.omh\rS\ra\rr\rs\rd\r1\r-\r<j>\r";
    writeFile("in/n.lst", list);
    writeFile("in/n.cnt", "2\r\n");
    writeFile("in/n7.idx", "0000000031  0000000001\r\n0000000000  0000000000\r\n");
    EXPECT_EQ(DeselectList("in\\", 7), 2);
    std::string expected = list;
    expected[13] = expected[44] = 'O';
    EXPECT_EQ(readFile("in/n.lst"), expected);
}
