// yEnc decoding: each byte is written as its value plus 42; NUL, LF, CR and
// "=" (and, by some encoders, other bytes) are escaped as "=" and the value
// plus 64. The trailer gives the size and CRC32 of a part and of the whole
// file; a file that fails them is reported, never passed off as decoded.
#include "store/codec/ydecode.h"

#include "platform/fsys.h"
#include "store/codec/codec.h"
#include "store/codec/decode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <map>
#include <vector>

namespace torvakit::codec {
namespace {

constexpr std::string_view kYPart = "=ypart ";
constexpr std::string_view kYEnd = "=yend";
// Past any file a news reader joins; a larger size is taken as damage.
constexpr uint64_t kMaxYEncSize = uint64_t{1} << 40;

constexpr std::array<uint32_t, 256> kCrcTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}();

// The value of "key=" in a control line (a word boundary before the key),
// as a decimal or hexadecimal number.
bool numberParam(std::string_view line, std::string_view key, uint64_t& value, int base = 10) {
    std::string needle = std::string(key) + "=";
    size_t at = 0;
    for (;;) {
        at = line.find(needle, at);
        if (at == std::string_view::npos) return false;
        if (at == 0 || line[at - 1] == ' ') break;
        ++at;
    }
    size_t i = at + needle.size();
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < line.size() && digits < 20; ++i, ++digits) {
        char c = lowerAscii(line[i]);
        int d = (c >= '0' && c <= '9') ? c - '0' : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0) break;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    if (digits == 0) return false;
    value = v;
    return true;
}

struct YEnd {
    bool hasSize = false, hasPartCrc = false, hasCrc = false;
    uint64_t size = 0;
    uint32_t partCrc = 0, crc = 0;
};

YEnd parseYEnd(std::string_view line) {
    YEnd end;
    uint64_t v = 0;
    if (numberParam(line, "size", v)) end.hasSize = true, end.size = v;
    if (numberParam(line, "pcrc32", v, 16)) end.hasPartCrc = true, end.partCrc = static_cast<uint32_t>(v);
    if (numberParam(line, "crc32", v, 16)) end.hasCrc = true, end.crc = static_cast<uint32_t>(v);
    return end;
}

// What is known of a multi-part file while its parts come in.
struct OpenFile {
    uint64_t size = 0;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;  // [first, last] bytes, 0-based
    bool hasCrc = false;
    uint32_t crc = 0;
};
std::map<std::string, OpenFile> g_openFiles;

// Output written at an offset, through a buffer.
class OffsetWriter {
public:
    bool open(const std::string& path, bool truncate) {
        std::string resolved = platform::resolvePath(path);
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (truncate ? O_TRUNC : 0);
        m_file = FileHandle(::open(resolved.c_str(), flags, 0666));
        struct stat info{};
        if (!m_file.valid() || ::fstat(m_file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            m_file.reset();
            return false;
        }
        m_buffer.reserve(kIoBufferSize);
        return true;
    }
    void seek(uint64_t offset) { m_offset = offset; }
    void write(const unsigned char* data, size_t size) {
        m_buffer.insert(m_buffer.end(), data, data + size);
        if (m_buffer.size() >= kIoBufferSize) flush();
    }
    bool close() {
        flush();
        bool ok = !m_failed;
        return m_file.reset() && ok;
    }

private:
    void flush() {
        size_t done = 0;
        while (done < m_buffer.size() && !m_failed) {
            ssize_t n = ::pwrite(m_file.get(), m_buffer.data() + done, m_buffer.size() - done,
                                 static_cast<off_t>(m_offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) m_failed = true;
            else done += static_cast<size_t>(n);
        }
        m_offset += m_buffer.size();
        m_buffer.clear();
    }
    FileHandle m_file;
    std::vector<unsigned char> m_buffer;
    uint64_t m_offset = 0;
    bool m_failed = false;
};

// Decodes one data line; an escape cut by the line end is dropped.
size_t decodeYLine(std::string_view line, unsigned char* out) {
    size_t n = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == '=') {
            if (++i == line.size()) break;
            c = static_cast<unsigned char>(static_cast<unsigned char>(line[i]) - 64);
        }
        out[n++] = static_cast<unsigned char>(c - 42);
    }
    return n;
}

uint32_t fileCrc(const std::string& path, uint64_t& size) {
    BlockReader reader(openForReading(path));
    std::vector<char> buffer(kIoBufferSize);
    uint32_t crc = 0;
    size = 0;
    long n;
    while ((n = reader.read(buffer.data(), buffer.size())) > 0) {
        crc = crc32Update(crc, reinterpret_cast<const unsigned char*>(buffer.data()), static_cast<size_t>(n));
        size += static_cast<uint64_t>(n);
    }
    return crc;
}

bool overlaps(const OpenFile& f, uint64_t first, uint64_t last) {
    for (const auto& [a, b] : f.ranges)
        if (first <= b && a <= last) return true;
    return false;
}

uint64_t covered(const OpenFile& f) {
    uint64_t sum = 0;
    for (const auto& [a, b] : f.ranges) sum += b - a + 1;
    return sum;
}

// Where the part's bytes go: 0 and the whole size for a single part.
bool partRange(LineReader& reader, const YBegin& begin, uint64_t& offset, uint64_t& length) {
    if (begin.part == 0) {
        offset = 0;
        length = begin.size;
        return true;
    }
    std::string_view line;
    if (!reader.next(line)) return false;
    size_t at = line.find(kYPart);
    if (at == std::string_view::npos) return false;
    line.remove_prefix(at);
    uint64_t first = 0, last = 0;
    if (!numberParam(line, "begin", first) || !numberParam(line, "end", last)) return false;
    if (first == 0 || last < first || last > begin.size) return false;
    offset = first - 1;
    length = last - first + 1;
    return true;
}

YResult finishFile(const std::string& path, uint64_t size, bool hasCrc, uint32_t crc) {
    uint64_t actual = 0;
    uint32_t actualCrc = fileCrc(path, actual);
    if (actual != size || (hasCrc && actualCrc != crc)) return YResult::FileBad;
    return YResult::FileDone;
}

}  // namespace

uint32_t crc32Update(uint32_t crc, const unsigned char* data, size_t size) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

bool parseYBegin(std::string_view line, YBegin& begin) {
    begin = {};
    uint64_t v = 0;
    if (!numberParam(line, "size", begin.size) || begin.size > kMaxYEncSize) return false;
    if (numberParam(line, "part", v)) begin.part = static_cast<uint32_t>(std::min<uint64_t>(v, 1u << 30));
    if (numberParam(line, "total", v)) begin.total = static_cast<uint32_t>(std::min<uint64_t>(v, 1u << 30));
    // The name is the rest of the line: it may hold blanks.
    size_t at = line.find(" name=");
    if (at == std::string_view::npos) return false;
    std::string_view name = line.substr(at + 6);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    begin.name = name;
    return !begin.name.empty();
}

bool isOpenYEncFile(const std::string& path) { return g_openFiles.count(path) != 0; }

YResult decodeYEncBlock(LineReader& reader, const YBegin& begin, const std::string& path, bool fresh,
                        char quote, size_t stripLimit) {
    if (fresh || begin.part == 0) g_openFiles.erase(path);
    uint64_t offset = 0, length = 0;
    if (!partRange(reader, begin, offset, length)) return YResult::PartBad;
    auto open = g_openFiles.find(path);
    if (begin.part != 0 && open != g_openFiles.end() && open->second.size != begin.size)
        return YResult::PartBad;  // a part of another file of the same name
    OffsetWriter out;
    if (!out.open(path, open == g_openFiles.end())) return YResult::CannotWrite;
    out.seek(offset);
    uint64_t written = 0;
    uint32_t crc = 0;
    bool ended = false;
    YEnd end;
    std::string_view line;
    std::array<unsigned char, kMaxLine + 1> decoded;
    while (reader.next(line)) {
        stripQuotes(line, quote, stripLimit);
        if (line.starts_with(kYEnd)) {
            end = parseYEnd(line);
            ended = true;
            break;
        }
        size_t n = decodeYLine(line, decoded.data());
        // A part never writes past its own range, whatever its lines hold.
        size_t keep = static_cast<size_t>(std::min<uint64_t>(n, length - std::min(written, length)));
        out.write(decoded.data(), keep);
        crc = crc32Update(crc, decoded.data(), n);
        written += n;
    }
    if (!out.close()) return YResult::CannotWrite;
    bool sizeOk = ended && written == length && (!end.hasSize || end.size == written);
    if (begin.part == 0) {
        if (!sizeOk || (end.hasCrc && end.crc != crc)) return YResult::FileBad;
        return YResult::FileDone;
    }
    if (!sizeOk || (end.hasPartCrc && end.partCrc != crc)) return YResult::PartBad;
    OpenFile& file = g_openFiles[path];
    file.size = begin.size;
    if (overlaps(file, offset, offset + length - 1)) return YResult::PartBad;
    file.ranges.emplace_back(offset, offset + length - 1);
    if (end.hasCrc) file.hasCrc = true, file.crc = end.crc;
    if (covered(file) < file.size) return YResult::PartDone;
    const OpenFile done = file;
    g_openFiles.erase(path);
    return finishFile(path, done.size, done.hasCrc, done.crc);
}

}  // namespace torvakit::codec
