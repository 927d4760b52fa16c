// decodefile over arbitrary bodies: no crash, no file outside the folder.
#include "codec_fuzz_support.h"
#include "store/torvakit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::enterScratch();
    fuzzsupport::writeInput("item.omb", data, size);
    std::string names;
    int rc = torvakit::decodefile("item.omb", names, '>', "DECODE\\");
    if (rc != 1 && rc != -2 && rc != -3 && (rc < -8 || rc > -5)) std::abort();
    fuzzsupport::checkAndClear({"item.omb"});
    return 0;
}
