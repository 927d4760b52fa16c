// The newsgroup lists window: the groups new since the last update, the
// subscribed groups and all active groups of the news server (a virtual
// list over "GROUP.IDX" and "GROUP.LST" that reads only the rows drawn);
// fetching and updating the active list, finding in it, subscribing and
// unsubscribing. Opened modally by the main window; its result is 1 when
// the subscriptions changed while it was shown, else 2.
#pragma once

#include "news/grouplist.h"
#include "settings/settings.h"

#include <QAbstractListModel>
#include <QDialog>
#include <QListView>

#include <memory>

class MainHost;
class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QSplitter;
class QStatusBar;
class QToolBar;

inline constexpr const char* kNewsgroupsCaption = "newsgroups - orrindel mail";

// Rows of the active list, read through the index when drawn; one empty
// row when the list holds nothing.
class ActiveGroupsModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ActiveGroupsModel(const news::GroupList& list, QObject* parent = nullptr)
        : QAbstractListModel(parent), m_list(list) {}
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    void reset();

private:
    const news::GroupList& m_list;
};

// The active list: letters typed in it are the window's commands.
class ActiveGroupsView : public QListView {
    Q_OBJECT
public:
    using QListView::QListView;
    void keyboardSearch(const QString&) override {}

signals:
    void keyTyped(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class Tnewsgrpform : public QDialog, private news::GroupListHost {
    Q_OBJECT
public:
    // generalSettings runs the main window's "&general" command.
    Tnewsgrpform(MainHost& host, const omail::IniFile& ini, QAction* generalSettings, QWidget* parent = nullptr);
    ~Tnewsgrpform() override;

    // Shows the window modally; 1 when subscriptions changed, else 2.
    int run();

    const news::GroupList& groups() const { return *m_groups; }
    int currentActiveRow() const { return m_currentRow; }
    bool changed() const { return m_changed; }

    QListWidget* newbox = nullptr;
    QListWidget* subbox = nullptr;
    ActiveGroupsView* activebox = nullptr;
    QSplitter* splitter = nullptr;
    QToolBar* toolbar = nullptr;
    QStatusBar* statusbar = nullptr;
    QLabel* statuspanel = nullptr;
    QMenu* newspop = nullptr;

public slots:
    void retrieveactivenewsgrouplist1Click();
    void updateactivenewsgrouplist1Click();
    void addselectednewsgrouptosubscribedlist1Click();
    void addanewsgrouptosubscribedlist1Click();
    void removeselectednewsgroupfromsubscribedlist1Click();
    void findinactivenewsgroups1Click();
    void findagain1Click();
    void cancelupdateorretrieve1Click();
    void exitnewsgroups1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    // news::GroupListHost
    void showStatus(const std::string& text) override;
    void information(const std::string& text) override;
    void setBusy(bool busy) override;
    void listsFiled(bool newGroups) override;

    void buildMenus(QAction* generalSettings);
    void buildLists();
    void startTransfer(news::ListTransfer kind, const char* question);
    bool subscriptionsLocked() const;
    // Subscribes one name; false when the user was told it could not be.
    void subscribe(std::string name);
    void reloadSubscribed();
    void loadList(std::string_view file, QListWidget* list);
    void search();
    void onActiveKey(const QString& text);
    void onActiveRowChanged(const QModelIndex& current);
    void applySettings();

    MainHost& m_host;
    omail::IniFile m_ini;
    std::unique_ptr<news::GroupList> m_groups;
    ActiveGroupsModel* m_model = nullptr;
    int m_currentRow = -1;
    QString m_findText;
    bool m_changed = false;
    bool m_busy = false;
};
