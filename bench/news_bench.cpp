// Speed of the news side against a real server, as whole runs:
//
//   news_bench retrieve HOST:PORT GROUP [WINDOW]
//       subscribes GROUP in a fresh data directory and retrieves every
//       article's header and body through the whole news machine, filing
//       each into the group's folder; prints "filed N in MS ms". WINDOW is
//       the number of articles asked for ahead when the server allows it
//       (default the program's; 0: one command at a time)
//   news_bench bodies HOST:PORT GROUP [WINDOW]
//       retrieves every header of GROUP (not timed), marks every row "S"
//       and times the chosen-bodies pass that fetches their bodies; prints
//       "stored N bodies in MS ms". WINDOW: bodies asked for ahead when the
//       server allows it (0: one at a time)
//   news_bench grouplist HOST:PORT NAME
//       fetches the full active list through the newsgroup window's
//       transfer (LIST, DATE, the list filed, sorted and counted), then
//       opens the newsgroup window on it under the offscreen platform and
//       draws it, then finds NAME from the top; prints each time and the
//       peak memory of the process
//
// The data directory is $OMAIL_BENCH_DIR (default /tmp/omail-news-bench).
#include "main/mainform.h"
#include "news/grouplist.h"
#include "news/newsgrpform.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "transfer/newsretrieval.h"
#include "transfer/transfer.h"
#include "ui/qtloop.h"

#include <QApplication>
#include <QListView>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string freshDirectory(const char* suffix) {
    const char* env = std::getenv("OMAIL_BENCH_DIR");
    std::string dir = std::string(env && *env ? env : "/tmp/omail-news-bench") + suffix;
    fs::remove_all(dir);
    fs::create_directories(dir);
    platform::changeDirectory(dir);
    return dir;
}

// The main window as the news machine sees it: one group, shown.
class BenchWindow : public transfer::Host, public transfer::NewsHost {
public:
    BenchWindow(const char* host, std::string name) : group(std::move(name)) {
        general.nntp = host;
        general.hlimit = 1000000;
    }
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::string group, result, dataDir;
    int rows = 0;
    void showStatus(const std::string&) override {}
    void information(const std::string& text) override { result = text; }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return {}; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
    int newsgroupCount() const override { return 1; }
    std::string newsgroupName(int) const override { return group; }
    int selectedNewsgroup() const override { return 0; }
    void selectNewsgroup(int) override {}
    void reloadList() override {}
    void statusRefresh() override {}
    int listSortType() const override { return 7; }
    int listItemCount() const override { return rows; }
    int listCurrentRow() const override { return -1; }
    std::vector<int> listSelectedRows() const override { return {}; }
    std::string shownFolder() override { return {}; }
};

// Group subscribed in the current (fresh) data directory.
std::string subscribed(const char* group) {
    std::string name = group;
    torvakit::AddSub("subscr.dat", "SUBSCR.LST", "SUBSCR.IDX", name);
    return name;
}

// One group in a fresh data directory and the news machine over it.
struct NewsRun {
    NewsRun(const char* suffix, const char* host, const char* group)
        : dir(freshDirectory(suffix)), window(host, subscribed(group)), transfers(window, dir), news(transfers, window) {}
    void untilIdle() {
        loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 600000);
    }
    std::string folder() const { return transfer::newsgroupFolder(transfers, window.group); }

    std::string dir;
    platform::PollLoop loop;
    BenchWindow window;
    transfer::Transfers transfers;
    transfer::NewsTransfers news;
};

int retrieveOnce(const char* host, const char* group, int aheadWindow) {
    NewsRun run("-retrieve", host, group);
    run.news.news().setAheadWindow(aheadWindow);
    const auto start = Clock::now();
    run.news.headersAndBodies();
    run.untilIdle();
    const double ms = msSince(start);
    uint32_t filed = 0;
    torvakit::GetFile(run.folder() + "n.cnt", filed);
    std::printf("filed %u in %.0f ms (%s)\n", filed, ms, run.window.result.c_str());
    run.loop.runFor(50);
    return filed > 0 ? 0 : 1;
}

int bodiesOnce(const char* host, const char* group, int aheadWindow) {
    NewsRun run("-bodies", host, group);
    run.news.headers();
    run.untilIdle();
    const std::string folder = run.folder();
    uint32_t filed = 0;
    torvakit::GetFile(folder + "n.cnt", filed);
    torvakit::SortList(folder + "n.lst", 7);
    run.window.rows = static_cast<int>(filed);
    for (int row = 0; row < run.window.rows; ++row)
        torvakit::SetListStatus(folder, row, 7, transfer::kSelectedStatus);
    run.loop.runFor(50);
    run.news.bodies().setAheadWindow(aheadWindow);
    const auto start = Clock::now();
    run.news.bodies().start(false, false);
    run.untilIdle();
    const double ms = msSince(start);
    std::printf("stored %d bodies in %.0f ms (%s)\n", run.news.bodies().total(), ms, run.window.result.c_str());
    run.loop.runFor(50);
    return run.news.bodies().total() > 0 ? 0 : 1;
}

class ListHost : public news::GroupListHost {
public:
    std::string result;
    void showStatus(const std::string&) override {}
    void information(const std::string& text) override { result = text; }
    void setBusy(bool) override {}
    void listsFiled(bool) override {}
};

int groupList(int argc, char** argv) {
    const std::string dir = freshDirectory("-groups");
    {
        platform::PollLoop loop;
        ListHost host;
        news::GroupList groups(host, dir);
        const auto start = Clock::now();
        groups.start(news::ListTransfer::FullList, argv[2]);
        loop.runUntil([&] { return groups.state() == news::ListTransfer::Idle; }, 600000);
        std::printf("fetch, file and sort: %.0f ms (%s)\n", msSince(start), host.result.c_str());
        loop.runFor(20);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QtEventLoop qtLoop;
    Tmainform main;
    if (main.lockFailed()) return 1;
    auto start = Clock::now();
    Tnewsgrpform form(main, main.ini(), nullptr, &main);
    form.show();
    form.activebox->viewport()->repaint();
    std::printf("window open and drawn on %d groups: %.1f ms\n", form.groups().total(), msSince(start));
    start = Clock::now();
    const int32_t hit = form.groups().find(argv[3], -1);
    std::printf("find \"%s\": row %d of %d in %.1f ms\n", argv[3], hit, form.groups().total(), msSince(start));
    std::printf("peak memory: %ld KB\n", peakKilobytes());
    form.hide();
    return hit >= 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 4 || argc == 5) && std::string(argv[1]) == "retrieve")
        return retrieveOnce(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : transfer::kNewsAheadWindow);
    if ((argc == 4 || argc == 5) && std::string(argv[1]) == "bodies")
        return bodiesOnce(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : transfer::kNewsBodiesWindow);
    if (argc == 4 && std::string(argv[1]) == "grouplist") return groupList(argc, argv);
    std::fprintf(stderr, "usage: news_bench retrieve|bodies HOST:PORT GROUP [WINDOW] | grouplist HOST:PORT NAME\n");
    return 2;
}
