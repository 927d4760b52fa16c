// Speed of the main window's message list over a folder of 100,000 items:
// opening it without an index (sort, then the first rows drawn), opening it
// with its index, and scrolling a page at a time from top to bottom; all in
// the real window under the offscreen platform.
//
//   mainlist_bench [benchmark options]
//   mainlist_bench retrieve HOST:PORT USER PASSWORD
//       retrieves the mailbox once through the whole retrieval machine into
//       a fresh data directory and prints "filed N in MS ms"
//
// The folder is built once with the store's own AppendToList in
// $OMAIL_BENCH_DIR (default /tmp/omail-mainlist-bench) and reused.
#include "settings/gen.h"
#include "main/mainform.h"
#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"
#include "ui/dialogs.h"
#include "ui/qtloop.h"
#include "ui/virtuallist.h"

#include <QApplication>
#include <QListWidget>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kItems = 100000;
constexpr const char* kFolder = "big";
constexpr int kBigFolderRow = 4;  // after in, out, sent, bin

std::string benchDirectory() {
    const char* dir = std::getenv("OMAIL_BENCH_DIR");
    return dir && *dir ? dir : "/tmp/omail-mainlist-bench";
}

// Builds the folder of kItems items once: header and body files and the
// list through AppendToList, as retrieval files them.
void buildFolder(const std::string& dataDir) {
    const std::string folder = dataDir + "/" + kFolder;
    uint32_t count = 0;
    if (torvakit::GetFile(folder + "/n.cnt", count) && count == kItems) return;
    fs::remove_all(dataDir);
    fs::create_directories(folder);
    std::ofstream(dataDir + "/folders.lst") << kFolder << "\r\n";
    const char* names[] = {"Ann Smith", "bob@example.org", "Cy Young", "Dee Dee", "Ed Wood", "Flo Rida"};
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* words[] = {"meeting", "report", "lunch", "patch", "release", "question", "invoice", "party"};
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kItems; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "N%07d", i);
        const std::string header = folder + "/" + name + ".omh";
        const std::string body = folder + "/" + name + ".omb";
        char date[64];
        std::snprintf(date, sizeof date, "%d %s 20%02d %02d:%02d:%02d +0000", 1 + i % 28, months[i / 28 % 12],
                      10 + i / 336 % 15, i % 24, i % 60, i * 7 % 60);
        std::ofstream(header, std::ios::binary)
            << "+OK message follows\r\nFrom: " << names[i % 6] << " <u" << i % 97 << "@example.org>\r\n"
            << "To: reader@example.org\r\nSubject: " << words[i % 8] << " " << words[i / 8 % 8] << " #" << i
            << "\r\nDate: " << date << "\r\nMessage-Id: <" << name << "@example.org>\r\n";
        std::ofstream(body, std::ios::binary) << std::string(512 + i % 4096, 'x') << "\r\n";
        torvakit::AppendToList(header, body, folder + "/n.lst", folder + "/n.cnt", "UROHMS"[i % 6]);
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::fprintf(stderr, "built %d items in %lld ms\n", kItems, static_cast<long long>(ms.count()));
}

// One window over the bench folder for the whole run.
struct Window {
    QtEventLoop loop;
    Tmainform form;
    Tgen settings{form.ini(), &form};
    Window() {
        form.useSettings(&settings, nullptr);
        form.applySettings(settings);
        form.resize(800, 600);
        form.show();
        QApplication::processEvents();
        form.mailbox->setCurrentRow(kBigFolderRow);
        drawNow();
    }
    ~Window() {
        form.close();
        form.useSettings(nullptr, nullptr);
    }
    // Lays the list out (the view would do that on its next event round)
    // and draws the visible rows once, at once.
    void drawNow() {
        form.databox->doItemsLayout();
        form.databox->viewport()->repaint();
    }
    std::string index() { return form.folderPath() + "n7.idx"; }
};

Window* g_window = nullptr;

void BM_OpenWithoutIndex(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(g_window->index());
        state.ResumeTiming();
        g_window->form.reloadList();
        g_window->drawNow();
    }
    state.counters["items"] = g_window->form.itemCount();
}

void BM_OpenWithIndex(benchmark::State& state) {
    g_window->form.reloadList();
    for (auto _ : state) {
        g_window->form.reloadList();
        g_window->drawNow();
    }
    state.counters["rows_read"] = static_cast<double>(g_window->form.listModel()->recordsRead());
}

// One page down and its drawing; back to the top at the end.
void BM_ScrollOnePage(benchmark::State& state) {
    g_window->form.reloadList();
    QScrollBar* bar = g_window->form.databox->verticalScrollBar();
    for (auto _ : state) {
        if (bar->value() >= bar->maximum()) bar->setValue(0);
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        g_window->drawNow();
    }
    state.counters["rows_per_page"] = bar->pageStep();
}

// The whole folder from top to bottom, a page at a time.
void BM_ScrollTopToBottom(benchmark::State& state) {
    g_window->form.reloadList();
    QScrollBar* bar = g_window->form.databox->verticalScrollBar();
    int64_t pages = 0;
    for (auto _ : state) {
        bar->setValue(0);
        while (bar->value() < bar->maximum()) {
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            g_window->drawNow();
            ++pages;
        }
    }
    state.counters["pages"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kAvgIterations);
    state.counters["per_page_us"] = benchmark::Counter(static_cast<double>(pages),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_OpenWithoutIndex)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenWithIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollOnePage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrollTopToBottom)->Unit(benchmark::kMillisecond)->Iterations(1);

// Settings and options of a headless retrieval.
class BenchHost : public transfer::Host {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::string result;
    void showStatus(const std::string&) override {}
    void information(const std::string& text) override { result = text; }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return {}; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
};

int retrieveOnce(const char* host, const char* user, const char* password) {
    const std::string dir = benchDirectory() + "-retrieve";
    fs::remove_all(dir);
    fs::create_directories(dir + "/IN");
    platform::changeDirectory(dir);
    platform::PollLoop loop;
    BenchHost bench;
    bench.general.pop = host;
    bench.general.user = user;
    bench.general.pass = password;
    // OMAIL_BENCH_UIDL=1: with unique ids, as users who keep mail on the server.
    if (const char* uidl = std::getenv("OMAIL_BENCH_UIDL"); uidl && *uidl == '1') bench.general.uidl = 1;
    transfer::Transfers transfers(bench, dir);
    auto start = std::chrono::steady_clock::now();
    transfers.retrieveMail();
    loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 600000);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    uint32_t filed = 0;
    torvakit::GetFile(dir + "/IN/n.cnt", filed);
    std::printf("filed %u in %lld ms (%s)\n", filed, static_cast<long long>(ms.count()), bench.result.c_str());
    loop.runFor(50);
    return filed > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "retrieve") return retrieveOnce(argv[2], argv[3], argv[4]);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string dir = benchDirectory();
    buildFolder(dir);
    platform::changeDirectory(dir);
    fs::remove(dir + "/FILE.LOK");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // The bench directory has no omail.ini: the settings the first show
    // opens are cancelled at once.
    ui::setDialogHook([](QDialog&) { return ui::kResultCancel; });
    {
        Window window;
        g_window = &window;
        benchmark::RunSpecifiedBenchmarks();
        g_window = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
