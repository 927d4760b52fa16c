// Address, path and header-name parsing on arbitrary bytes.
#include "store/torvakit.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string name, address, dir, file;
    for (int32_t start : {0, 1, 6, static_cast<int32_t>(size), static_cast<int32_t>(size) + 3, -1}) {
        torvakit::extractrealname(text, start, name);
        if (name.size() > 255) std::abort();
    }
    torvakit::extractemailaddr(text, address);
    if (address.size() > 255) std::abort();
    if (address.size() < 255 && (address.size() < 2 || address.front() != '<' || address.back() != '>'))
        std::abort();
    if (torvakit::extractfrompath(text, dir, file) == 1 && dir + file != text) std::abort();
    const std::size_t half = size / 2;
    const int at = torvakit::substringcompare(text.substr(0, half), text.substr(half));
    if (at >= 0 && text.substr(0, half).substr(static_cast<std::size_t>(at), size - half) != text.substr(half))
        std::abort();
    const int length = torvakit::headercompare(text, text.substr(0, half));
    if (length != 0 && static_cast<std::size_t>(length) != half) std::abort();
    std::string lowered(text);
    torvakit::stringlower(lowered);
    if (!torvakit::stringcompare(lowered, text)) std::abort();
    return 0;
}
