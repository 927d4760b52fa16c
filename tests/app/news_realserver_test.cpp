// News retrieval end to end against a real INN that the test starts on a
// free loopback port through scripts/lab: new headers with the per-group
// limit and its resumption, bodies, all subscribed groups on one
// connection, high-water marks outside the server's range, bodies of
// selected and highlighted items, cancel and a server that goes away.
#include "transfer/newsretrieval.h"
#include "transfer/transfer.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "newslab.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

using newslab::NntpLab;

// The main window as the news machines see it: a newsgroup pane and a
// message list over the shown group's folder.
class Window : public transfer::Host, public transfer::NewsHost {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::vector<std::string> statuses, boxes;
    std::vector<std::string> groups;
    std::vector<int> selected;
    std::vector<int> viewed;
    std::vector<std::string> shownGroups;
    int group = -1;
    int locks = 0;

    // transfer::Host
    void showStatus(const std::string& text) override { statuses.push_back(text); }
    void information(const std::string& text) override { boxes.push_back(text); }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override { ++locks; }
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return {}; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }

    // transfer::NewsHost
    int newsgroupCount() const override { return int(groups.size()); }
    std::string newsgroupName(int row) const override { return groups.at(size_t(row)); }
    int selectedNewsgroup() const override { return group; }
    void selectNewsgroup(int row) override {
        group = row;
        shownGroups.push_back(groups.at(size_t(row)));
        reloadList();
    }
    void reloadList() override {
        const std::string folder = shownFolder();
        if (!folder.empty() && !platform::fileExists(folder + "n7.idx")) torvakit::SortList(folder + "n.lst", 7);
    }
    void statusRefresh() override {}
    int listSortType() const override { return 7; }
    int listItemCount() const override {
        uint32_t n = 0;
        torvakit::GetFile(const_cast<Window*>(this)->shownFolder() + "n.cnt", n);
        return int(n);
    }
    int listCurrentRow() const override { return selected.empty() ? -1 : selected.front(); }
    std::vector<int> listSelectedRows() const override { return selected; }
    std::string shownFolder() override {
        if (group < 0) return {};
        std::string home;
        if (torvakit::GetHomeDir(groups.at(size_t(group)), "subscr.dat", home) != 1) return {};
        home.back() = '/';
        return platform::currentDirectory() + "/" + home;
    }
    void viewRetrievedItem(int row) override { viewed.push_back(row); }
};

class RealNewsTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "real servers are not run in the sanitizer build";
#endif
        if (!lab().up()) GTEST_SKIP() << lab().why();
        window.general.nntp = lab().host();
        window.general.hlimit = 50;
        prefix = "t" + std::to_string(::getpid()) + "." +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::transform(prefix.begin(), prefix.end(), prefix.begin(), ::tolower);
    }
    void TearDown() override {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        loop.runFor(20);
    }
    static NntpLab& lab() { return NntpLab::instance(); }

    // A group on the server, subscribed and listed in the pane.
    std::string subscribed(const std::string& leaf, int articles) {
        std::string name = lab().makeGroup(prefix + "." + leaf, articles);
        std::string lowered = name;
        EXPECT_EQ(torvakit::AddSub("subscr.dat", "SUBSCR.LST", "SUBSCR.IDX", lowered), 0);
        window.groups.push_back(name);
        return name;
    }
    void show(int row) {
        window.group = row;
        window.reloadList();
    }
    bool runToEnd() {
        return loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 60000);
    }
    uint32_t mark(const std::string& group) {
        uint32_t n = 0;
        torvakit::getarticlen(group, "subscr.dat", n);
        return n;
    }
    std::string folder(const std::string& group) { return transfer::newsgroupFolder(transfers, group); }
    static std::string listStatuses(const std::string& folder) {
        std::ifstream list(folder + "n.lst", std::ios::binary);
        std::string line, result;
        for (int n = 0; std::getline(list, line); ++n)
            if (n % 9 == 1) result += line.substr(0, 1);
        return result;
    }
    // The article numbers of the folder's items, in list order, from the
    // header files' first line ("221 n <id>").
    static std::vector<int> articles(const std::string& folder) {
        std::ifstream list(folder + "n.lst", std::ios::binary);
        std::string line;
        std::vector<int> numbers;
        for (int n = 0; std::getline(list, line); ++n) {
            if (n % 9 != 0) continue;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string name = line.substr(line.find_last_of("\\/") + 1);
            std::string head = readFile(folder + name);
            numbers.push_back(std::atoi(head.c_str() + 4));
        }
        return numbers;
    }
    int countStatus(const std::string& text) const {
        return int(std::count(window.statuses.begin(), window.statuses.end(), text));
    }
    // The display row (date order) of an article.
    int rowOf(const std::string& folder, uint32_t article) {
        for (int row = 0; row < window.listItemCount(); ++row) {
            std::string id, body;
            char status = 0;
            int32_t hasBody = 0;
            uint32_t number = 0;
            torvakit::GetMessageId(folder, id, body, row, 7, status, hasBody, number);
            if (number == article) return row;
        }
        return -1;
    }

    testsupport::TempDir dir{true};
    platform::PollLoop loop;
    Window window;
    transfer::Transfers transfers{window, dir.path()};
    transfer::NewsTransfers news{transfers, window};
    std::string prefix;
};

TEST_F(RealNewsTest, HeadersStopAtTheLimitAndTheNextRunContinuesAfterTheMark) {
    const std::string big = subscribed("big", 120);
    show(0);
    news.headers();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes, std::vector<std::string>{"50 new headers retrieved"});
    const std::string home = folder(big);
    EXPECT_EQ(listStatuses(home), std::string(50, 'O'));
    EXPECT_EQ(mark(big), 51u);
    EXPECT_FALSE(platform::fileExists(home + "N0000000.omb"));
    std::string first = readFile(home + "N0000000.omh");
    EXPECT_EQ(first.substr(0, 6), "221 1 ") << first;
    EXPECT_NE(first.find("Subject: article 1\r\n"), std::string::npos);

    news.headers();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes.back(), "50 new headers retrieved");
    std::vector<int> numbers = articles(home);
    ASSERT_EQ(numbers.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(numbers[size_t(i)], i + 1);
    EXPECT_EQ(mark(big), 101u);
}

TEST_F(RealNewsTest, HeadersAndBodiesAreFiledUnreadWithTheirBodies) {
    const std::string group = subscribed("bodies", 3);
    show(0);
    news.headersAndBodies();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes, std::vector<std::string>{"3 new articles retrieved"});
    const std::string home = folder(group);
    EXPECT_EQ(listStatuses(home), "UUU");
    EXPECT_EQ(readFile(home + "N0000001.omb"), NntpLab::bodyText(group, 2));
    EXPECT_EQ(mark(group), 4u);
    // Nothing new: no HEAD is sent for a mark above the last article.
    window.statuses.clear();
    news.headersAndBodies();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes.back(), "no new headers available");
    EXPECT_EQ(countStatus("getting first header..."), 0);
    EXPECT_EQ(mark(group), 4u);
}

TEST_F(RealNewsTest, AllSubscribedGroupsRunInPaneOrderOnOneConnectionWithOneDialog) {
    const std::string a = subscribed("a", 2);
    const std::string empty = subscribed("b", 0);
    const std::string c = subscribed("c", 3);
    // A stored mark far above the server's range skips the group.
    const std::string high = subscribed("d", 2);
    torvakit::setarticlen(high, "subscr.dat", 500);
    news.headersSubscribed();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes, std::vector<std::string>{"5 new headers retrieved"});
    EXPECT_EQ(window.shownGroups, (std::vector<std::string>{a, empty, c, high}));
    EXPECT_EQ(window.locks, 1);
    EXPECT_EQ(countStatus("connecting to host..."), 1);
    EXPECT_EQ(articles(folder(a)), (std::vector<int>{1, 2}));
    EXPECT_EQ(articles(folder(c)), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(listStatuses(folder(high)), "");
    EXPECT_EQ(mark(high), 500u);
    EXPECT_EQ(mark(c), 4u);
    // The first group's index files were dropped, so its next display re-sorts.
    EXPECT_FALSE(platform::fileExists(folder(a) + "n7.idx"));
}

TEST_F(RealNewsTest, ARunCancelledWithItsNextStepQueuedDoesNotDriveTheNextRun) {
    const std::string a = subscribed("first", 2);
    const std::string b = subscribed("second", 2);
    news.headersSubscribed();
    // Cancelled just as it moved on to the second group, its next step
    // still queued; a new run starts at once.
    ASSERT_TRUE(loop.runUntil([&] { return window.shownGroups.size() == 2; }, 60000));
    transfers.userCancel();
    news.headers();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes, std::vector<std::string>{"2 new headers retrieved"});
    EXPECT_EQ(articles(folder(a)), (std::vector<int>{1, 2}));
    EXPECT_EQ(articles(folder(b)), (std::vector<int>{1, 2}));
}

TEST_F(RealNewsTest, CancelledArticlesArePassedOverAndTheProbeEndsAtTheLastNumber) {
    const std::string group = subscribed("holes", 4);
    lab().cancel(NntpLab::messageId(group, 2));
    lab().cancel(NntpLab::messageId(group, 4));
    show(0);
    news.headers();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes, std::vector<std::string>{"2 new headers retrieved"});
    EXPECT_EQ(articles(folder(group)), (std::vector<int>{1, 3}));
    EXPECT_EQ(mark(group), 4u);
    // Article 4 is gone but the group still ends at 4: the upward probe
    // stops there instead of asking for 5, 6, ... for ever.
    window.statuses.clear();
    news.headers();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes.back(), "no new headers available");
    EXPECT_EQ(countStatus("getting header 4"), 1);
    EXPECT_EQ(countStatus("getting header 5"), 0);
    EXPECT_EQ(mark(group), 4u);

    // The group's first article gone: the probe starts at the first number.
    const std::string low = subscribed("low", 3);
    lab().cancel(NntpLab::messageId(low, 1));
    show(1);
    window.statuses.clear();
    news.headers();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes.back(), "2 new headers retrieved");
    EXPECT_EQ(articles(folder(low)), (std::vector<int>{2, 3}));
    EXPECT_EQ(countStatus("getting header 0"), 0);
}

TEST_F(RealNewsTest, SelectedBodiesAreFetchedByMessageIdThenByNumber) {
    const std::string group = subscribed("sel", 6);
    show(0);
    news.headers();
    ASSERT_TRUE(runToEnd());
    const std::string home = folder(group);
    window.reloadList();
    // Two of the five chosen rows already have bodies; one of the others
    // carries a message-id the server does not know.
    const int rows[] = {rowOf(home, 1), rowOf(home, 2), rowOf(home, 3), rowOf(home, 4), rowOf(home, 5)};
    std::string id, body;
    char status = 0;
    int32_t hasBody = 0;
    uint32_t number = 0;
    for (int r : {rows[0], rows[3]}) {
        torvakit::GetMessageId(home, id, body, r, 7, status, hasBody, number);
        writeFile(body, "kept\r\n");
    }
    torvakit::GetMessageId(home, id, body, rows[2], 7, status, hasBody, number);
    std::string headerPath = body.substr(0, body.size() - 1) + "h";
    std::string header = readFile(headerPath);
    header.replace(header.find(id), id.size(), "<unknown.3@lab.test>");
    writeFile(headerPath, header);

    window.boxes.clear();
    window.selected.assign(std::begin(rows), std::end(rows));
    news.selectedBodies();
    EXPECT_EQ(torvakit::GetListStatus(home, rows[1], 7), 'S');
    EXPECT_EQ(torvakit::GetListStatus(home, rows[0], 7), 'O');
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes, std::vector<std::string>{"3 article bodies retrieved"});
    for (int n : {2, 3, 5}) {
        torvakit::GetMessageId(home, id, body, rows[n - 1], 7, status, hasBody, number);
        EXPECT_EQ(readFile(body), NntpLab::bodyText(group, n)) << n;
        EXPECT_EQ(status, 'O') << n;  // the end of the run clears the selection marks
    }
    torvakit::GetMessageId(home, id, body, rows[0], 7, status, hasBody, number);
    EXPECT_EQ(readFile(body), "kept\r\n");
    EXPECT_EQ(countStatus("getting body <unknown.3@lab.test>"), 1);
    EXPECT_EQ(countStatus("getting body 3"), 1);
    EXPECT_EQ(countStatus("getting body 2"), 0);  // found by its message-id
}

TEST_F(RealNewsTest, HighlightedBodiesTurnHighlightedAndAMissingArticleKeepsItsMark) {
    const std::string group = subscribed("high", 3);
    show(0);
    news.headers();
    ASSERT_TRUE(runToEnd());
    const std::string home = folder(group);
    window.reloadList();
    const int one = rowOf(home, 1), two = rowOf(home, 2), three = rowOf(home, 3);
    torvakit::SetListStatus(home, one, 7, 'M');
    torvakit::SetListStatus(home, three, 7, 'M');
    // Article 3 vanishes from the server under both its id and its number.
    std::string id, body;
    char status = 0;
    int32_t hasBody = 0;
    uint32_t number = 0;
    torvakit::GetMessageId(home, id, body, three, 7, status, hasBody, number);
    std::string headerPath = body.substr(0, body.size() - 1) + "h";
    std::string header = readFile(headerPath);
    header.replace(0, header.find(' ', 4), "221 99");
    header.replace(header.find(id), id.size(), "<gone@lab.test>");
    writeFile(headerPath, header);
    window.boxes.clear();
    news.highlightedBodies();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes, std::vector<std::string>{"1 article bodies retrieved"});
    EXPECT_EQ(torvakit::GetListStatus(home, one, 7), 'H');
    EXPECT_EQ(torvakit::GetListStatus(home, two, 7), 'O');
    EXPECT_EQ(torvakit::GetListStatus(home, three, 7), 'M');
}

TEST_F(RealNewsTest, HighlightedBodiesOfEverySubscribedGroupComeInOneRun) {
    const std::string x = subscribed("x", 3);
    const std::string y = subscribed("y", 2);
    news.headersSubscribed();
    ASSERT_TRUE(runToEnd());
    for (const auto& [group, row] : {std::pair{x, 0}, std::pair{y, 1}}) {
        window.group = group == x ? 0 : 1;
        window.reloadList();
        torvakit::SetListStatus(folder(group), rowOf(folder(group), uint32_t(row + 1)), 7, 'M');
    }
    window.boxes.clear();
    window.shownGroups.clear();
    news.highlightedBodiesSubscribed();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.boxes, std::vector<std::string>{"2 article bodies retrieved"});
    EXPECT_EQ(window.shownGroups, (std::vector<std::string>{x, y}));
    for (const std::string& group : {x, y}) {
        const std::string statuses = listStatuses(folder(group));
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 'H'), 1) << group << " " << statuses;
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 'M'), 0) << group << " " << statuses;
    }
}

TEST_F(RealNewsTest, ViewingAnItemWithoutBodyFetchesItAndHandsItToTheViewer) {
    const std::string group = subscribed("view", 2);
    show(0);
    news.headers();
    ASSERT_TRUE(runToEnd());
    const std::string home = folder(group);
    window.reloadList();
    const int row = rowOf(home, 2);
    window.boxes.clear();
    ASSERT_TRUE(news.requestBodyForViewing(row));
    EXPECT_EQ(torvakit::GetListStatus(home, row, 7), 'S');
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(window.viewed, std::vector<int>{row});
    EXPECT_TRUE(window.boxes.empty());
    std::string id, body;
    char status = 0;
    int32_t hasBody = 0;
    uint32_t number = 0;
    torvakit::GetMessageId(home, id, body, row, 7, status, hasBody, number);
    EXPECT_EQ(hasBody, 1);
    EXPECT_EQ(status, 'O');
    EXPECT_FALSE(news.flags().bodyPending || news.flags().viewPending || news.flags().bodyRun);
}

TEST_F(RealNewsTest, CancelAndALostServerLeaveTheMarkAfterTheLastFiledArticle) {
    const std::string group = subscribed("cut", 200);
    window.general.hlimit = 1000;
    show(0);
    news.headersAndBodies();
    ASSERT_TRUE(loop.runUntil([&] { return news.news().total() >= 10; }, 60000));
    transfers.userCancel();
    loop.runFor(50);
    const std::string home = folder(group);
    std::vector<int> filed = articles(home);
    ASSERT_GE(filed.size(), 10u);
    EXPECT_EQ(filed.back(), int(filed.size()));
    EXPECT_EQ(mark(group), filed.size() + 1);
    EXPECT_TRUE(window.boxes.empty());

    news.headersAndBodies();
    const size_t before = filed.size();
    ASSERT_TRUE(loop.runUntil([&] { return news.news().total() >= 10; }, 60000));
    lab().dropConnections();
    ASSERT_TRUE(runToEnd());
    ASSERT_EQ(window.boxes.size(), 1u);
    filed = articles(home);
    ASSERT_GE(filed.size(), before + 10);
    for (size_t i = 0; i < filed.size(); ++i) EXPECT_EQ(filed[i], int(i + 1));  // none twice, none lost
    EXPECT_EQ(mark(group), filed.size() + 1);
}

// The folder's files (list records, headers, bodies, count) with the data
// directory's path taken out of the records.
std::map<std::string, std::string> folderFiles(const std::string& folder, const std::string& dataDir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.size() > 4 && name.substr(name.size() - 4) == ".idx") continue;  // made by displaying
        std::string text = readFile(e.path().string());
        for (size_t at; (at = text.find(dataDir)) != std::string::npos;) text.replace(at, dataDir.size(), "DATA");
        files[name] = text;
    }
    return files;
}

TEST_F(RealNewsTest, ArticlesAskedForAheadAreFiledAsOneAtATimeMessageForMessage) {
    // Holes at the start, in the middle and at the top of the group.
    const std::string group = subscribed("same", 45);
    for (int n : {1, 7, 8, 30, 45}) lab().cancel(NntpLab::messageId(group, n));
    window.general.hlimit = 25;
    news.news().setAheadWindow(0);

    const std::string piped = dir.path() + "/piped";
    ASSERT_TRUE(platform::createDirectory(piped));
    // Subscribed from inside its own data directory, where the store
    // makes the group's folder.
    std::string lowered = group;
    ASSERT_TRUE(platform::changeDirectory(piped));
    EXPECT_EQ(torvakit::AddSub("subscr.dat", "SUBSCR.LST", "SUBSCR.IDX", lowered), 0);
    ASSERT_TRUE(platform::changeDirectory(dir.path()));
    Window other;
    other.general = window.general;
    other.groups = window.groups;
    other.group = 0;
    transfer::Transfers otherTransfers{other, piped};
    transfer::NewsTransfers otherNews{otherTransfers, other};
    show(0);
    auto pipedMark = [&] {
        uint32_t n = 0;
        torvakit::getarticlen(group, piped + "/subscr.dat", n);
        return n;
    };
    // Two runs each: the limit stops the first; the second goes on from the mark.
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        news.headersAndBodies();
        ASSERT_TRUE(runToEnd());
        otherNews.headersAndBodies();
        ASSERT_TRUE(loop.runUntil([&] { return otherTransfers.transferState == transfer::kIdle; }, 60000));
        EXPECT_EQ(other.boxes, window.boxes);
        EXPECT_EQ(pipedMark(), mark(group));
        EXPECT_EQ(folderFiles(transfer::newsgroupFolder(otherTransfers, group), piped),
                  folderFiles(folder(group), dir.path()));
    }
    EXPECT_EQ(window.boxes, (std::vector<std::string>{"25 new articles retrieved", "15 new articles retrieved"}));
    EXPECT_EQ(mark(group), 45u);
    EXPECT_GT(countStatus("querying for next header..."), 0);
    EXPECT_EQ(std::count(other.statuses.begin(), other.statuses.end(), "querying for next header..."), 0);
    EXPECT_EQ(std::count(other.statuses.begin(), other.statuses.end(), "getting body 44"), 1);
}

}  // namespace
