// Outbox writing and delivery, timed as whole runs (bench/deliver_vs_smtplib.sh
// drives the delivery beside Python's smtplib).
//
//   delivery_bench compose FILE MIME [PART_KB]
//       writes one attachment set for FILE into a fresh outbox through
//       MakeItem (MIME 1: one MIME part, 0: uuencoded parts of PART_KB,
//       default 100) and prints the time and the peak memory of the process
//   delivery_bench prepare DIR COUNT SIZE_KB
//       fills DIR/OUT with COUNT composed messages of SIZE_KB kilobytes
//   delivery_bench deliver DIR HOST:PORT [PIPE]
//       delivers DIR's outbox through the whole delivery machine (SMTP,
//       filing into "sent", removal from the outbox) and prints the time;
//       PIPE 1 sets smtppipe (EHLO, pipelining when the server offers it)
#include "transfer/delivery.h"
#include "transfer/transfer.h"

#include "platform/fsys.h"
#include "platform/pollloop.h"
#include "store/torvakit.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class Host : public transfer::Host {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::vector<std::string> boxes;
    void showStatus(const std::string&) override {}
    void information(const std::string& text) override { boxes.push_back(text); }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return {}; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
};

void makeFolders(const std::string& dir) {
    platform::createDirectory(dir);
    for (const char* f : {"OUT", "SENT", "IN", "BIN"}) platform::createDirectory(dir + "/" + f);
}

int compose(const char* file, int mime, int partKb) {
    char pattern[] = "/tmp/omail-compose-bench.XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    makeFolders(dir);
    std::string header, body;
    torvakit::MakeFileNames(dir + "/omail.dat", header, body);
    std::ofstream(dir + "/OUT/" + body, std::ios::binary) << "see the attached file\r\n";
    uint32_t next = 0;
    torvakit::GetFile(dir + "/omail.dat", next);
    const auto start = Clock::now();
    const int parts = torvakit::MakeItem(dir + "/OUT/" + header, "Bench <bench@lab.test>", "", "big file", "x@lab.test",
                                         "", file, "", "+0000", "", "bench", "lab.test", "", 1, partKb, next, 0, mime);
    const double ms = msSince(start);
    std::printf("%s: %d parts in %.0f ms, peak memory %ld KB\n", mime ? "mime" : "uuencode", parts, ms, peakKb());
    std::system(("rm -rf '" + dir + "'").c_str());
    return parts > 0 ? 0 : 1;
}

int prepare(const std::string& dir, int count, int sizeKb) {
    makeFolders(dir);
    const std::string line = std::string("0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz") + "\r\n";
    std::string text;
    while (text.size() < static_cast<size_t>(sizeKb) * 1024) text += line;
    for (int n = 0; n < count; ++n) {
        std::string header, body;
        torvakit::MakeFileNames(dir + "/omail.dat", header, body);
        std::ofstream(dir + "/OUT/" + body, std::ios::binary) << text;
        if (torvakit::MakeItem(dir + "/OUT/" + header, "Bench <bench@lab.test>", "", "bench message " + std::to_string(n),
                               "rcpt@lab.test", "", "", "", "+0000", "", "bench", "lab.test", "", 1, 100, 0, 0, 0) != 0)
            return 1;
    }
    return 0;
}

int deliver(const std::string& dir, const std::string& host, int pipe) {
    platform::PollLoop loop;
    Host h;
    h.general.smtp = host;
    h.general.smtppipe = pipe;
    transfer::Transfers transfers(h, dir);
    transfer::Delivery delivery(transfers);
    if (!platform::changeDirectory(dir)) return 1;
    const auto start = Clock::now();
    delivery.start(transfer::DeliveryKind::Mail);
    loop.runUntil([&] { return transfers.transferState == transfer::kIdle; }, 600000);
    const double ms = msSince(start);
    uint32_t sent = 0, left = 0;
    torvakit::GetFile("SENT/n.cnt", sent);
    torvakit::GetFile("OUT/n.cnt", left);
    std::printf("%.0f ms: %u filed in sent, %u left in the outbox (%s)\n", ms, sent, left,
                h.boxes.empty() ? "" : h.boxes.back().c_str());
    return left == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "compose" && argc >= 4) return compose(argv[2], std::atoi(argv[3]), argc > 4 ? std::atoi(argv[4]) : 100);
    if (mode == "prepare" && argc == 5) return prepare(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (mode == "deliver" && (argc == 4 || argc == 5)) return deliver(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 0);
    std::fprintf(stderr, "usage: delivery_bench compose FILE MIME [PART_KB] | prepare DIR COUNT SIZE_KB | "
                         "deliver DIR HOST:PORT [PIPE]\n");
    return 2;
}
