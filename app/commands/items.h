// Commands on the items of the shown folder: moving to a personal folder,
// deleting into "bin" (for good inside "bin"), highlighting, and expiring
// the folder or every newsgroup. Each refuses to run under a transfer
// (highlighting excepted) or while the outbox is being delivered, so a
// folder never changes under a running transfer.
#pragma once

#include <QObject>

#include <functional>
#include <string>

class MainHost;
class Tmoveform;
class Texpireform;

inline constexpr const char* kMoveCaption = "move";
inline constexpr const char* kSameFolder = "source and destination are the same";
inline constexpr const char* kDeleteAllQuestion = "delete all items?";

class ItemCommands : public QObject {
    Q_OBJECT
public:
    ItemCommands(MainHost& host, QWidget* dialogParent);

    void moveselecteditemstofolder1Click();
    void moveallitemstofolder1Click();
    void deleteselecteditems1Click();
    void deleteallitems1Click();
    void highlightselecteditems1Click() { setHighlight(true); }
    void unhighlightselecteditems1Click() { setHighlight(false); }
    void expireselectedfolderorgroup1Click();
    void expireallnewsgroups1Click();

    // The item header dialog: shows the file in a mode (0 view header,
    // 1 edit header, 3 edit body) and returns 1 when it saved the file.
    using HeaderDialog = std::function<int(int mode, const std::string& path)>;
    void setHeaderDialog(HeaderDialog dialog) { m_headerDialog = std::move(dialog); }
    bool hasHeaderDialog() const { return bool(m_headerDialog); }
    void selecteditemheader1Click();
    void editselecteditemheaderinoutbox1Click();
    void editselecteditembodyinoutbox1Click();
    // After the header of an outbox item was edited: its record is built
    // again from the header, at the end of the list, with its old status.
    void refileOutboxItem(const std::string& bodyPath);

    Tmoveform& moveForm() { return *m_moveform; }
    Texpireform& expireForm() { return *m_expireform; }

private:
    bool idle() const;
    bool wastebasketShown() const;
    std::string wastebasket() const;
    // The picked personal folder's path, or empty when none was picked.
    std::string pickFolder();
    // Moves the selected rows to the destination; an empty one deletes them.
    void moveSelected(const std::string& destination);
    void moveAll(const std::string& destination);
    void setHighlight(bool on);

    MainHost& m_host;
    Tmoveform* m_moveform;
    Texpireform* m_expireform;
    HeaderDialog m_headerDialog;
};
