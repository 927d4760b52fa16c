// Buffered file reading and writing for the attachment codecs: a line reader
// with the store's 2047-byte line rule, a block reader and an output file.
// Each holds one fixed buffer, so encoding and decoding run in constant
// memory whatever the size of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvakit::codec {

// The longest line kept; the rest of a longer line is skipped.
inline constexpr size_t kMaxLine = 2047;

// A file descriptor closed when the owner goes.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() { reset(); }
    FileHandle(FileHandle&& other) noexcept : m_fd(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    // Closes; false when the close reported an error.
    bool reset();

private:
    int m_fd = -1;
};

// Opens an existing file of the store for reading (the path may use "\" and
// any case). Returns an invalid handle when it cannot be opened or is not a
// regular file.
FileHandle openForReading(std::string_view path);

// Reads a file line by line. A line ends at LF, CR or CR LF; at most
// kMaxLine bytes of it are returned and the rest is skipped up to the line's
// end. A last line without line end is returned; a file ending in a line end
// gives no extra empty line.
class LineReader {
public:
    explicit LineReader(FileHandle file);
    bool isOpen() const { return m_file.valid(); }
    // The next line without its line end, valid until the next call; false at
    // the end of the file (or after a read error).
    bool next(std::string_view& line);
    // The next byte of the file without consuming it, or -1 at the end.
    int peek();

private:
    bool refill();  // moves the unread rest to the front and reads more
    void skipRestOfLine();

    FileHandle m_file;
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    bool m_eof = false;
    std::string m_longLine;  // a cut long line, kept while its rest is skipped
};

// Reads a file in blocks of the caller's size (for the encoders).
class BlockReader {
public:
    explicit BlockReader(FileHandle file) : m_file(std::move(file)) {}
    // Fills data with up to size bytes; returns how many (0 at the end), or
    // -1 on a read error.
    long read(char* data, size_t size);

private:
    FileHandle m_file;
};

// A file written through a buffer. Creation never follows a symbolic link
// at the last component, so a link planted in an output folder cannot send
// the bytes elsewhere.
class OutFile {
public:
    enum class Mode { Replace, Append };
    OutFile() = default;
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    bool open(std::string_view path, Mode mode);
    bool isOpen() const { return m_file.valid(); }
    void write(const char* data, size_t size);
    void write(std::string_view text) { write(text.data(), text.size()); }
    void put(char c) {
        if (m_used == m_buffer.size()) flush();
        m_buffer[m_used++] = c;
    }
    // A place for up to size bytes in the buffer (size at most the buffer
    // size); commit(n) then records the n bytes written there.
    char* reserve(size_t size);
    void commit(size_t size) { m_used += size; }
    // Writes out and closes; false when any write or the close failed.
    bool close();

private:
    void flush();

    FileHandle m_file;
    std::vector<char> m_buffer;
    size_t m_used = 0;
    bool m_failed = false;
};

// The size of the buffers above: large enough that a line and its end are
// always whole in the reader's buffer, and that system calls stay rare.
inline constexpr size_t kIoBufferSize = 256 * 1024;

}  // namespace torvakit::codec
