// The newsgroup window's group list transfer against a real INN (the lab
// of newslab.h): the full list, updates with and without a stored date,
// an answer with nothing new, and a server that cannot be reached.
#include "news/grouplist.h"

#include "net/netwire.h"
#include "newslab.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using newslab::NntpLab;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

class ListWindow : public news::GroupListHost {
public:
    std::vector<std::string> statuses, boxes;
    int filed = 0;
    bool busy = false;
    void showStatus(const std::string& text) override { statuses.push_back(text); }
    void information(const std::string& text) override { boxes.push_back(text); }
    void setBusy(bool on) override { busy = on; }
    void listsFiled(bool) override { ++filed; }
};

class RealGroupListTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "real servers are not run in the sanitizer build";
#endif
        if (!NntpLab::instance().up()) GTEST_SKIP() << NntpLab::instance().why();
    }
    void TearDown() override {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        loop.runFor(20);
    }
    bool fetch(news::ListTransfer kind) {
        if (!groups.start(kind, NntpLab::instance().host())) return false;
        return loop.runUntil([&] { return groups.state() == news::ListTransfer::Idle; }, 60000);
    }
    static std::vector<std::string> lines(const std::string& file) {
        std::vector<std::string> out;
        std::ifstream in(file, std::ios::binary);
        for (std::string line; std::getline(in, line);) out.push_back(line.substr(0, line.size() - 1));
        return out;
    }
    std::string files() const {
        return readFile("GROUP.LST") + "|" + readFile("GROUP.IDX") + "|" + readFile("GROUP.DAT") + "|" +
               readFile("NEWGRP.LST");
    }
    // The server reports a group as new for a date up to a second after it
    // was made: the next date it gives must be clear of the group.
    static void settleClock() { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); }

    testsupport::TempDir dir{true};
    platform::PollLoop loop;
    ListWindow window;
    news::GroupList groups{window, dir.path()};
};

TEST_F(RealGroupListTest, FetchAndUpdatesListEachGroupOnceAndAnEmptyAnswerChangesNothing) {
    NntpLab& lab = NntpLab::instance();
    const std::string tag = "g" + std::to_string(::getpid());
    lab.makeGroup(tag + ".first", 0);
    settleClock();

    // Without a stored date the update asks for every group since 1999.
    ASSERT_TRUE(fetch(news::ListTransfer::NewGroups));
    ASSERT_EQ(window.boxes.size(), 1u);
    std::vector<std::string> all = lines("GROUP.LST");
    EXPECT_EQ(window.boxes[0], std::to_string(all.size()) + " new newsgroups listed");
    EXPECT_NE(std::find(all.begin(), all.end(), tag + ".first"), all.end());
    EXPECT_EQ(lines("NEWGRP.LST"), all);
    EXPECT_EQ(readFile("NEWS.DAT").size(), 14u);

    ASSERT_TRUE(fetch(news::ListTransfer::FullList));
    all = lines("GROUP.LST");
    EXPECT_EQ(window.boxes.back(), std::to_string(all.size()) + " newsgroups listed");
    EXPECT_EQ(groups.total(), int32_t(all.size()));
    EXPECT_EQ(readFile("GROUP.DAT"), std::to_string(all.size()) + "\r\n");
    EXPECT_FALSE(platform::fileExists("TEMP.LST"));  // renamed over the old list
    std::vector<std::string> sorted = all;
    std::sort(sorted.begin(), sorted.end());
    for (int32_t row = 0; row < groups.total(); ++row) EXPECT_EQ(groups.name(row), sorted[size_t(row)]);

    lab.makeGroup(tag + ".second", 0);
    settleClock();
    ASSERT_TRUE(fetch(news::ListTransfer::NewGroups));
    EXPECT_EQ(window.boxes.back(), "1 new newsgroups listed");
    EXPECT_EQ(lines("NEWGRP.LST"), std::vector<std::string>{tag + ".second"});
    EXPECT_EQ(groups.total(), int32_t(all.size() + 1));
    const int32_t hit = groups.find(tag + ".second", -1);
    ASSERT_GE(hit, 0);
    EXPECT_EQ(groups.name(hit), tag + ".second");
    EXPECT_EQ(groups.find(tag + ".second", hit), -1);
    EXPECT_EQ(groups.find("a", groups.total() - 1), -1);  // from the last row

    // Nothing new: the three files and the new list stay as they were.
    const std::string before = files();
    const int filed = window.filed;
    ASSERT_TRUE(fetch(news::ListTransfer::NewGroups));
    EXPECT_EQ(window.boxes.back(), "0 new newsgroups listed");
    EXPECT_EQ(files(), before);
    EXPECT_EQ(window.filed, filed);

    // An old date makes the server report groups the list already holds.
    writeFile("NEWS.DAT", "991231120000\r\n");
    ASSERT_TRUE(fetch(news::ListTransfer::NewGroups));
    std::vector<std::string> again = lines("GROUP.LST");
    EXPECT_EQ(again.size(), all.size() + 1);
    EXPECT_EQ(groups.total(), int32_t(again.size()));
    EXPECT_FALSE(window.busy);
}

TEST_F(RealGroupListTest, AServerThatCannotBeReachedLeavesTheListAlone) {
    writeFile("GROUP.LST", "alt.kept\r\n");
    writeFile("GROUP.DAT", "1\r\n");
    groups.readTotal();
    ASSERT_TRUE(groups.start(news::ListTransfer::FullList, "127.0.0.1:1"));
    ASSERT_TRUE(loop.runUntil([&] { return groups.state() == news::ListTransfer::Idle; }, 20000));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(readFile("GROUP.LST"), "alt.kept\r\n");
    EXPECT_EQ(groups.total(), 1);
    EXPECT_FALSE(platform::fileExists("NEWS.DAT"));
    EXPECT_FALSE(window.busy);
}

}  // namespace
