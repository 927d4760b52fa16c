// Header files of arbitrary bytes: the field readers and the list record made
// from them. The record must stay nine lines, whatever the header holds.
#include "store/torvakit.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Scratch {
    Scratch() {
        std::string dir = (std::filesystem::temp_directory_path() / "omail-parse-fuzz-XXXXXX").string();
        if (!mkdtemp(dir.data())) std::abort();
        std::filesystem::current_path(dir);
        std::filesystem::create_directory("in");
    }
};

std::size_t countLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t n = 0;
    for (std::size_t i = 0; i + 1 < s.size(); ++i)
        if (s[i] == '\r' && s[i + 1] == '\n') ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    {
        std::ofstream out("in/N0000001.omh", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::string from, rcpt, subject, cc, replyTo, date, id;
    for (int mode = 0; mode <= 3; ++mode) {
        torvakit::GetHeaderFields("in/N0000001.omb", from, rcpt, subject, cc, replyTo, date, id, 256, mode);
        for (const std::string* s : {&from, &rcpt, &subject, &cc, &replyTo, &id})
            if (s->size() > 255) std::abort();
    }
    std::string path = "in/N0000001.omb";
    torvakit::GetReference(path, id);
    torvakit::GetAuthor(path, from, replyTo);
    torvakit::GetFilters(path, from, replyTo, rcpt);
    torvakit::HeaderType(path);
    std::remove("in/n.lst");
    std::remove("in/n.cnt");
    if (torvakit::AppendToList("in/N0000001.omh", "in/N0000001.omb", "in/n.lst", "in/n.cnt", 'U') != 1)
        std::abort();
    if (countLines("in/n.lst") != 9) std::abort();
    return 0;
}
