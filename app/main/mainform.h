// The main window: toolbar, message list, mail folder and newsgroup panes,
// status bar and menus. It takes the data-directory lock when it is created
// and gives it back when it closes.
#pragma once

#include "main/settings.h"

#include <QMainWindow>
#include <QString>

#include <string>

class QAbstractTableModel;
class QAction;
class QListWidget;
class QMenu;
class QPushButton;
class QSplitter;
class QTableView;
class QTimer;
class QToolBar;
class QToolButton;
class Tgen;

inline constexpr const char* kAppCaption = "orrindel mail";
inline constexpr const char* kOneInstanceText = "only one instance of orrindel mail per directory may be running";
inline constexpr int kDesignedWidth = 640;
inline constexpr int kDesignedHeight = 420;
inline constexpr int kDesignedListHeight = 200;
inline constexpr int kAutoRetrieveTick = 10000;  // ms

class Tmainform : public QMainWindow {
    Q_OBJECT
public:
    // The current directory is the data directory.
    explicit Tmainform(QWidget* parent = nullptr);
    ~Tmainform() override;

    // True when another instance holds the lock; the program then ends.
    bool lockFailed() const { return m_lockFailed; }
    const std::string& dataDirectory() const { return m_dataDir; }
    const omail::IniFile& ini() const { return m_ini; }

    // Colours and font of the lists, from the settings.
    void applySettings(const Tgen& gen);
    // Refills the mail folder list: the four standard folders, then the
    // personal folders in sorted order.
    void rebuildMailFolders();

    // Run state shared with the transfers and commands.
    int transferState = 0;     // 0 idle, 1 mail, 2 news, 3 sending
    bool deliveryFlag = false;
    int currentItem = -1;
    int itemCount = -1;
    int sortType = 7;          // date
    std::string retrievalPassword;
    std::string storedPasswordCopy;
    int findMode = -1;
    bool firstShow = true;

    // Controls, named as the rest of the program refers to them.
    QToolBar* Panel1 = nullptr;
    QTableView* databox = nullptr;
    QSplitter* Panel3 = nullptr;
    QSplitter* Panel5 = nullptr;
    QPushButton* mailheader = nullptr;
    QPushButton* newsheader = nullptr;
    QListWidget* mailbox = nullptr;
    QListWidget* newsbox = nullptr;
    QListWidget* folderbox = nullptr;  // hidden, sorted personal folder names
    QTimer* Timer1 = nullptr;

signals:
    void firstShown();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolbar();
    void buildMenus();
    void buildPanes();
    void restoreGeometry();
    void loadNameList(const char* file, QListWidget* list);
    QAction* addEntry(QMenu* menu, const char* caption, const char* name);
    QToolButton* addButton(const char* name, const char* hint, int icon);

    bool m_lockFailed = false;
    bool m_closed = false;
    int m_listHeight = kDesignedListHeight;
    std::string m_dataDir;
    omail::IniFile m_ini;
    QAbstractTableModel* m_model = nullptr;
    QMenu* m_compop = nullptr;
    QMenu* m_delretpop = nullptr;
    QMenu* m_popupsettings = nullptr;
    QMenu* m_popupfolders = nullptr;
};

// The main window and the settings, created once and read by every window.
extern Tmainform* mainform;
extern Tgen* gen;
