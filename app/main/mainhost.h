// What the other windows and the command families may do with the main
// window. They get this interface, never the window itself, so the main
// window's insides can change without touching them.
#pragma once

#include <QString>

#include <functional>
#include <string>
#include <vector>

class QWidget;
class Tenterstringform;
class Tqueryform;
class VirtualList;

namespace omail {
struct GeneralSettings;
struct FolderOptions;
}  // namespace omail

namespace transfer {
class Transfers;
}

class MainHost {
public:
    virtual ~MainHost() = default;

    // The parent for dialogs and boxes.
    virtual QWidget* window() = 0;
    virtual const std::string& dataDirectory() const = 0;
    virtual const omail::GeneralSettings& settings() const = 0;
    virtual const omail::FolderOptions& folderOptions() const = 0;
    virtual transfer::Transfers& transfers() = 0;

    // The shown folder's directory, ending in "/"; empty for a newsgroup
    // without a folder.
    virtual std::string folderPath() = 0;
    // Whether a mail folder (not a newsgroup) is shown, and its position in
    // the mail folder pane (-1 for a newsgroup).
    virtual bool mailFolderShown() const = 0;
    virtual int mailFolderRow() const = 0;
    // The shown mail folder's or newsgroup's name.
    virtual QString shownFolderName() const = 0;
    // Personal folder names in their sorted order.
    virtual std::vector<std::string> personalFolders() const = 0;
    // Replaces the personal folder names (kept sorted) and refills the mail
    // folder pane; "folders.lst" is the caller's to write.
    virtual void setPersonalFolders(const std::vector<std::string>& names) = 0;
    // Shows the mail folder or newsgroup at a pane position (clearing the
    // other pane's selection) and reloads the list.
    virtual void selectMailFolder(int row) = 0;
    virtual void selectNewsgroup(int row) = 0;
    virtual int newsgroupCount() const = 0;
    virtual void focusMailFolders() = 0;

    // Re-reads the shown folder and redraws the list.
    virtual void reloadList() = 0;
    // Redraws after a status change, re-sorting when sorting by status.
    virtual void statusRefresh() = 0;
    // The current item's body file; a multi-selection shrinks to it first.
    virtual std::string currentBodyPath() = 0;
    virtual void rebuildMailFolders() = 0;
    virtual void reloadNewsgroups() = 0;
    // A text in the status bar, drawn at once.
    virtual void showStatusText(const QString& text) = 0;

    // The message list and its run state.
    virtual VirtualList& messageList() = 0;
    virtual int currentItem() const = 0;
    virtual void setCurrentItem(int row) = 0;
    virtual int itemCount() const = 0;
    virtual int sortType() const = 0;
    // Makes a row the current item (focused in the list) and returns its
    // body path; empty for a row outside the folder.
    virtual std::string bodyPathOfRow(int row) = 0;
    // After viewing: the current item selected alone and focused, the
    // caption showing its position.
    virtual void showViewedItem() = 0;

    // Opening a news item whose body is missing: marks the row "S" and
    // fetches its body; the viewer set here is then called with the row.
    // False when nothing was requested.
    virtual bool fetchNewsBodyForViewing(int row) = 0;
    virtual void setNewsViewer(std::function<void(int row)> viewer) = 0;

    // The shared prompts: one-line entry and yes/no question.
    virtual Tenterstringform& entryPrompt() = 0;
    virtual Tqueryform& questionPrompt() = 0;
};
