// Speed of the viewer in the real windows under the offscreen platform:
// opening a 20 MB item (header and body loaded and the first lines drawn),
// with the process's peak memory, and stepping with "n" through a folder of
// 10,000 items (each step moves the main list's current item, marks the
// item read and loads it).
//
//   viewer_bench [benchmark options]
//
// The data directory is built once in $OMAIL_BENCH_DIR (default
// /tmp/omail-viewer-bench) with the store's own AppendToList and reused.
#include "main/mainform.h"
#include "platform/fsys.h"
#include "settings/gen.h"
#include "store/torvakit.h"
#include "ui/qtloop.h"
#include "viewer/bodytext.h"
#include "viewer/logform.h"
#include "viewer/viewcommands.h"
#include "viewer/viewform.h"

#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kItems = 10000;
constexpr const char* kWalkFolder = "walk";
constexpr const char* kHugeFolder = "huge";
constexpr int kHugeRow = 4;  // personal folders after in, out, sent, bin, sorted
constexpr int kWalkRow = 5;
constexpr size_t kHugeBytes = 20u << 20;

std::string benchDirectory() {
    const char* dir = std::getenv("OMAIL_BENCH_DIR");
    return dir && *dir ? dir : "/tmp/omail-viewer-bench";
}

void addItem(const std::string& folder, int i, const std::string& body) {
    char name[16];
    std::snprintf(name, sizeof name, "N%07d", i);
    const std::string header = folder + "/" + name + ".omh";
    const std::string bodyPath = folder + "/" + name + ".omb";
    std::ofstream(header, std::ios::binary)
        << "+OK message follows\r\nFrom: Ann Smith <ann@example.org>\r\nTo: reader@example.org\r\nSubject: item "
        << i << "\r\nDate: " << 1 + i % 28 << " Dec 2025 " << i / 60 % 24 << ":" << i % 60
        << ":00 +0000\r\nMessage-Id: <" << name << "@example.org>\r\n";
    std::ofstream(bodyPath, std::ios::binary) << body;
    torvakit::AppendToList(header, bodyPath, folder + "/n.lst", folder + "/n.cnt", 'U');
}

void buildData(const std::string& dir) {
    uint32_t count = 0;
    if (torvakit::GetFile(dir + "/" + kWalkFolder + "/n.cnt", count) && count == kItems) return;
    fs::remove_all(dir);
    fs::create_directories(dir + "/" + kWalkFolder);
    fs::create_directories(dir + "/" + kHugeFolder);
    std::ofstream(dir + "/folders.lst") << kHugeFolder << "\r\n" << kWalkFolder << "\r\n";
    std::string huge;
    huge.reserve(kHugeBytes + 100);
    for (int line = 0; huge.size() < kHugeBytes; ++line)
        huge += "line " + std::to_string(line) + " of a very long message, caf\xc3\xa9 and na\xefve bytes\r\n";
    addItem(dir + "/" + kHugeFolder, 0, huge);
    for (int i = 0; i < kItems; ++i)
        addItem(dir + "/" + kWalkFolder, i,
                "body of item " + std::to_string(i) + "\r\n" + std::string(400, 'x') + "\r\n");
}

long peakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

struct Windows {
    QtEventLoop loop;
    Tmainform form;
    Tgen settings{form.ini(), &form};
    ViewCommands commands{form};
    Windows() {
        form.useSettings(&settings, nullptr);
        form.applySettings(settings);
        form.show();
        QApplication::processEvents();
    }
    ~Windows() {
        form.close();
        form.useSettings(nullptr, nullptr);
    }
    Tviewform& openOn(int folderRow, int row) {
        form.mailbox->setCurrentRow(folderRow);
        Tviewform& v = commands.viewer();
        v.currentRow = row;
        v.sortType = form.sortType();
        v.itemCount = form.itemCount();
        v.folderPath = form.folderPath();
        v.folderName = form.shownFolderName();
        v.bodyPath = form.bodyPathOfRow(row);
        return v;
    }
    static void draw(Tviewform& v) {
        v.show();
        v.headermemo->viewport()->repaint();
        v.bodymemo->viewport()->repaint();
    }
};
Windows* g_windows = nullptr;

void BM_OpenHugeItem(benchmark::State& state) {
    Tviewform& v = g_windows->openOn(kHugeRow, 0);
    for (auto _ : state) {
        v.display();
        Windows::draw(v);
    }
    state.counters["body_chars"] = double(v.bodymemo->document()->characterCount());
    state.counters["peak_MB"] = double(peakKb()) / 1024.0;
    v.hide();
}
BENCHMARK(BM_OpenHugeItem)->Unit(benchmark::kMillisecond)->Iterations(3);

// Until the whole body is in the pane, the event loop running meanwhile.
void BM_HugeItemFilledIn(benchmark::State& state) {
    Tviewform& v = g_windows->openOn(kHugeRow, 0);
    int turns = 0;
    for (auto _ : state) {
        v.display();
        Windows::draw(v);
        while (v.bodyLoading()) {
            QApplication::processEvents();
            ++turns;
        }
        Windows::draw(v);
    }
    state.counters["body_chars"] = double(v.bodymemo->document()->characterCount());
    state.counters["turns"] = double(turns) / double(state.iterations());
    state.counters["peak_MB"] = double(peakKb()) / 1024.0;
    v.hide();
}
BENCHMARK(BM_HugeItemFilledIn)->Unit(benchmark::kMillisecond)->Iterations(3);

// The share of the file read and its bytes turned into text.
void BM_ReadHugeBody(benchmark::State& state) {
    Tviewform& v = g_windows->openOn(kHugeRow, 0);
    const QString path = QString::fromStdString(platform::resolvePath(v.bodyPath));
    for (auto _ : state) {
        QString text;
        viewer::readBodyText(path, text);
        benchmark::DoNotOptimize(text.size());
    }
}
BENCHMARK(BM_ReadHugeBody)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StepNext(benchmark::State& state) {
    Tviewform& v = g_windows->openOn(kWalkRow, 0);
    v.display();
    Windows::draw(v);
    for (auto _ : state) {
        if (v.currentRow + 1 >= v.itemCount) v.viewfirst1Click();
        else v.viewnext2Click();
        Windows::draw(v);
    }
    v.hide();
}
BENCHMARK(BM_StepNext)->Unit(benchmark::kMicrosecond)->Iterations(kItems - 1);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string dir = benchDirectory();
    buildData(dir);
    platform::changeDirectory(dir);
    fs::remove(dir + "/FILE.LOK");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    {
        Windows windows;
        g_windows = &windows;
        benchmark::RunSpecifiedBenchmarks();
        g_windows = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
