#include "compose/charset.h"

#include "platform/fsys.h"
#include "store/torvakit.h"

#include <fstream>
#include <iterator>

namespace compose {
namespace {

std::string_view valueOf(std::string_view line, size_t nameLength) {
    std::string_view value = line.substr(nameLength);
    if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    return value;
}

}  // namespace

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool declareUtf8(const std::string& headerPath, bool declareBody) {
    std::string text;
    if (!platform::fileExists(headerPath)) return false;
    {
        std::ifstream in(platform::resolvePath(headerPath), std::ios::binary);
        if (!in) return false;
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    bool mime = false;
    std::string value;
    for (std::string& line : lines) {
        if (torvakit::headercompare(line, "MIME-Version:")) mime = true;
        for (const char* name : {"Subject:", "Organization:", "X-Attachment:"})
            if (int n = torvakit::headercompare(line, name)) {
                torvakit::EncodeHeaderValue(valueOf(line, n), value);
                line = std::string(name) + " " + value;
            }
        for (const char* name : {"From:", "Reply-To:", "To:", "Cc:"})
            if (int n = torvakit::headercompare(line, name)) {
                torvakit::EncodeAddressValue(valueOf(line, n), value);
                line = std::string(name) + " " + value;
            }
    }
    std::string out;
    for (const std::string& line : lines) {
        if (declareBody && !mime && torvakit::headercompare(line, "Date:")) {
            out += kMimeVersionLine;
            out += kTextPlainLine;
            out += kEightBitLine;
        }
        out += line + "\r\n";
    }
    if (out == text) return true;
    const std::string resolved = platform::resolvePath(headerPath);
    const std::string temp = resolved + ".tmp";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!(file << out) || !file.flush()) return false;
    }
    return platform::renameReplace(temp, resolved);
}

}  // namespace compose
