// yEnc blocks ("=ybegin", "=ypart", data, "=yend") for the decoders, with
// the size and CRC32 checks of the format. Internal to torvakit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/codec/fileio.h"

namespace torvakit::codec {

inline constexpr std::string_view kYBegin = "=ybegin ";

struct YBegin {
    uint64_t size = 0;
    uint32_t part = 0;   // 0: a single-part file
    uint32_t total = 0;  // parts in all, 0 when not given
    std::string name;    // as written, not cleaned
};

// The values of a "=ybegin" line; false when it lacks a size or a name.
bool parseYBegin(std::string_view line, YBegin& begin);

enum class YResult {
    PartDone,     // a part decoded and checked; the file still lacks parts
    FileDone,     // the file is whole and passed its checks
    PartBad,      // a part failed its size or CRC32 check, or its =yend is missing
    FileBad,      // the whole file failed its size or CRC32 check
    CannotWrite,  // the output could not be opened or written
};

// Decodes the block whose "=ybegin" line the reader has just passed into
// path: at its "=ypart" offset for a part. fresh starts the file anew (a
// single-part file or the first part decoded); otherwise the part joins the
// parts of path decoded before in this process. Data lines lose at most
// stripLimit leading spaces and quote characters, as many as the
// "=ybegin" line had.
YResult decodeYEncBlock(LineReader& reader, const YBegin& begin, const std::string& path, bool fresh,
                        char quote, size_t stripLimit);

// Whether path is a multi-part yEnc file begun in this process and not
// finished yet.
bool isOpenYEncFile(const std::string& path);

uint32_t crc32Update(uint32_t crc, const unsigned char* data, size_t size);

}  // namespace torvakit::codec
