// uuedecodefile2 over arbitrary items, the first item's result fed to the
// second call as the multi-item decoder's callers do.
#include "codec_fuzz_support.h"
#include "store/torvakit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::enterScratch();
    fuzzsupport::writeInput("item.omb", data, size);
    std::string output;
    int rc = torvakit::uuedecodefile2("item.omb", 0, '>', "DECODE\\", output);
    if (rc < -5 || rc > 2 || rc == -1 || rc == -2 || rc == -4) std::abort();
    if (rc == 1) {
        rc = torvakit::uuedecodefile2("item.omb", 1, '>', "DECODE\\", output);
        if (rc != 1 && rc != 2) std::abort();
    }
    fuzzsupport::checkAndClear({"item.omb"});
    return 0;
}
