// wordwrapfile: every output line ends in CR LF, holds no tab or stray CR
// and is at most 80 bytes long.
#include "codec_fuzz_support.h"
#include "store/torvakit.h"

#include <fstream>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::enterScratch();
    fuzzsupport::writeInput("in.txt", data, size);
    if (torvakit::wordwrapfile("in.txt", "out.txt") != 1) std::abort();
    std::ifstream in("out.txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string out = ss.str();
    size_t column = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        char c = out[i];
        if (c == '\t') std::abort();
        if (c == '\r') {
            if (i + 1 >= out.size() || out[i + 1] != '\n') std::abort();
            column = 0;
            ++i;
            continue;
        }
        if (c == '\n') std::abort();
        if (++column > 80) std::abort();
    }
    if (!out.empty() && out.back() != '\n') std::abort();
    return 0;
}
