// The attachment encoders: one MIME part body in base64, or uuencoded part
// bodies split by size. Both stream the attachment through fixed buffers.
#include "store/torvakit.h"

#include "platform/fsys.h"
#include "store/codec/codec.h"
#include "store/codec/encode.h"
#include "store/codec/fileio.h"

#include <cctype>
#include <cstdio>
#include <sys/stat.h>
#include <vector>

namespace torvakit {
namespace codec {

namespace {

constexpr std::string_view kDefaultContentType = "application/octet-stream";
constexpr std::string_view kMimeTypeFile = "mimetype.txt";
// Item numbers have seven digits; no attachment can need more parts.
constexpr uint64_t kMaxParts = 10'000'000;
// Input is read in whole lines' worth of bytes at a time.
constexpr size_t kInputBlock = kBase64LineBytes * kUuLineBytes * 64;

// The base name as it may stand in a header line: a control character could
// end the line early and smuggle in header lines of its own, a double quote
// would end the quoted parameter.
std::string headerSafeName(std::string_view name, bool quoted) {
    std::string safe(name);
    for (char& c : safe) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || (quoted && c == '"')) c = '_';
    }
    return safe;
}

// Hands out the attachment's bytes in runs of the size asked for.
class InputStream {
public:
    explicit InputStream(FileHandle file) : m_reader(std::move(file)), m_buffer(kInputBlock) {}
    // The next size bytes (size at most kInputBlock), or nullptr when the file
    // ends or fails first.
    const unsigned char* take(size_t size) {
        if (m_end - m_pos < size && !refill(size)) return nullptr;
        const unsigned char* p = m_buffer.data() + m_pos;
        m_pos += size;
        return p;
    }

private:
    bool refill(size_t size) {
        std::copy(m_buffer.begin() + static_cast<long>(m_pos), m_buffer.begin() + static_cast<long>(m_end),
                  m_buffer.begin());
        m_end -= m_pos;
        m_pos = 0;
        long n = m_reader.read(reinterpret_cast<char*>(m_buffer.data()) + m_end, m_buffer.size() - m_end);
        if (n > 0) m_end += static_cast<size_t>(n);
        return m_end >= size;
    }

    BlockReader m_reader;
    std::vector<unsigned char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
};

int64_t openedFileSize(const FileHandle& file) {
    struct stat info{};
    if (!file.valid() || ::fstat(file.get(), &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
}

}  // namespace

std::string lookupContentType(std::string_view fileName) {
    std::string type(kDefaultContentType);
    size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == fileName.size()) return type;
    std::string extension;
    for (char c : fileName.substr(dot + 1)) extension += lowerAscii(c);

    LineReader table(openForReading(kMimeTypeFile));
    std::string_view line;
    while (table.next(line)) {
        size_t typeEnd = line.find(' ');
        if (typeEnd == std::string_view::npos) continue;
        // Extensions follow, each ending at a space or the line's end.
        for (size_t pos = typeEnd + 1; pos < line.size();) {
            size_t end = std::min(line.find(' ', pos), line.size());
            std::string_view token = line.substr(pos, end - pos);
            if (token.size() == extension.size() &&
                std::equal(token.begin(), token.end(), extension.begin(),
                           [](char a, char b) { return lowerAscii(a) == b; }))
                return std::string(line.substr(0, typeEnd));
            pos = end + 1;
        }
    }
    return type;
}

std::optional<std::string> formatPartPath(std::string_view pattern, uint32_t number) {
    std::string result;
    int conversions = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c != '%') {
            result += c;
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            result += '%';
            ++i;
            continue;
        }
        // %[flags][width][.precision][length]conversion, integers only.
        std::string directive = "%";
        size_t j = i + 1;
        while (j < pattern.size() && std::string_view("-+ #0").find(pattern[j]) != std::string_view::npos)
            directive += pattern[j++];
        size_t digits = 0;
        while (j < pattern.size() && (std::isdigit(static_cast<unsigned char>(pattern[j])) || pattern[j] == '.'))
            directive += pattern[j++], ++digits;
        while (j < pattern.size() && std::string_view("hljzt").find(pattern[j]) != std::string_view::npos) ++j;
        if (j >= pattern.size() || std::string_view("diuxXo").find(pattern[j]) == std::string_view::npos ||
            digits > 4 || ++conversions > 1)
            return std::nullopt;
        char conversion = pattern[j];
        directive += "ll";
        directive += conversion;
        char text[128];
        int n = (conversion == 'd' || conversion == 'i')
                    ? std::snprintf(text, sizeof text, directive.c_str(), static_cast<long long>(number))
                    : std::snprintf(text, sizeof text, directive.c_str(), static_cast<unsigned long long>(number));
        if (n < 0 || static_cast<size_t>(n) >= sizeof text) return std::nullopt;
        result.append(text, static_cast<size_t>(n));
        i = j;
    }
    if (conversions != 1) return std::nullopt;
    return result;
}

namespace {

bool writeMimeBody(InputStream& input, int64_t size, OutFile& out, uint32_t boundary,
                   std::string_view type, std::string_view name) {
    std::string quotedName = headerSafeName(name, true);
    std::string head = "\r\n--" + std::to_string(boundary) + "\r\n" +
                       "Content-type: text/plain; charset=us-ascii\r\n" +
                       "Content-Transfer-Encoding: 7bit\r\n\r\n\r\n\r\n" +
                       "--" + std::to_string(boundary) + "\r\n" +
                       "Content-Type: " + std::string(type) + "; name=\"" + quotedName + "\"\r\n" +
                       "Content-Transfer-Encoding: base64\r\n" +
                       "Content-Disposition: attachment; filename=\"" + quotedName + "\"\r\n\r\n";
    out.write(head);
    for (int64_t done = 0; done < size;) {
        size_t n = static_cast<size_t>(std::min<int64_t>(kBase64LineBytes, size - done));
        const unsigned char* bytes = input.take(n);
        if (!bytes) return false;  // the file shrank while we read it
        char* line = out.reserve(80);
        size_t length = encodeBase64Line(bytes, n, line);
        line[length] = '\r';
        line[length + 1] = '\n';
        out.commit(length + 2);
        done += static_cast<int64_t>(n);
    }
    out.write("\r\n--" + std::to_string(boundary) + "--\r\n");
    return true;
}

// Writes the part that begins at byte done; returns false on a short read.
bool writeUuPart(InputStream& input, int64_t size, int64_t& done, uint64_t partSize, bool first,
                 std::string_view name, OutFile& out) {
    if (first) out.write("begin 644 " + headerSafeName(name, false) + "\r\n");
    uint64_t inPart = 0;
    while (done < size && inPart < partSize) {
        size_t n = static_cast<size_t>(
            std::min<uint64_t>({kUuLineBytes, partSize - inPart, static_cast<uint64_t>(size - done)}));
        const unsigned char* bytes = input.take(n);
        if (!bytes) return false;
        char* line = out.reserve(64);
        size_t length = encodeUuLine(bytes, n, line);
        line[length] = '\r';
        line[length + 1] = '\n';
        out.commit(length + 2);
        done += static_cast<int64_t>(n);
        inPart += n;
    }
    // The zero-length line before "end" is what standard decoders look for.
    if (done == size) out.write("`\r\nend\r\n");
    return true;
}

}  // namespace
}  // namespace codec

int mimeencodefile(std::string_view attachment, std::string_view outputPath, uint32_t boundary) {
    using namespace codec;
    if (attachment.empty()) return 0;
    std::string_view name = baseName(attachment);
    std::string type = lookupContentType(name);
    FileHandle file = openForReading(attachment);
    int64_t size = openedFileSize(file);
    if (size < 0) return 0;
    InputStream input(std::move(file));
    OutFile out;
    if (!out.open(outputPath, OutFile::Mode::Replace)) return 0;
    bool written = writeMimeBody(input, size, out, boundary, type, name);
    if (!out.close() || !written) {
        platform::deleteFile(outputPath);
        return 0;
    }
    return 1;
}

int uueencodefile2(std::string_view attachment, uint32_t partSize, std::string_view pattern,
                   uint32_t firstNumber) {
    using namespace codec;
    if (attachment.empty()) return 0;
    FileHandle file = openForReading(attachment);
    int64_t size = openedFileSize(file);
    if (size < 0) return 0;
    // An empty file still makes one part, a valid uuencoding of no bytes, so
    // that every part item that gets recorded has a body.
    uint64_t part = partSize == 0 ? std::max<uint64_t>(1, static_cast<uint64_t>(size)) : partSize;
    uint64_t parts = std::max<uint64_t>(1, (static_cast<uint64_t>(size) + part - 1) / part);
    if (parts > kMaxParts) return 0;

    InputStream input(std::move(file));
    std::string_view name = baseName(attachment);
    std::vector<std::string> written;
    auto fail = [&written] {
        for (const std::string& path : written) platform::deleteFile(path);
        return 0;
    };
    int64_t done = 0;
    for (uint64_t index = 0; index < parts; ++index) {
        auto path = formatPartPath(pattern, static_cast<uint32_t>(firstNumber + index));
        if (!path) return fail();
        OutFile out;
        if (!out.open(*path, OutFile::Mode::Replace)) return fail();
        written.push_back(*path);
        bool ok = writeUuPart(input, size, done, part, index == 0, name, out);
        if (!out.close() || !ok) return fail();
    }
    return static_cast<int>(parts);
}

}  // namespace torvakit
