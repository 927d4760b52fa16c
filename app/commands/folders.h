// Personal folders: "&create", "&rename selected" and "&delete selected"
// (and their pop-up twins, and a click on the "mail folders" header). A
// personal folder is a directory of the data directory named like an
// identifier, listed in "folders.lst"; it follows "in", "out", "sent" and
// "bin" in the mail folder pane.
#pragma once

#include <QObject>
#include <QString>

#include <string>
#include <string_view>
#include <vector>

class MainHost;

inline constexpr const char* kFolderNamePrompt = "please enter a folder name";
inline constexpr const char* kInvalidFolderName = "invalid folder name";
inline constexpr const char* kCouldNotRename = "sorry, couldn't rename folder";
inline constexpr const char* kCouldNotDelete = "sorry, couldn't delete folder";
inline constexpr const char* kDeleteFolderQuestion = "delete this folder?";
inline constexpr const char* kFolderListFile = "folders.lst";
// The first position of a personal folder in the mail folder pane.
inline constexpr int kFirstPersonalRow = 4;

namespace folders {

// A letter or "_" first, then letters, digits or "_".
bool validFolderName(std::string_view name);
// Makes the folder's directory: 0, or the error code (EEXIST also when a
// file or folder of that name exists in another case).
int createFolderDirectory(const std::string& dataDir, const std::string& name);
// Renames a folder's directory, never over anything that exists under the
// new name in any case (renaming to another case of the same name is fine).
bool renameFolderDirectory(const std::string& dataDir, const std::string& from, const std::string& to);
// Writes the names, one per line, through a temporary file put in place
// in one step. False when it could not be written (the old file stays).
bool writeFolderList(const std::string& dataDir, const std::vector<std::string>& names);

}  // namespace folders

class FolderCommands : public QObject {
    Q_OBJECT
public:
    FolderCommands(MainHost& host, QObject* parent = nullptr);

    void create1Click();
    void renameselected1Click();
    void deleteselected1Click();

private:
    bool askName(std::string& name);
    // The selected personal folder's name, or empty for a standard folder
    // or a newsgroup.
    std::string selectedPersonalFolder() const;
    void information(const QString& text);

    MainHost& m_host;
};
