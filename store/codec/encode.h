// Internal pieces of the encoders, open to the tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvakit::codec {

// The MIME type "mimetype.txt" gives for the file name's extension, or
// "application/octet-stream".
std::string lookupContentType(std::string_view fileName);
// The pattern with its one integer conversion (flags, width and precision
// allowed, "%%" for a percent sign) filled with number; nothing when the
// pattern has no such conversion, more than one, or any other.
std::optional<std::string> formatPartPath(std::string_view pattern, uint32_t number);

}  // namespace torvakit::codec
