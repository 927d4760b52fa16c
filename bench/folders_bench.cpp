// Speed of the folder commands over a folder of 100,000 items, in the real
// main window under the offscreen platform, each timed from the menu entry
// to the list drawn again:
//   - moving 10,000 selected rows to a personal folder ("&move selected
//     items to folder", the picker answered at once);
//   - deleting those 10,000 from the personal folder (select all, delete:
//     into "bin");
//   - expiring the read items of the big folder;
//   - find in subject and find author from the first row to a match on the
//     last row.
//
//   folders_bench [benchmark options]
//
// The folder is written once straight into its files (list, count and item
// files) in $OMAIL_BENCH_DIR (default /tmp/omail-folders-bench); every
// iteration starts from it again.
#include "commands/items.h"
#include "commands/pickers.h"
#include "main/mainform.h"
#include "main/prompts.h"
#include "platform/fsys.h"
#include "settings/gen.h"
#include "store/torvakit.h"
#include "ui/dialogs.h"
#include "ui/qtloop.h"
#include "ui/virtuallist.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kItems = 100000;
constexpr int kSelected = 10000;
constexpr const char* kBig = "big";
constexpr const char* kWork = "work";
constexpr int kBigRow = 4;   // after in, out, sent, bin: big, work
constexpr int kWorkRow = 5;
constexpr int kBinRow = 3;

std::string g_dir;
std::string g_list;  // the big folder's list as built

std::string benchDirectory() {
    const char* dir = std::getenv("OMAIL_BENCH_DIR");
    return dir && *dir ? dir : "/tmp/omail-folders-bench";
}

std::string itemName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "N%07d", i);
    return name;
}

// The list records of the big folder: every sixth item read, subjects and
// authors unique to the item so the last row can be found.
std::string buildList() {
    const char* names[] = {"Ann Smith", "bob@example.org", "Cy Young", "Dee Dee", "Ed Wood", "Flo Rida"};
    const char* words[] = {"meeting", "report", "lunch", "patch", "release", "question", "invoice", "party"};
    std::string list;
    list.reserve(kItems * 150);
    for (int i = 0; i < kItems; ++i) {
        // The sortable date grows with the item, so date order is item order.
        char sortable[32], display[32];
        std::snprintf(sortable, sizeof sortable, "125%010d", i);
        std::snprintf(display, sizeof display, "%02d Jan 25", 1 + i % 28);
        list += itemName(i) + ".omh\r\n";
        list += std::string(1, "UROHMS"[i % 6]) + "\r\n";
        list += std::string(names[i % 6]) + " u" + std::to_string(i) + "\r\n";
        list += "reader@example.org\r\n";
        list += std::string(words[i % 8]) + " " + words[i / 8 % 8] + " #" + std::to_string(i) + "\r\n";
        list += std::string(display) + "\r\n" + sortable + "\r\n1\r\n<" + itemName(i) + "@example.org>\r\n";
    }
    return list;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Puts the big folder back as built: its list and count, every item's
// files (those that moved away are moved back), "work" and "bin" empty.
void resetStore() {
    const std::string big = g_dir + "/" + kBig + "/";
    for (const char* other : {kWork, "BIN"}) {
        const std::string dir = g_dir + "/" + other + "/";
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.size() == 12 && name[0] == 'N') fs::rename(entry.path(), big + name);
            else fs::remove(entry.path());
        }
    }
    for (int i = 0; i < kItems; ++i) {
        const std::string h = big + itemName(i) + ".omh";
        if (fs::exists(h)) continue;
        writeText(h, "+OK\r\nFrom: u" + std::to_string(i) + "@example.org\r\n");
        writeText(big + itemName(i) + ".omb", "text\r\n");
    }
    writeText(big + "n.lst", g_list);
    writeText(big + "n.cnt", std::to_string(kItems) + "\r\n");
    for (const auto& entry : fs::directory_iterator(big))
        if (entry.path().extension() == ".idx") fs::remove(entry.path());
}

void prepareDirectory() {
    fs::create_directories(g_dir + "/" + kBig);
    fs::create_directories(g_dir + "/" + kWork);
    fs::create_directories(g_dir + "/BIN");
    writeText(g_dir + "/folders.lst", std::string(kBig) + "\r\n" + kWork + "\r\n");
    writeText(g_dir + "/omail.ini", "[general]\nmleft=-1\n");
    fs::remove(g_dir + "/FILE.LOK");
    g_list = buildList();
    resetStore();
}

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
    }
    ~Window() {
        form.close();
        form.useSettings(nullptr, nullptr);
    }
    void drawNow() {
        form.databox->doItemsLayout();
        form.databox->viewport()->repaint();
    }
    // Shows a folder (sorting it when it has no index) before the clock runs.
    void show(int row) {
        form.selectMailFolder(row);
        drawNow();
    }
};

Window* g_window = nullptr;

// The picker chooses "work", the expiry dialog "expire read items".
int answerDialog(QDialog& dialog) {
    if (auto* picker = qobject_cast<Tmoveform*>(&dialog)) {
        picker->listbox->setCurrentItem(picker->listbox->findItems(kWork, Qt::MatchExactly).value(0));
        picker->okbtn->click();
        return ui::kResultOk;
    }
    if (auto* expiry = qobject_cast<Texpireform*>(&dialog)) {
        expiry->readbtn->click();
        return ui::kResultOk;
    }
    return ui::kResultCancel;
}

void selectEveryTenth(Tmainform& form) {
    QItemSelection selection;
    for (int row = 0; row < kItems; row += kItems / kSelected) {
        const QModelIndex at = form.databox->model()->index(row, 0);
        selection.select(at, at);
    }
    form.databox->selectionModel()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    form.setCurrentItem(0);
}

void BM_MoveTenThousandToFolder(benchmark::State& state) {
    Tmainform& form = g_window->form;
    for (auto _ : state) {
        state.PauseTiming();
        resetStore();
        g_window->show(kBigRow);
        selectEveryTenth(form);
        state.ResumeTiming();
        form.actions().moveselecteditemstofolder1->trigger();
        g_window->drawNow();
        state.PauseTiming();
        if (form.itemCount() != kItems - kSelected) state.SkipWithError("the move did not take 10,000 items");
        state.ResumeTiming();
    }
}

void BM_DeleteTenThousandFromFolder(benchmark::State& state) {
    Tmainform& form = g_window->form;
    for (auto _ : state) {
        state.PauseTiming();
        resetStore();
        g_window->show(kBigRow);
        selectEveryTenth(form);
        form.actions().moveselecteditemstofolder1->trigger();
        g_window->show(kWorkRow);
        state.ResumeTiming();
        form.actions().selectall1->trigger();
        form.actions().deleteselecteditems1->trigger();
        g_window->drawNow();
        state.PauseTiming();
        uint32_t inBin = 0;
        torvakit::GetFile(g_dir + "/BIN/n.cnt", inBin);
        if (form.itemCount() != 0 || inBin != kSelected) state.SkipWithError("the delete did not move 10,000 items");
        state.ResumeTiming();
    }
}

void BM_ExpireReadItems(benchmark::State& state) {
    Tmainform& form = g_window->form;
    for (auto _ : state) {
        state.PauseTiming();
        resetStore();
        g_window->show(kBigRow);
        state.ResumeTiming();
        form.actions().expireselectedfolderorgroup1->trigger();
        g_window->drawNow();
        state.PauseTiming();
        if (form.itemCount() != kItems - (kItems + 4) / 6) state.SkipWithError("expiry did not take the read items");
        state.ResumeTiming();
    }
}

// Find from the first row to the last one, as "f" / "a" and the prompt do.
void findLast(benchmark::State& state, QAction* action, const QString& text) {
    Tmainform& form = g_window->form;
    resetStore();
    g_window->show(kBigRow);
    for (auto _ : state) {
        state.PauseTiming();
        form.reloadList();
        ui::setEntryHook([text](const QString&, QString& entered) {
            entered = text;
            return ui::kResultOk;
        });
        state.ResumeTiming();
        action->trigger();
        state.PauseTiming();
        ui::setEntryHook(nullptr);
        if (form.currentItem() != kItems - 1) state.SkipWithError("find did not reach the last row");
        state.ResumeTiming();
    }
}

void BM_FindInSubjectToTheLastRow(benchmark::State& state) {
    // Date order: the last row is the newest item.
    findLast(state, g_window->form.actions().findinsubject1, "#99999");
}

void BM_FindAuthorToTheLastRow(benchmark::State& state) {
    findLast(state, g_window->form.actions().findauthor1, "u99999");
}

// The same search through one row reader call per row, as a drawn row is
// read: the figure the one-pass search is measured against.
void BM_FindRowByRowReaders(benchmark::State& state) {
    resetStore();
    g_window->show(kBigRow);
    const std::string folder = g_window->form.folderPath();
    for (auto _ : state) {
        int found = -1;
        std::string subject, body;
        for (int row = 0; row < kItems && found < 0; ++row) {
            torvakit::GetSubject(folder, subject, body, row, 7);
            if (torvakit::substringcompare(subject, "#99999") >= 0) found = row;
        }
        if (found != kItems - 1) state.SkipWithError("the row readers did not reach the last row");
    }
}

}  // namespace

BENCHMARK(BM_FindRowByRowReaders)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MoveTenThousandToFolder)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DeleteTenThousandFromFolder)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ExpireReadItems)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FindInSubjectToTheLastRow)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_FindAuthorToTheLastRow)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    g_dir = benchDirectory();
    prepareDirectory();
    platform::changeDirectory(g_dir);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    ui::setDialogHook(answerDialog);
    ui::setInformationHook([](const QString&) {});
    {
        Window window;
        g_window = &window;
        benchmark::RunSpecifiedBenchmarks();
        g_window = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
