// Text transforms for the compose and view windows: word wrap of a typed
// body, the quoted body of a reply, the text of a forwarded message and the
// header block shown above a message.
#include "store/torvakit.h"

#include "platform/fsys.h"
#include "store/lines.h"
#include "store/mimeutil.h"
#include "store/storeutil.h"

#include <cstdio>
#include <string>

namespace torvakit {
namespace {

constexpr std::string_view kScratchFile = "OMAIL.TMP";
using util::kCrLf;
// Output lines of the word wrap and of the raw header copy.
constexpr size_t kWrapColumns = 80;
constexpr size_t kTabStop = 6;
constexpr int32_t kHeaderValueLimit = 256;
constexpr int32_t kViewMode = 3;

// ---------------------------------------------------------------------------
// Word wrap

// A byte stream with one byte of look-ahead that drops every CR, so CR LF
// reads as LF.
class WrapInput {
public:
    explicit WrapInput(std::FILE* file) : m_file(file) {}
    int get() {
        int c = peek();
        m_peeked = kNothing;
        return c;
    }
    int peek() {
        if (m_peeked == kNothing) {
            do m_peeked = std::getc(m_file);
            while (m_peeked == '\r');
        }
        return m_peeked;
    }

private:
    static constexpr int kNothing = -2;
    std::FILE* m_file;
    int m_peeked = kNothing;
};

enum class ChunkEnd { LineEnd, EndOfFile, Other };

struct Chunk {
    std::string text;
    ChunkEnd end = ChunkEnd::Other;
};

bool isBlank(int c) { return c == ' ' || c == '\t'; }

// Leading blanks (tabs expanded from the column) and then one word, at most
// kWrapColumns bytes.
Chunk readChunk(WrapInput& in, size_t column) {
    Chunk chunk;
    bool inWord = false;
    while (chunk.text.size() < kWrapColumns) {
        int c = in.peek();
        if (c == EOF) {
            chunk.end = ChunkEnd::EndOfFile;
            return chunk;
        }
        if (c == '\n') {
            in.get();
            chunk.end = ChunkEnd::LineEnd;
            return chunk;
        }
        if (inWord && isBlank(c)) return chunk;  // the blank starts the next chunk
        in.get();
        if (c == '\t') {
            size_t spaces = kTabStop - (column + chunk.text.size()) % kTabStop;
            chunk.text.append(std::min(spaces, kWrapColumns - chunk.text.size()), ' ');
        } else {
            chunk.text += static_cast<char>(c);
            inWord = inWord || c != ' ';
        }
    }
    // A full chunk: a line end right after it is still its own.
    if (in.peek() == '\n') {
        in.get();
        chunk.end = ChunkEnd::LineEnd;
    }
    return chunk;
}

std::string_view withoutLeadingSpaces(std::string_view text) {
    size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

class WrapWriter {
public:
    explicit WrapWriter(std::FILE* out) : m_out(out) {}
    size_t column() const { return m_column; }
    // Ends a line left open by a long word's last piece at the end of the file.
    void finishLine() {
        if (m_column > 0) newLine();
    }

    void put(const Chunk& chunk) {
        std::string_view text = chunk.text;
        const bool endsLine = chunk.end != ChunkEnd::Other;
        const size_t length = text.size();
        const bool brokeBefore = m_broke;
        m_broke = false;
        if (length == 0) {
            if (chunk.end == ChunkEnd::LineEnd) newLine();
        } else if (m_column + length > kWrapColumns) {
            text = withoutLeadingSpaces(text);
            write(kCrLf);
            write(text);
            m_column = text.size();
            if (endsLine) newLine();
        } else if (m_column + length == kWrapColumns) {
            write(text);
            newLine();
            m_broke = true;
        } else if (m_column == 0) {
            if (brokeBefore) text = withoutLeadingSpaces(text);
            write(text);
            m_column = text.size();
            if (endsLine) newLine();
        } else {
            if (text[0] != ' ') write(" "), ++m_column;
            write(text);
            m_column += length;
            if (endsLine) newLine();
        }
    }

private:
    void write(std::string_view text) { util::writeAll(m_out, text); }
    void newLine() {
        write(kCrLf);
        m_column = 0;
    }

    std::FILE* m_out;
    size_t m_column = 0;
    bool m_broke = false;  // the previous chunk filled its line exactly
};

// ---------------------------------------------------------------------------
// Scratch file and raw header copy

// Deletes the previous scratch file, names it to the caller and creates it.
platform::UniqueFile createScratch(std::string& outPath) {
    platform::deleteFile(kScratchFile);
    outPath = kScratchFile;
    return platform::openFile(kScratchFile, "wb");
}

// Copies a header file for display: the server's reply line of a retrieved
// item is left out, and lines are broken hard after 80 bytes.
void copyRawHeader(std::FILE* header, std::FILE* out) {
    int first = std::getc(header);
    if (first == EOF) return;
    if (first != 'N' && first != 'T') {
        int c = first;
        while (c != EOF && c != '\n' && c != '\r') c = std::getc(header);
        if (c == '\r' && (c = std::getc(header)) != '\n' && c != EOF) std::ungetc(c, header);
    } else {
        std::ungetc(first, header);
    }
    std::string text;
    size_t column = 0;
    bool afterCr = false;
    for (int c; (c = std::getc(header)) != EOF;) {
        if (c == '\n' && afterCr) {
            afterCr = false;
            continue;
        }
        afterCr = c == '\r';
        if (column == kWrapColumns || c == '\r' || c == '\n') {
            text += kCrLf;
            column = 0;
        }
        if (c == '\r' || c == '\n') continue;
        text += static_cast<char>(c);
        ++column;
    }
    util::writeAll(out, text);
}

// Copies every line of a text file, each ending in CR LF; prefix goes before
// each line.
void copyLines(std::FILE* in, std::FILE* out, std::string_view prefix) {
    std::string line;
    while (lines::readLineCrLf(in, line) != lines::kEndOfFile) {
        util::writeAll(out, prefix);
        util::writeAll(out, line);
    }
}

}  // namespace

int wordwrapfile(std::string_view source, std::string_view destination) {
    platform::UniqueFile in = platform::openFile(source, "rb");
    if (!in) return 0;
    platform::UniqueFile out = platform::openFile(destination, "wb");
    if (!out) return 0;
    WrapInput input(in.get());
    WrapWriter writer(out.get());
    for (;;) {
        Chunk chunk = readChunk(input, writer.column());
        // The last chunk is wrapped like any other line's end, so the body's
        // last line keeps to 80 columns too; an empty one writes nothing.
        if (chunk.end == ChunkEnd::EndOfFile) {
            if (!chunk.text.empty()) writer.put(chunk);
            writer.finishLine();
            break;
        }
        writer.put(chunk);
    }
    return 1;
}

int IndentFile(std::string_view bodyPath, std::string& outPath, char quote) {
    platform::UniqueFile body = platform::openFile(bodyPath, "rb");
    if (!body) return 0;
    platform::UniqueFile out = createScratch(outPath);
    if (!out) return 0;
    copyLines(body.get(), out.get(), std::string_view(&quote, 1));
    return 1;
}

namespace {

// The forward text of the item whose header is headerPath, with the
// message text from messagePath.
int forwardFile(std::string_view headerPath, std::string_view messagePath, std::string& outPath) {
    platform::UniqueFile out = createScratch(outPath);
    if (!out) return 0;
    platform::UniqueFile header = platform::openFile(headerPath, "rb");
    if (!header) return 0;
    util::writeAll(out.get(), "this is a forwarded message\r\n\r\noriginal header:\r\n\r\n");
    copyRawHeader(header.get(), out.get());
    platform::UniqueFile body = platform::openFile(messagePath, "rb");
    if (!body) return 0;
    util::writeAll(out.get(), "\r\noriginal message:\r\n\r\n");
    copyLines(body.get(), out.get(), {});
    return 1;
}

int makeViewHeader(std::string_view headerPath, std::string& outPath, int32_t full, bool decoded) {
    std::string from, recipient, subject, cc, replyTo, date, messageId;
    int first = decoded ? GetHeaderFieldsDecoded(headerPath, from, recipient, subject, cc, replyTo, date,
                                                 messageId, kHeaderValueLimit, kViewMode)
                        : GetHeaderFields(headerPath, from, recipient, subject, cc, replyTo, date,
                                          messageId, kHeaderValueLimit, kViewMode);
    bool mail = first == '+' || first == 'T';
    std::string author, shown;
    if (decoded) {
        author = mime::displayNameOf(replyTo.empty() ? from : replyTo);
        if (mail) shown = mime::displayNameOf(recipient);
    } else {
        extractrealname(replyTo.empty() ? from : replyTo, 0, author);
        if (mail) extractrealname(recipient, 0, shown);
    }

    platform::UniqueFile out = createScratch(outPath);
    if (!out) return 0;
    std::string text;
    auto line = [&text](std::string_view label, std::string_view value) {
        text.append(label).append(value).append(kCrLf);
    };
    line(mail ? "recipient: " : "newsgroup: ", mail ? shown : recipient);
    line(full ? "   author: " : "author: ", author);
    line(full ? "  subject: " : "subject: ", subject);
    line(full ? "     date: " : "date: ", date);
    if (!cc.empty()) line(full ? "       cc: " : "cc: ", cc);
    util::writeAll(out.get(), text);
    if (!full) return 1;
    util::writeAll(out.get(), "\r\n\r\n");
    platform::UniqueFile header = platform::openFile(util::withLastChar(headerPath, 'h'), "rb");
    if (!header) return 0;
    copyRawHeader(header.get(), out.get());
    return 1;
}

}  // namespace

int ForwardFile(std::string_view bodyPath, std::string& outPath) {
    return forwardFile(util::withLastChar(bodyPath, 'h'), util::withLastChar(bodyPath, 'b'), outPath);
}

int ForwardTextFile(std::string_view itemPath, std::string_view textPath, std::string& outPath) {
    return forwardFile(util::withLastChar(itemPath, 'h'), textPath, outPath);
}

int MakeViewHeader(std::string_view headerPath, std::string& outPath, int32_t full) {
    return makeViewHeader(headerPath, outPath, full, false);
}

int MakeViewHeaderDecoded(std::string_view headerPath, std::string& outPath, int32_t full) {
    return makeViewHeader(headerPath, outPath, full, true);
}

}  // namespace torvakit
