// The subscription file: subscribed groups, their folders and the number of
// the next article to retrieve, rewritten in place.
#include "platform/fsys.h"
#include "store/journal.h"
#include "store/lines.h"
#include "store/storeutil.h"
#include "store/torvakit.h"

#include <cstdio>
#include <string>
#include <vector>

namespace torvakit {
namespace {

constexpr std::size_t kArticleDigits = 10;
constexpr std::size_t kFolderDigits = 7;
constexpr uint32_t kFolderNumbers = util::kMaxItemNumber + 1;

// The fields of one subscription line: group, folder and the offset of the
// article number within the line (npos when the line has no third field).
struct SubscriptionLine {
    std::string_view group;
    std::string_view folder;
    std::size_t numberAt = std::string_view::npos;
};

SubscriptionLine splitLine(std::string_view line) {
    SubscriptionLine out;
    const std::size_t first = line.find(':');
    out.group = line.substr(0, first);
    if (first == std::string_view::npos) return out;
    const std::size_t second = line.find(':', first + 1);
    out.folder = line.substr(first + 1, second == std::string_view::npos ? std::string_view::npos
                                                                         : second - first - 1);
    if (second != std::string_view::npos) out.numberAt = second + 1;
    return out;
}

// Reads the subscription file up to the group's line. Leaves the line in
// `line` and its starting offset in `start`; false when the group is absent.
bool findGroup(std::FILE* file, std::string_view group, std::string& line, long& start) {
    for (;;) {
        start = std::ftell(file);
        if (lines::readLine(file, line) == lines::kEndOfFile) return false;
        if (splitLine(line).group == group) return true;
    }
}

bool isSubscribed(std::string_view subscriptionFile, std::string_view group) {
    platform::UniqueFile file = platform::openFile(subscriptionFile, "rb");
    std::string line;
    long start = 0;
    return file && findGroup(file.get(), group, line, start);
}

// A group name that fits the line format.
bool isStorableGroup(std::string_view group) {
    return !group.empty() && group.find_first_of(std::string_view(":\r\n\0", 4)) == std::string_view::npos;
}

// Only folders of the form AddSub creates are ever removed with a group.
bool isGroupFolder(std::string_view folder) {
    if (folder.size() != 1 + kFolderDigits || (folder[0] != 'N' && folder[0] != 'n')) return false;
    for (std::size_t i = 1; i < folder.size(); ++i)
        if (folder[i] < '0' || folder[i] > '9') return false;
    return true;
}

std::string folderName(uint32_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "N%07u", n);
    return name;
}

// Creates the first free group folder from the counter on. Returns false when
// a folder cannot be created for another reason than its name being taken.
bool createGroupFolder(uint32_t& counter, std::string& folder) {
    counter %= kFolderNumbers;
    for (uint32_t tries = 0; tries < kFolderNumbers; ++tries) {
        folder = folderName(counter);
        counter = (counter + 1) % kFolderNumbers;
        if (platform::createDirectory(folder)) return true;
        if (!platform::directoryExists(folder) && !platform::fileExists(folder)) return false;
    }
    return false;
}

bool appendText(std::string_view path, std::string_view text) {
    platform::UniqueFile file = platform::openFile(path, "ab");
    return file && util::writeAll(file.get(), text) && std::fclose(file.release()) == 0;
}

}  // namespace

int getarticlen(std::string_view group, std::string_view subscriptionFile, uint32_t& number) {
    number = 0;
    platform::UniqueFile file = platform::openFile(subscriptionFile, "rb");
    std::string line;
    long start = 0;
    if (!file || !findGroup(file.get(), group, line, start)) return 0;
    const SubscriptionLine fields = splitLine(line);
    if (fields.numberAt == std::string_view::npos) return 1;
    for (std::size_t i = fields.numberAt; i < line.size() && line[i] != ':'; ++i)
        number = number * 10u + static_cast<uint32_t>(static_cast<unsigned char>(line[i]) - '0');
    return 1;
}

int setarticlen(std::string_view group, std::string_view subscriptionFile, uint32_t number) {
    platform::UniqueFile file = platform::openFile(subscriptionFile, "r+b");
    std::string line;
    long start = 0;
    if (!file || !findGroup(file.get(), group, line, start)) return 0;
    const std::size_t at = splitLine(line).numberAt;
    // The field is rewritten only where it has its fixed width, so the line
    // keeps its length and nothing beyond the field is touched.
    if (at == std::string_view::npos || line.size() < at + kArticleDigits + 1 ||
        line[at + kArticleDigits] != ':')
        return 0;
    for (std::size_t i = at; i < at + kArticleDigits; ++i)
        if (line[i] < '0' || line[i] > '9') return 0;
    char digits[32];
    std::snprintf(digits, sizeof digits, "%010u", number);
    if (std::fseek(file.get(), start + static_cast<long>(at), SEEK_SET) != 0) return 0;
    if (!util::writeAll(file.get(), std::string_view(digits, kArticleDigits))) return 0;
    return std::fclose(file.release()) == 0 ? 1 : 0;
}

int GetHomeDir(std::string_view group, std::string_view subscriptionFile, std::string& folder) {
    platform::UniqueFile file = platform::openFile(subscriptionFile, "rb");
    std::string line;
    long start = 0;
    if (!file || !findGroup(file.get(), group, line, start)) return 0;
    folder = std::string(splitLine(line).folder) + "\\";
    return 1;
}

int AddSub(std::string_view subscriptionFile, std::string_view namesFile,
           std::string_view counterFile, std::string& group) {
    util::lowerAscii(group);
    if (!isStorableGroup(group)) return 2;
    if (isSubscribed(subscriptionFile, group)) return 1;
    uint32_t counter = 0;
    GetFile(counterFile, counter);
    std::string folder;
    if (!createGroupFolder(counter, folder)) return 2;
    if (!appendText(subscriptionFile, group + ":" + folder + ":0000000000:\r\n")) {
        platform::removeDirectory(folder);
        return 2;
    }
    SetFile(counterFile, counter);
    appendText(namesFile, group + "\r\n");
    return 0;
}

int SubSub(std::string_view subscriptionFile, std::string_view namesFile, std::string& group) {
    util::lowerAscii(group);
    if (!isSubscribed(subscriptionFile, group)) return 1;
    journal::replayLeftover();
    platform::UniqueFile in = platform::openFile(subscriptionFile, "rb");
    platform::UniqueFile scratch = platform::openFile(kScratchFile, "wb");
    if (!in || !scratch) return 2;
    std::string line, names;
    std::vector<std::string> folders;
    bool ok = true;
    while (ok && lines::readLine(in.get(), line) != lines::kEndOfFile) {
        if (line.empty()) continue;
        const SubscriptionLine fields = splitLine(line);
        if (fields.group == group) {
            folders.emplace_back(fields.folder);
            continue;
        }
        (names += fields.group) += "\r\n";
        ok = util::writeAll(scratch.get(), line) && util::writeAll(scratch.get(), "\r\n");
    }
    in.reset();
    ok = ok && platform::syncFile(scratch.get()) && std::fclose(scratch.release()) == 0;
    journal::Entry entry("subsub");
    entry.add("subscr", subscriptionFile).add("names", namesFile).add("group", group);
    for (const std::string& folder : folders)
        if (isGroupFolder(folder)) entry.add("folder", folder);
    ok = ok && journal::begin(entry, true);
    if (ok && !platform::renameReplace(kScratchFile, subscriptionFile)) {
        journal::end();
        ok = false;
    }
    if (!ok) {
        scratch.reset();
        platform::deleteFile(kScratchFile);
        return 2;
    }
    platform::UniqueFile namesOut = platform::openFile(namesFile, "wb");
    if (namesOut) util::writeAll(namesOut.get(), names);
    namesOut.reset();
    for (const std::string& folder : folders)
        if (isGroupFolder(folder)) detail::removeDirectory(folder);
    journal::end();
    return 0;
}

}  // namespace torvakit
