#include "store/codec/fileio.h"

#include "platform/fsys.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvakit::codec {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        reset();
        m_fd = other.release();
    }
    return *this;
}

int FileHandle::release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool FileHandle::reset() {
    if (m_fd < 0) return true;
    int rc = ::close(m_fd);
    m_fd = -1;
    return rc == 0;
}

FileHandle openForReading(std::string_view path) {
    if (path.empty()) return {};
    std::string resolved = platform::resolvePath(path);
    FileHandle file(::open(resolved.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info{};
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return file;
}

namespace {

// read(2) that retries when interrupted.
long readSome(int fd, char* data, size_t size) {
    for (;;) {
        ssize_t n = ::read(fd, data, size);
        if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// LineReader

LineReader::LineReader(FileHandle file) : m_file(std::move(file)) {
    if (m_file.valid()) m_buffer.resize(kIoBufferSize);
    m_eof = !m_file.valid();
}

bool LineReader::refill() {
    if (m_eof) return false;
    if (m_pos > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_pos, m_end - m_pos);
        m_end -= m_pos;
        m_pos = 0;
    }
    bool gotMore = false;
    while (m_end < m_buffer.size()) {
        long n = readSome(m_file.get(), m_buffer.data() + m_end, m_buffer.size() - m_end);
        if (n <= 0) {
            m_eof = true;  // a read error ends the file like its end
            break;
        }
        m_end += static_cast<size_t>(n);
        gotMore = true;
    }
    return gotMore;
}

int LineReader::peek() {
    if (m_pos == m_end && !refill()) return -1;
    return static_cast<unsigned char>(m_buffer[m_pos]);
}

bool LineReader::next(std::string_view& line) {
    // Enough bytes for a whole kept line plus CR LF, so a line end found in
    // the buffer is never split from its LF.
    if (m_end - m_pos < kMaxLine + 2) refill();
    if (m_pos == m_end) return false;
    const char* begin = m_buffer.data() + m_pos;
    size_t available = m_end - m_pos;
    size_t limit = std::min(available, kMaxLine + 1);
    const void* lf = std::memchr(begin, '\n', limit);
    size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - begin) : limit;
    const void* cr = std::memchr(begin, '\r', end);
    if (cr) end = static_cast<size_t>(static_cast<const char*>(cr) - begin);
    if (end < limit) {
        line = std::string_view(begin, end);
        m_pos += end + 1;
        if (cr && m_pos < m_end && m_buffer[m_pos] == '\n') ++m_pos;
        return true;
    }
    if (available <= kMaxLine) {  // the last line, without line end
        line = std::string_view(begin, available);
        m_pos = m_end;
        return true;
    }
    m_longLine.assign(begin, kMaxLine);
    m_pos += kMaxLine;
    skipRestOfLine();
    line = m_longLine;
    return true;
}

void LineReader::skipRestOfLine() {
    for (;;) {
        if (m_pos == m_end && !refill()) return;
        char c = m_buffer[m_pos++];
        if (c == '\n') return;
        if (c == '\r') {
            if (m_pos == m_end) refill();
            if (m_pos < m_end && m_buffer[m_pos] == '\n') ++m_pos;
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// BlockReader

long BlockReader::read(char* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        long n = readSome(m_file.get(), data + got, size - got);
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<long>(got);
}

// ---------------------------------------------------------------------------
// OutFile

OutFile::~OutFile() { close(); }

bool OutFile::open(std::string_view path, Mode mode) {
    close();
    if (path.empty()) return false;
    std::string resolved = platform::resolvePath(path);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
    flags |= mode == Mode::Append ? O_APPEND : O_TRUNC;
    m_file = FileHandle(::open(resolved.c_str(), flags, 0666));
    if (!m_file.valid()) return false;
    struct stat info{};
    if (::fstat(m_file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        m_file.reset();
        return false;
    }
    m_buffer.resize(kIoBufferSize);
    m_used = 0;
    m_failed = false;
    return true;
}

void OutFile::flush() {
    size_t done = 0;
    while (done < m_used && !m_failed) {
        ssize_t n = ::write(m_file.get(), m_buffer.data() + done, m_used - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) m_failed = true;
        else done += static_cast<size_t>(n);
    }
    m_used = 0;
}

void OutFile::write(const char* data, size_t size) {
    while (size > 0) {
        if (m_used == m_buffer.size()) flush();
        size_t n = std::min(size, m_buffer.size() - m_used);
        std::memcpy(m_buffer.data() + m_used, data, n);
        m_used += n;
        data += n;
        size -= n;
    }
}

char* OutFile::reserve(size_t size) {
    if (m_buffer.size() - m_used < size) flush();
    return m_buffer.data() + m_used;
}

bool OutFile::close() {
    if (!m_file.valid()) return !m_failed;
    flush();
    bool closed = m_file.reset();
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    return closed && !m_failed;
}

}  // namespace torvakit::codec
