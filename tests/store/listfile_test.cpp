#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace torvakit;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string indexRecord(uint64_t offset, uint64_t ordinal) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%010llu  %010llu\r\n", static_cast<unsigned long long>(offset),
                  static_cast<unsigned long long>(ordinal));
    return buf;
}

// A data directory with one folder; names on disk in upper or lower case.
class Folder : public ::testing::Test {
protected:
    TempDir dir{true};
    void SetUp() override { mkdir("in", 0777); }

    // Files one item under the given number and returns AppendToList's result.
    int file(int n, const std::string& header, const std::string* body = nullptr, char status = 'U',
             const std::string& folder = "in\\", const std::string& ext = ".omh") {
        char name[16];
        std::snprintf(name, sizeof name, "N%07d", n);
        const std::string disk = (folder == "in\\" ? "in/" : "IN/") + std::string(name);
        writeFile(disk + ext, header);
        if (body) writeFile(disk + (ext == ".omh" ? ".omb" : ".OMB"), *body);
        return AppendToList(folder + name + ".omh", folder + name + ".omb", folder + "n.lst",
                            folder + "n.cnt", status);
    }
    std::vector<std::string> recordOf(const std::string& list, int record) {
        std::vector<std::string> lines;
        std::size_t pos = 0;
        for (int line = 0; pos < list.size(); ++line) {
            std::size_t end = list.find("\r\n", pos);
            if (line / 9 == record) lines.push_back(list.substr(pos, end - pos));
            pos = end + 2;
        }
        return lines;
    }
};

const std::string kMail =
    "+OK 1234 octets\r\nFrom: Ann Smith <ann@example.org>\r\nTo: \"Bob\" <bob@example.org>, "
    "carl@example.org\r\nSubject: Budget\r\nDate: Sat, 6 Dec 1997 19:01:54 +0100\r\n"
    "Message-Id: <1@example.org>\r\n";

}  // namespace

TEST_F(Folder, MailRecordBytes) {
    const std::string body(2048, 'b');
    ASSERT_EQ(file(3, kMail, &body), 1);
    EXPECT_EQ(readFile("in/n.lst"),
              "N0000003.omh\r\nU\r\nAnn Smith\r\nBob\r\nBudget\r\n06 Dec 97\r\n971206190154\r\n"
              "2\r\n<1@example.org>\r\n");
    EXPECT_EQ(readFile("in/n.cnt"), "1\r\n");
}

TEST_F(Folder, AuthorRecipientAndSize) {
    const std::string small(1023, 'x'), empty;
    file(1, "+OK\r\nFrom: a@x\r\nReply-To: Desk <desk@x>\r\nTo: z@x\r\nLines: 42\r\n", &small);
    file(2, "221 1 <a>\r\nTo: bob@x\r\nNewsgroups: comp.one,comp.two\r\nFrom: f@x\r\n", &empty);
    file(3, "221 1 <a>\r\nNewsgroups: comp.three, comp.four\r\nTo: bob@x\r\n");
    file(4, "+OK\r\nFrom: f@x\r\nDate: Mon, 2 Feb 2026 08:09:10 +0000\r\n", &small);
    const std::string list = readFile("in/n.lst");
    EXPECT_EQ(recordOf(list, 0)[2], "Desk");
    EXPECT_EQ(recordOf(list, 0)[3], "z@x");
    EXPECT_EQ(recordOf(list, 0)[7], "42");
    EXPECT_EQ(recordOf(list, 1)[3], "comp.one");
    EXPECT_EQ(recordOf(list, 1)[7], "1");  // an empty body still counts one kilobyte
    EXPECT_EQ(recordOf(list, 2)[3], "comp.three");
    EXPECT_EQ(recordOf(list, 2)[7], "-");
    EXPECT_EQ(recordOf(list, 2)[5], "00 ??? 00");
    EXPECT_EQ(recordOf(list, 2)[6], "000000000000");
    EXPECT_EQ(recordOf(list, 3)[5], "02 Feb 26");  // two-digit year; the sortable date keeps the century
    EXPECT_EQ(recordOf(list, 3)[6], "1260202080910");
    EXPECT_EQ(readFile("in/n.cnt"), "4\r\n");
}

TEST_F(Folder, AppendFailures) {
    EXPECT_EQ(AppendToList("in\\missing.omh", "in\\missing.omb", "in\\n.lst", "in\\n.cnt", 'U'), 0);
    EXPECT_FALSE(std::ifstream("in/n.lst").good());
    writeFile("in/N0000001.omh", kMail);
    EXPECT_EQ(AppendToList("in\\N0000001.omh", "", "nodir\\n.lst", "nodir\\n.cnt", 'U'), 0);
    // The count file cannot be written (a directory has its name): the
    // record is appended and the failure reported.
    mkdir("in/n.cnt", 0777);
    EXPECT_EQ(AppendToList("in\\N0000001.omh", "", "in\\n.lst", "in\\n.cnt", 'U'), 0);
    EXPECT_EQ(recordOf(readFile("in/n.lst"), 0).size(), 9u);
}

TEST_F(Folder, UpperCaseStoreNames) {
    mkdir("IN", 0777);
    rmdir("in");
    ASSERT_EQ(file(7, kMail, nullptr, 'U', "IN\\", ".OMH"), 1);
    writeFile("IN/N0000007.OMB", "body");
    writeFile("IN/N5.IDX", indexRecord(0, 0));
    EXPECT_EQ(GetListStatus("in\\", 0, 5), 'U');
    EXPECT_EQ(SetListStatus("in\\", 0, 5, 'R'), 1);
    std::string status, author, rcpt, subject, date, size;
    int32_t hasBody = 0;
    EXPECT_EQ(ReadListItems(0, "in\\n5.idx", "in\\n.lst", status, author, rcpt, subject, date,
                            size, hasBody),
              1);
    EXPECT_EQ(status, "R");
    EXPECT_EQ(author, "Ann Smith");
    EXPECT_EQ(hasBody, 1);
    std::string body;
    EXPECT_EQ(GetBodyFileName("in\\", 0, 5, body), 1);
    EXPECT_EQ(body, "in\\N0000007.omb");
    int32_t count = -1;
    EXPECT_EQ(CalcItems("in", 2, count), 1);
    EXPECT_EQ(count, 1);
}

TEST_F(Folder, RowsResolveThroughIndex) {
    file(1, kMail);
    file(2, "221 1 <a>\r\nNewsgroups: g\r\nSubject: second\r\n", nullptr, 'O');
    const std::string list = readFile("in/n.lst");
    const std::size_t second = list.find("N0000002");
    writeFile("in/n5.idx", indexRecord(second, 1) + indexRecord(0, 0));
    std::string status, author, rcpt, subject, date, size;
    int32_t hasBody = 7;
    ASSERT_EQ(ReadListItems(0, "in\\n5.idx", "in\\n.lst", status, author, rcpt, subject, date, size,
                            hasBody),
              1);
    EXPECT_EQ(subject, "second");
    EXPECT_EQ(size, "-");
    EXPECT_EQ(hasBody, 0);
    ReadListItems(1, "in\\n5.idx", "in\\n.lst", status, author, rcpt, subject, date, size, hasBody);
    EXPECT_EQ(subject, "Budget");
    // Past the end of the index, and negative rows: the first record.
    EXPECT_EQ(GetListStatus("in\\", 9, 5), 'U');
    EXPECT_EQ(GetListStatus("in\\", -1, 5), 'U');
    EXPECT_EQ(GetListStatus("in\\", 0, 5), 'O');
    // No index of that type: the first record as well.
    EXPECT_EQ(GetListStatus("in\\", 0, 3), 'U');
    EXPECT_EQ(ReadListItems(0, "in\\n3.idx", "in\\n.lst", status, author, rcpt, subject, date, size,
                            hasBody),
              0);
    EXPECT_EQ(subject, "");
    std::string line;
    EXPECT_EQ(GetFirstField(0, "in\\n5.idx", "in\\n.lst", line), 1);
    EXPECT_EQ(line, "N0000002.omh");
    EXPECT_EQ(GetFirstField(0, "in\\n5.idx", "in\\none.lst", line), 0);
}

TEST_F(Folder, StatusInPlace) {
    file(1, kMail, nullptr, 'S');
    file(2, kMail, nullptr, 'R');
    file(3, kMail, nullptr, 'S');
    const std::string list = readFile("in/n.lst");
    writeFile("in/n7.idx", indexRecord(list.find("N0000003"), 2) +
                               indexRecord(list.find("N0000002"), 1) + indexRecord(0, 0));
    EXPECT_EQ(SetListStatus("in\\", 1, 7, 'R'), 2);
    EXPECT_EQ(readFile("in/n.lst"), list);
    EXPECT_EQ(DeselectList("in\\", 7), 2);
    EXPECT_EQ(DeselectList("in\\", 7), 0);
    EXPECT_EQ(GetListStatus("in\\", 0, 7), 'O');
    EXPECT_EQ(SetListStatus("in\\", 0, 7, 'H'), 1);
    EXPECT_EQ(GetListStatus("in\\", 0, 7), 'H');
    std::string expected = list;
    expected[list.find("N0000001") + 14] = 'O';
    expected[list.find("N0000003") + 14] = 'H';
    EXPECT_EQ(readFile("in/n.lst"), expected);
    EXPECT_EQ(SetListStatus("none\\", 0, 7, 'R'), 0);
    EXPECT_EQ(GetListStatus("none\\", 0, 7), 0);
}

TEST_F(Folder, DamagedIndexNeverWritesOutsideStatusBytes) {
    file(1, kMail);
    const std::string list = readFile("in/n.lst");
    // Offsets in the middle of a line and past the end of the list.
    writeFile("in/n7.idx", indexRecord(5, 0) + indexRecord(list.size() + 100, 0) +
                               indexRecord(list.size() - 3, 0));
    writeFile("in/n.cnt", "3\r\n");
    for (int row = 0; row < 3; ++row) EXPECT_EQ(SetListStatus("in\\", row, 7, 'S'), 0);
    EXPECT_EQ(DeselectList("in\\", 7), 0);
    EXPECT_EQ(readFile("in/n.lst"), list);
    EXPECT_EQ(GetListStatus("in\\", 1, 7), 0);
}

TEST_F(Folder, PreviousStatus) {
    EXPECT_EQ(UpdatePrevStatus("in\\none.lst", 'U'), 0);
    file(1, kMail, nullptr, 'O');
    file(2, kMail, nullptr, 'O');
    EXPECT_EQ(UpdatePrevStatus("in\\n.lst", 'U'), 1);
    const std::string list = readFile("in/n.lst");
    EXPECT_EQ(recordOf(list, 0)[1], "O");
    EXPECT_EQ(recordOf(list, 1)[1], "U");
    // Another list at the same offset is left alone.
    mkdir("bin", 0777);
    writeFile("bin/n.lst", list);
    EXPECT_EQ(UpdatePrevStatus("bin\\n.lst", 'R'), 0);
    EXPECT_EQ(readFile("bin/n.lst"), list);
    // The list rewritten shorter since: nothing is written.
    writeFile("in/n.lst", list.substr(0, list.find("N0000002")));
    EXPECT_EQ(UpdatePrevStatus("in\\n.lst", 'R'), 0);
    EXPECT_EQ(readFile("in/n.lst"), list.substr(0, list.find("N0000002")));
}

TEST(ItemNumbers, MakeFileNamesWrapsAfterSevenDigits) {
    TempDir dir(true);
    std::string head, body;
    EXPECT_EQ(MakeFileNames("omail.dat", head, body), 1);
    EXPECT_EQ(head, "N0000000.omh");
    EXPECT_EQ(body, "N0000000.omb");
    EXPECT_EQ(readFile("omail.dat"), "1\r\n");
    writeFile("omail.dat", "9999999\r\n");
    MakeFileNames("omail.dat", head, body);
    EXPECT_EQ(head, "N9999999.omh");
    EXPECT_EQ(readFile("omail.dat"), "0\r\n");
    writeFile("omail.dat", "junk 42 more");
    MakeFileNames("omail.dat", head, body);
    EXPECT_EQ(head, "N0000042.omh");
    writeFile("omail.dat", "123456789\r\n");  // damaged: more than seven digits
    MakeFileNames("omail.dat", head, body);
    EXPECT_EQ(head, "N0000000.omh");
    EXPECT_EQ(MakeFileNames("nodir/omail.dat", head, body), 0);
}

TEST(CountFiles, GetSetAndSizes) {
    TempDir dir(true);
    uint32_t value = 9;
    EXPECT_EQ(GetFile("n.cnt", value), 0);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(SetFile("n.cnt", 4294967295u), 1);
    EXPECT_EQ(readFile("n.cnt"), "4294967295\r\n");
    EXPECT_EQ(GetFile("N.CNT", value), 1);
    EXPECT_EQ(value, 4294967295u);
    writeFile("empty", "");
    EXPECT_EQ(GetFile("empty", value), 1);
    EXPECT_EQ(value, 0u);
    uint32_t size = 77;
    EXPECT_EQ(StatFileSize("missing", size), 0);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(StatFileSize("empty", size), 1);
    EXPECT_EQ(size, 1u);
    writeFile("big", std::string(3 * 1024 + 1023, 'x'));
    StatFileSize("big", size);
    EXPECT_EQ(size, 3u);
}

TEST(CalcItems, CountsByKind) {
    TempDir dir(true);
    mkdir("OUT", 0777);
    int32_t count = -1;
    EXPECT_EQ(CalcItems("out", 2, count), 0);
    EXPECT_EQ(count, 0);
    writeFile("OUT/N0000001.omh", "To: a@b\r\n");
    writeFile("OUT/N0000002.OMH", "Newsgroups: g\r\n");
    writeFile("OUT/N0000003.omh", "Newsgroups: g\r\n");
    writeFile("OUT/.N0000004.omh", "To: a\r\n");
    writeFile("OUT/N0000005.omb", "To: a\r\n");
    EXPECT_EQ(CalcItems("out", 2, count), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(CalcItems("out", 1, count), 1);
    EXPECT_EQ(count, 2);
}
