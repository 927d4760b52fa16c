#include "commands/folders.h"

#include "main/mainhost.h"
#include "main/prompts.h"
#include "platform/fsys.h"
#include "store/torvakit.h"
#include "ui/dialogs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace folders {
namespace {

bool letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

// The entry of the data directory matching the name in any case, or empty.
std::string existingEntry(const std::string& dataDir, const std::string& name) {
    struct stat st;
    std::string path = platform::resolvePath(dataDir + "/" + name);
    return lstat(path.c_str(), &st) == 0 ? path : std::string();
}

}  // namespace

bool validFolderName(std::string_view name) {
    if (name.empty() || !letter(name.front())) return false;
    return std::all_of(name.begin(), name.end(), [](char c) { return letter(c) || digit(c); });
}

int createFolderDirectory(const std::string& dataDir, const std::string& name) {
    // "Work" beside "work" would be two folders the store cannot tell apart.
    if (!existingEntry(dataDir, name).empty()) return EEXIST;
    if (mkdir((dataDir + "/" + name).c_str(), 0777) != 0) return errno;
    return 0;
}

bool renameFolderDirectory(const std::string& dataDir, const std::string& from, const std::string& to) {
    const std::string source = existingEntry(dataDir, from);
    if (source.empty()) return false;
    const std::string taken = existingEntry(dataDir, to);
    // Another folder under the new name in any case would be merged or
    // replaced; only the folder itself may take another case of its name.
    if (!taken.empty() && taken != source) return false;
    const std::string target = dataDir + "/" + to;
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    struct stat st;
    if (lstat(target.c_str(), &st) == 0 && taken != source) return false;
    return std::rename(source.c_str(), target.c_str()) == 0;
}

bool writeFolderList(const std::string& dataDir, const std::vector<std::string>& names) {
    const std::string path = dataDir + "/" + kFolderListFile;
    const std::string temp = path + ".new";
    bool ok = false;
    if (platform::UniqueFile out = platform::openFile(temp, "wb")) {
        ok = true;
        for (const std::string& name : names)
            ok = ok && std::fputs(name.c_str(), out.get()) >= 0 && std::fputs("\r\n", out.get()) >= 0;
        ok = ok && platform::syncFile(out.get());
    }
    ok = ok && platform::renameReplace(temp, platform::resolvePath(path));
    if (!ok) platform::deleteFile(temp);
    return ok;
}

}  // namespace folders

FolderCommands::FolderCommands(MainHost& host, QObject* parent) : QObject(parent), m_host(host) {}

void FolderCommands::information(const QString& text) { ui::informationBox(m_host.window(), text); }

bool FolderCommands::askName(std::string& name) {
    Tenterstringform& prompt = m_host.entryPrompt();
    if (prompt.ask(kFolderNamePrompt) != ui::kResultOk) return false;
    name = prompt.text().toLocal8Bit().toStdString();
    if (folders::validFolderName(name)) return true;
    information(kInvalidFolderName);
    return false;
}

std::string FolderCommands::selectedPersonalFolder() const {
    if (!m_host.mailFolderShown() || m_host.mailFolderRow() < kFirstPersonalRow) return {};
    return m_host.shownFolderName().toLocal8Bit().toStdString();
}

void FolderCommands::create1Click() {
    std::string name;
    if (!askName(name)) return;
    const std::string& dir = m_host.dataDirectory();
    if (int code = folders::createFolderDirectory(dir, name)) {
        information(QString("sorry, couldn't create folder (%1)").arg(code));
        return;
    }
    const std::string shown = selectedPersonalFolder();
    std::vector<std::string> names = m_host.personalFolders();
    names.push_back(name);
    m_host.setPersonalFolders(names);
    // The pane keeps its selected position; a personal folder that moved
    // down is selected again, so commands act on the folder the list shows.
    if (!shown.empty()) {
        const std::vector<std::string> sorted = m_host.personalFolders();
        const auto at = std::find(sorted.begin(), sorted.end(), shown);
        const int row = kFirstPersonalRow + static_cast<int>(at - sorted.begin());
        if (row != m_host.mailFolderRow()) m_host.selectMailFolder(row);
    }
    if (!folders::writeFolderList(dir, m_host.personalFolders())) {
        // A folder missing from the list would vanish at the next start.
        const int code = errno;
        platform::removeDirectory(dir + "/" + name);
        names.pop_back();
        m_host.setPersonalFolders(names);
        information(QString("sorry, couldn't create folder (%1)").arg(code));
    }
}

void FolderCommands::renameselected1Click() {
    const std::string old = selectedPersonalFolder();
    if (old.empty()) return;
    std::string name;
    if (!askName(name)) return;
    const std::string& dir = m_host.dataDirectory();
    if (!folders::renameFolderDirectory(dir, old, name)) {
        information(kCouldNotRename);
        return;
    }
    std::vector<std::string> names = m_host.personalFolders();
    const std::vector<std::string> before = names;
    if (auto it = std::find(names.begin(), names.end(), old); it != names.end()) names.erase(it);
    names.push_back(name);
    m_host.setPersonalFolders(names);
    if (!folders::writeFolderList(dir, m_host.personalFolders())) {
        // The list still names the old folder: give the directory its old name.
        folders::renameFolderDirectory(dir, name, old);
        m_host.setPersonalFolders(before);
        information(kCouldNotRename);
        return;
    }
    const std::vector<std::string> sorted = m_host.personalFolders();
    const auto at = std::find(sorted.begin(), sorted.end(), name);
    m_host.selectMailFolder(kFirstPersonalRow + static_cast<int>(at - sorted.begin()));
    m_host.focusMailFolders();
}

void FolderCommands::deleteselected1Click() {
    const std::string name = selectedPersonalFolder();
    if (name.empty()) return;
    const int row = m_host.mailFolderRow();
    if (m_host.questionPrompt().ask(kDeleteFolderQuestion) != ui::kResultOk) return;
    const std::string& dir = m_host.dataDirectory();
    const std::string path = dir + "/" + name;
    if (!torvakit::removedir(path) && platform::directoryExists(path)) {
        // Whatever is left stays reachable under its name.
        m_host.reloadList();
        information(kCouldNotDelete);
        return;
    }
    std::vector<std::string> names = m_host.personalFolders();
    if (auto it = std::find(names.begin(), names.end(), name); it != names.end()) names.erase(it);
    m_host.setPersonalFolders(names);
    folders::writeFolderList(dir, names);
    const int last = kFirstPersonalRow + static_cast<int>(names.size()) - 1;
    m_host.selectMailFolder(std::min(row, last));
}
