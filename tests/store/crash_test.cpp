// The store after a crash at any moment: a child process runs a store
// operation and is killed with SIGKILL after a random delay; RecoverStore then
// runs and every item must be listed exactly once, in the folder holding its
// two files, with every count equal to its list. Also writes that fail
// part-way (a full file system, a directory where a file must go): the
// operation reports the failure and the store is whole without any recovery.
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace torvakit;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kFolders = {"in", "keep", "bin", "out", "sent", "N0000000"};

std::string itemName(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "N%07d.omh", n);
    return name;
}

std::string headerText(const std::string& id) {
    return "+OK message follows\r\nFrom: Anna <anna@example.org>\r\nTo: bob@example.org\r\n"
           "Subject: item " + id + "\r\nDate: Sat, 6 Dec 1997 19:01:54 +0100\r\nMessage-Id: <" + id +
           ">\r\n";
}

// Items numbered first.. with header, body and record; statuses alternate U, R.
void makeItems(const std::string& folder, int first, int count, const std::string& tag = "m") {
    std::string list;
    for (int n = first; n < first + count; ++n) {
        const std::string name = itemName(n), id = tag + std::to_string(n) + "@test";
        writeFile(folder + "/" + name, headerText(id));
        writeFile(folder + "/" + name.substr(0, name.size() - 1) + "b", "body\r\n");
        list += name + "\r\n" + (n % 2 ? 'R' : 'U') + "\r\nAnna\r\nbob\r\nitem\r\n06 Dec 97\r\n"
                "971206190154\r\n1\r\n<" + id + ">\r\n";
    }
    std::string old = readFile(folder + "/n.lst");
    writeFile(folder + "/n.lst", old + list);
    uint32_t was = 0;
    GetFile(folder + "/n.cnt", was);
    writeFile(folder + "/n.cnt", std::to_string(was + static_cast<uint32_t>(count)) + "\r\n");
}

// The message-ids listed in all folders (with how often), and every breach
// of the store's promises.
struct StoreState {
    std::map<std::string, int> ids;
    std::vector<std::string> problems;
    bool indexFiles = false;
};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

StoreState inspect(bool readHeaders) {
    StoreState st;
    for (const std::string& folder : kFolders) {
        if (!fs::is_directory(folder)) continue;
        const std::string list = readFile(folder + "/n.lst");
        std::vector<std::string> lines;
        std::size_t pos = 0;
        while (pos < list.size()) {
            const std::size_t end = list.find("\r\n", pos);
            if (end == std::string::npos) {
                st.problems.push_back(folder + ": list ends inside a line");
                break;
            }
            lines.push_back(list.substr(pos, end - pos));
            pos = end + 2;
        }
        if (lines.size() % 9 != 0) st.problems.push_back(folder + ": list is not whole records");
        const std::size_t records = lines.size() / 9;
        uint32_t count = 0;
        GetFile(folder + "/n.cnt", count);
        if (count != records)
            st.problems.push_back(folder + ": count " + std::to_string(count) + " for " +
                                  std::to_string(records) + " records");
        std::set<std::string> named;
        for (std::size_t r = 0; r < records; ++r) {
            const std::string& name = lines[r * 9];
            const std::string id = lines[r * 9 + 8];
            if (!named.insert(lower(name)).second) st.problems.push_back(folder + ": " + name + " listed twice");
            ++st.ids[id];
            const std::string header = folder + "/" + name;
            if (!fs::is_regular_file(header) || !fs::is_regular_file(header.substr(0, header.size() - 1) + "b"))
                st.problems.push_back(folder + ": " + name + " listed without its files");
            else if (readHeaders && headerText(id.substr(1, id.size() - 2)) != readFile(header))
                st.problems.push_back(folder + ": " + name + " record does not match its header");
        }
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::string file = lower(entry.path().filename().string());
            if (file.size() > 4 && file.compare(file.size() - 4, 4, ".idx") == 0) st.indexFiles = true;
            if (file.size() < 4 || (file.compare(file.size() - 4, 4, ".omh") != 0 &&
                                    file.compare(file.size() - 4, 4, ".omb") != 0))
                continue;
            file.back() = 'h';
            if (!named.count(file)) st.problems.push_back(folder + ": " + file + " is listed nowhere");
        }
    }
    if (fs::exists(kJournalFile) && fs::file_size(kJournalFile) != 0)
        st.problems.push_back("journal not cleared");
    return st;
}

// What must survive: ids that must be listed exactly once, ids that may be
// gone (the operation deletes them), nothing else.
std::string verify(const StoreState& st, const std::set<std::string>& must, const std::set<std::string>& may) {
    std::string out;
    for (const std::string& p : st.problems) out += p + "\n";
    for (const std::string& id : must) {
        const auto it = st.ids.find(id);
        const int n = it == st.ids.end() ? 0 : it->second;
        if (n != 1) out += id + " listed " + std::to_string(n) + " times\n";
    }
    for (const auto& [id, n] : st.ids)
        if (!must.count(id) && (!may.count(id) || n > 1)) out += id + " listed " + std::to_string(n) + " times\n";
    return out.size() > 2000 ? out.substr(0, 2000) : out;
}

std::set<std::string> listedIds() {
    std::set<std::string> out;
    for (const auto& [id, n] : inspect(false).ids) out.insert(id);
    return out;
}

// Runs op in a child process and kills it after delayUs microseconds,
// counted from the moment the child starts the operation (a negative delay:
// not at all). true when the kill landed before the operation ended.
bool runAndKill(const std::function<void()>& op, long delayUs) {
    int ready[2];
    if (pipe(ready) != 0) return false;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        const char c = 1;
        if (write(ready[1], &c, 1) != 1) _exit(3);
        op();
        _exit(0);
    }
    close(ready[1]);
    char c = 0;
    const bool started = read(ready[0], &c, 1) == 1;
    close(ready[0]);
    if (started && delayUs >= 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// Runs op in a child and returns its exit code (op's result).
int runInChild(const std::function<int()>& op) {
    const pid_t pid = fork();
    if (pid == 0) _exit(op());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Crash : public ::testing::Test {
protected:
    TempDir dir{true};
    std::mt19937 rng{std::random_device{}()};
    int kills = 0, rounds = 0, recoveries = 0;
    bool byNextOperation = false;  // recover through the next operation instead of RecoverStore
    std::map<std::string, double> typicalUs;  // how long each operation runs unkilled

    void SetUp() override {
        for (const std::string& f : kFolders) mkdir(f.c_str(), 0777);
    }
    void TearDown() override {
        std::printf("[ crash    ] %d rounds, %d kills inside the operation, %d recoveries\n", rounds, kills,
                    recoveries);
    }

    // One round: run, kill at a random moment within the operation's usual
    // length, recover, check. `may` holds the ids the operation deletes.
    void round(const std::string& name, const std::function<void()>& op, const std::set<std::string>& must,
               const std::set<std::string>& may, bool readHeaders) {
        // The first run of each operation is not killed: it shows how long
        // the operation takes, and the kills then land anywhere within that.
        double& typical = typicalUs[name];
        std::uniform_real_distribution<double> at(0, typical * 1.2);
        const auto start = std::chrono::steady_clock::now();
        const bool killed = runAndKill(op, typical == 0 ? -1 : static_cast<long>(at(rng)));
        const double took = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        // An operation that ran to its end shows its length; one always killed
        // may be longer than thought.
        typical = killed ? typical * 1.25 : 0.5 * typical + 0.5 * took;
        ++rounds;
        kills += killed;
        std::string report;
        int recovered = 0;
        if (std::getenv("CRASH_NO_RECOVERY")) {
            // Shows what a kill leaves behind without recovery.
        } else if (byNextOperation) {
            // A program that did not recover at start: the next journaled
            // operation (here one that expires nothing) replays what was left.
            ExpireItems("bin\\", "", 'Z');
        } else {
            recovered = RecoverStore("", report);
        }
        ASSERT_GE(recovered, 0);
        recoveries += recovered == 1;
        ASSERT_EQ(recovered == 1, !report.empty());
        const StoreState st = inspect(readHeaders);
        if (recovered == 1) {
            EXPECT_FALSE(st.indexFiles) << name << ": index files kept after " << report;
        }
        const std::string broken = verify(st, must, may);
        ASSERT_EQ(broken, "") << name << " killed=" << killed << " report=" << report;
    }
};

std::vector<int32_t> everySecondRow(int32_t count) {
    std::vector<int32_t> sel = {0};
    for (int32_t r = 0; r < count; r += 2) sel.push_back(r);
    sel[0] = static_cast<int32_t>(sel.size() - 1);
    return sel;
}

}  // namespace

// A folder of 20,000 items moved back and forth: a selection of half of it,
// a whole folder, an expiry by status, always from the folder that holds the
// most items. Nothing is deleted, so every id must come through every kill
// exactly once. The operations' lengths change with the folders' sizes, so a
// kill may come after the end; rounds go on until enough kills have landed.
TEST_F(Crash, LargeFolderMovesSurviveKills) {
    makeItems("in", 0, 20000);
    const std::set<std::string> all = listedIds();
    ASSERT_EQ(all.size(), 20000u);
    const std::vector<std::string> folders = {"in", "keep", "bin"};
    for (int i = 0; i < 12 || (kills < 8 && i < 60); ++i) {
        std::vector<std::pair<uint32_t, std::string>> sizes;
        for (const std::string& f : folders) {
            uint32_t n = 0;
            GetFile(f + "/n.cnt", n);
            sizes.emplace_back(n, f);
        }
        std::sort(sizes.rbegin(), sizes.rend());
        const std::string from = sizes[0].second + "\\", to = sizes[1].second + "\\";
        const uint32_t n = sizes[0].first;
        if (i % 3 == 0) {
            round("move half", [&] {
                SortList(from + "n.lst", 7);
                std::vector<int32_t> sel = everySecondRow(static_cast<int32_t>(n));
                MoveItems(from, to, 7, sel);
            }, all, {}, false);
        } else if (i % 3 == 1) {
            round("move all", [&] { MoveAllItems(from, to); }, all, {}, false);
        } else {
            round("expire read", [&] { ExpireItems(from, to, 'R'); }, all, {}, false);
        }
    }
    EXPECT_GE(kills, 8);
}

// Small folders, many kills: each round starts from a fresh store of a few
// hundred items and runs one of the operations that move, delete or file.
// The faster the operations, the more kills come after their end: rounds go
// on until enough kills have landed.
TEST_F(Crash, EveryOperationSurvivesKillsAnywhere) {
    int next = 0;  // item numbers are never reused
    std::uniform_int_distribution<int> sizes(50, 400);
    for (int r = 0; r < 25 || (kills <= 30 && r < 75); ++r) {
        for (const std::string& f : kFolders) fs::remove_all(f), mkdir(f.c_str(), 0777);
        fs::remove("subscr.dat");
        const int n = sizes(rng);
        makeItems("in", next, n);
        makeItems("out", next + n, 40);
        makeItems("N0000000", next + n + 40, 30, "g");
        writeFile("subscr.dat", "alt.test:N0000000:0000000012:\r\nalt.keep:N0000001:0000000000:\r\n");
        writeFile("SUBSCR.LST", "alt.test\r\nalt.keep\r\n");
        next += n + 70;
        byNextOperation = r % 3 == 2;
        const std::set<std::string> all = listedIds();
        auto idsOf = [](const std::string& folder) {
            std::set<std::string> out;
            const std::string list = readFile(folder + "/n.lst");
            for (std::size_t pos = 0, line = 0; pos < list.size(); ++line) {
                const std::size_t end = list.find("\r\n", pos);
                if (line % 9 == 8) out.insert(list.substr(pos, end - pos));
                pos = end + 2;
            }
            return out;
        };
        auto minus = [](std::set<std::string> a, const std::set<std::string>& b) {
            for (const std::string& x : b) a.erase(x);
            return a;
        };
        const std::set<std::string> inIds = idsOf("in"), groupIds = idsOf("N0000000");
        std::set<std::string> readIn;  // the read ('R') items of "in": the odd numbers
        for (const std::string& id : inIds)
            if (std::stoi(id.substr(2)) % 2) readIn.insert(id);

        round("move selection", [] {
            std::vector<int32_t> sel = everySecondRow(400);
            MoveItems("in\\", "keep\\", 9, sel);
        }, all, {}, true);
        round("move all", [] { MoveAllItems("keep\\", "sent\\"); }, all, {}, true);
        round("delivered", [] {
            std::vector<int32_t> sel = {0};
            std::vector<std::string> to;
            for (int32_t row = 0; row < 40; row += 3) {
                sel.push_back(row);
                to.push_back(row % 2 ? "sent\\" : "keep\\");
            }
            sel[0] = static_cast<int32_t>(to.size());
            FileDelivered("out\\", 9, sel, to);
        }, all, {}, true);
        // From here on items may go for good; which ones go depends on
        // whether each deleting operation took place before its kill.
        std::set<std::string> mayGo = readIn;
        round("expire delete", [] { ExpireItems("in\\", "", 'R'); }, minus(all, mayGo), mayGo, true);
        const std::set<std::string> keptIds = idsOf("keep");
        mayGo.insert(keptIds.begin(), keptIds.end());
        round("delete selection", [] {
            std::vector<int32_t> sel = {0};
            for (int32_t row = 0; row < 1000; ++row) sel.push_back(row);
            sel[0] = 1000;
            MoveItems("keep\\", "", 9, sel);
        }, minus(all, mayGo), mayGo, true);
        mayGo.insert(groupIds.begin(), groupIds.end());
        round("unsubscribe", [] {
            std::string group = "alt.test";
            SubSub("subscr.dat", "SUBSCR.LST", group);
        }, minus(all, mayGo), mayGo, true);
        // Subscription file and names file agree, whatever happened.
        const std::string subscr = readFile("subscr.dat"), names = readFile("SUBSCR.LST");
        ASSERT_EQ(subscr.find("alt.test:") == std::string::npos, names.find("alt.test\r\n") == std::string::npos);
        ASSERT_EQ(subscr.find("alt.test:") == std::string::npos, !fs::exists("N0000000"));
        const std::set<std::string> sentIds = idsOf("sent");
        mayGo.insert(sentIds.begin(), sentIds.end());
        round("remove folder", [] { removedir("sent"); }, minus(all, mayGo), mayGo, true);
        if (fs::exists("sent")) {  // interrupted before the removal started: finish it unkilled
            ASSERT_EQ(removedir("sent"), 1);
        }
        ASSERT_EQ(verify(inspect(true), minus(all, mayGo), mayGo), "");
    }
    EXPECT_GT(kills, 30);
}

// Retrieved messages filed one after another while the child is killed:
// every message is either still waiting in head.tmp or filed exactly once,
// and the filed ones are the first ones, in order, without a gap.
TEST_F(Crash, FilingRetrievedMessagesSurvivesKills) {
    makeItems("in", 0, 300);
    writeFile("omail.dat", "300\r\n");
    const std::set<std::string> before = listedIds();
    int nextMessage = 0;
    for (int r = 0; r < 60; ++r) {
        const int first = nextMessage;
        const bool killed = runAndKill([first] {
            for (int i = first;; ++i) {
                // A message is written to head.tmp/body.tmp only when the last one was filed.
                if (!fs::exists("head.tmp")) {
                    writeFile("body.tmp", "body\r\n");
                    writeFile("head.tmp.part", headerText("r" + std::to_string(i) + "@test"));
                    fs::rename("head.tmp.part", "head.tmp");
                }
                std::string name;
                if (FileRetrieved("omail.dat", "head.tmp", "body.tmp", "in\\", 'U', name) != 1) _exit(2);
            }
        }, std::uniform_int_distribution<long>(0, 40000)(rng));
        ++rounds;
        kills += killed;
        fs::remove("head.tmp.part");
        std::string report;
        ASSERT_GE(RecoverStore("", report), 0);
        StoreState st = inspect(r % 10 == 0);
        std::set<std::string> must = before;
        nextMessage = 0;
        while (st.ids.count("<r" + std::to_string(nextMessage) + "@test>")) must.insert("<r" + std::to_string(nextMessage++) + "@test>");
        ASSERT_EQ(verify(st, must, {}), "") << "round " << r << " report " << report;
        // A message still waiting is the next one, complete.
        if (fs::exists("head.tmp")) {
            ASSERT_EQ(readFile("head.tmp"), headerText("r" + std::to_string(nextMessage) + "@test"));
        }
        ASSERT_GE(nextMessage, first);
    }
    std::printf("[ crash    ] %d messages filed\n", nextMessage);
    EXPECT_GT(nextMessage, 30);
    EXPECT_GT(kills, 30);
}

// A file system that fills up part-way through: the move reports failure and
// the store is as before, without any recovery.
TEST_F(Crash, FullFileSystemChangesNothing) {
    makeItems("in", 0, 2000);
    makeItems("keep", 2000, 2000);
    const std::string inList = readFile("in/n.lst"), keepList = readFile("keep/n.lst");
    const std::set<std::string> all = listedIds();
    // The limit lets the scratch file (smaller than "in"'s list) through but
    // stops the records appended to "keep".
    auto limited = [](std::size_t bytes, const std::function<int()>& op) {
        const auto limit = static_cast<rlim_t>(bytes);
        return runInChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit rl{limit, limit};
            setrlimit(RLIMIT_FSIZE, &rl);
            return op();
        });
    };
    const std::size_t room = keepList.size() + 1000;
    EXPECT_EQ(limited(room, [] {
                  std::vector<int32_t> sel = everySecondRow(2000);
                  return MoveItems("in\\", "keep\\", 9, sel);
              }), 0);
    EXPECT_EQ(limited(room, [] { return MoveAllItems("in\\", "keep\\"); }), 0);
    EXPECT_EQ(limited(room, [] { return ExpireItems("in\\", "keep\\", 'U'); }), 0);
    EXPECT_EQ(readFile("in/n.lst"), inList);
    EXPECT_EQ(readFile("keep/n.lst"), keepList);
    EXPECT_EQ(verify(inspect(true), all, {}), "");
    // Filing into a list that cannot grow: the message goes back to head.tmp.
    writeFile("head.tmp", headerText("new@test"));
    writeFile("body.tmp", "body\r\n");
    writeFile("omail.dat", "9000\r\n");
    EXPECT_EQ(limited(keepList.size() + 10, [] {
                  std::string name;
                  return FileRetrieved("omail.dat", "head.tmp", "body.tmp", "keep\\", 'U', name);
              }), 0);
    EXPECT_EQ(readFile("head.tmp"), headerText("new@test"));
    EXPECT_TRUE(fs::exists("body.tmp"));
    EXPECT_EQ(verify(inspect(true), all, {}), "");
}

// A destination that cannot take an item (a directory where its body file
// would go, a directory for a list): nothing moves, nothing is lost.
TEST_F(Crash, UnwritableDestinationChangesNothing) {
    makeItems("in", 0, 300);
    const std::set<std::string> all = listedIds();
    const std::string inList = readFile("in/n.lst");
    mkdir("keep/N0000298.omb", 0777);
    std::vector<int32_t> sel = everySecondRow(300);
    EXPECT_EQ(MoveItems("in\\", "keep\\", 9, sel), 0);
    EXPECT_EQ(MoveAllItems("in\\", "keep\\"), 0);
    std::vector<int32_t> one = {1, 298};
    EXPECT_EQ(FileDelivered("in\\", 9, one, {"keep\\"}), 0);
    rmdir("keep/N0000298.omb");
    mkdir("bin/n.lst", 0777);
    EXPECT_EQ(ExpireItems("in\\", "bin\\", 'R'), 0);
    rmdir("bin/n.lst");
    EXPECT_EQ(readFile("in/n.lst"), inList);
    EXPECT_EQ(verify(inspect(true), all, {}), "");
    EXPECT_FALSE(fs::exists("keep/n.lst") && !readFile("keep/n.lst").empty());
}

// Filing never writes over an item: not when the number file cannot be
// rewritten (every message would get the same number), not when the number
// names an item that exists.
TEST_F(Crash, FilingRefusesToOverwrite) {
    makeItems("in", 0, 4);
    writeFile("head.tmp", headerText("new@test"));
    writeFile("body.tmp", "new body\r\n");
    std::string name = "x";
    mkdir("omail.dat", 0777);
    EXPECT_EQ(FileRetrieved("omail.dat", "head.tmp", "body.tmp", "in\\", 'U', name), 0);
    EXPECT_EQ(name, "");
    rmdir("omail.dat");
    writeFile("omail.dat", "3\r\n");  // item 3 exists
    EXPECT_EQ(FileRetrieved("omail.dat", "head.tmp", "body.tmp", "in\\", 'U', name), 0);
    EXPECT_EQ(readFile("in/N0000003.omb"), "body\r\n");
    EXPECT_EQ(readFile("head.tmp"), headerText("new@test"));
    EXPECT_EQ(verify(inspect(true), listedIds(), {}), "");
    // The next number is free: filed, listed, counted, index files gone.
    writeFile("in/n7.idx", "");
    EXPECT_EQ(FileRetrieved("omail.dat", "head.tmp", "body.tmp", "in\\", 'U', name), 1);
    EXPECT_EQ(name, "N0000004.omh");
    EXPECT_EQ(readFile("in/N0000004.omb"), "new body\r\n");
    EXPECT_FALSE(fs::exists("head.tmp") || fs::exists("body.tmp") || fs::exists("in/n7.idx"));
    EXPECT_EQ(readFile("in/n.cnt"), "5\r\n");
    EXPECT_NE(readFile("in/n.lst").find("N0000004.omh\r\nU\r\nAnna\r\n"), std::string::npos);
}

// Filings one after another keep what they know of the folder, yet see what
// changed in it between them: an item another program put there under the
// next number, in another spelling, is never filed over.
TEST_F(Crash, FilingSeesChangesBetweenFilings) {
    makeItems("in", 0, 2);
    writeFile("omail.dat", "2\r\n");
    std::string name;
    auto retrieved = [](const std::string& id) {
        writeFile("head.tmp", headerText(id));
        writeFile("body.tmp", "body of " + id + "\r\n");
    };
    for (const char* id : {"a@test", "b@test"}) {
        retrieved(id);
        ASSERT_EQ(FileRetrieved("omail.dat", "head.tmp", "body.tmp", "in\\", 'U', name), 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    writeFile("in/n0000004.OMH", headerText("foreign@test"));
    retrieved("c@test");
    EXPECT_EQ(FileRetrieved("omail.dat", "head.tmp", "body.tmp", "in\\", 'U', name), 0);
    EXPECT_EQ(readFile("in/n0000004.OMH"), headerText("foreign@test"));
    EXPECT_EQ(readFile("head.tmp"), headerText("c@test"));
    EXPECT_EQ(readFile("in/n.cnt"), "4\r\n");
}

// A news header is filed alone and its body follows: the body takes the
// item's name, never a name already there in any spelling, and is moved
// only for an item's name.
TEST_F(Crash, BodyFiledAfterItsHeader) {
    makeItems("in", 0, 2);
    writeFile("omail.dat", "2\r\n");
    writeFile("head.tmp", headerText("news@test"));
    std::string name;
    ASSERT_EQ(FileRetrieved("omail.dat", "head.tmp", "body.tmp", "in\\", 'O', name), 1);
    EXPECT_NE(readFile("in/n.lst").find("N0000002.omh\r\nO\r\n"), std::string::npos);
    writeFile("body.tmp", "late body\r\n");
    EXPECT_EQ(FileRetrievedBody("body.tmp", "in\\", "../N0000002.omh"), 0);
    EXPECT_EQ(FileRetrievedBody("body.tmp", "in\\", "N0000001.omh"), 0);
    EXPECT_EQ(readFile("in/N0000001.omb"), "body\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    writeFile("in/n0000002.OMB", "foreign\r\n");
    EXPECT_EQ(FileRetrievedBody("body.tmp", "in\\", name), 0);
    EXPECT_EQ(readFile("in/n0000002.OMB"), "foreign\r\n");
    EXPECT_EQ(readFile("body.tmp"), "late body\r\n");
    fs::remove("in/n0000002.OMB");
    EXPECT_EQ(FileRetrievedBody("body.tmp", "in\\", name), 1);
    EXPECT_EQ(readFile("in/N0000002.omb"), "late body\r\n");
    EXPECT_FALSE(fs::exists("body.tmp"));
    EXPECT_EQ(FileRetrievedBody("body.tmp", "in\\", name), 0);
    EXPECT_EQ(readFile("in/n.cnt"), "3\r\n");
}

// Delivered items leave the outbox for their own destinations with their
// status, and a data directory without a journal is left as it is.
TEST_F(Crash, DeliveredItemsAndAnUntouchedStore) {
    makeItems("out", 0, 4);
    writeFile("out/n5.idx", "");
    std::string report = "x";
    EXPECT_EQ(RecoverStore(dir.path(), report), 0);
    EXPECT_EQ(report, "");
    EXPECT_TRUE(fs::exists("out/n5.idx"));
    std::vector<int32_t> sel = {3, 3, 0, 1};
    EXPECT_EQ(FileDelivered("out\\", 9, sel, {"keep\\", "sent\\"}), 0);  // a destination short
    EXPECT_EQ(FileDelivered("out\\", 9, sel, {"keep\\", "sent\\", "sent\\"}), 1);
    const std::string out = readFile("out/n.lst");
    EXPECT_EQ(out.substr(0, 14), "N0000002.omh\r\n");
    EXPECT_EQ(readFile("out/n.cnt"), "1\r\n");
    EXPECT_EQ(readFile("sent/n.cnt"), "2\r\n");
    EXPECT_EQ(readFile("sent/n.lst").substr(0, 17), "N0000000.omh\r\nU\r\n");
    EXPECT_NE(readFile("sent/n.lst").find("N0000001.omh\r\nR\r\n"), std::string::npos);
    EXPECT_TRUE(fs::exists("keep/N0000003.omb") && fs::exists("sent/N0000001.omh"));
    EXPECT_FALSE(fs::exists("out/n5.idx"));
    EXPECT_EQ(verify(inspect(true), listedIds(), {}), "");
    EXPECT_EQ(listedIds().size(), 4u);
}
