// Today's mail: filing retrieved messages whose headers carry encoded words
// against the same messages in plain ASCII, and the readable text of a
// 20 MB base64 message.
#include "store/torvakit.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kMessages = 1000;

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string scratch() {
    std::string dir = (fs::temp_directory_path() / "omail-mime-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) std::abort();
    return dir;
}

std::string header(int i, bool encoded) {
    std::string n = std::to_string(i);
    if (!encoded)
        return "+OK\r\nFrom: Joerg Mueller <j" + n + "@example.com>\r\nTo: Anna Schmidt <a@example.com>\r\n"
               "Subject: Re: Kalimera kosme, message " + n + "\r\nDate: Sat, 6 Dec 1997 19:01:54 +0100\r\n"
               "Message-Id: <" + n + "@example.com>\r\nReceived: from a by b\r\nReceived: from c by d\r\n"
               "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n";
    return "+OK\r\nFrom: =?utf-8?q?J=C3=B6rg_M=C3=BCller?= <j" + n + "@example.com>\r\n"
           "To: =?iso-8859-1?q?Anna_Schmidt?= <a@example.com>\r\n"
           "Subject: Re: =?utf-8?b?zprOsc67zrfOvM6tz4HOsSDOus+Mz4POvM61?=,\r\n =?utf-8?q?message_" + n + "?=\r\n"
           "Date: Sat, 6 Dec 1997 19:01:54 +0100\r\nMessage-Id: <" + n + "@example.com>\r\n"
           "Received: from a by b\r\nReceived: from c by d\r\n"
           "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n";
}

// Files 1,000 retrieved messages into a fresh folder per iteration, the way
// mail retrieval does: the item's files in place, then AppendToList.
void fileMessages(benchmark::State& state, bool encoded) {
    const std::string dir = scratch();
    std::vector<std::string> headers;
    for (int i = 0; i < kMessages; ++i) headers.push_back(header(i, encoded));
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string folder = dir + "/f" + std::to_string(round++) + "/";
        fs::create_directory(folder);
        for (int i = 0; i < kMessages; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "N%07d.om", i);
            writeFile(folder + name + "h", headers[i]);
            writeFile(folder + name + "b", "body\r\n");
        }
        state.ResumeTiming();
        for (int i = 0; i < kMessages; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "N%07d.om", i);
            torvakit::AppendToList(folder + name + "h", folder + name + "b", folder + "n.lst",
                                   folder + "n.cnt", 'U');
        }
        state.PauseTiming();
        fs::remove_all(folder);
        state.ResumeTiming();
    }
    fs::remove_all(dir);
    state.SetItemsProcessed(state.iterations() * kMessages);
}

void BM_FilePlainHeaders(benchmark::State& state) { fileMessages(state, false); }
void BM_FileEncodedHeaders(benchmark::State& state) { fileMessages(state, true); }

std::string base64Lines(const std::string& data) {
    static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() / 3 * 4 + data.size() / 57 * 2 + 8);
    for (std::size_t i = 0; i < data.size(); i += 57) {
        std::size_t end = std::min(data.size(), i + 57);
        for (std::size_t j = i; j < end; j += 3) {
            uint32_t v = static_cast<unsigned char>(data[j]) << 16;
            if (j + 1 < end) v |= static_cast<unsigned char>(data[j + 1]) << 8;
            if (j + 2 < end) v |= static_cast<unsigned char>(data[j + 2]);
            out += kAlphabet[v >> 18];
            out += kAlphabet[(v >> 12) & 63];
            out += j + 1 < end ? kAlphabet[(v >> 6) & 63] : '=';
            out += j + 2 < end ? kAlphabet[v & 63] : '=';
        }
        out += "\r\n";
    }
    return out;
}

// A message of 20 MB on disk: arg 0 one base64 text/plain part in UTF-8,
// arg 1 a short text and a 20 MB base64 attachment that is only listed.
void BM_ReadableText20MB(benchmark::State& state) {
    const std::string dir = scratch();
    const std::string item = dir + "/N0000001.om";
    const bool attachment = state.range(0) == 1;
    std::string text;
    const std::string line = "Γειά σου κόσμε, a line of mixed Greek and ASCII text in UTF-8.\r\n";
    while (text.size() < 15 * 1024 * 1024) text += line;
    if (!attachment) {
        writeFile(item + "h", "+OK\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
                              "Content-Transfer-Encoding: base64\r\n");
        writeFile(item + "b", base64Lines(text));
    } else {
        writeFile(item + "h", "+OK\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n");
        writeFile(item + "b", "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee the file.\r\n"
                              "--b\r\nContent-Type: application/octet-stream; name=big.bin\r\n"
                              "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(text) + "--b--\r\n");
    }
    const std::string out = dir + "/text.out";
    for (auto _ : state) {
        torvakit::ReadableText info;
        if (torvakit::MakeReadableText(item + "b", out, info) != 1) state.SkipWithError("failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(item + "b")));
    fs::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_FilePlainHeaders)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileEncodedHeaders)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadableText20MB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
