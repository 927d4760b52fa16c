// New-article retrieval from a scripted NNTP server that speaks version 2:
// HEAD and BODY go out as a window, replies are read in order (whole, split
// at every byte, or joined), and the folder, its list records and the
// high-water mark come out byte for byte as from the one-at-a-time run;
// a missing number, a close inside the window and the per-group limit.
#include "transfer/newsretrieval.h"
#include "transfer/transfer.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "support/scriptserver.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

using testsupport::readFile;
using testsupport::ScriptServer;
using S = testsupport::ScriptServer;

namespace {

class Window : public transfer::Host, public transfer::NewsHost {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::vector<std::string> statuses, boxes, groups;
    int group = 0;
    void showStatus(const std::string& text) override { statuses.push_back(text); }
    void information(const std::string& text) override { boxes.push_back(text); }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return {}; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
    int newsgroupCount() const override { return int(groups.size()); }
    std::string newsgroupName(int row) const override { return groups.at(size_t(row)); }
    int selectedNewsgroup() const override { return group; }
    void selectNewsgroup(int row) override { group = row; }
    void reloadList() override {}
    void statusRefresh() override {}
    int listSortType() const override { return 7; }
    int listItemCount() const override { return 0; }
    int listCurrentRow() const override { return -1; }
    std::vector<int> listSelectedRows() const override { return {}; }
    std::string shownFolder() override { return {}; }
};

std::string id(int n) { return "<a." + std::to_string(n) + "@lab.test>"; }
std::string head(int n) {
    return "221 " + std::to_string(n) + " " + id(n) + " head\r\nFrom: Poster " + std::to_string(n) +
           " <p@lab.test>\r\nSubject: article " + std::to_string(n) + "\r\nMessage-ID: " + id(n) +
           "\r\nDate: Mon, 01 Jan 2024 12:0" + std::to_string(n) + ":00 +0000\r\n..odd header line\r\n.\r\n";
}
std::string body(int n) {
    return "222 " + std::to_string(n) + " " + id(n) + " body\r\nBody " + std::to_string(n) + "\r\n..dotted\r\n.\r\n";
}
const std::string kMissing = "423 no such article number in this group\r\n";
const std::string kVersion2 = "101 Capability list:\r\nVERSION 2\r\nREADER\r\nLIST ACTIVE\r\n.\r\n";
std::string ahead(int from, int to, bool bodies = true) {
    std::string text;
    for (int n = from; n <= to; ++n)
        text += "HEAD " + std::to_string(n) + "\r\n" + (bodies ? "BODY " + std::to_string(n) + "\r\n" : "");
    return text;
}
// Greeting, GROUP with articles 1..last and the current article's header.
std::vector<ScriptServer::Step> opening(const std::string& group, int last) {
    return {S::S("200 lab ready\r\n"), S::C("GROUP " + group + "\r\n"),
            S::S("211 " + std::to_string(last) + " 1 " + std::to_string(last) + " " + group + "\r\n"),
            S::C("HEAD\r\n"), S::S(head(1))};
}

// What a run left behind.
struct Outcome {
    std::map<std::string, std::string> files;  // the group folder's files, by name
    uint32_t mark = 0;
    std::vector<std::string> statuses, boxes;
    std::string received, expected;
    std::string rowStatuses;  // the chosen-bodies pass: the four rows' statuses after it
};

// One run in a data directory of its own with group "lab.pipe" subscribed
// (and "lab.more" after it when allGroups).
Outcome retrieve(std::vector<ScriptServer::Step> script, ScriptServer::Options options, int aheadWindow,
                 int hlimit = 50, bool allGroups = false) {
    testsupport::TempDir dir{true};
    platform::PollLoop loop;
    Window window;
    window.groups = {"lab.pipe"};
    if (allGroups) window.groups.push_back("lab.more");
    for (std::string name : window.groups) torvakit::AddSub("subscr.dat", "SUBSCR.LST", "SUBSCR.IDX", name);
    window.general.hlimit = hlimit;
    Outcome out;
    {
        ScriptServer server(std::move(script), options);
        window.general.nntp = server.host();
        transfer::Transfers transfers(window, dir.path());
        transfer::NewsTransfers news(transfers, window);
        news.news().setAheadWindow(aheadWindow);
        if (allGroups) news.headersAndBodiesSubscribed(); else news.headersAndBodies();
        EXPECT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 20000));
        server.finish();
        out.received = server.received();
        out.expected = server.expected();
        const std::string folder = transfer::newsgroupFolder(transfers, "lab.pipe");
        // The list records name their files by full path: the data
        // directories of two runs differ only there.
        for (const auto& e : std::filesystem::directory_iterator(folder)) {
            std::string text = readFile(e.path().string());
            for (size_t at; (at = text.find(dir.path())) != std::string::npos;) text.replace(at, dir.path().size(), "DATA");
            out.files[e.path().filename().string()] = text;
        }
    }
    torvakit::getarticlen("lab.pipe", "subscr.dat", out.mark);
    out.statuses = window.statuses;
    out.boxes = window.boxes;
    if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
    loop.runFor(20);
    return out;
}

int count(const std::vector<std::string>& texts, const std::string& text) {
    return int(std::count(texts.begin(), texts.end(), text));
}

// Articles 1..5 of which 2 and 5 are gone, one command at a time: the
// bytes of a server that is not asked, and of one that does not know
// CAPABILITIES.
Outcome oneAtATime(bool asked) {
    auto script = opening("lab.pipe", 5);
    if (asked) {
        script.push_back(S::C("CAPABILITIES\r\n"));
        script.push_back(S::S("500 What?\r\n"));
    }
    for (auto step : {S::C("HEAD 1\r\n"), S::S(head(1)), S::C("BODY 1\r\n"), S::S(body(1)), S::C("NEXT\r\n"),
                      S::S("223 3 " + id(3) + "\r\n"), S::C("HEAD 3\r\n"), S::S(head(3)), S::C("BODY 3\r\n"),
                      S::S(body(3)), S::C("NEXT\r\n"), S::S("223 4 " + id(4) + "\r\n"), S::C("HEAD 4\r\n"),
                      S::S(head(4)), S::C("BODY 4\r\n"), S::S(body(4)), S::C("NEXT\r\n"),
                      S::S("421 no next article\r\n"), S::C("QUIT\r\n")})
        script.push_back(step);
    return retrieve(script, {}, asked ? transfer::kNewsAheadWindow : 0);
}

TEST(NewsPipelining, WithoutTheCapabilityTheExchangeIsOneCommandAtATime) {
    for (bool asked : {false, true}) {
        SCOPED_TRACE(asked);
        Outcome out = oneAtATime(asked);
        EXPECT_EQ(out.received, out.expected);
        EXPECT_EQ(out.boxes, std::vector<std::string>{"3 new articles retrieved"});
        EXPECT_EQ(out.mark, 5u);
        EXPECT_EQ(out.files.at("N0000001.omb"), "Body 3\r\n.dotted\r\n");
    }
}

TEST(NewsPipelining, AWindowFilesWhatOneAtATimeFilesWhateverTheReplySplit) {
    const Outcome reference = oneAtATime(false);
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        ScriptServer::Options options;
        if (mode == 1) options.chunk = 1, options.pauseMicros = 20;
        if (mode == 2) options.joinReplies = true;
        auto script = opening("lab.pipe", 5);
        script.push_back(S::C("CAPABILITIES\r\n"));
        script.push_back(S::S(kVersion2));
        script.push_back(S::C(ahead(1, 5)));
        for (const std::string& reply :
             {head(1), body(1), kMissing, kMissing, head(3), body(3), head(4), body(4), kMissing, kMissing})
            script.push_back(S::S(reply));
        script.push_back(S::C("QUIT\r\n"));
        Outcome out = retrieve(script, options, transfer::kNewsAheadWindow);
        EXPECT_EQ(out.received, out.expected);
        EXPECT_EQ(out.files, reference.files);  // list records, headers and bodies, byte for byte
        EXPECT_EQ(out.mark, reference.mark);
        EXPECT_EQ(out.boxes, reference.boxes);
        EXPECT_EQ(count(out.statuses, "getting header 4"), 1);
        EXPECT_EQ(count(out.statuses, "getting body 4"), 1);
    }
}

TEST(NewsPipelining, AServerClosingInsideTheWindowKeepsWhatWasCompleteAndTheMarkAfterIt) {
    auto script = opening("lab.pipe", 3);
    script.push_back(S::C("CAPABILITIES\r\n"));
    script.push_back(S::S(kVersion2));
    script.push_back(S::C(ahead(1, 3)));
    script.push_back(S::S(head(1) + body(1) + head(2) + "222 2 " + id(2) + " body\r\nBody 2, cut sh"));
    script.push_back(S::Close());
    Outcome out = retrieve(script, {}, transfer::kNewsAheadWindow);
    EXPECT_EQ(out.received, out.expected);
    // Article 1 whole; article 2's header filed without its half body.
    ASSERT_TRUE(out.files.count("N0000000.omb"));
    EXPECT_EQ(out.files.at("N0000000.omb"), "Body 1\r\n.dotted\r\n");
    EXPECT_TRUE(out.files.count("N0000001.omh"));
    EXPECT_FALSE(out.files.count("N0000001.omb"));
    const std::string& list = out.files.at("n.lst");
    EXPECT_NE(list.find("\r\nU\r\n"), std::string::npos);
    EXPECT_NE(list.find("\r\nO\r\n"), std::string::npos);
    EXPECT_EQ(out.mark, 3u);
    EXPECT_EQ(out.boxes, std::vector<std::string>{"connexion closed"});
}

TEST(NewsPipelining, TheLimitBoundsTheWindowSoTheNextGroupFollowsOnTheSameConnection) {
    auto script = opening("lab.pipe", 5);
    script.push_back(S::C("CAPABILITIES\r\n"));
    script.push_back(S::S(kVersion2));
    // Two articles wanted: a missing number is replaced by the next one.
    script.push_back(S::C(ahead(1, 2)));
    script.push_back(S::S(head(1) + body(1) + kMissing + kMissing));
    script.push_back(S::C(ahead(3, 3)));
    script.push_back(S::S(head(3) + body(3)));
    script.push_back(S::C("GROUP lab.more\r\n"));
    script.push_back(S::S("211 2 1 2 lab.more\r\n"));
    script.push_back(S::C("HEAD\r\n"));
    script.push_back(S::S(head(1)));
    script.push_back(S::C(ahead(1, 2)));
    script.push_back(S::S(head(1) + body(1) + head(2) + body(2)));
    script.push_back(S::C("QUIT\r\n"));
    Outcome out = retrieve(script, {}, transfer::kNewsAheadWindow, 2, true);
    EXPECT_EQ(out.received, out.expected);
    EXPECT_EQ(out.mark, 4u);
    EXPECT_EQ(out.boxes, std::vector<std::string>{"4 new articles retrieved"});
}

// The chosen-bodies pass over a group of four filed headers, every row
// marked "S": the headers come one at a time from a first server, the
// bodies from bodyScript.
Outcome chosenBodies(std::vector<ScriptServer::Step> bodyScript, ScriptServer::Options options, int aheadWindow) {
    struct ListWindow : Window {
        int rows = 0;
        int listItemCount() const override { return rows; }
    };
    testsupport::TempDir dir{true};
    platform::PollLoop loop;
    ListWindow window;
    window.groups = {"lab.pipe"};
    torvakit::AddSub("subscr.dat", "SUBSCR.LST", "SUBSCR.IDX", window.groups[0]);
    window.general.hlimit = 50;
    Outcome out;
    transfer::Transfers transfers(window, dir.path());
    transfer::NewsTransfers news(transfers, window);
    const std::string folder = transfer::newsgroupFolder(transfers, "lab.pipe");
    {
        auto script = opening("lab.pipe", 4);
        for (int n = 1; n <= 4; ++n) {
            script.push_back(S::C("HEAD " + std::to_string(n) + "\r\n"));
            script.push_back(S::S(head(n)));
            script.push_back(S::C("NEXT\r\n"));
            script.push_back(S::S(n < 4 ? "223 " + std::to_string(n + 1) + " " + id(n + 1) + "\r\n"
                                        : std::string("421 no next article\r\n")));
        }
        script.push_back(S::C("QUIT\r\n"));
        ScriptServer server(std::move(script));
        window.general.nntp = server.host();
        news.news().setAheadWindow(0);
        news.headers();
        EXPECT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 20000));
        server.finish();
        EXPECT_EQ(server.received(), server.expected());
        loop.runFor(20);
    }
    torvakit::SortList(folder + "n.lst", 7);  // the shown list's index, as the main window builds it
    window.rows = 4;
    for (int row = 0; row < 4; ++row) torvakit::SetListStatus(folder, row, 7, transfer::kSelectedStatus);
    window.statuses.clear();
    window.boxes.clear();
    {
        ScriptServer server(std::move(bodyScript), options);
        window.general.nntp = server.host();
        news.bodies().setAheadWindow(aheadWindow);
        news.bodies().start(false, false);
        EXPECT_TRUE(loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 20000));
        server.finish();
        out.received = server.received();
        out.expected = server.expected();
    }
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        std::string text = readFile(e.path().string());
        for (size_t at; (at = text.find(dir.path())) != std::string::npos;) text.replace(at, dir.path().size(), "DATA");
        out.files[e.path().filename().string()] = text;
    }
    for (int row = 0; row < 4; ++row) out.rowStatuses += char(torvakit::GetListStatus(folder, row, 7));
    out.statuses = window.statuses;
    out.boxes = window.boxes;
    if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
    loop.runFor(20);
    return out;
}

const std::string kUnknownId = "430 no such article\r\n";
std::vector<ScriptServer::Step> bodiesOpening(bool version2) {
    std::vector<ScriptServer::Step> script{S::S("200 lab ready\r\n")};
    if (version2) {
        script.push_back(S::C("CAPABILITIES\r\n"));
        script.push_back(S::S(kVersion2));
    }
    script.push_back(S::C("GROUP lab.pipe\r\n"));
    script.push_back(S::S("211 4 1 4 lab.pipe\r\n"));
    return script;
}
std::string bodiesById(int from, int to) {
    std::string text;
    for (int n = from; n <= to; ++n) text += "BODY " + id(n) + "\r\n";
    return text;
}

// Article 2's id is unknown to the server, its number is not: one at a
// time it is asked again at once, with a window behind the window; either
// way the same bodies and list records result.
TEST(NewsPipelining, ChosenBodiesAskedAheadStoreWhatOneAtATimeStores) {
    auto script = bodiesOpening(false);
    for (auto step : {S::C(bodiesById(1, 1)), S::S(body(1)), S::C(bodiesById(2, 2)), S::S(kUnknownId),
                      S::C("BODY 2\r\n"), S::S(body(2)), S::C(bodiesById(3, 3)), S::S(body(3)),
                      S::C(bodiesById(4, 4)), S::S(body(4)), S::C("QUIT\r\n")})
        script.push_back(step);
    const Outcome reference = chosenBodies(script, {}, 0);
    EXPECT_EQ(reference.received, reference.expected);
    ASSERT_EQ(reference.boxes, std::vector<std::string>{"4 article bodies retrieved"});
    ASSERT_EQ(reference.files.at("N0000001.omb"), "Body 2\r\n.dotted\r\n");
    EXPECT_EQ(reference.rowStatuses, "SSSS");  // no row given up; started without a command, none cleared
    for (int mode = 0; mode < 2; ++mode) {
        SCOPED_TRACE(mode);
        ScriptServer::Options options;
        if (mode == 1) options.chunk = 1, options.pauseMicros = 20;
        script = bodiesOpening(true);
        for (auto step : {S::C(bodiesById(1, 4)), S::S(body(1) + kUnknownId + body(3) + body(4)),
                          S::C("BODY 2\r\n"), S::S(body(2)), S::C("QUIT\r\n")})
            script.push_back(step);
        Outcome out = chosenBodies(script, options, transfer::kNewsBodiesWindow);
        EXPECT_EQ(out.received, out.expected);
        EXPECT_EQ(out.files, reference.files);
        EXPECT_EQ(out.boxes, reference.boxes);
        EXPECT_EQ(count(out.statuses, "getting body 2"), 1);
    }
}

TEST(NewsPipelining, AServerClosingAmongChosenBodiesKeepsTheStoredOnesAndTheRestSelected) {
    auto script = bodiesOpening(true);
    script.push_back(S::C(bodiesById(1, 4)));
    script.push_back(S::S(body(1) + "222 2 " + id(2) + " body\r\nBody 2, cut sh"));
    script.push_back(S::Close());
    Outcome out = chosenBodies(script, {}, transfer::kNewsBodiesWindow);
    EXPECT_EQ(out.received, out.expected);
    EXPECT_EQ(out.files.at("N0000000.omb"), "Body 1\r\n.dotted\r\n");
    for (const char* name : {"N0000001.omb", "N0000002.omb", "N0000003.omb"}) EXPECT_FALSE(out.files.count(name)) << name;
    EXPECT_EQ(out.rowStatuses, "SSSS");  // none given up for the lost server
    EXPECT_EQ(out.boxes, std::vector<std::string>{"connexion closed"});
}

}  // namespace
