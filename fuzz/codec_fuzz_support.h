// A scratch data directory for the fuzz targets, entered once, with checks
// that a decoder wrote nothing outside its output folder.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

namespace fuzzsupport {

namespace fs = std::filesystem;

inline void enterScratch() {
    static bool entered = false;
    if (entered) return;
    std::string dir = (fs::temp_directory_path() / "omail-fuzz-XXXXXX").string();
    if (!mkdtemp(dir.data())) std::abort();
    fs::current_path(dir);
    fs::create_directory("DECODE");
    entered = true;
}

inline void writeInput(const char* name, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(name, "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

// Aborts when the data directory holds anything but the allowed names, then
// empties the output folder for the next run.
inline void checkAndClear(std::set<std::string> allowed) {
    allowed.insert("DECODE");
    for (const auto& entry : fs::directory_iterator("."))
        if (!allowed.count(entry.path().filename().string())) {
            std::fprintf(stderr, "written outside the folder: %s\n", entry.path().c_str());
            std::abort();
        }
    for (const auto& entry : fs::directory_iterator("DECODE")) {
        if (!entry.is_regular_file()) std::abort();
        fs::remove(entry.path());
    }
}

}  // namespace fuzzsupport
