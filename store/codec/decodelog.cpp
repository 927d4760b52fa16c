// Names of decoded files and the decode log.
#include "platform/clock.h"
#include "platform/fsys.h"
#include "store/codec/codec.h"
#include "store/codec/decode.h"
#include "store/codec/fileio.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace torvakit::codec {

namespace {

constexpr std::string_view kUnsafeNameChars = "\"*/:<>?\\|";
constexpr char kReplacement = '$';
// A cut name keeps its extension when the extension is at most this long.
constexpr size_t kMaxKeptExtension = 32;
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsWithNoCase(a, b);
}

std::string cutToLimit(const std::string& name) {
    if (name.size() <= kMaxDecodedName) return name;
    size_t dot = name.rfind('.');
    size_t extension = dot == std::string::npos ? 0 : name.size() - dot;
    if (extension == 0 || extension > kMaxKeptExtension)
        return name.substr(0, kMaxDecodedName);
    return name.substr(0, kMaxDecodedName - extension) + name.substr(dot);
}

// A name that does not exist in the folder yet, made by creating the file.
std::optional<std::string> freshName(std::string_view folder) {
    std::string pattern = platform::resolvePath(std::string(folder) + "decodedXXXXXX");
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) return std::nullopt;
    ::close(fd);
    return std::string(baseName(pattern));
}

}  // namespace

std::optional<std::string> cleanDecodedName(std::string_view raw, std::string_view folder) {
    std::string name(raw);
    for (char& c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || kUnsafeNameChars.find(c) != std::string_view::npos)
            c = kReplacement;
    }
    if (name.empty()) return freshName(folder);
    if (name == ".") return std::string(1, kReplacement);
    if (name == "..") return std::string(2, kReplacement);
    if (equalsNoCase(name, kDecodeLog) || equalsNoCase(name, kDecodeTmp))
        name.insert(name.begin(), kReplacement);
    return cutToLimit(name);
}

size_t stripQuotes(std::string_view& line, char quote, size_t limit) {
    size_t n = 0;
    while (n < line.size() && n < limit && (line[n] == ' ' || line[n] == quote)) ++n;
    line.remove_prefix(n);
    return n;
}

namespace {

std::string logEntry(std::string_view outputPath) {
    platform::CalendarTime now = platform::currentLocalCalendar();
    char date[64];
    std::snprintf(date, sizeof date, "%02d %s %02d:%02d:%02d", now.day,
                  kMonthNames[(now.month - 1) % 12], now.hour, now.minute, now.second);
    return std::string(date) + " : " + std::string(baseName(outputPath)) + "\r\n";
}

// The new log: the entry, then every non-empty line of the old one.
bool writeNewLog(const std::string& path, const std::string& entry, const std::string& oldLog) {
    OutFile out;
    if (!out.open(path, OutFile::Mode::Replace)) return false;
    out.write(entry);
    LineReader old(openForReading(oldLog));
    std::string_view line;
    while (old.next(line)) {
        if (line.empty()) continue;
        out.write(line);
        out.write(kCrLf);
    }
    return out.close();
}

}  // namespace

void addDecodeLogEntry(std::string_view folder, std::string_view outputPath) {
    std::string log = std::string(folder) + std::string(kDecodeLog);
    std::string tmp = std::string(folder) + std::string(kDecodeTmp);
    std::string entry = logEntry(outputPath);
    if (!platform::fileExists(log)) {
        writeNewLog(log, entry, {});
        return;
    }
    // Built beside the old log and put in its place in one step.
    if (writeNewLog(tmp, entry, log) && platform::renameReplace(tmp, log)) return;
    platform::deleteFile(tmp);
}

}  // namespace torvakit::codec
