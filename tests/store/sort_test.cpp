// Sorting runs under the C locale and under a UTF-8 locale: the order a user
// is promised (a reply after its original, equal texts by date, numbers by
// value) must hold in both.
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace torvakit;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

struct Item {
    std::string author = "a", subject = "s", date = "971206190154", size = "1";
};

std::string record(int n, const Item& it) {
    char name[16];
    std::snprintf(name, sizeof name, "N%07d.omh", n);
    return std::string(name) + "\r\nU\r\n" + it.author + "\r\nrcpt\r\n" + it.subject +
           "\r\n06 Dec 97\r\n" + it.date + "\r\n" + it.size + "\r\n<id>\r\n";
}

// Writes a folder "in" with the items and returns their ordinals in index order.
class SortFixture : public ::testing::TestWithParam<const char*> {
protected:
    TempDir dir{true};
    std::string previousLocale;

    void SetUp() override {
        previousLocale = std::setlocale(LC_COLLATE, nullptr);
        if (!std::setlocale(LC_COLLATE, GetParam()))
            GTEST_SKIP() << "locale " << GetParam() << " is not installed (scripts/deps.sh store)";
        mkdir("in", 0777);
    }
    void TearDown() override { std::setlocale(LC_COLLATE, previousLocale.c_str()); }

    bool utf8() const { return std::string(GetParam()) != "C"; }

    void writeFolder(const std::vector<Item>& items) {
        std::string list;
        for (std::size_t i = 0; i < items.size(); ++i) list += record(static_cast<int>(i), items[i]);
        writeFile("in/n.lst", list);
        writeFile("in/n.cnt", std::to_string(items.size()) + "\r\n");
    }

    std::vector<int> order(int type) {
        EXPECT_GE(SortList("in\\n.lst", type), 0);
        return ordinals("in/n" + std::to_string(type) + ".idx");
    }

    static std::vector<int> ordinals(const std::string& index) {
        const std::string data = readFile(index);
        std::vector<int> out;
        for (std::size_t at = 0; at + 24 <= data.size(); at += 24) out.push_back(std::stoi(data.substr(at + 12, 10)));
        return out;
    }
};

}  // namespace

TEST_P(SortFixture, ReplyFollowsOriginalAndEqualSubjectsGoByDate) {
    writeFolder({{"a", "Re: budget", "971206190154"},
                 {"a", "Budget", "971207000000"},
                 {"a", "budget plan", "971206000000"},
                 {"a", "Budget", "971201000000"},
                 {"a", "RE: Budget", "971101000000"}});
    const std::vector<int> got = order(5);
    ASSERT_EQ(got.size(), 5u);
    if (!utf8()) {
        // Byte order: the space of "budget plan" sorts before the date digits
        // appended to "budget", and the reply mark after both.
        EXPECT_EQ(got, (std::vector<int>{2, 3, 1, 4, 0}));
    } else {
        // The collation puts "budget plan" where it likes, but the two
        // originals stay in date order and the two replies come right after them.
        std::vector<int> budget;
        for (int o : got)
            if (o != 2) budget.push_back(o);
        EXPECT_EQ(budget, (std::vector<int>{3, 1, 4, 0}));
    }
}

TEST_P(SortFixture, TextFollowsTheCollation) {
    writeFolder({{"zeta"}, {"\xC3\xA1" "baco"}, {"Beta"}, {"alpha"}});
    if (utf8())
        EXPECT_EQ(order(3), (std::vector<int>{1, 3, 2, 0}));  // ábaco as abaco
    else
        EXPECT_EQ(order(3), (std::vector<int>{3, 2, 0, 1}));  // 0xC3 after z
}

TEST_P(SortFixture, NumericKeysByValue) {
    writeFolder({{"a", "s", "1260202080910", "-"},
                 {"a", "s", "971206190154", "120"},
                 {"a", "s", "0000000000000000000000971206190153", "42"},
                 {"a", "s", "99999999999999999999999999", "0"}});
    EXPECT_EQ(order(7), (std::vector<int>{2, 1, 0, 3}));
    // "-" and "0" are both 0 and keep their list order.
    EXPECT_EQ(order(8), (std::vector<int>{0, 3, 2, 1}));
}

TEST_P(SortFixture, StableAndRepeatable) {
    std::vector<Item> items(50, Item{"same", "same"});
    writeFolder(items);
    const std::vector<int> got = order(3);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(got[i], i);
    const std::string first = readFile("in/n3.idx");
    order(3);
    EXPECT_EQ(readFile("in/n3.idx"), first);
}

TEST_P(SortFixture, OneLineRecordsHaveNoDateAppended) {
    writeFile("GROUP.LST", "comp.b\r\nalt.x\r\ncomp.a\r\n");
    EXPECT_EQ(sort("GROUP.LST", 1, 1, 0, "GROUP.IDX", 3), 3);
    EXPECT_EQ(readFile("GROUP.IDX"),
              "0000000008  0000000001\r\n0000000015  0000000002\r\n0000000000  0000000000\r\n");
}

INSTANTIATE_TEST_SUITE_P(Locales, SortFixture, ::testing::Values("C", "en_US.UTF-8"),
                         [](const auto& info) { return std::string(info.param)[0] == 'C' ? std::string("C") : std::string("Utf8"); });

class SortFiles : public ::testing::Test {
protected:
    TempDir dir{true};
    void SetUp() override { mkdir("in", 0777); }
};

TEST_F(SortFiles, IndexRecordsAndCounts) {
    writeFile("in/n.lst", record(0, Item{}));
    writeFile("in/n.cnt", "1\r\n");
    EXPECT_EQ(SortList("in\\n.lst", 7), 1);
    EXPECT_EQ(readFile("in/n7.idx"), "0000000000  0000000000\r\n");
    // An empty folder: 0 and the old index stays.
    writeFile("in/n.cnt", "0\r\n");
    writeFile("in/n7.idx", "old");
    EXPECT_EQ(SortList("in\\n.lst", 7), 0);
    EXPECT_EQ(readFile("in/n7.idx"), "old");
    EXPECT_EQ(SortList("in\\n.lst", 10), -1);
    EXPECT_EQ(sort("in\\none.lst", 9, 5, 0, "in\\n5.idx", 3), -1);
    EXPECT_FALSE(std::ifstream("in/n5.idx").good());
    EXPECT_EQ(sort("in\\n.lst", 9, 5, 0, "nodir\\n5.idx", 1), -1);
}

TEST_F(SortFiles, UpperCaseFolder) {
    rmdir("in");
    mkdir("IN", 0777);
    writeFile("IN/N.LST", record(0, Item{"b"}) + record(1, Item{"a"}));
    writeFile("IN/N.CNT", "2\r\n");
    EXPECT_EQ(SortList("in\\n.lst", 3), 2);
    EXPECT_EQ(readFile("IN/n3.idx").substr(12, 10), "0000000001");
}

TEST_F(SortFiles, DamagedLists) {
    // A cut-off last record, a 100,000-byte subject, NUL bytes and a count
    // larger than the list: every record gets an index line and nothing
    // reads outside the list.
    std::string list = record(0, Item{"x", std::string(100000, 'q')}) +
                       record(1, Item{std::string("n\0ul", 4), "s"});
    list += "N0000002.omh\r\nU\r\nauthor-only";
    writeFile("in/n.lst", list);
    writeFile("in/n.cnt", "5\r\n");
    EXPECT_EQ(SortList("in\\n.lst", 5), 5);
    EXPECT_EQ(SortList("in\\n.lst", 3), 5);
    EXPECT_EQ(SortList("in\\n.lst", 8), 5);
    writeFile("in/n.cnt", "2000000000\r\n");
    const int written = SortList("in\\n.lst", 7);
    EXPECT_GT(written, 5);
    EXPECT_LT(written, static_cast<int>(list.size()));
    // Rows past the list's end read as empty records.
    std::string status, author, rcpt, subject, date, size;
    int32_t hasBody = 0;
    EXPECT_EQ(ReadListItems(written - 1, "in\\n7.idx", "in\\n.lst", status, author, rcpt, subject,
                            date, size, hasBody),
              1);
}
