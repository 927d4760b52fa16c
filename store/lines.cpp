#include "store/lines.h"

#include <algorithm>
#include <cstdio>

namespace torvakit::lines {
namespace {

// Consumes the LF that may follow a CR; anything else is left for the next line.
void finishCr(std::FILE* file) {
    int next = getc_unlocked(file);
    if (next != '\n' && next != EOF) ungetc(next, file);
}

// Skips the rest of an over-long line up to and including the next LF.
void skipRest(std::FILE* file) {
    int c;
    while ((c = getc_unlocked(file)) != EOF && c != '\n') {
    }
}

}  // namespace

int readLine(std::FILE* file, std::string& line) {
    line.clear();
    int c = getc_unlocked(file);
    if (c == EOF) return kEndOfFile;
    for (;;) {
        if (c == EOF || c == '\n') break;
        if (c == '\r') {
            finishCr(file);
            break;
        }
        if (line.size() == kMaxLine) {
            skipRest(file);
            break;
        }
        line.push_back(static_cast<char>(c));
        c = getc_unlocked(file);
    }
    return static_cast<int>(line.size());
}

int readLineCrLf(std::FILE* file, std::string& line) {
    if (readLine(file, line) == kEndOfFile) return kEndOfFile;
    line += "\r\n";
    return static_cast<int>(line.size());
}

bool nextLine(std::string_view data, std::size_t& pos, std::string_view& line) {
    line = {};
    if (pos >= data.size()) {
        pos = data.size();
        return false;
    }
    const std::size_t start = pos;
    const std::size_t limit = std::min(data.size(), start + kMaxLine);
    std::size_t i = pos;
    while (i < limit && data[i] != '\n' && data[i] != '\r') ++i;
    line = data.substr(start, i - start);
    if (i == data.size()) {
        pos = i;
    } else if (data[i] == '\n') {
        pos = i + 1;
    } else if (data[i] == '\r') {
        pos = (i + 1 < data.size() && data[i + 1] == '\n') ? i + 2 : i + 1;
    } else {
        // kMaxLine bytes kept and the line goes on: drop the rest through LF.
        std::size_t lf = data.find('\n', i);
        pos = (lf == std::string_view::npos) ? data.size() : lf + 1;
    }
    return true;
}

}  // namespace torvakit::lines
