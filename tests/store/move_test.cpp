#include "platform/clock.h"
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace torvakit;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool exists(const std::string& path) { return std::ifstream(path).good(); }

std::string indexRecord(uint64_t offset, uint64_t ordinal) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%010llu  %010llu\r\n", static_cast<unsigned long long>(offset),
                  static_cast<unsigned long long>(ordinal));
    return buf;
}

// "dd Mon yy" for the local date `days` days before today.
std::string daysAgo(int days) {
    platform::CalendarTime t = platform::currentLocalCalendar();
    t.day -= days;
    t.hour = 12;  // noon: clear of any daylight-saving shift
    t = platform::localCalendar(platform::fromLocalCalendar(t));
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d %s %02d", t.day, months[t.month - 1], t.year - 1900);
    return buf;
}

std::string record(const std::string& name, char status, const std::string& date = "06 Dec 97") {
    return name + "\r\n" + status + "\r\nauthor\r\nrcpt\r\nsubject " + name + "\r\n" + date +
           "\r\n971206190154\r\n1\r\n<" + name + ">\r\n";
}

class Folders : public ::testing::Test {
protected:
    TempDir dir{true};
    std::vector<std::string> records;

    void SetUp() override {
        mkdir("in", 0777);
        mkdir("bin", 0777);
    }
    // A folder of items N0000000.. with header and body files.
    void fill(const std::string& folder, const std::vector<char>& statuses,
              const std::vector<std::string>& dates = {}) {
        std::string list;
        records.clear();
        for (std::size_t i = 0; i < statuses.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "N%07zu.omh", i);
            records.push_back(record(name, statuses[i], i < dates.size() ? dates[i] : "06 Dec 97"));
            list += records.back();
            writeFile(folder + "/" + name, "+OK\r\n");
            std::string body = name;
            body.back() = 'b';
            writeFile(folder + "/" + body, "body");
        }
        writeFile(folder + "/n.lst", list);
        writeFile(folder + "/n.cnt", std::to_string(statuses.size()) + "\r\n");
    }
    // The index of sort type 5 showing the records in reverse order.
    void reverseIndex(const std::string& folder) {
        std::string index;
        std::size_t offset = 0;
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < records.size(); ++i) {
            lines.push_back(indexRecord(offset, i));
            offset += records[i].size();
        }
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) index += *it;
        writeFile(folder + "/n5.idx", index);
    }
};

}  // namespace

TEST_F(Folders, DeleteSelectedRows) {
    fill("in", {'U', 'R', 'O'});
    reverseIndex("in");
    std::vector<int32_t> selection = {2, 0, 2};  // rows 0 and 2 are records 2 and 0
    EXPECT_EQ(MoveItems("in\\", "", 5, selection), 1);
    EXPECT_EQ(selection, (std::vector<int32_t>{2, 2, 0}));
    EXPECT_EQ(readFile("in/n.lst"), records[1]);
    EXPECT_EQ(readFile("in/n.cnt"), "1\r\n");
    EXPECT_FALSE(exists("in/N0000000.omh") || exists("in/N0000000.omb"));
    EXPECT_FALSE(exists("in/N0000002.omh") || exists("in/N0000002.omb"));
    EXPECT_TRUE(exists("in/N0000001.omh") && exists("in/N0000001.omb"));
    EXPECT_FALSE(exists("OMAIL.TMP"));
}

TEST_F(Folders, MoveSelectedRowsToNewFolder) {
    fill("in", {'U', 'R', 'O'});
    reverseIndex("in");
    mkdir("keep", 0777);
    std::vector<int32_t> selection = {2, 0, 2};
    EXPECT_EQ(MoveItems("in\\", "keep\\", 5, selection), 1);
    // List order, not display order; statuses kept.
    EXPECT_EQ(readFile("keep/n.lst"), records[0] + records[2]);
    EXPECT_EQ(readFile("keep/n.cnt"), "2\r\n");
    EXPECT_TRUE(exists("keep/N0000000.omh") && exists("keep/N0000002.omb"));
    EXPECT_FALSE(exists("in/N0000000.omh"));
    // Appending to an existing list keeps what is there.
    std::vector<int32_t> again = {1, 0};
    EXPECT_EQ(MoveItems("in\\", "keep\\", 9, again), 1);  // no index 9: rows are ordinals
    EXPECT_EQ(readFile("keep/n.lst"), records[0] + records[2] + records[1]);
    EXPECT_EQ(readFile("keep/n.cnt"), "3\r\n");
    EXPECT_EQ(readFile("in/n.lst"), "");
    EXPECT_EQ(readFile("in/n.cnt"), "0\r\n");
}

TEST_F(Folders, SelectionEdgeCases) {
    fill("in", {'U', 'R', 'O'});
    reverseIndex("in");
    // Row 1 twice, a row past the index, a negative row, and a count larger
    // than the array: only record 1 goes, and the count says so.
    std::vector<int32_t> selection = {9, 1, 1, 7, -1};
    EXPECT_EQ(MoveItems("in\\", "bin\\", 5, selection), 1);
    EXPECT_EQ(selection, (std::vector<int32_t>{9, 1, 1, -1, -1}));
    EXPECT_EQ(readFile("in/n.lst"), records[0] + records[2]);
    EXPECT_EQ(readFile("in/n.cnt"), "2\r\n");
    EXPECT_EQ(readFile("bin/n.cnt"), "1\r\n");
    std::vector<int32_t> empty;
    EXPECT_EQ(MoveItems("in\\", "bin\\", 5, empty), 1);
    EXPECT_EQ(readFile("in/n.lst"), records[0] + records[2]);
}

TEST_F(Folders, MovingIntoTheSameFolderChangesNothing) {
    fill("in", {'U', 'R'});
    const std::string list = readFile("in/n.lst");
    std::vector<int32_t> selection = {1, 0};
    EXPECT_EQ(MoveItems("in\\", "IN/", 9, selection), 1);
    EXPECT_EQ(MoveAllItems("in\\", "./in\\"), 1);
    EXPECT_EQ(ExpireItems("in\\", "in\\", 'R'), 1);
    EXPECT_EQ(readFile("in/n.lst"), list);
    EXPECT_EQ(readFile("in/n.cnt"), "2\r\n");
    EXPECT_TRUE(exists("in/N0000000.omh"));
}

TEST_F(Folders, FailuresChangeNothing) {
    fill("in", {'U', 'R'});
    const std::string list = readFile("in/n.lst");
    std::vector<int32_t> selection = {1, 0};
    EXPECT_EQ(MoveItems("none\\", "bin\\", 9, selection), 0);
    EXPECT_EQ(MoveItems("in\\", "nodir\\", 9, selection), 0);
    EXPECT_FALSE(exists("OMAIL.TMP"));
    mkdir("OMAIL.TMP", 0777);  // the scratch file cannot be created
    EXPECT_EQ(MoveItems("in\\", "", 9, selection), 0);
    EXPECT_EQ(ExpireItems("in\\", "bin\\", 'U'), 0);
    rmdir("OMAIL.TMP");
    EXPECT_EQ(MoveAllItems("in\\", "nodir\\"), 0);
    EXPECT_EQ(readFile("in/n.lst"), list);
    EXPECT_EQ(readFile("in/n.cnt"), "2\r\n");
    EXPECT_FALSE(exists("bin/n.lst"));
    EXPECT_TRUE(exists("in/N0000000.omh") && exists("in/N0000001.omb"));
}

TEST_F(Folders, MoveAll) {
    fill("in", {'U', 'R', 'H'});
    writeFile("bin/n.lst", record("N0000009.omh", 'R'));
    writeFile("bin/n.cnt", "1\r\n");
    EXPECT_EQ(MoveAllItems("in\\", "bin\\"), 1);
    EXPECT_FALSE(exists("in/n.lst"));
    EXPECT_EQ(readFile("in/n.cnt"), "0\r\n");
    EXPECT_EQ(readFile("bin/n.lst"), record("N0000009.omh", 'R') + records[0] + records[1] + records[2]);
    EXPECT_EQ(readFile("bin/n.cnt"), "4\r\n");
    EXPECT_TRUE(exists("bin/N0000002.omh") && exists("bin/N0000002.omb"));
    EXPECT_EQ(MoveAllItems("in\\", "bin\\"), 0);  // an empty folder has no list
}

TEST_F(Folders, ExpireByAge) {
    fill("in", {'U', 'U', 'U', 'U', 'U', 'U'},
         {daysAgo(30), daysAgo(31), daysAgo(0), "06 Dec 05", "01 Jan 140", "garbage"});
    EXPECT_EQ(ExpireItems("in\\", "bin\\", -30), 1);
    // 30 days old stays, 31 goes; a stored year before 70 counts as older than
    // the clock; a year after 2038 is a date like any other.
    EXPECT_EQ(readFile("in/n.lst"), records[0] + records[2] + records[4]);
    EXPECT_EQ(readFile("in/n.cnt"), "3\r\n");
    EXPECT_EQ(readFile("bin/n.lst"), records[1] + records[3] + records[5]);
    EXPECT_EQ(readFile("bin/n.cnt"), "3\r\n");
    EXPECT_EQ(ExpireItems("in\\", "", 0), 1);  // limit 0: anything older than today
    EXPECT_EQ(readFile("in/n.lst"), records[2] + records[4]);
}

// Records written since the list shows two-digit years ("01 Jan 24") take
// the century from their sortable date, so a recent item is not taken for
// one from before 1970.
TEST_F(Folders, ExpireByAgeWithTwoDigitYears) {
    auto recent = [](int days) {
        platform::CalendarTime t = platform::currentLocalCalendar();
        t.day -= days;
        t.hour = 12;
        t = platform::localCalendar(platform::fromLocalCalendar(t));
        static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        char display[32], sortable[32];
        std::snprintf(display, sizeof display, "%02d %s %02d", t.day, months[t.month - 1], t.year % 100);
        std::snprintf(sortable, sizeof sortable, "%02d%02d%02d120000", t.year - 1900, t.month, t.day);
        return std::string(display) + "\r\n" + sortable;
    };
    fill("in", {'U', 'U'});
    const std::string kept = "N0000000.omh\r\nU\r\na\r\nr\r\ns\r\n" + recent(3) + "\r\n1\r\n<a>\r\n";
    const std::string old = "N0000001.omh\r\nU\r\na\r\nr\r\ns\r\n" + recent(40) + "\r\n1\r\n<b>\r\n";
    writeFile("in/n.lst", kept + old);
    EXPECT_EQ(ExpireItems("in\\", "bin\\", -30), 1);
    EXPECT_EQ(readFile("in/n.lst"), kept);
    EXPECT_EQ(readFile("bin/n.lst"), old);
}

TEST_F(Folders, ExpireByStatus) {
    fill("in", {'R', 'U', 'R', 'H'});
    EXPECT_EQ(ExpireItems("in\\", "", 'R'), 1);
    EXPECT_EQ(readFile("in/n.lst"), records[1] + records[3]);
    EXPECT_EQ(readFile("in/n.cnt"), "2\r\n");
    EXPECT_FALSE(exists("in/N0000000.omh") || exists("in/N0000002.omb"));
    EXPECT_EQ(ExpireItems("in\\", "", 0x100 + 'H'), 1);  // only the low byte counts
    EXPECT_EQ(readFile("in/n.lst"), records[1]);
}

TEST_F(Folders, UpperCaseFolderAndItems) {
    mkdir("IN2", 0777);
    fill("IN2", {'U', 'R'});
    rename("IN2/N0000000.omh", "IN2/N0000000.OMH");
    rename("IN2/N0000000.omb", "IN2/N0000000.OMB");
    rename("IN2/n.lst", "IN2/N.LST");
    std::vector<int32_t> selection = {1, 0};
    EXPECT_EQ(MoveItems("in2\\", "bin\\", 9, selection), 1);
    EXPECT_TRUE(exists("bin/N0000000.omh") && exists("bin/N0000000.omb"));
    EXPECT_FALSE(exists("IN2/N0000000.OMH"));
    EXPECT_EQ(readFile("IN2/N.LST"), records[1]);
}

TEST_F(Folders, DamagedListsLoseNothing) {
    fill("in", {'U', 'R', 'U'});
    // The count says one record; the list holds three and a fourth cut off.
    writeFile("in/n.cnt", "1\r\n");
    writeFile("in/n.lst", readFile("in/n.lst") + "N0000003.omh\r\nR\r\nauth");
    EXPECT_EQ(ExpireItems("in\\", "bin\\", 'U'), 1);
    EXPECT_EQ(readFile("in/n.lst"),
              records[1] + "N0000003.omh\r\nR\r\nauth\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
    EXPECT_EQ(readFile("in/n.cnt"), "2\r\n");
    EXPECT_EQ(readFile("bin/n.cnt"), "2\r\n");
    // A record naming a file outside its folder moves the record, never the file.
    writeFile("victim.omh", "precious");
    writeFile("victim.omb", "precious");
    writeFile("in/n.lst", record("../victim.omh", 'R') + record("", 'R'));
    EXPECT_EQ(ExpireItems("in\\", "", 'R'), 1);
    EXPECT_EQ(readFile("in/n.lst"), "");
    EXPECT_EQ(readFile("victim.omh"), "precious");
    EXPECT_EQ(readFile("victim.omb"), "precious");
}

TEST(FilePrimitives, MoveOverFile) {
    TempDir dir(true);
    writeFile("a", "new");
    writeFile("b", "old");
    EXPECT_EQ(moveoverfile("a", "b"), 1);
    EXPECT_EQ(readFile("b"), "new");
    EXPECT_EQ(readFile("a"), "new");  // the copy leaves the source
    EXPECT_EQ(moveoverfile("a", "c"), 1);
    EXPECT_FALSE(exists("a"));
    EXPECT_EQ(readFile("c"), "new");
    EXPECT_EQ(moveoverfile("missing", "d"), 1);
    EXPECT_FALSE(exists("d"));
}

TEST(FilePrimitives, ConcatFiles) {
    TempDir dir(true);
    writeFile("dest", "one\r\n");
    writeFile("src", "two\nthree\rfour");
    EXPECT_EQ(concatfiles("dest", "src"), 1);
    EXPECT_EQ(readFile("dest"), "one\r\ntwo\r\nthree\r\nfour\r\n");
    writeFile("empty", "");
    EXPECT_EQ(concatfiles("dest", "empty"), 1);
    EXPECT_EQ(readFile("dest"), "one\r\ntwo\r\nthree\r\nfour\r\n");
    EXPECT_EQ(concatfiles("newdest", "missing"), 0);
    EXPECT_FALSE(exists("newdest"));
    writeFile("long", std::string(3000, 'x') + "\r\ny");
    EXPECT_EQ(concatfiles("cut", "long"), 1);
    EXPECT_EQ(readFile("cut"), std::string(2047, 'x') + "\r\ny\r\n");
}

TEST(FilePrimitives, EmptyAndRemoveDirectories) {
    TempDir dir(true);
    mkdir("N0000001", 0777);
    writeFile("N0000001/n.lst", "x");
    writeFile("N0000001/.hidden", "x");
    mkdir("N0000001/sub", 0777);
    EXPECT_EQ(EmptyDir("N0000001"), 1);
    EXPECT_FALSE(exists("N0000001/n.lst"));
    EXPECT_TRUE(exists("N0000001/.hidden"));
    EXPECT_EQ(removedir("N0000001"), 0);  // the hidden file and the subdirectory stay
    EXPECT_EQ(EmptyDir("missing"), 0);
    EXPECT_EQ(EmptyDir(""), 0);
    mkdir("N0000002", 0777);
    writeFile("N0000002/N0000005.omh", "x");
    EXPECT_EQ(removedir("n0000002"), 1);
    EXPECT_EQ(removedir("n0000002"), 0);
}

TEST(Filters, HeaderValuesLowered) {
    TempDir dir(true);
    writeFile("h", "From: Ann <ANN@X>\r\nReply-To: Desk@X\r\nTo: First@x, b@x\r\nTo: second@x\r\n"
                   "Newsgroups: Comp.A,comp.b\r\n");
    std::string from, replyTo, group;
    EXPECT_EQ(GetFilters("h", from, replyTo, group), 1);
    EXPECT_EQ(from, "ann <ann@x>");
    EXPECT_EQ(replyTo, "desk@x");
    EXPECT_EQ(group, "comp.a");
    writeFile("h", "To: First@x, b@x\r\nTo: second@x\r\n");
    GetFilters("h", from, replyTo, group);
    EXPECT_EQ(group, "first@x");
    EXPECT_EQ(GetFilters("missing", from, replyTo, group), 0);
    EXPECT_TRUE(from.empty() && replyTo.empty() && group.empty());
}

TEST_F(Folders, ManyItemsLeaveAtOnce) {
    // Enough items that the folder is read once instead of file by file;
    // names stored in capitals and missing bodies must still be handled.
    fill("in", std::vector<char>(300, 'R'));
    for (int i = 0; i < 300; i += 3) {
        char name[32];
        std::snprintf(name, sizeof name, "in/N%07d", i);
        rename((std::string(name) + ".omh").c_str(), (std::string(name) + ".OMH").c_str());
        rename((std::string(name) + ".omb").c_str(), (std::string(name) + ".OMB").c_str());
        std::snprintf(name, sizeof name, "in/N%07d.omb", i + 1);
        std::remove(name);
    }
    writeFile("in/stray.txt", "not an item");
    EXPECT_EQ(ExpireItems("in\\", "bin\\", 'R'), 1);
    EXPECT_EQ(readFile("bin/n.cnt"), "300\r\n");
    int headers = 0, bodies = 0;
    for (const auto& e : std::filesystem::directory_iterator("bin")) {
        const std::string ext = e.path().extension().string();
        headers += ext == ".omh";
        bodies += ext == ".omb";
    }
    EXPECT_EQ(headers, 300);
    EXPECT_EQ(bodies, 200);
    EXPECT_TRUE(exists("in/stray.txt"));
    EXPECT_FALSE(exists("in/N0000000.OMH"));
    EXPECT_EQ(readFile("in/n.lst"), "");
}
