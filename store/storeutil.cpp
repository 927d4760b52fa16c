#include "store/storeutil.h"

#include "platform/fsys.h"
#include "store/lines.h"
#include "store/torvakit.h"

#include <unistd.h>

#include <cstdio>
#include <limits>

namespace torvakit::util {

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kWeekdayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

const char* monthName(int month) {
    return (month >= 1 && month <= 12) ? kMonthNames[month - 1] : "???";
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void lowerAscii(std::string& text) {
    for (char& c : text) c = lowerAscii(c);
}

std::string_view headerValue(std::string_view line, std::size_t nameLength) {
    const std::size_t start = nameLength + 1;
    return line.size() > start ? line.substr(start) : std::string_view{};
}

std::string_view upToComma(std::string_view text) { return text.substr(0, text.find(',')); }

std::string capped(std::string_view text) { return std::string(text.substr(0, kMaxValue)); }

std::string withLastChar(std::string_view path, char last) {
    std::string copy(path);
    if (!copy.empty()) copy.back() = last;
    return copy;
}

std::string_view fileNamePart(std::string_view path) {
    const std::size_t sep = path.find_last_of("\\/:");
    return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

bool isPlainName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string_view("\\/:\r\n\0", 6)) == std::string_view::npos;
}

std::string displayDate(int day, int month, int year) {
    // year counts from 1900; the list shows its last two digits.
    constexpr int kCentury = 100;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d %s %02d", day, monthName(month), ((year % kCentury) + kCentury) % kCentury);
    return buf;
}

std::string sortableDate(int year, int month, int day, int hour, int minute, int second) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", year, month, day, hour, minute,
                  second);
    return buf;
}

void recordDates(std::string_view dateValue, std::string& display, std::string& sortable) {
    int32_t pos = 0, day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    extractdate(dateValue, pos, day, month, year, hour, minute, second);
    display = displayDate(day, month, year);
    sortable = sortableDate(year, month, day, hour, minute, second);
}

std::string listPath(std::string_view folder) { return std::string(folder) + "n.lst"; }
std::string countPath(std::string_view folder) { return std::string(folder) + "n.cnt"; }
std::string indexPath(std::string_view folder, int sortType) {
    return std::string(folder) + "n" + std::to_string(sortType) + ".idx";
}

bool readNumberFile(std::string_view path, uint32_t& value) {
    value = 0;
    platform::UniqueFile file = platform::openFile(path, "rb");
    if (!file) return false;
    std::string line;
    lines::readLine(file.get(), line);
    int32_t pos = 0;
    extractlong(line, pos, value);
    return true;
}

uint64_t leadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] < '0' || text[i] > '9')) ++i;
    uint64_t value = 0;
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        value = (value > (kMax - digit) / 10) ? kMax : value * 10 + digit;
    }
    return value;
}

namespace {

uint64_t afterLeadingZeros(std::string_view field) {
    std::size_t zeros = 0;
    while (zeros < field.size() && zeros < kIndexLeadingZeros && field[zeros] == '0') ++zeros;
    return leadingNumber(field.substr(zeros));
}

bool readIndexField(std::FILE* index, int32_t row, long fieldOffset, uint64_t& value) {
    value = 0;
    if (row < 0) return false;
    const int64_t at = static_cast<int64_t>(row) * kIndexRecordSize + fieldOffset;
    if (std::fseek(index, static_cast<long>(at), SEEK_SET) != 0) return false;
    std::string line;
    if (lines::readLine(index, line) == lines::kEndOfFile) return false;
    value = afterLeadingZeros(line);
    return true;
}

}  // namespace

uint64_t resolveRow(std::string_view indexFile, int32_t row) {
    platform::UniqueFile index = platform::openFile(indexFile, "rb");
    uint64_t offset = 0;
    if (index) readIndexField(index.get(), row, 0, offset);
    return offset;
}

uint64_t resolveRow(std::FILE* index, int32_t row) {
    uint64_t offset = 0;
    if (index) readIndexField(index, row, 0, offset);
    return offset;
}

bool indexOrdinal(std::FILE* index, int32_t row, uint64_t& ordinal) {
    return readIndexField(index, row, kIndexOrdinalOffset, ordinal);
}

bool ListAppender::open(std::string_view listPath) {
    rollBack();
    m_file = std::fopen(platform::resolvePath(listPath).c_str(), "a+b");
    if (!m_file || std::fseek(m_file, 0, SEEK_END) != 0) {
        rollBack();
        return false;
    }
    m_oldSize = m_recordStart = std::ftell(m_file);
    if (m_oldSize > 0) {
        std::fseek(m_file, -1, SEEK_END);
        const bool unfinished = std::fgetc(m_file) != '\n';
        std::fseek(m_file, 0, SEEK_END);
        if (unfinished) {
            if (!writeAll(m_file, "\r\n")) {
                rollBack();
                return false;
            }
            m_recordStart += 2;
        }
    }
    return m_oldSize >= 0;
}

bool ListAppender::flush(bool sync) {
    if (!m_file) return false;
    return sync ? platform::syncFile(m_file) : std::fflush(m_file) == 0;
}

bool ListAppender::commit(bool sync) {
    if (!flush(sync)) {
        rollBack();
        return false;
    }
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    return closed;
}

void ListAppender::rollBack() {
    if (!m_file) return;
    std::fflush(m_file);
    if (ftruncate(fileno(m_file), static_cast<off_t>(m_oldSize)) != 0) {
        // Nothing more can be done; the caller reports the failure.
    }
    std::fclose(m_file);
    m_file = nullptr;
}

bool writeAll(std::FILE* file, std::string_view text) {
    if (text.empty()) return true;  // fwrite must not see the null data of an empty view
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace torvakit::util
