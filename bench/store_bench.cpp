// The message store on a folder of 100,000 items: sorting, reading one row,
// moving a few rows and expiring; and filing 1,000 retrieved messages.
//
//   store_bench                          Google Benchmark run (LANG/LC_ALL pick the collation)
//   store_bench --make-folder DIR [N]    writes a folder of N items (default 100000) into DIR,
//                                        plus DIR/keys5.txt: the subject keys, one a line
//   store_bench --sort-once DIR TYPE     sorts DIR once; prints seconds and peak memory
#include "store/torvakit.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kItems = 100000;

const char* const kFirst[] = {"Anna", "Bernd", "Chloé", "David", "Eva", "Frank", "Grete", "Hans",
                              "Ingrid", "Jürgen", "Karin", "Lars", "Maria", "Nils", "Olga", "Paul",
                              "Quentin", "Rita", "Sven", "Tanja", "Uwe", "Vera", "Walter", "Zoë"};
const char* const kLast[] = {"Müller", "Schmidt", "Schneider", "Fischer", "Weber", "Meyer",
                             "Wagner", "Becker", "Schulz", "Hoffmann", "Koch", "Richter", "Klein",
                             "Wolf", "Schröder", "Neumann", "Schwarz", "Zimmermann", "Braun",
                             "Krüger", "Hofmann", "Hartmann", "Lange", "Schmitt", "Werner"};
const char* const kWords[] = {"budget",  "meeting", "report", "plan",     "server",  "release",
                              "bug",     "patch",   "linux",  "compiler", "question", "help",
                              "update",  "café",    "news",   "weekend",  "photos",  "invoice",
                              "draft",   "review",  "the",    "for",      "about",   "and",
                              "urgent",  "minutes", "agenda", "q3",       "numbers", "ideas"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kGroups[] = {"comp.lang.c", "comp.os.linux.misc", "alt.test", "de.rec.fahrrad",
                               "sci.math", "rec.photo.digital"};

template <typename T, std::size_t N>
const T& pick(std::mt19937& rng, const T (&pool)[N]) {
    return pool[rng() % N];
}

struct Folder {
    std::string list;
    std::string keys5;  // subject line and date, as the sort sees them, one a line
};

Folder makeFolder(int items) {
    std::mt19937 rng(20261207);
    std::vector<std::string> threads;
    for (int i = 0; i < 20000; ++i) {
        std::string s = pick(rng, kWords);
        for (int w = 1 + static_cast<int>(rng() % 5); w > 0; --w) (s += ' ') += pick(rng, kWords);
        s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
        threads.push_back(s);
    }
    Folder f;
    f.list.reserve(static_cast<std::size_t>(items) * 200);
    char buf[512];
    for (int i = 0; i < items; ++i) {
        const int year = 97 + static_cast<int>(rng() % 30), month = 1 + static_cast<int>(rng() % 12);
        const int day = 1 + static_cast<int>(rng() % 28);
        const int h = static_cast<int>(rng() % 24), m = static_cast<int>(rng() % 60),
                  s = static_cast<int>(rng() % 60);
        std::string subject = threads[rng() % threads.size()];
        if (rng() % 10 < 3) subject = "Re: " + subject;
        const std::string author = std::string(pick(rng, kFirst)) + " " + pick(rng, kLast);
        const std::string size = rng() % 10 == 0 ? "-" : std::to_string(1 + rng() % 400);
        char sortable[32];
        std::snprintf(sortable, sizeof sortable, "%02d%02d%02d%02d%02d%02d", year, month, day, h, m, s);
        std::snprintf(buf, sizeof buf,
                      "N%07d.omh\r\n%c\r\n%s\r\n%s\r\n%s\r\n%02d %s %02d\r\n%s\r\n%s\r\n"
                      "<%d.%u@news.example.org>\r\n",
                      i, "UROH"[rng() % 4], author.c_str(), pick(rng, kGroups), subject.c_str(), day,
                      kMonths[month - 1], year, sortable, size.c_str(), i,
                      static_cast<unsigned>(rng()));
        f.list += buf;
        std::string key = subject;
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (key.rfind("re: ", 0) == 0) key.erase(0, 4);
        f.keys5 += key + sortable + "\n";
    }
    return f;
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// A scratch data directory with folder "in" of 100,000 items, made once.
struct Store {
    std::string root;
    std::string list;
    Store() {
        root = (std::filesystem::temp_directory_path() / "omail-store-bench").string();
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root + "/in");
        std::filesystem::create_directories(root + "/bin");
        std::filesystem::current_path(root);
        list = makeFolder(kItems).list;
        reset();
        torvakit::SortList("in\\n.lst", 7);
    }
    ~Store() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    void reset() const {
        writeFile("in/n.lst", list);
        writeFile("in/n.cnt", std::to_string(kItems) + "\r\n");
        std::filesystem::remove("bin/n.lst");
        std::filesystem::remove("bin/n.cnt");
    }
};

Store& store() {
    static Store s;
    return s;
}

void BM_SortList(benchmark::State& state) {
    store();
    const int type = static_cast<int>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(torvakit::SortList("in\\n.lst", type));
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_SortList)->Arg(3)->Arg(5)->Arg(7)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_ReadListItems(benchmark::State& state) {
    store();
    const int row = static_cast<int>(state.range(0));
    std::string status, author, rcpt, subject, date, size;
    int32_t hasBody = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(torvakit::ReadListItems(row, "in\\n7.idx", "in\\n.lst", status, author,
                                                         rcpt, subject, date, size, hasBody));
}
BENCHMARK(BM_ReadListItems)->Arg(0)->Arg(kItems - 1)->Unit(benchmark::kMicrosecond);

void BM_MoveItems10(benchmark::State& state) {
    const Store& s = store();
    for (auto _ : state) {
        std::vector<int32_t> selection = {10};
        for (int i = 0; i < 10; ++i) selection.push_back(i * 9973);
        benchmark::DoNotOptimize(torvakit::MoveItems("in\\", "bin\\", 7, selection));
        state.PauseTiming();
        s.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MoveItems10)->Unit(benchmark::kMillisecond);

void BM_ExpireItems(benchmark::State& state) {
    const Store& s = store();
    for (auto _ : state) {
        // By age: every item older than ten years goes to the wastebasket.
        benchmark::DoNotOptimize(torvakit::ExpireItems("in\\", "bin\\", -3650));
        state.PauseTiming();
        s.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExpireItems)->Unit(benchmark::kMillisecond);

// Filing 1,000 retrieved messages into a folder that already holds 1,000
// items: head.tmp and body.tmp written as the protocol engine writes them,
// then filed as the program files them.
constexpr int kFiled = 1000;

struct FilingStore {
    std::string root;
    FilingStore() {
        root = (std::filesystem::temp_directory_path() / "omail-filing-bench").string();
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root + "/in");
    }
    ~FilingStore() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    // A folder of 1,000 items with their files, the item counter after them.
    void reset() const {
        std::filesystem::current_path(root);
        std::filesystem::remove_all("in");
        std::filesystem::create_directories("in");
        std::string list;
        char name[32];
        for (int i = 0; i < kFiled; ++i) {
            std::snprintf(name, sizeof name, "in/N%07d.om", i);
            writeFile(std::string(name) + "h", "+OK\r\nSubject: old\r\n");
            writeFile(std::string(name) + "b", "body\r\n");
            list += std::string(name + 3) + "h\r\nU\r\na\r\nb\r\nold\r\n06 Dec 97\r\n971206190154\r\n1\r\n<x>\r\n";
        }
        writeFile("in/n.lst", list);
        writeFile("in/n.cnt", std::to_string(kFiled) + "\r\n");
        writeFile("omail.dat", std::to_string(kFiled) + "\r\n");
    }
};

void writeRetrieved(int i) {
    writeFile("head.tmp", "+OK message follows\r\nFrom: Anna <anna@example.org>\r\nTo: bob@example.org\r\n"
                          "Subject: message " + std::to_string(i) +
                          "\r\nDate: Sat, 6 Dec 1997 19:01:54 +0100\r\nMessage-Id: <" + std::to_string(i) +
                          "@example.org>\r\n");
    writeFile("body.tmp", "Hello,\r\n\r\nthe body of the message.\r\n");
}

void BM_FileRetrieved1000(benchmark::State& state) {
    static FilingStore s;
    for (auto _ : state) {
        state.PauseTiming();
        s.reset();
        state.ResumeTiming();
        for (int i = 0; i < kFiled; ++i) {
            writeRetrieved(i);
            std::string header;
            benchmark::DoNotOptimize(
                torvakit::FileRetrieved("omail.dat", "head.tmp", "body.tmp", "in\\", 'U', header));
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiled);
}
BENCHMARK(BM_FileRetrieved1000)->Unit(benchmark::kMillisecond);

int makeFolderCommand(const std::string& dir, int items) {
    std::filesystem::create_directories(dir);
    const Folder f = makeFolder(items);
    writeFile(dir + "/n.lst", f.list);
    writeFile(dir + "/n.cnt", std::to_string(items) + "\r\n");
    writeFile(dir + "/keys5.txt", f.keys5);
    return 0;
}

int sortOnceCommand(const std::string& dir, int type) {
    const auto start = std::chrono::steady_clock::now();
    const int written = torvakit::SortList(dir + "/n.lst", type);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    struct stat st{};
    stat((dir + "/n.lst").c_str(), &st);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("records %d seconds %.3f peak_rss_kb %ld list_kb %lld cpu_seconds %.3f\n", written,
                seconds, usage.ru_maxrss, static_cast<long long>(st.st_size / 1024), cpu);
    return written < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "--make-folder" && argc > 2)
        return makeFolderCommand(argv[2], argc > 3 ? std::atoi(argv[3]) : kItems);
    if (command == "--sort-once" && argc > 3) return sortOnceCommand(argv[2], std::atoi(argv[3]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
