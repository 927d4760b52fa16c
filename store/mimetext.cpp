// The readable text of an item: its MIME structure walked, the text part
// chosen, decoded and converted to UTF-8, and the other parts listed and
// decoded on request. The body file is mapped and only read.
#include "platform/fsys.h"
#include "store/codec/codec.h"
#include "store/codec/decode.h"
#include "store/codec/fileio.h"
#include "store/codec/ydecode.h"
#include "store/mimeutil.h"
#include "store/torvakit.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

namespace torvakit {
namespace {

using codec::startsWithNoCase;

// Nesting and part counts past any real message: a hostile one stops there.
constexpr int kMaxDepth = 32;
constexpr int kMaxParts = 5000;
constexpr std::size_t kMaxHeaderValue = 64 * 1024;

// A body file mapped for reading.
class MappedFile {
public:
    explicit MappedFile(std::string_view path) {
        codec::FileHandle file = codec::openForReading(path);
        if (!file.valid()) return;
        struct stat info{};
        if (::fstat(file.get(), &info) != 0) return;
        m_open = true;
        m_size = static_cast<std::size_t>(info.st_size);
        if (m_size == 0) return;
        void* p = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, file.get(), 0);
        if (p == MAP_FAILED) {
            m_open = false;
            return;
        }
        m_data = static_cast<const char*>(p);
    }
    ~MappedFile() {
        if (m_data) ::munmap(const_cast<char*>(m_data), m_size);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    bool isOpen() const { return m_open; }
    std::string_view view() const { return m_data ? std::string_view(m_data, m_size) : std::string_view(); }

private:
    const char* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_open = false;
};

// The next line of data at pos, without its LF or CR LF.
bool nextLine(std::string_view data, std::size_t& pos, std::string_view& line) {
    if (pos >= data.size()) return false;
    std::size_t lf = data.find('\n', pos);
    std::size_t end = lf == std::string_view::npos ? data.size() : lf;
    line = data.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = lf == std::string_view::npos ? data.size() : lf + 1;
    return true;
}

struct Headers {
    std::string type, encoding, disposition;
};


// Collects the MIME headers of an entity, one unfolded header at a time.
class HeaderCollector {
public:
    explicit HeaderCollector(Headers& h) : m_h(h) {}
    void line(std::string_view line) {
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            if (m_current && m_current->size() + line.size() <= kMaxHeaderValue) *m_current += line;
            return;
        }
        m_current = nullptr;
        if (startsWithNoCase(line, "Content-Type:")) take(line, 13, m_h.type);
        else if (startsWithNoCase(line, "Content-Transfer-Encoding:")) take(line, 26, m_h.encoding);
        else if (startsWithNoCase(line, "Content-Disposition:")) take(line, 20, m_h.disposition);
    }

private:
    void take(std::string_view line, std::size_t nameLength, std::string& value) {
        value = line.substr(nameLength);
        m_current = &value;
    }
    Headers& m_h;
    std::string* m_current = nullptr;
};

// The top-level MIME headers, from the item's header file. Its first line
// is the server's reply line unless the item was composed here.
Headers topHeaders(std::string_view itemPath) {
    Headers h;
    codec::LineReader reader(codec::openForReading(util::withLastChar(itemPath, 'h')));
    if (!reader.isOpen()) return h;
    const int first = reader.peek();
    std::string_view line;
    if (first != 'T' && first != 'N') reader.next(line);
    HeaderCollector collect(h);
    while (reader.next(line)) collect.line(line);
    return h;
}

struct Entity {
    mime::HeaderParams type, disposition;
    std::string encoding;
    std::string_view body;
    std::vector<Entity> children;
    int index = -1;  // leaves only, in the order of the message

    bool isMultipart() const { return !children.empty(); }
    bool is(std::string_view t) const { return type.value == t; }
    bool isAttachment() const { return disposition.value == "attachment"; }
    std::string fileName() const {
        if (const std::string* n = disposition.find("filename")) return *n;
        if (const std::string* n = type.find("name")) return *n;
        return {};
    }
    std::string charset() const {
        const std::string* c = type.find("charset");
        return c ? *c : std::string();
    }
};

class StructureParser {
public:
    Entity parse(const Headers& h, std::string_view body) { return entity(h, body, 0); }

private:
    Entity entity(const Headers& h, std::string_view body, int depth, bool inDigest = false) {
        Entity e;
        e.type = mime::parseParams(h.type);
        // A digest's parts are messages unless they say otherwise.
        if (e.type.value.empty() || e.type.value.find('/') == std::string::npos)
            e.type.value = inDigest ? "message/rfc822" : "text/plain";
        e.disposition = mime::parseParams(h.disposition);
        e.encoding = mime::parseParams(h.encoding).value;
        e.body = body;
        const std::string* boundary = e.type.find("boundary");
        if (e.type.value.starts_with("multipart/") && boundary && !boundary->empty() &&
            depth < kMaxDepth && m_parts < kMaxParts)
            split(e, *boundary, depth);
        if (!e.isMultipart()) {
            // A multipart whose boundary never comes is shown as text.
            if (e.type.value.starts_with("multipart/")) e.type.value = "text/plain";
            e.index = m_leaves++;
        }
        return e;
    }

    // The delimiter line "--boundary" at pos: true, with closing set for
    // "--boundary--" and next at the line after it.
    static bool delimiterAt(std::string_view body, std::size_t at, std::size_t length, bool& closing,
                            std::size_t& next) {
        if (at > 0 && body[at - 1] != '\n') return false;
        std::size_t i = at + length;
        closing = body.substr(i, 2) == "--";
        if (closing) i += 2;
        while (i < body.size() && (body[i] == ' ' || body[i] == '\t')) ++i;
        if (i < body.size() && body[i] == '\r') ++i;
        if (i < body.size() && body[i] != '\n') return false;
        next = i < body.size() ? i + 1 : i;
        return true;
    }

    void split(Entity& e, const std::string& boundary, int depth) {
        const std::string delimiter = "--" + boundary;
        std::string_view body = e.body;
        std::size_t partStart = std::string_view::npos, from = 0;
        while (m_parts < kMaxParts) {
            std::size_t at = body.find(delimiter, from);
            if (at == std::string_view::npos) break;
            bool closing = false;
            std::size_t next = 0;
            if (!delimiterAt(body, at, delimiter.size(), closing, next)) {
                from = at + 1;
                continue;
            }
            if (partStart != std::string_view::npos) {
                // The line break before a delimiter belongs to the delimiter.
                std::size_t end = at;
                if (end > partStart && body[end - 1] == '\n') --end;
                if (end > partStart && body[end - 1] == '\r') --end;
                addPart(e, body.substr(partStart, end - partStart), depth);
            }
            if (closing) return;
            partStart = next;
            from = next;
        }
        // A message cut off before its closing delimiter keeps its last part.
        if (partStart != std::string_view::npos && partStart < body.size())
            addPart(e, body.substr(partStart), depth);
    }

    void addPart(Entity& parent, std::string_view part, int depth) {
        // Two delimiters in a row make no part.
        if (part.empty()) return;
        ++m_parts;
        Headers h;
        HeaderCollector collect(h);
        std::size_t pos = 0;
        std::string_view line;
        while (nextLine(part, pos, line) && !line.empty()) collect.line(line);
        parent.children.push_back(entity(h, part.substr(pos), depth + 1, parent.is("multipart/digest")));
    }

public:
    int leafCount() const { return m_leaves; }

private:
    int m_leaves = 0;
    int m_parts = 0;
};

// --- body decoding ---------------------------------------------------------

void decodeBase64(std::string_view in, std::string& out) {
    out.resize(in.size() / 4 * 3 + 3);
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    uint32_t acc = 0;
    int n = 0;
    for (char c : in) {
        const int v = codec::kBase64Values[static_cast<unsigned char>(c)];
        if (v >= 0) {
            acc = (acc << 6) | static_cast<uint32_t>(v);
            if (++n == 4) {
                p[0] = static_cast<unsigned char>(acc >> 16);
                p[1] = static_cast<unsigned char>(acc >> 8);
                p[2] = static_cast<unsigned char>(acc);
                p += 3;
                n = 0;
                acc = 0;
            }
        } else if (c == '=' && n >= 2) {
            // Padding ends a group early; another encoding may follow.
            *p++ = static_cast<unsigned char>(acc >> (n == 2 ? 4 : 10));
            if (n == 3) *p++ = static_cast<unsigned char>(acc >> 2);
            n = 0;
            acc = 0;
        }
    }
    if (n >= 2) {
        *p++ = static_cast<unsigned char>(acc >> (n == 2 ? 4 : 10));
        if (n == 3) *p++ = static_cast<unsigned char>(acc >> 2);
    }
    out.resize(static_cast<std::size_t>(p - reinterpret_cast<unsigned char*>(out.data())));
}

uint64_t base64Size(std::string_view in) {
    uint64_t chars = 0, bytes = 0;
    for (char c : in) {
        if (codec::kBase64Values[static_cast<unsigned char>(c)] >= 0) {
            ++chars;
        } else if (c == '=' && chars % 4 >= 2) {
            bytes += chars / 4 * 3 + chars % 4 - 1;
            chars = 0;
        }
    }
    return bytes + chars / 4 * 3 + (chars % 4 >= 2 ? chars % 4 - 1 : 0);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = codec::lowerAscii(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

void decodeQuotedPrintable(std::string_view in, std::string& out) {
    out.clear();
    out.reserve(in.size());
    std::size_t pos = 0;
    std::string_view line;
    bool more = false;
    while (nextLine(in, pos, line)) {
        if (more) out += "\r\n";
        // Blanks at a line's end were added in transport.
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        bool soft = !line.empty() && line.back() == '=';
        if (soft) line.remove_suffix(1);
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '=' && i + 2 < line.size() && hexValue(line[i + 1]) >= 0 &&
                hexValue(line[i + 2]) >= 0) {
                out += static_cast<char>(hexValue(line[i + 1]) * 16 + hexValue(line[i + 2]));
                i += 2;
            } else {
                out += line[i];
            }
        }
        more = !soft;
    }
    if (more && !in.empty() && in.back() == '\n') out += "\r\n";
}

// The decoded bytes of a leaf.
void decodedBody(const Entity& e, std::string& out) {
    if (e.encoding == "base64") decodeBase64(e.body, out);
    else if (e.encoding == "quoted-printable") decodeQuotedPrintable(e.body, out);
    else out.assign(e.body);
}

uint64_t decodedSize(const Entity& e) {
    if (e.encoding == "base64") return base64Size(e.body);
    if (e.encoding != "quoted-printable") return e.body.size();
    std::string bytes;
    decodeQuotedPrintable(e.body, bytes);
    return bytes.size();
}

// --- choosing the text -----------------------------------------------------

struct Selection {
    const Entity* text = nullptr;
    bool html = false;
    std::vector<const Entity*> extraText;
    std::vector<const Entity*> parts;
};

bool isInlineText(const Entity& e, std::string_view type) {
    return !e.isMultipart() && e.is(type) && !e.isAttachment();
}

// The first leaf of that text type reachable in the entity, or null.
const Entity* findText(const Entity& e, std::string_view type) {
    if (!e.isMultipart()) return isInlineText(e, type) ? &e : nullptr;
    for (const Entity& child : e.children)
        if (const Entity* found = findText(child, type)) return found;
    return nullptr;
}

// The alternative to show: the one holding plain text, else the one
// holding HTML, else the last (the richest, by the rule of the format).
const Entity& chosenAlternative(const Entity& e) {
    for (std::string_view type : {"text/plain", "text/html"})
        for (const Entity& child : e.children)
            if (findText(child, type)) return child;
    return e.children.back();
}

void walk(const Entity& e, Selection& s) {
    if (e.isMultipart()) {
        if (e.is("multipart/alternative")) {
            walk(chosenAlternative(e), s);
            return;
        }
        for (const Entity& child : e.children) walk(child, s);
        return;
    }
    if (!s.text && (isInlineText(e, "text/plain") || isInlineText(e, "text/html"))) {
        s.text = &e;
        s.html = e.is("text/html");
    } else if (s.text && !s.html && isInlineText(e, "text/plain") && e.fileName().empty()) {
        s.extraText.push_back(&e);
    } else {
        s.parts.push_back(&e);
    }
}

const Entity* findLeaf(const Entity& e, int index) {
    if (!e.isMultipart()) return e.index == index ? &e : nullptr;
    for (const Entity& child : e.children)
        if (const Entity* found = findLeaf(child, index)) return found;
    return nullptr;
}

// Writes text with every line ending in CR LF (LF, CR and CR LF in).
void writeCrLfLines(std::string_view text, codec::OutFile& out) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\n' && c != '\r') continue;
        out.write(text.substr(start, i - start));
        out.write(util::kCrLf);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) {
        out.write(text.substr(start));
        out.write(util::kCrLf);
    }
}

void appendText(const Entity& e, std::string& text) {
    std::string bytes;
    decodedBody(e, bytes);
    mime::appendUtf8(bytes, e.charset(), text);
}

// A uuencoded or yEnc file carried in the lines of a text part, as news
// binaries are: where it lies in the part's decoded bytes.
struct InlineFile {
    std::size_t begin = 0, end = 0;
    std::string name;
    uint64_t size = 0;
    bool yenc = false;
};

// The mode and name of a uuencode "begin" line, the mode 0 when it is none.
long uuBegin(std::string_view line, std::string_view& name) {
    if (!line.starts_with("begin ")) return 0;
    std::size_t i = 6;
    long mode = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '7' && mode < 100000; ++i)
        mode = mode * 10 + (line[i] - '0');
    if (i == 6 || i >= line.size() || line[i] != ' ' || mode < codec::kMinBeginMode) return 0;
    name = line.substr(i + 1);
    return mode;
}

std::vector<InlineFile> inlineFiles(std::string_view bytes) {
    std::vector<InlineFile> files;
    std::size_t pos = 0;
    std::string_view line;
    for (std::size_t start = pos; nextLine(bytes, pos, line); start = pos) {
        InlineFile f;
        f.begin = start;
        std::string_view uuName;
        codec::YBegin y;
        if (line.starts_with(codec::kYBegin) && codec::parseYBegin(line, y)) {
            f.yenc = true;
            f.name = y.name;
            f.size = y.size;
        } else if (uuBegin(line, uuName) != 0) {
            f.name = uuName;
        } else {
            continue;
        }
        while (nextLine(bytes, pos, line)) {
            if (f.yenc ? line.starts_with("=yend") : (line == "end" || line.starts_with("end "))) break;
            if (!f.yenc) f.size += codec::uuDeclaredLength(line);
        }
        f.end = pos;
        files.push_back(std::move(f));
    }
    return files;
}

// The text with each carried file replaced by a line naming it; the files
// are listed among the parts.
void appendTextWithoutFiles(const Entity& e, std::string& text, std::vector<InlineFile>& files) {
    std::string bytes;
    decodedBody(e, bytes);
    files = inlineFiles(bytes);
    const std::string charset = e.charset();
    std::size_t at = 0;
    for (const InlineFile& f : files) {
        mime::appendUtf8(std::string_view(bytes).substr(at, f.begin - at), charset, text);
        text += f.yenc ? "[yEnc file: " : "[uuencoded file: ";
        mime::appendUndeclared(f.name, text);
        text += ", " + std::to_string(f.size) + " bytes]\r\n";
        at = f.end;
    }
    mime::appendUtf8(std::string_view(bytes).substr(at), charset, text);
}

// Decodes a carried file with the item decoders (and their checks), from a
// scratch copy of its lines in the folder.
int decodeInlineFile(const Entity& e, const InlineFile& f, std::string_view folder,
                     std::string& outputPath) {
    std::string bytes;
    decodedBody(e, bytes);
    std::string scratch = platform::resolvePath(std::string(folder) + "inlineXXXXXX");
    const int fd = ::mkstemp(scratch.data());
    if (fd < 0) return -6;
    codec::FileHandle handle(fd);
    const std::string_view block = std::string_view(bytes).substr(f.begin, f.end - f.begin);
    bool written = ::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
    written = handle.reset() && written;
    std::string names;
    const int rc = written ? decodefile(scratch, names, '>', folder) : -6;
    ::unlink(scratch.c_str());
    outputPath = names.substr(0, names.find("\r\n"));
    if (rc == 1) return outputPath.empty() ? 0 : 1;
    return rc;
}

MimePart describe(const Entity& e) {
    MimePart p;
    p.index = e.index;
    p.name = e.fileName();
    mime::appendUndeclared(e.type.value, p.type);  // a damaged type is still text
    p.size = decodedSize(e);
    return p;
}

}  // namespace

int MakeReadableText(std::string_view itemPath, std::string_view outputPath, ReadableText& info) {
    info = {};
    if (itemPath.empty()) return 0;
    MappedFile body(util::withLastChar(itemPath, 'b'));
    if (!body.isOpen()) return 0;
    StructureParser parser;
    const Entity root = parser.parse(topHeaders(itemPath), body.view());
    Selection s;
    walk(root, s);
    std::string text;
    std::vector<InlineFile> files;
    if (s.text) {
        if (s.html) appendText(*s.text, text);
        else appendTextWithoutFiles(*s.text, text, files);
        info.charset = s.text->charset();
        util::lowerAscii(info.charset);
        info.html = s.html ? 1 : 0;
    }
    for (const Entity* extra : s.extraText) {
        if (!text.empty() && text.back() != '\n') text += "\r\n";
        text += "\r\n";
        appendText(*extra, text);
    }
    for (const Entity* part : s.parts) info.parts.push_back(describe(*part));
    for (std::size_t k = 0; k < files.size(); ++k) {
        MimePart p;
        p.index = parser.leafCount() + static_cast<int32_t>(k);
        mime::appendUndeclared(files[k].name, p.name);
        p.type = "application/octet-stream";
        p.size = files[k].size;
        info.parts.push_back(std::move(p));
    }
    codec::OutFile out;
    if (!out.open(outputPath, codec::OutFile::Mode::Replace)) return 0;
    writeCrLfLines(text, out);
    return out.close() ? 1 : 0;
}

int DecodeMimePart(std::string_view itemPath, int32_t index, std::string_view folder,
                   std::string& outputPath) {
    outputPath.clear();
    if (itemPath.empty()) return 0;
    MappedFile body(util::withLastChar(itemPath, 'b'));
    if (!body.isOpen()) return 0;
    StructureParser parser;
    const Entity root = parser.parse(topHeaders(itemPath), body.view());
    if (index >= parser.leafCount()) {
        // A file carried in the text's lines, numbered after the MIME parts.
        Selection s;
        walk(root, s);
        if (!s.text || s.html) return 0;
        std::string bytes;
        decodedBody(*s.text, bytes);
        const std::vector<InlineFile> files = inlineFiles(bytes);
        const std::size_t k = static_cast<std::size_t>(index - parser.leafCount());
        return k < files.size() ? decodeInlineFile(*s.text, files[k], folder, outputPath) : 0;
    }
    const Entity* part = findLeaf(root, index);
    if (!part) return 0;
    std::optional<std::string> name = codec::cleanDecodedName(part->fileName(), folder);
    if (!name) return -2;
    std::string path = std::string(folder) + *name;
    std::string bytes;
    decodedBody(*part, bytes);
    codec::OutFile out;
    if (!out.open(path, codec::OutFile::Mode::Replace)) return -6;
    out.write(bytes);
    if (!out.close()) return -6;
    codec::addDecodeLogEntry(folder, path);
    outputPath = std::move(path);
    return 1;
}

}  // namespace torvakit
