// decodebase64: the input up to its first NUL is the header file, the rest
// the body.
#include "codec_fuzz_support.h"
#include "store/torvakit.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::enterScratch();
    const void* nul = std::memchr(data, 0, size);
    size_t headerSize = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : size;
    fuzzsupport::writeInput("item.omh", data, headerSize);
    size_t bodyStart = nul ? headerSize + 1 : size;
    fuzzsupport::writeInput("item.omb", data + bodyStart, size - bodyStart);
    std::string name;
    int rc = torvakit::decodebase64("item.omb", name, '>', "DECODE\\");
    if (rc != 1 || name.empty() || name.find_first_of("/\\") != std::string::npos) std::abort();
    fuzzsupport::checkAndClear({"item.omh", "item.omb"});
    return 0;
}
