// The attachment decoders: MIME parts and uuencoded blocks of one item, a
// uuencoded file spread over several items, and a body of bare base64 lines.
// They read the body one line at a time and write through a fixed buffer.
#include "store/torvakit.h"

#include "platform/fsys.h"
#include "store/codec/codec.h"
#include "store/codec/decode.h"
#include "store/codec/fileio.h"
#include "store/codec/ydecode.h"
#include "store/mimeutil.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace torvakit {
namespace codec {

namespace {

constexpr std::string_view kContentType = "Content-Type:";
constexpr std::string_view kTransferEncoding = "Content-Transfer-Encoding:";
// The value is read after the header name, its colon and one space.
constexpr size_t kTransferEncodingValue = kTransferEncoding.size() + 1;
constexpr std::string_view kContentDisposition = "Content-Disposition:";
constexpr std::string_view kContentPrefix = "Content-";
constexpr std::string_view kNameParameter = "name=";
constexpr std::string_view kFileNameParameter = "filename=";
constexpr std::string_view kSubject = "Subject:";
// The mode of a "begin" line is read from its seventh character on.
constexpr size_t kBeginModeOffset = 6;

enum class PartMode { None, Plain, QuotedPrintable, Base64, Uuencode, YEnc };

// decodefile's results for yEnc blocks.
constexpr int kYEncCheckFailed = -9;
constexpr int kYEncPartsMissing = -10;
constexpr int kYEncCannotWrite = -11;
// uuedecodefile2's results for yEnc parts.
constexpr int kNoYEncPart = -7;
constexpr int kYEncPartBad = -8;
constexpr int kYEncFileBad = -9;

// decodefile's result when the output of a part cannot be created.
int createFailure(PartMode mode) {
    switch (mode) {
    case PartMode::YEnc: return kYEncCannotWrite;
    case PartMode::Uuencode: return -5;
    case PartMode::Base64: return -6;
    case PartMode::Plain: return -7;
    default: return -8;
    }
}

std::string headerPathOf(std::string_view itemPath) {
    std::string path(itemPath);
    if (!path.empty()) path.back() = 'h';
    return path;
}

void trimTrailingBlanks(std::string_view& line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
}

// A name parameter's value: up to the closing double quote when it is
// quoted, else the rest of the line.
std::string_view parameterValue(std::string_view text) {
    if (text.empty() || text[0] != '"') return text;
    text.remove_prefix(1);
    return text.substr(0, text.find('"'));
}

// The mode and name of a "begin" line; mode below kMinBeginMode when the
// line does not start a uuencoded file.
struct BeginLine {
    long mode = 0;
    std::string_view name;
};

BeginLine parseBegin(std::string_view line) {
    BeginLine begin;
    size_t i = kBeginModeOffset;
    while (i < line.size() && !std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
    for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i)
        begin.mode = std::min(begin.mode * 10 + (line[i] - '0'), 1'000'000'000L);
    if (begin.mode >= kMinBeginMode) begin.name = line.substr(std::min(i + 1, line.size()));
    return begin;
}

// A line starting with "end" ends uuencoded data, unless it is exactly as
// long as a data line whose length character is "e" would be.
bool isUuEnd(std::string_view line) {
    if (!line.starts_with("end")) return false;
    size_t expected = uuEncodedLength(uuDeclaredLength(line));
    return line.size() != expected && line.size() != expected + 1;
}

// A uuencoded data line: only characters of the uuencode range (space to
// "`"; text nearly always holds a lower-case letter) and as long as its
// length character says, allowing for a check character or two at the end.
bool isWellFormedUu(std::string_view line) {
    if (line.empty()) return false;
    size_t expected = uuEncodedLength(uuDeclaredLength(line));
    if (line.size() < expected || line.size() > expected + 2) return false;
    return std::all_of(line.begin(), line.end(), [](char c) { return c >= ' ' && c <= '`'; });
}

// The data of a line in an item of a multi-item file, or nothing for a line
// of text between the data (a part counter, a cut mark, a signature).
// Quoting is stripped; a data line whose length character is ">" (30 bytes)
// or a space would lose it to a plain strip, so when the fully stripped line
// is not data, the longest rest that is data is taken instead.
std::optional<std::string_view> uuDataLine(std::string_view line, char quote) {
    std::string_view stripped = line;
    size_t count = stripQuotes(stripped, quote, kStripAll);
    if (isWellFormedUu(stripped)) return stripped;
    for (size_t keep = 1; keep <= count; ++keep)
        if (isWellFormedUu(line.substr(count - keep))) return line.substr(count - keep);
    return std::nullopt;
}

void writeUuLine(std::string_view line, OutFile& out) {
    unsigned char* p = reinterpret_cast<unsigned char*>(out.reserve(64));
    out.commit(decodeUuLine(line, p));
}

void writeBase64Line(std::string_view line, OutFile& out) {
    trimTrailingBlanks(line);
    unsigned char* p = reinterpret_cast<unsigned char*>(out.reserve(line.size() / 4 * 3 + 3));
    out.commit(decodeBase64Line(line, p));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// One quoted-printable line; "=" and two hex digits is a byte, a final "="
// joins the next line. A malformed escape is kept as it stands. Returns
// whether the line ends in a line break.
bool writeQuotedPrintableLine(std::string_view line, OutFile& out) {
    trimTrailingBlanks(line);
    bool softBreak = !line.empty() && line.back() == '=';
    if (softBreak) line.remove_suffix(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '=' && i + 2 < line.size()) {
            int high = hexValue(line[i + 1]);
            int low = hexValue(line[i + 2]);
            if (high >= 0 && low >= 0) {
                out.put(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.put(c);
    }
    return !softBreak;
}

// ---------------------------------------------------------------------------
// decodefile

class ItemDecoder {
public:
    ItemDecoder(FileHandle body, char quote, std::string_view folder, std::string& names)
        : m_reader(std::move(body)), m_quote(quote), m_folder(folder), m_names(names) {}

    int run() {
        while (m_reader.peek() >= 0) {
            int rc = findPart();
            if (rc != 0) return rc;
            if (m_mode == PartMode::None || m_name.empty()) continue;
            rc = m_mode == PartMode::YEnc ? decodeYEnc() : decodePart();
            if (rc != 0) return rc;
        }
        return m_yencPending ? kYEncPartsMissing : 1;
    }

private:
    bool nextLine(std::string_view& line, size_t& stripped) {
        if (!m_reader.next(line)) return false;
        stripped = stripQuotes(line, m_quote, m_limit);
        return true;
    }

    // Reads header lines until a part mode is set or the file ends. 0, or
    // -2 / -3 when a name cannot be formed.
    int findPart() {
        m_name.clear();
        m_mode = PartMode::None;
        PartMode pending = PartMode::None;
        std::string_view line;
        size_t stripped = 0;
        while (m_mode == PartMode::None && nextLine(line, stripped)) {
            std::string current(line);
            if (current.empty()) {
                // A named part without an encoding line is 7bit: plain text.
                m_mode = (pending == PartMode::None && !m_name.empty()) ? PartMode::Plain : pending;
            } else if (startsWithNoCase(current, kContentType)) {
                if (!contentType(current)) return -2;
            } else if (startsWithNoCase(current, kTransferEncoding)) {
                pending = transferEncoding(current);
                m_limit = stripped;
            } else if (startsWithNoCase(current, kContentDisposition)) {
                if (!contentDisposition(current)) return -2;
            } else if (startsWithNoCase(current, kContentPrefix)) {
                // other MIME headers do not matter here
            } else if (current.starts_with(kYBegin)) {
                if (!parseYBegin(current, m_ybegin)) continue;
                if (!takeName(m_ybegin.name)) return -3;
                m_mode = PartMode::YEnc;
                m_limit = stripped;
            } else if (startsWithNoCase(current, "begin")) {
                BeginLine begin = parseBegin(current);
                if (begin.mode >= kMinBeginMode) {
                    if (!takeName(begin.name)) return -3;
                    m_mode = PartMode::Uuencode;
                    m_limit = stripped;
                }
            }
            m_previous = std::move(current);
        }
        return 0;
    }

    // A "Content-Type:" line: the line before it is the boundary; one folded
    // continuation line joins it; "name=" gives the file name.
    bool contentType(std::string& line) {
        m_boundary = m_previous;
        joinFoldedLine(line);
        if (auto name = extendedName(line, "name")) return takeName(*name);
        size_t at = findNoCase(line, kNameParameter, 1);
        if (at == std::string::npos) return true;
        return takeName(decodedName(parameterValue(std::string_view(line).substr(at + kNameParameter.size()))));
    }

    // Many mailers name an attachment only in its disposition; that name
    // counts when the part's type line gave none.
    bool contentDisposition(std::string& line) {
        joinFoldedLine(line);
        auto extended = extendedName(line, "filename");
        if (extended && m_name.empty()) return takeName(*extended);
        size_t at = findNoCase(line, kFileNameParameter, 1);
        if (at == std::string::npos || !m_name.empty()) return true;
        return takeName(decodedName(parameterValue(std::string_view(line).substr(at + kFileNameParameter.size()))));
    }

    void joinFoldedLine(std::string& line) {
        int next = m_reader.peek();
        std::string_view continuation;
        if ((next == ' ' || next == '\t') && m_reader.next(continuation))
            line.append(continuation.substr(1));
    }

    // A name in RFC 2231 form ("name*=utf-8''...", or sections "name*0*=",
    // "name*1*=" over several folded lines) is read from the whole header,
    // all its continuation lines joined, and decoded to UTF-8.
    std::optional<std::string> extendedName(std::string& line, const std::string& parameter) {
        std::string full = line;
        std::string_view continuation;
        for (int next = m_reader.peek(); next == ' ' || next == '\t'; next = m_reader.peek()) {
            if (!m_reader.next(continuation)) break;
            full.append(continuation);
        }
        const size_t colon = full.find(':');
        mime::HeaderParams params = mime::parseParams(std::string_view(full).substr(colon + 1));
        if (!params.extended.count(parameter)) return std::nullopt;
        return *params.find(parameter);
    }

    // Mailers put encoded words in quoted names, against the rules but
    // commonly; they are decoded like a header value.
    static std::string decodedName(std::string_view raw) {
        std::string out;
        mime::decodeWords(raw, out, false);
        return out;
    }

    static PartMode transferEncoding(std::string_view line) {
        std::string_view value = line.size() > kTransferEncodingValue
                                     ? line.substr(kTransferEncodingValue) : std::string_view();
        if (startsWithNoCase(value, "base64")) return PartMode::Base64;
        if (startsWithNoCase(value, "quoted-printable")) return PartMode::QuotedPrintable;
        return PartMode::Plain;
    }

    bool takeName(std::string_view raw) {
        auto name = cleanDecodedName(raw, m_folder);
        if (!name) return false;
        m_name = std::move(*name);
        return true;
    }

    // 0 after the part, or the create failure of its mode.
    int decodePart() {
        std::string path = std::string(m_folder) + m_name;
        m_names += path;
        m_names += kCrLf;
        OutFile out;
        if (!out.open(path, OutFile::Mode::Replace)) return createFailure(m_mode);
        decodeBody(out);
        if (!out.close()) return createFailure(m_mode);
        addDecodeLogEntry(m_folder, path);
        return 0;
    }

    // A yEnc file is listed and logged only once it is whole and has passed
    // its checks; a part whose file lacks other parts is noted.
    int decodeYEnc() {
        std::string path = std::string(m_folder) + m_name;
        const bool fresh = m_ybegin.part <= 1 || !isOpenYEncFile(path);
        YResult result = decodeYEncBlock(m_reader, m_ybegin, path, fresh, m_quote, m_limit);
        m_limit = kStripAll;
        m_previous.clear();
        switch (result) {
        case YResult::FileDone:
            m_names += path;
            m_names += kCrLf;
            addDecodeLogEntry(m_folder, path);
            return 0;
        case YResult::PartDone: m_yencPending = true; return 0;
        case YResult::CannotWrite: return kYEncCannotWrite;
        case YResult::PartBad:
        case YResult::FileBad: return kYEncCheckFailed;
        }
        return kYEncCheckFailed;
    }

    // The line break before a boundary belongs to the boundary, so a text
    // line's break is written only once the next line is known to be text.
    void decodeBody(OutFile& out) {
        std::string_view line;
        size_t stripped = 0;
        bool pendingBreak = false;
        while (nextLine(line, stripped)) {
            if (endsPart(line)) {
                m_previous.assign(line);
                return;
            }
            if (pendingBreak) out.write(kCrLf);
            switch (m_mode) {
            case PartMode::Plain:
                out.write(line);
                pendingBreak = true;
                break;
            case PartMode::QuotedPrintable: pendingBreak = writeQuotedPrintableLine(line, out); break;
            case PartMode::Base64:
                if (!line.empty()) writeBase64Line(line, out);
                break;
            case PartMode::Uuencode: writeUuLine(line, out); break;
            case PartMode::YEnc:
            case PartMode::None: break;
            }
        }
        if (pendingBreak) out.write(kCrLf);
        m_previous.clear();
    }

    bool endsPart(std::string_view line) {
        switch (m_mode) {
        case PartMode::Plain:
        case PartMode::QuotedPrintable:
            if (m_boundary.empty() || !startsWithNoCase(line, m_boundary)) return false;
            m_limit = kStripAll;
            return true;
        case PartMode::Base64: return !line.empty() && !isBase64Char(line[0]);
        case PartMode::Uuencode: return line.empty() || isUuEnd(line);
        case PartMode::YEnc:
        case PartMode::None: return true;
        }
        return true;
    }

    LineReader m_reader;
    char m_quote;
    std::string_view m_folder;
    std::string& m_names;
    size_t m_limit = kStripAll;
    std::string m_previous;
    std::string m_boundary;
    std::string m_name;
    PartMode m_mode = PartMode::None;
    YBegin m_ybegin;
    bool m_yencPending = false;
};

// ---------------------------------------------------------------------------
// uuedecodefile2

int yencResult(YResult result, bool first) {
    switch (result) {
    case YResult::PartDone: return 1;
    case YResult::FileDone: return 2;
    case YResult::PartBad: return kYEncPartBad;
    case YResult::FileBad: return kYEncFileBad;
    case YResult::CannotWrite: return first ? -5 : -6;
    }
    return kYEncFileBad;
}

// Decodes the yEnc part at the "=ybegin" line just read. The first item
// starts the file; a later one must hold a part of the same file.
int decodeYEncItem(LineReader& reader, std::string_view line, size_t stripped, char quote,
                   std::string_view folder, std::string& outputPath, bool first) {
    YBegin begin;
    if (!parseYBegin(line, begin)) return first ? 0 : kNoYEncPart;
    auto name = cleanDecodedName(begin.name, folder);
    if (!name) return -3;
    std::string path = std::string(folder) + *name;
    if (first) outputPath = path;
    else if (path != outputPath) return kNoYEncPart;
    int rc = yencResult(decodeYEncBlock(reader, begin, outputPath, first, quote, stripped), first);
    if (rc == 2) addDecodeLogEntry(folder, outputPath);
    return rc;
}

// A later item of a multi-part yEnc file: its "=ybegin" line, then the part.
int continueYEncFile(LineReader& reader, char quote, std::string_view folder, std::string& outputPath) {
    std::string_view line;
    while (reader.next(line)) {
        size_t stripped = stripQuotes(line, quote, kStripAll);
        if (line.starts_with(kYBegin))
            return decodeYEncItem(reader, line, stripped, quote, folder, outputPath, false);
    }
    return kNoYEncPart;
}

// Looks for the "begin" line and creates the output. 1 when created, 0 when
// the item has none, or -3 / -5. An item that starts a yEnc file instead is
// decoded here: its result comes back in yencRc.
int startUuFile(LineReader& reader, char quote, std::string_view folder, std::string& outputPath,
                OutFile& out, std::optional<int>& yencRc) {
    std::string_view line;
    while (reader.next(line)) {
        size_t stripped = stripQuotes(line, quote, kStripAll);
        if (line.starts_with(kYBegin)) {
            YBegin begin;
            if (!parseYBegin(line, begin)) continue;
            yencRc = decodeYEncItem(reader, line, stripped, quote, folder, outputPath, true);
            return 0;
        }
        if (!line.starts_with("begin")) continue;
        BeginLine begin = parseBegin(line);
        if (begin.mode < kMinBeginMode) continue;
        auto name = cleanDecodedName(begin.name, folder);
        if (!name) return -3;
        outputPath = std::string(folder) + *name;
        return out.open(outputPath, OutFile::Mode::Replace) ? 1 : -5;
    }
    return 0;
}

// Appends the item's data lines; true when "end" was met.
bool appendUuData(LineReader& reader, char quote, OutFile& out) {
    std::string_view line;
    while (reader.next(line)) {
        std::string_view stripped = line;
        stripQuotes(stripped, quote, kStripAll);
        if (isUuEnd(stripped)) return true;
        if (stripped.empty() || startsWithNoCase(stripped, "BEGIN")) continue;
        if (auto data = uuDataLine(line, quote)) writeUuLine(*data, out);
    }
    return false;
}

// ---------------------------------------------------------------------------
// decodebase64

// The file name from the header: a "filename=" parameter, else a word with a
// three-letter extension in the subject. Empty when there is none; nothing
// when the header cannot be opened.
std::optional<std::string> base64NameFromHeader(std::string_view bodyPath) {
    LineReader header(openForReading(headerPathOf(bodyPath)));
    if (!header.isOpen()) return std::nullopt;
    std::string subject;
    std::string_view line;
    while (header.next(line)) {
        if (startsWithNoCase(line, kSubject)) {
            subject.assign(line.substr(std::min(line.size(), kSubject.size() + 1)));
            continue;
        }
        size_t at = line.find(kFileNameParameter, 1);
        if (at != std::string_view::npos)
            return std::string(parameterValue(line.substr(at + kFileNameParameter.size())));
    }
    size_t dot = subject.rfind('.');
    if (dot == std::string::npos || dot == 0) return std::string();
    if (dot + 4 > subject.size()) return std::string();
    if (dot + 4 < subject.size() && subject[dot + 4] != ' ') return std::string();
    size_t start = subject.rfind(' ', dot);
    start = start == std::string::npos ? 0 : start + 1;
    size_t end = subject.find(' ', dot);
    return subject.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace
}  // namespace codec

int decodefile(std::string_view bodyPath, std::string& names, char quote, std::string_view folder) {
    using namespace codec;
    names.clear();
    FileHandle body = openForReading(bodyPath);
    if (!body.valid()) return -1;
    return ItemDecoder(std::move(body), quote, folder, names).run();
}

int uuedecodefile2(std::string_view bodyPath, int state, char quote, std::string_view folder,
                   std::string& outputPath) {
    using namespace codec;
    if (state != 0 && state != 1) return -1;
    LineReader reader(openForReading(bodyPath));
    if (!reader.isOpen()) return -2;
    if (state == 1 && isOpenYEncFile(outputPath)) return continueYEncFile(reader, quote, folder, outputPath);
    OutFile out;
    if (state == 1) {
        if (!out.open(outputPath, OutFile::Mode::Append)) return -6;
    } else {
        std::optional<int> yencRc;
        int rc = startUuFile(reader, quote, folder, outputPath, out, yencRc);
        if (yencRc) return *yencRc;
        if (rc != 1) return rc;
    }
    bool ended = appendUuData(reader, quote, out);
    if (!out.close()) return state == 1 ? -6 : -5;
    if (!ended) return 1;
    addDecodeLogEntry(folder, outputPath);
    return 2;
}

int decodebase64(std::string_view bodyPath, std::string& fileName, char quote,
                 std::string_view folder) {
    using namespace codec;
    fileName.clear();
    auto raw = base64NameFromHeader(bodyPath);
    if (!raw) return 0;
    auto name = cleanDecodedName(*raw, folder);
    if (!name) return 0;
    LineReader reader(openForReading(bodyPath));
    if (!reader.isOpen()) return 0;
    std::string path = std::string(folder) + *name;
    OutFile out;
    if (!out.open(path, OutFile::Mode::Replace)) return 0;
    std::string_view line;
    while (reader.next(line)) {
        stripQuotes(line, quote, kStripAll);
        if (line.starts_with("BEGIN")) continue;
        if (line.empty() || !isBase64Char(line[0])) break;
        writeBase64Line(line, out);
    }
    if (!out.close()) return 0;
    fileName = *name;
    addDecodeLogEntry(folder, path);
    return 1;
}

}  // namespace torvakit
