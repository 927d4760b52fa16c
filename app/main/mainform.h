// The main window: toolbar, message list, mail folder and newsgroup panes,
// status bar and menus. It takes the data-directory lock when it is created
// and gives it back when it closes. The transfers run through the transfer
// machinery it owns; the window shows what they report. Command families
// (find, personal folders, item commands) get the MainHost side of
// it and the actions they serve.
//
// The code is split by what it builds: menus.cpp (menus, pop-ups, toolbar
// from tables), panes.cpp (the folder panes), listview.cpp (the message
// list), mainform.cpp (life cycle and the transfers' host).
#pragma once

#include "main/actions.h"
#include "main/mainhost.h"
#include "main/messagelist.h"
#include "settings/settings.h"
#include "transfer/newsretrieval.h"
#include "transfer/transfer.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QSplitter;
class QTimer;
class QToolBar;
class QToolButton;
class ComposeCommands;
class FindCommands;
class ItemCommands;
class ViewCommands;
class Tenterstringform;
class Tgen;
class Tnewsgrpform;
class Tfoptsform;
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

class Tmainform : public QMainWindow, public MainHost, private transfer::Host, private transfer::NewsHost {
    Q_OBJECT

    // Declared first: the transfers need the data directory.
    std::string m_dataDir;
    omail::IniFile m_ini;
    transfer::Transfers m_transfers;
    transfer::NewsTransfers m_news{m_transfers, static_cast<transfer::NewsHost&>(*this)};

public:
    // The current directory is the data directory.
    explicit Tmainform(QWidget* parent = nullptr);
    ~Tmainform() override;

    // True when another instance holds the lock; the program then ends.
    bool lockFailed() const { return m_lockFailed; }
    const omail::IniFile& ini() const { return m_ini; }
    // The settings and folder options every window reads; without them
    // (tests) the built-in values are used.
    void useSettings(Tgen* settings, Tfoptsform* options);
    // Colours and font of the lists, from the settings.
    void applySettings(const Tgen& gen);
    const MainActions& actions() const { return m_actions; }
    // The compose, deliver and address book commands.
    ComposeCommands& composeCommands() { return *m_compose; }

    // MainHost
    QWidget* window() override { return this; }
    const std::string& dataDirectory() const override { return m_dataDir; }
    const omail::GeneralSettings& settings() const override;
    const omail::FolderOptions& folderOptions() const override;
    transfer::Transfers& transfers() override { return m_transfers; }
    std::string folderPath() override;
    bool mailFolderShown() const override;
    int mailFolderRow() const override;
    QString shownFolderName() const override;
    std::vector<std::string> personalFolders() const override;
    void setPersonalFolders(const std::vector<std::string>& names) override;
    void selectMailFolder(int row) override;
    void selectNewsgroup(int row) override;
    int newsgroupCount() const override;
    void focusMailFolders() override;
    void reloadList() override;
    void statusRefresh() override;
    std::string currentBodyPath() override;
    void rebuildMailFolders() override;
    void reloadNewsgroups() override;
    void showStatusText(const QString& text) override;
    VirtualList& messageList() override { return *databox; }
    int currentItem() const override { return m_currentItem; }
    void setCurrentItem(int row) override { m_currentItem = row; }
    int itemCount() const override { return m_itemCount; }
    int sortType() const override { return m_sortType; }
    std::string bodyPathOfRow(int row) override;
    void showViewedItem() override;
    bool fetchNewsBodyForViewing(int row) override { return m_news.requestBodyForViewing(row); }
    void setNewsViewer(std::function<void(int row)> viewer) override { m_newsViewer = std::move(viewer); }
    Tenterstringform& entryPrompt() override { return *enterstringform; }
    Tqueryform& questionPrompt() override { return *queryform; }

    // Deletes a folder's index files so that its next display re-sorts.
    static void dropIndices(const std::string& folder);
    // Disables both folder panes and hides the sorted column, and back.
    void lockForTransfer() override;
    void unlockAfterTransfer() override;
    // Turns pending body selections ("S") of the shown folder back into "O"
    // after a cancelled body retrieval.
    void clearPendingSelections();
    // The status bar's one text panel.
    QString statusText() const;

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
    QLabel* statuspanel = nullptr;
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
    ItemCommands* itemCommands() const { return m_items; }
    // The item header dialog (mode, file; 1 when it saved): "selected item
    // &header" and the outbox edits run through it once it is given.
    void useHeaderDialog(std::function<int(int mode, const std::string& path)> dialog);

public slots:
    void emailmessages1Click();
    void retrieveemailmessages1Click() { emailmessages1Click(); }
    void retriveemailmessages1Click() { emailmessages1Click(); }
    void cancelbtnClick();
    void canceldeliveryorretrieve1Click() { cancelbtnClick(); }
    void selectall1Click();
    void sortbystatus1Click();
    void Timer1Timer();
    // "&newsgroups": the newsgroup lists window, modal, not during a news transfer.
    void newsgroups1Click();

signals:
    void firstShown();
    void statusTextChanged(const QString& text);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // transfer::Host
    void showStatus(const std::string& text) override;
    void information(const std::string& text) override;
    bool question(const std::string& text) override;
    bool askPassword(std::string_view caption, std::string& text) override;
    void setDefaultCursor() override;
    void mailRetrievalEnded() override;
    // transfer::NewsHost (panes.cpp; newsgroupCount and selectNewsgroup
    // serve MainHost as well)
    std::string newsgroupName(int row) const override;
    int selectedNewsgroup() const override;
    int listSortType() const override { return m_sortType; }
    int listItemCount() const override { return m_itemCount; }
    int listCurrentRow() const override { return m_currentItem; }
    std::vector<int> listSelectedRows() const override;
    std::string shownFolder() override { return folderPath(); }
    void setBusyCursor(bool busy) override;
    void viewRetrievedItem(int row) override;
    void outboxChanged() override;

    // menus.cpp
    void buildToolbar();
    void buildMenus();
    void buildPopups();
    void bindCommands();
    void bindNewsCommands();
    void bindSettingsCommands();
    QToolButton* addButton(const char* name, const char* hint, int icon);
    // panes.cpp
    void buildPanes();
    void buildStatusBar();
    void connectPanes();
    void loadNameList(const char* file, QListWidget* list);
    void mailFolderChosen(int row);
    void newsgroupChosen(int row);
    // listview.cpp
    void connectList();
    void onSortedColumnChanged(int column);
    void onListClicked();
    void onListKeyDown(int key);
    void onListKeyPressed(const QString& text);
    void setPositionCaption();
    // mainform.cpp
    void restoreGeometry();
    bool closingAllowed();

    MainActions m_actions;
    Tgen* m_settings = nullptr;
    Tfoptsform* m_folderOptions = nullptr;
    FindCommands* m_find = nullptr;
    ViewCommands* m_view = nullptr;
    std::function<void(int row)> m_newsViewer;
    Tnewsgrpform* m_newsgroups = nullptr;  // made on first use
    ItemCommands* m_items = nullptr;
    ComposeCommands* m_compose = nullptr;
    int m_currentItem = -1;
    int m_itemCount = -1;
    int m_sortType = kSortByDate;
    bool m_firstShow = true;
    bool m_lockFailed = false;
    bool m_closed = false;
    bool m_listReady = false;   // the first show fills the list
    bool m_switchingFolder = false;
    int m_listHeight = kDesignedListHeight;
    int m_savedSortedColumn = kStartSortedColumn;
    std::string m_listPath;
    std::string m_indexPath;
    std::string m_countPath;
    std::string m_recoveryReport;
    MessageListModel* m_model = nullptr;
};
