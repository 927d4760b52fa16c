// The main window: toolbar, message list, mail folder and newsgroup panes,
// status bar and menus. It takes the data-directory lock when it is created
// and gives it back when it closes. The transfers run through the transfer
// machinery it owns; the window shows what they report.
#pragma once

#include "main/messagelist.h"
#include "settings/settings.h"
#include "transfer/transfer.h"

#include <QMainWindow>
#include <QString>

#include <string>

class QAction;
class QListWidget;
class QMenu;
class QPushButton;
class QSplitter;
class QTimer;
class QToolBar;
class QToolButton;
class Tenterstringform;
class Tgen;
class Tqueryform;
class VirtualList;

inline constexpr const char* kAppCaption = "orrindel mail";
inline constexpr const char* kOneInstanceText = "only one instance of orrindel mail per directory may be running";
inline constexpr int kDesignedWidth = 640;
inline constexpr int kDesignedHeight = 420;
inline constexpr int kDesignedListHeight = 200;
inline constexpr int kAutoRetrieveTick = 10000;  // ms

// Standard mail folder positions in the folder pane.
inline constexpr int kInboxRow = 0;
inline constexpr int kOutboxRow = 1;
inline constexpr int kWastebasketRow = 3;

// Sort types: the list record line used as the key.
inline constexpr int kSortByStatus = 2;
inline constexpr int kSortByDate = 7;
inline constexpr int kStartSortedColumn = 4;

class Tmainform : public QMainWindow, private transfer::Host {
    Q_OBJECT

    // Declared first: the run-state references below point into it.
    std::string m_dataDir;
    omail::IniFile m_ini;
    transfer::Transfers m_transfers;

public:
    // The current directory is the data directory.
    explicit Tmainform(QWidget* parent = nullptr);
    ~Tmainform() override;

    // True when another instance holds the lock; the program then ends.
    bool lockFailed() const { return m_lockFailed; }
    const std::string& dataDirectory() const { return m_dataDir; }
    const omail::IniFile& ini() const { return m_ini; }
    transfer::Transfers& transfers() { return m_transfers; }

    // Colours and font of the lists, from the settings.
    void applySettings(const Tgen& gen);
    // Refills the mail folder list: the four standard folders, then the
    // personal folders in sorted order; the selected position stays.
    void rebuildMailFolders();
    // Replaces the newsgroup list by "subscr.lst" and reloads, when it exists.
    void reloadNewsgroups();

    // The shown folder's directory, ending in "/"; empty for a newsgroup
    // that has no folder.
    std::string folderPath();
    // Re-reads the shown folder (sorting it first when its index is
    // missing) and redraws the list.
    void reloadList();
    // Redraws after a status change, re-sorting when sorting by status.
    void statusRefresh();
    // Deletes a folder's index files so that its next display re-sorts.
    static void dropIndices(const std::string& folder);
    // The current item's body file; a multi-selection shrinks to the
    // current item first. Empty when there is no current item.
    std::string currentBodyPath();
    // Disables both folder panes and hides the sorted column, and back.
    void lockForTransfer() override;
    void unlockAfterTransfer() override;
    // Turns pending body selections ("S") of the shown folder back into "O"
    // after a cancelled body retrieval.
    void clearPendingSelections();
    // Whether a mail folder (not a newsgroup) is shown.
    bool mailFolderShown() const;
    // The menu or pop-up entry of that object name.
    QAction* action(const char* name) const;

    // Run state shared with the transfers and commands.
    int& transferState = m_transfers.transferState;  // 0 idle, 1 mail, 2 news, 3 sending
    bool& deliveryFlag = m_transfers.deliveryFlag;
    std::string& retrievalPassword = m_transfers.retrievalPassword;
    std::string& storedPasswordCopy = m_transfers.storedPasswordCopy;
    int currentItem = -1;
    int itemCount = -1;
    int sortType = kSortByDate;
    int findMode = -1;
    bool firstShow = true;
    // Set by the news retrieval while a body retrieval for viewing waits or runs.
    bool bodyRetrievalPending = false;
    bool bodyRetrievalRunning = false;

    // Controls, named as the rest of the program refers to them.
    QToolBar* Panel1 = nullptr;
    VirtualList* databox = nullptr;
    QSplitter* Panel3 = nullptr;
    QSplitter* Panel5 = nullptr;
    QPushButton* mailheader = nullptr;
    QPushButton* newsheader = nullptr;
    QListWidget* mailbox = nullptr;
    QListWidget* newsbox = nullptr;
    QListWidget* folderbox = nullptr;  // hidden, sorted personal folder names
    QTimer* Timer1 = nullptr;
    QMenu* compop = nullptr;
    QMenu* delretpop = nullptr;
    QMenu* popupsettings = nullptr;
    QMenu* popupfolders = nullptr;
    QMenu* mailbpopup = nullptr;
    QMenu* newspop = nullptr;
    QMenu* datapop = nullptr;
    Tenterstringform* enterstringform = nullptr;
    Tqueryform* queryform = nullptr;
    MessageListModel* listModel() const { return m_model; }

public slots:
    void emailmessages1Click();
    void retrieveemailmessages1Click() { emailmessages1Click(); }
    void retriveemailmessages1Click() { emailmessages1Click(); }
    void cancelbtnClick();
    void canceldeliveryorretrieve1Click() { cancelbtnClick(); }
    void selectall1Click();
    void sortbystatus1Click();
    void Timer1Timer();

signals:
    void firstShown();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // transfer::Host
    void showStatus(const std::string& text) override;
    void information(const std::string& text) override;
    bool askPassword(std::string_view caption, std::string& text) override;
    void setDefaultCursor() override;
    void mailRetrievalEnded() override;
    std::vector<std::string> personalFolders() const override;
    const omail::GeneralSettings& settings() const override;
    const omail::FolderOptions& folderOptions() const override;

    void buildToolbar();
    void buildMenus();
    void buildPopups();
    void buildPanes();
    void connectList();
    void restoreGeometry();
    void loadNameList(const char* file, QListWidget* list);
    QAction* addEntry(QMenu* menu, const char* caption, const char* name);
    QAction* addTwin(QMenu* menu, const char* caption, const char* mainName);
    QToolButton* addButton(const char* name, const char* hint, int icon);
    void attachPopup(QWidget* widget, QMenu* menu);

    void mailFolderChosen(int row);
    void newsgroupChosen(int row);
    void onSortedColumnChanged(int column);
    void onListClicked();
    void onListKeyDown(int key);
    void onListKeyPressed(const QString& text);
    void setPositionCaption();
    void showStatusNow(const QString& text);
    bool closingAllowed();

    bool m_lockFailed = false;
    bool m_closed = false;
    bool m_listReady = false;   // the first show fills the list
    bool m_switchingFolder = false;
    int m_listHeight = kDesignedListHeight;
    int m_savedSortedColumn = kStartSortedColumn;
    std::string m_listPath;
    std::string m_indexPath;
    std::string m_countPath;
    MessageListModel* m_model = nullptr;
};

// The main window and the settings, created once and read by every window.
extern Tmainform* mainform;
extern Tgen* gen;
