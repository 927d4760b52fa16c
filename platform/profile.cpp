#include "platform/profile.h"

#include "platform/fsys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

bool equalCaseless(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

struct Lines {
    std::vector<std::string> lines;  // without line ends
    std::string eol = "\n";          // the file's own line end, kept on rewrite
    bool finalEol = true;
};

bool readLines(const std::string& path, Lines& out) {
    UniqueFile f(std::fopen(path.c_str(), "rb"));
    if (!f) return false;
    std::string data;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) data.append(buf, n);
    size_t first = data.find('\n');
    if (first != std::string::npos && first > 0 && data[first - 1] == '\r') out.eol = "\r\n";
    size_t pos = 0;
    while (pos < data.size()) {
        size_t nl = data.find('\n', pos);
        if (nl == std::string::npos) {
            out.lines.push_back(data.substr(pos));
            out.finalEol = false;
            break;
        }
        size_t end = (nl > pos && data[nl - 1] == '\r') ? nl - 1 : nl;
        out.lines.push_back(data.substr(pos, end - pos));
        pos = nl + 1;
    }
    return true;
}

bool isSection(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '[') return false;
    size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    name = trim(line.substr(1, close - 1));
    return true;
}

bool isKey(std::string_view line, std::string_view key, std::string_view& value) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    if (!equalCaseless(trim(line.substr(0, eq)), key)) return false;
    value = line.substr(eq + 1);
    return true;
}

std::string cut(std::string_view s) { return std::string(s.substr(0, kProfileValueMax)); }

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, std::string_view file) {
    Lines f;
    if (!readLines(resolvePath(file), f)) return cut(trim(def));
    bool inSection = false;
    for (const std::string& line : f.lines) {
        std::string_view name, value;
        if (isSection(line, name)) {
            inSection = equalCaseless(name, section);
        } else if (inSection && isKey(line, key, value)) {
            value = trim(value);
            // A value in matching quotes is read without them.
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            return cut(value);
        }
    }
    return cut(trim(def));
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view file) {
    std::string path = resolvePath(file);
    Lines f;
    bool existed = readLines(path, f);

    std::string entry = std::string(key) + "=" + std::string(value);
    bool inSection = false, done = false;
    size_t sectionEnd = std::string::npos;  // index after the last line of our section
    for (size_t i = 0; i < f.lines.size() && !done; ++i) {
        std::string_view name, old;
        if (isSection(f.lines[i], name)) {
            if (inSection) break;
            inSection = equalCaseless(name, section);
            if (inSection) sectionEnd = i + 1;
        } else if (inSection) {
            if (isKey(f.lines[i], key, old)) {
                f.lines[i] = entry;
                done = true;
            } else if (!trim(f.lines[i]).empty()) {
                sectionEnd = i + 1;
            }
        }
    }
    if (!done) {
        if (sectionEnd == std::string::npos) {
            if (!f.lines.empty() && !trim(f.lines.back()).empty()) f.lines.emplace_back();
            f.lines.push_back("[" + std::string(section) + "]");
            f.lines.push_back(entry);
        } else {
            f.lines.insert(f.lines.begin() + static_cast<long>(sectionEnd), entry);
        }
        f.finalEol = true;
    }

    std::string data;
    for (size_t i = 0; i < f.lines.size(); ++i) {
        data += f.lines[i];
        if (i + 1 < f.lines.size() || f.finalEol) data += f.eol;
    }

    mode_t mode = 0600;
    struct stat st;
    if (existed && stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    std::string tmp = path + ".new-XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) return false;
    fchmod(fd, mode);
    bool ok = true;
    size_t off = 0;
    while (ok && off < data.size()) {
        ssize_t n = ::write(fd, data.data() + off, data.size() - off);
        if (n <= 0) ok = false; else off += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

std::string GetWindowsDirectory() {
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') return x;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "") + "/.config";
}

}  // namespace platform
