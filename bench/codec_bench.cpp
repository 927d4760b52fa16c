// Throughput of the attachment codecs.
//
//   codec_bench [benchmark options]     Google Benchmark runs (32 MB inputs)
//   codec_bench run OPERATION ARGS...   one operation on real files, for the
//                                       whole-process comparison with the
//                                       standard tools (bench/codec_vs_tools.sh):
//       run decode BODY FOLDER           decodefile
//       run uudecode BODY FOLDER         uuedecodefile2, one item
//       run mime INPUT OUTPUT            mimeencodefile
//       run uuencode INPUT PATTERN [KB]  uueencodefile2 (parts of KB kilobytes)
#include "store/torvakit.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr size_t kMegabyte = 1024 * 1024;

// A scratch directory with a random input file and its encodings.
class Scratch {
public:
    explicit Scratch(size_t bytes) {
        std::string dir = (fs::temp_directory_path() / "omail-bench-XXXXXX").string();
        if (!mkdtemp(dir.data())) std::abort();
        m_dir = dir;
        fs::create_directory(m_dir / "DECODE");
        std::mt19937_64 rng(42);
        std::string data(bytes, '\0');
        for (size_t i = 0; i + 8 <= bytes; i += 8) {
            uint64_t v = rng();
            std::memcpy(&data[i], &v, 8);
        }
        write("data.bin", data);
        if (torvakit::mimeencodefile(path("data.bin"), path("mime.omb"), 1) != 1) std::abort();
        if (torvakit::uueencodefile2(path("data.bin"), 0, path("uu%d.omb"), 0) != 1) std::abort();
        m_bytes = bytes;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    std::string folder() const { return (m_dir / "DECODE").string() + "/"; }
    size_t bytes() const { return m_bytes; }

private:
    void write(const std::string& name, const std::string& data) {
        std::ofstream(path(name), std::ios::binary) << data;
    }
    fs::path m_dir;
    size_t m_bytes = 0;
};

Scratch& scratch() {
    static Scratch s(32 * kMegabyte);
    return s;
}

void BM_DecodeBase64(benchmark::State& state) {
    Scratch& s = scratch();
    std::string names;
    for (auto _ : state)
        if (torvakit::decodefile(s.path("mime.omb"), names, '>', s.folder()) != 1) state.SkipWithError("decode");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes()));
}

void BM_DecodeUu(benchmark::State& state) {
    Scratch& s = scratch();
    std::string names;
    for (auto _ : state)
        if (torvakit::decodefile(s.path("uu0.omb"), names, '>', s.folder()) != 1) state.SkipWithError("decode");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes()));
}

void BM_EncodeMime(benchmark::State& state) {
    Scratch& s = scratch();
    for (auto _ : state)
        if (torvakit::mimeencodefile(s.path("data.bin"), s.path("out.omb"), 7) != 1) state.SkipWithError("encode");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes()));
}

void BM_EncodeUu(benchmark::State& state) {
    Scratch& s = scratch();
    for (auto _ : state)
        if (torvakit::uueencodefile2(s.path("data.bin"), 0, s.path("out%d.omb"), 0) != 1) state.SkipWithError("encode");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes()));
}

BENCHMARK(BM_DecodeBase64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeUu)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeMime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeUu)->Unit(benchmark::kMillisecond);

int runOne(int argc, char** argv) {
    std::string op = argc > 2 ? argv[2] : "";
    auto arg = [&](int i) { return std::string(i < argc ? argv[i] : ""); };
    int rc = 0;
    if (op == "decode") {
        std::string names;
        rc = torvakit::decodefile(arg(3), names, '>', arg(4));
        return rc == 1 && !names.empty() ? 0 : 1;
    }
    if (op == "uudecode") {
        std::string out;
        rc = torvakit::uuedecodefile2(arg(3), 0, '>', arg(4), out);
        return rc == 2 ? 0 : 1;
    }
    if (op == "mime") return torvakit::mimeencodefile(arg(3), arg(4), 1) == 1 ? 0 : 1;
    if (op == "uuencode") {
        uint32_t kb = argc > 5 ? static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10)) : 0;
        return torvakit::uueencodefile2(arg(3), kb * 1024, arg(4), 0) >= 1 ? 0 : 1;
    }
    std::fprintf(stderr, "unknown operation '%s'\n", op.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "run") return runOne(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
