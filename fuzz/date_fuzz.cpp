// Date and number parsing on arbitrary bytes: positions stay inside the text
// and the month is a month or 0.
#include "store/torvakit.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const int32_t length = static_cast<int32_t>(size);
    for (int32_t start : {0, 3, length, length + 10, -7}) {
        int32_t pos = start, day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
        torvakit::extractdate(text, pos, day, month, year, hour, minute, second);
        if (pos < 0 || pos > length || month < 0 || month > 12) std::abort();
        std::string name;
        pos = start;
        const int m = torvakit::extractmonth(text, pos, name);
        if (m < 0 || m > 12 || name.size() > 3 || pos < 0 || pos > length) std::abort();
        uint32_t value = 0;
        pos = start;
        while (torvakit::extractlong(text, pos, value) == 1)
            if (pos <= 0 || pos > length) std::abort();
        pos = start;
        torvakit::skip(text, pos, ' ');
        if (pos < 0 || pos > length) std::abort();
    }
    return 0;
}
