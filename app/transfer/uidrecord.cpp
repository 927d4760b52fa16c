#include "transfer/uidrecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>

namespace transfer {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string lineOf(std::string_view id, int64_t when) { return std::to_string(when) + " " + std::string(id) + "\n"; }

// "SECONDS ID" -> the two parts; false for anything else.
bool parseLine(std::string_view line, int64_t& when, std::string_view& id) {
    const size_t space = line.find(' ');
    if (space == 0 || space == std::string_view::npos || space + 1 >= line.size()) return false;
    auto [end, ec] = std::from_chars(line.data(), line.data() + space, when);
    if (ec != std::errc() || end != line.data() + space) return false;
    id = line.substr(space + 1);
    return true;
}

}  // namespace

std::string UidRecord::fileName(std::string_view host, std::string_view user) {
    // FNV-1a over "user@host": a name safe in any file system whatever the
    // user name holds.
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](unsigned char c) {
        hash ^= c;
        hash *= 1099511628211ull;
    };
    for (char c : user) mix(static_cast<unsigned char>(c));
    mix('@');
    for (char c : host) mix(static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c))));
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return "uidl" + std::string(hex) + ".lst";
}

bool UidRecord::open(const std::string& path, std::string_view account) {
    close();
    m_filed.clear();
    m_path = path;
    m_account = account;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return false;
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    // A torn last line is cut off so the next line starts on a line of its own.
    const size_t complete = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    bool ok = n == 0 && ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    if (ok && complete != text.size()) ok = ::ftruncate(fd, static_cast<off_t>(complete)) == 0 && ::fsync(fd) == 0;
    if (ok && complete == 0) ok = writeAll(fd, "# " + m_account + "\n") && ::fsync(fd) == 0;
    if (ok) ok = ::lseek(fd, 0, SEEK_END) >= 0;
    if (!ok) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    bool hadPending = false;
    std::string_view rest(text.data(), complete);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        int64_t when = 0;
        std::string_view id;
        if (!line.empty() && line.front() == '?') {
            hadPending = true;
            const size_t tab = line.find('\t');
            if (tab == std::string_view::npos || !parseLine(line.substr(1, tab - 1), when, id)) continue;
            const std::string header(line.substr(tab + 1));
            if (::access(header.c_str(), F_OK) == 0) m_filed.emplace(std::string(id), when);
        } else if (parseLine(line, when, id)) {
            m_filed.emplace(std::string(id), when);
        }
    }
    if (!hadPending) return true;
    const std::unordered_map<std::string, int64_t> settled = m_filed;
    return rewrite(settled);
}

void UidRecord::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

int64_t UidRecord::filedAt(std::string_view id) const {
    auto it = m_filed.find(std::string(id));
    return it == m_filed.end() ? -1 : it->second;
}

bool UidRecord::add(std::string_view id, int64_t when) {
    if (m_fd < 0 || id.empty() || id.find('\n') != std::string_view::npos) return false;
    // One write, so a kill leaves the whole line or none of it in the file.
    if (!writeAll(m_fd, lineOf(id, when)) || ::fdatasync(m_fd) != 0) return false;
    m_filed.emplace(std::string(id), when);
    return true;
}

bool UidRecord::addPending(std::string_view id, int64_t when, std::string_view headerPath) {
    if (m_fd < 0 || id.empty() || headerPath.empty()) return false;
    for (std::string_view part : {id, headerPath})
        if (part.find_first_of("\t\n") != std::string_view::npos) return false;
    const std::string header(headerPath);
    if (::access(header.c_str(), F_OK) == 0) return false;  // it would pass for this message
    std::string line = "?" + std::to_string(when) + " " + std::string(id) + "\t" + header + "\n";
    return writeAll(m_fd, line) && ::fdatasync(m_fd) == 0;
}

bool UidRecord::keepOnly(const std::map<int32_t, std::string>& onServer) {
    if (m_fd < 0) return false;
    std::unordered_map<std::string, int64_t> kept;
    for (const auto& [number, id] : onServer) {
        auto it = m_filed.find(id);
        if (it != m_filed.end()) kept.emplace(*it);
    }
    if (kept.size() == m_filed.size()) return true;
    return rewrite(kept);
}

bool UidRecord::rewrite(const std::unordered_map<std::string, int64_t>& filed) {
    std::string text = "# " + m_account + "\n";
    for (const auto& [id, when] : filed) text += lineOf(id, when);
    const std::string temporary = m_path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return false;
    bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), m_path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The directory entry of the new file must reach the disk too.
    const size_t slash = m_path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : m_path.substr(0, slash);
    if (const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    const std::string path = m_path, account = m_account;
    return open(path, account);
}

bool UidPlan::readList(const std::string& listFile) {
    m_ids.clear();
    std::ifstream in(listFile, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t space = line.find(' ');
        if (space == std::string::npos || space + 1 >= line.size()) continue;
        int32_t number = 0;
        auto [end, ec] = std::from_chars(line.data(), line.data() + space, number);
        if (ec != std::errc() || end != line.data() + space || number <= 0) continue;
        m_ids.emplace(number, line.substr(space + 1));
    }
    return true;
}

std::string UidPlan::idOf(int32_t number) const {
    auto it = m_ids.find(number);
    return it == m_ids.end() ? std::string() : it->second;
}

int32_t UidPlan::nextToFetch(int32_t after, int32_t count, const UidRecord& record) const {
    for (int32_t n = after + 1; n <= count; ++n) {
        const std::string id = idOf(n);
        // A message the server gave no id is fetched: better twice than never.
        if (id.empty() || record.filedAt(id) < 0) return n;
    }
    return count + 1;
}

int32_t UidPlan::nextToDelete(int32_t after, int32_t count, const UidRecord& record, bool leave, int leaveDays,
                              int64_t now) const {
    for (int32_t n = after + 1; n <= count; ++n) {
        const int64_t filed = record.filedAt(idOf(n));
        if (filed < 0) continue;  // never deleted before it is safely filed
        if (!leave) return n;
        if (leaveDays > 0 && now - filed >= static_cast<int64_t>(leaveDays) * kSecondsPerDay) return n;
    }
    return count + 1;
}

}  // namespace transfer
