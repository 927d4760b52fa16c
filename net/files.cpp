// The transfer files of a command: the files a retrieval writes into, the
// files a delivery or posting streams out (dot-stuffed, through the send
// queue), and the envelope read from an outbox header file.
#include "net/engine.h"

#include "store/torvakit.h"

#include <cstdio>

namespace netwire::engine {
namespace {

constexpr const char* kCannotReadFile = "cannot read file";
constexpr const char* kEndOfData = ".\r\n";
constexpr const char* kCrLf = "\r\n";
constexpr int kFileBufferSize = 65536;

}  // namespace

void setTransferFiles(std::string_view a, std::string_view b, std::string_view c) {
    Connection& k = conn();
    k.files = {std::string(a), std::string(b), std::string(c)};
    k.fileCount = c.empty() ? (b.empty() ? 1 : 2) : 3;
    k.nextFile = 0;
}

bool openForWrite(int index) {
    Connection& c = conn();
    closeFile();
    c.current = platform::openFile(c.files[static_cast<size_t>(index)], "wb");
    if (!c.current) return false;
    std::setvbuf(c.current.get(), nullptr, _IOFBF, kFileBufferSize);
    c.currentWritten = true;
    return true;
}

bool openForRead(int index) {
    Connection& c = conn();
    closeFile();
    c.current = platform::openFile(c.files[static_cast<size_t>(index)], "rb");
    if (!c.current) return false;
    std::setvbuf(c.current.get(), nullptr, _IOFBF, kFileBufferSize);
    c.currentWritten = false;
    return true;
}

bool closeFile() {
    Connection& c = conn();
    if (!c.current) return true;
    std::FILE* f = c.current.release();
    bool ok = true;
    if (c.currentWritten) ok = std::fflush(f) == 0 && !std::ferror(f);
    ok = (std::fclose(f) == 0) && ok;
    c.currentWritten = false;
    return ok;
}

bool writeData(const char* data, int length, bool lineEnd) {
    std::FILE* f = conn().current.get();
    if (!f) return false;
    if (length > 0 && std::fwrite(data, 1, static_cast<size_t>(length), f) != static_cast<size_t>(length))
        return false;
    if (lineEnd && std::fwrite(kCrLf, 1, 2, f) != 2) return false;
    return true;
}

// Reads one line of a file into out: at most kFileLineMax characters up to
// CR, LF, CR LF or the end of the file, then CR LF. atEnd when the read met
// the end of the file; continues when the line goes on past the characters
// taken (the next read returns the rest).
static int readFileLine(std::FILE* f, char* out, bool& atEnd, bool& continues) {
    int n = 0;
    atEnd = continues = false;
    for (;;) {
        int ch = getc_unlocked(f);
        if (ch == EOF) {
            atEnd = true;
            break;
        }
        if (ch == '\n') break;
        if (ch == '\r') {
            int next = getc_unlocked(f);
            if (next != '\n' && next != EOF) ungetc(next, f);
            break;
        }
        out[n++] = static_cast<char>(ch);
        if (n == kFileLineMax) {
            int next = getc_unlocked(f);
            if (next == EOF) {
                atEnd = true;
            } else if (next == '\r') {
                int after = getc_unlocked(f);
                if (after != '\n' && after != EOF) ungetc(after, f);
            } else if (next != '\n') {
                ungetc(next, f);
                continues = true;
            }
            break;
        }
    }
    out[n++] = '\r';
    out[n++] = '\n';
    return n;
}

namespace {

enum class Fill { QueueFull, Done, Failed };

// Queues lines of the transfer files until the queue refuses one (the file
// is set back to that line) or the last file and ".\r\n" are queued.
Fill fillQueue() {
    Connection& c = conn();
    char line[kFileLineMax + 3];
    for (;;) {
        std::FILE* f = c.current.get();
        if (!f) return Fill::Failed;
        bool atEnd = false;
        while (!atEnd) {
            long position = std::ftell(f);
            bool continues = false;  // an over-long line goes on as a line of its own
            int n = readFileLine(f, line + 1, atEnd, continues);
            bool stuffed = line[1] == '.' && !c.rawData;
            if (stuffed) line[0] = '.';
            std::string_view text(stuffed ? line : line + 1, static_cast<size_t>(n + (stuffed ? 1 : 0)));
            if (queueText(text) != 0) {
                std::fseek(f, position, SEEK_SET);
                return Fill::QueueFull;
            }
            if (c.rawData) c.rawBytes += static_cast<uint64_t>(n);
        }
        if (std::ferror(f)) {
            // A read error is no end of the file: the text would go out cut.
            c.holdFlush = false;
            c.sendCount = 0;
            closeWithError(kCannotReadFile);
            return Fill::Failed;
        }
        closeFile();
        if (c.nextFile + 1 < c.fileCount) {
            ++c.nextFile;
            if (!openForRead(c.nextFile)) {
                c.holdFlush = false;
                closeWithError(kCannotReadFile);
                return Fill::Failed;
            }
            continue;
        }
        c.fileSend = kFileSendIdle;
        if (!c.rawData) queueText(kEndOfData, kSendSize);
        return Fill::Done;
    }
}

}  // namespace

void runFileSender() {
    Connection& c = conn();
    while (c.fileSend == kFileSendStreaming && c.state == State::Connected) {
        // Lines are gathered and go out in large writes, not one by one.
        c.holdFlush = true;
        Fill result = fillQueue();
        c.holdFlush = false;
        if (result == Fill::Failed) return;
        flushQueue();
        if (result == Fill::Done && c.protocol == Protocol::Smtp && c.state == State::Connected) smtpDataQueued();
        // A full queue that the socket took at once is refilled now;
        // otherwise the next write event goes on.
        if (result == Fill::Done || !c.writeReady) return;
    }
}

void stopFileSender() {
    Connection& c = conn();
    if (c.fileSend != kFileSendStreaming) return;
    c.fileSend = kFileSendIdle;
    closeFile();
}

bool measureTransferFiles(uint64_t& size) {
    Connection& c = conn();
    char line[kFileLineMax + 3];
    size = 0;
    for (int i = 0; i < c.fileCount; ++i) {
        platform::UniqueFile f = platform::openFile(c.files[static_cast<size_t>(i)], "rb");
        if (!f) return false;
        std::setvbuf(f.get(), nullptr, _IOFBF, kFileBufferSize);
        bool atEnd = false;
        bool continues = false;
        while (!atEnd) size += static_cast<uint64_t>(readFileLine(f.get(), line, atEnd, continues));
        if (std::ferror(f.get())) return false;
    }
    return true;
}

ItemHeader scanItemHeader(std::string_view path) {
    ItemHeader item;
    platform::UniqueFile f = platform::openFile(path, "rb");
    if (!f) return item;
    item.readable = true;
    char line[kFileLineMax + 3];
    bool atEnd = false;
    bool continues = false;
    while (!atEnd) {
        int n = readFileLine(f.get(), line, atEnd, continues) - 2;
        bool cut = continues;
        std::string_view text(line, static_cast<size_t>(n));
        if (torvakit::headercompare(text, "X-Attachment:")) {
            size_t paren = text.rfind('(');
            if (paren == std::string_view::npos || paren + 1 >= text.size() || text[paren + 1] != '0')
                item.signature = false;
        } else if (torvakit::headercompare(text, "To:") || torvakit::headercompare(text, "Cc:")) {
            if (cut) item.lineTooLong = true;
            if (!item.recipients.empty()) item.recipients += ',';
            if (text.size() > 4) item.recipients += text.substr(4);
        } else if (torvakit::headercompare(text, "From:")) {
            if (cut) item.lineTooLong = true;
            item.from = text.size() > 6 ? std::string(text.substr(6)) : std::string();
        } else if (torvakit::headercompare(text, "Message-Id:")) {
            item.messageId = text.size() > 12 ? std::string(text.substr(12)) : std::string();
        }
        // The rest of an over-long line is no header line of its own.
        while (continues && !atEnd) readFileLine(f.get(), line, atEnd, continues);
    }
    return item;
}

}  // namespace netwire::engine
