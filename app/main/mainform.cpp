#include "main/mainform.h"

#include "settings/gen.h"
#include "main/prompts.h"
#include "platform/fsys.h"
#include "store/torvakit.h"
#include "ui/dialogs.h"
#include "ui/virtuallist.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <fstream>

Tmainform* mainform = nullptr;
Tgen* gen = nullptr;

namespace {

const char* const kStandardFolders[] = {"in", "out", "sent", "bin"};
constexpr int kColumnWidths[kListColumns] = {100, 100, 280, 80, 29};
constexpr int kBarHeight = 20;
constexpr int kRowPadding = 4;
constexpr const char* kSorting = "sorting...";
constexpr const char* kReady = "ready";
constexpr int kMailKind = 2;
constexpr const char* kSubscriptionFile = "subscr.dat";
constexpr int kNewsKind = 1;

// Sort type of each sorted column (1 to 5).
constexpr int kSortTypeOfColumn[kListColumns] = {3, 4, 5, 7, 8};

// Settings used when the program runs without its settings windows (tests).
const omail::GeneralSettings& defaultSettings() {
    static const omail::GeneralSettings settings;
    return settings;
}
const omail::FolderOptions& defaultFolderOptions() {
    static const omail::FolderOptions options;
    return options;
}

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

Tmainform::Tmainform(QWidget* parent)
    : QMainWindow(parent), m_dataDir(platform::currentDirectory()), m_ini(m_dataDir), m_transfers(*this, m_dataDir) {
    mainform = this;
    setObjectName("mainform");
    setWindowTitle(kAppCaption);

    buildToolbar();
    buildPanes();
    buildMenus();
    buildPopups();
    connectList();
    statusBar()->setObjectName("statusbar");
    statusBar()->setFixedHeight(kBarHeight);
    statusBar()->showMessage(kReady);
    enterstringform = new Tenterstringform(this);
    queryform = new Tqueryform(this);

    if (torvakit::ApplicationLock("FILE.LOK") == 1) {
        m_lockFailed = true;
        ui::informationBox(nullptr, kOneInstanceText);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return;
    }
    restoreGeometry();
    // Run state: nothing carries over between runs.
    retrievalPassword.clear();
    storedPasswordCopy.clear();
    m_transfers.timerSeconds = 0;
    m_transfers.timerMinutes = 0;
    m_transfers.automaticRun = false;
    transferState = transfer::kIdle;
    deliveryFlag = false;
    itemCount = -1;
    findMode = -1;
    torvakit::OpenWinsock();

    loadNameList("folders.lst", folderbox);
    rebuildMailFolders();
    loadNameList("subscr.lst", newsbox);
    mailbox->setCurrentRow(kInboxRow);
    sortType = kSortByDate;
    databox->setSortedColumn(kStartSortedColumn);
    firstShow = true;

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kAutoRetrieveTick);
    connect(Timer1, &QTimer::timeout, this, &Tmainform::Timer1Timer);
    Timer1->start();
}

Tmainform::~Tmainform() {
    if (mainform == this) mainform = nullptr;
}

// ---------------------------------------------------------------------------
// Building the window
// ---------------------------------------------------------------------------

QToolButton* Tmainform::addButton(const char* name, const char* hint, int icon) {
    auto* b = new QToolButton(Panel1);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setFixedSize(52, 42);
    b->setIconSize(QSize(24, 24));
    b->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
    b->setEnabled(false);  // enabled once its command exists
    Panel1->addWidget(b);
    return b;
}

void Tmainform::buildToolbar() {
    Panel1 = addToolBar("toolbar");
    Panel1->setObjectName("Panel1");
    Panel1->setMovable(false);
    Panel1->setFixedHeight(56);
    QToolButton* cancel = addButton("cancelbtn", "cancel deliver or retrieve", QStyle::SP_BrowserStop);
    cancel->setEnabled(true);
    connect(cancel, &QToolButton::clicked, this, &Tmainform::cancelbtnClick);
    addButton("printbtn", "print selected item", QStyle::SP_FileDialogDetailedView);
    addButton("saveasbtn", "save selected item as...", QStyle::SP_DialogSaveButton);
    addButton("compbtn", "compose", QStyle::SP_FileIcon);
    addButton("delretrbtn", "deliver and retrieve", QStyle::SP_BrowserReload);
    addButton("settingsbtn", "settings", QStyle::SP_FileDialogListView);
    addButton("foldersbtn", "personal folders", QStyle::SP_DirIcon);
    addButton("helpbtn", "help", QStyle::SP_DialogHelpButton);
    QToolButton* exitbtn = addButton("exitbtn", "exit orrindel mail", QStyle::SP_DialogCloseButton);
    exitbtn->setEnabled(true);
    connect(exitbtn, &QToolButton::clicked, this, &QWidget::close);

    folderbox = new QListWidget(this);
    folderbox->setObjectName("folderbox");
    folderbox->setSortingEnabled(true);
    folderbox->hide();
}

void Tmainform::buildPanes() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    Panel3 = new QSplitter(Qt::Vertical, central);
    Panel3->setObjectName("Panel3");
    Panel3->setHandleWidth(5);
    Panel3->setChildrenCollapsible(false);

    databox = new VirtualList(Panel3);
    databox->setObjectName("databox");
    m_model = new MessageListModel(databox);
    databox->setModel(m_model);
    m_model->setSelectionTest([this](int row) { return databox->isRowSelected(row); });
    databox->horizontalHeader()->setFixedHeight(kBarHeight);
    for (int c = 0; c < kListColumns; ++c) databox->setColumnWidth(c, kColumnWidths[c]);
    databox->setRowHeight(QFontMetrics(databox->font()).height() + kRowPadding);

    Panel5 = new QSplitter(Qt::Horizontal, Panel3);
    Panel5->setObjectName("Panel5");
    Panel5->setHandleWidth(5);
    auto makePane = [this](const char* title, const char* hint, const char* name, QPushButton*& header,
                           QListWidget*& list) {
        auto* pane = new QWidget(Panel5);
        auto* v = new QVBoxLayout(pane);
        v->setContentsMargins(0, 0, 0, 0);
        v->setSpacing(0);
        header = new QPushButton(title, pane);
        header->setToolTip(hint);
        header->setFixedHeight(kBarHeight);
        list = new QListWidget(pane);
        list->setObjectName(name);
        v->addWidget(header);
        v->addWidget(list);
        return pane;
    };
    QWidget* left = makePane("mail folders", "create personal folder", "mailbox", mailheader, mailbox);
    makePane("newsgroups", "newsgroups settings", "newsbox", newsheader, newsbox);
    left->setMinimumWidth(60);
    Panel5->setSizes({104, 400});
    newsbox->setSortingEnabled(true);

    Panel3->setSizes({kDesignedListHeight, kDesignedHeight - kDesignedListHeight});
    layout->addWidget(Panel3);
    setCentralWidget(central);
}

QAction* Tmainform::addEntry(QMenu* menu, const char* caption, const char* name) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    a->setEnabled(false);  // enabled once its command exists
    return a;
}

QAction* Tmainform::action(const char* name) const { return findChild<QAction*>(QString::fromLatin1(name)); }

void Tmainform::buildMenus() {
    QMenu* m = menuBar()->addMenu("&orrindel mail");
    m->setObjectName("orrindelmail1");
    QAction* selectAll = addEntry(m, "&select all", "selectall1");
    selectAll->setEnabled(true);
    connect(selectAll, &QAction::triggered, this, &Tmainform::selectall1Click);
    m->addSeparator();
    addEntry(m, "&move selected items to folder", "moveselecteditemstofolder1");
    addEntry(m, "m&ove all items to folder", "moveallitemstofolder1");
    addEntry(m, "&delete selected items", "deleteselecteditems1");
    addEntry(m, "d&elete all items", "deleteallitems1");
    m->addSeparator();
    addEntry(m, "&highlight selected items", "highlightselecteditems1");
    addEntry(m, "&unhighlight selected items", "unhighlightselecteditems1");
    m->addSeparator();
    addEntry(m, "&find in subject", "findinsubject1");
    addEntry(m, "find &author", "findauthor1");
    addEntry(m, "find a&gain", "findagain1");
    m->addSeparator();
    addEntry(m, "e&xpire selected folder or group", "expireselectedfolderorgroup1");
    addEntry(m, "ex&pire all newsgroups", "expireallnewsgroups1");
    m->addSeparator();
    QAction* cancel = addEntry(m, "&cancel deliver or retrieve", "canceldeliverorretrieve1");
    cancel->setEnabled(true);
    connect(cancel, &QAction::triggered, this, &Tmainform::canceldeliveryorretrieve1Click);
    QAction* exit = addEntry(m, "&exit orrindel mail", "exitorrindelmail1");
    exit->setEnabled(true);
    connect(exit, &QAction::triggered, this, &QWidget::close);

    m = menuBar()->addMenu("&view");
    m->setObjectName("view1");
    addEntry(m, "&selected &item", "selecteditem1");
    addEntry(m, "selected item &header", "selecteditemheader1");
    addEntry(m, "&launch selected item", "launchselecteditem1");
    addEntry(m, "view decode lo&g", "viewdecodelog1");
    addEntry(m, "&print selected item", "printselecteditem1");
    addEntry(m, "&save selected item as...", "saveselecteditemas1");

    m = menuBar()->addMenu("&compose");
    m->setObjectName("compose1");
    addEntry(m, "new &email message", "newemailmessage1");
    addEntry(m, "&reply to selected item via email", "replytoselecteditemviaemail1");
    addEntry(m, "new &news article", "newnewsarticle1");
    addEntry(m, "&follow up selected item via usenet", "followupselecteditemviausenet1");
    addEntry(m, "&forward selected item", "forwardselecteditem1");
    addEntry(m, "&recompose selected item", "recomposeselecteditem1");
    addEntry(m, "e&dit selected item header in outbox", "editselecteditemheaderinoutbox1");
    addEntry(m, "ed&it selected item body in outbox", "editselecteditembodyinoutbox1");

    m = menuBar()->addMenu("&deliver");
    m->setObjectName("deliver1");
    addEntry(m, "send &email messages in outbox", "sendemailmessagesinoutbox1");
    addEntry(m, "post &news articles in outbox", "postnewsarticlesinoutbox1");
    addEntry(m, "&deliver all items in outbox", "deliverallitemsinoutbox1");

    m = menuBar()->addMenu("&retrieve");
    m->setObjectName("retrieve1");
    QAction* retrieve = addEntry(m, "&email messages", "retrieveemailmessages1");
    retrieve->setEnabled(true);
    connect(retrieve, &QAction::triggered, this, &Tmainform::emailmessages1Click);
    addEntry(m, "&news article headers and bodies in selected group", "newsarticleheadersandbodies1");
    addEntry(m, "n&ews article headers in selected group", "newsarticleheaders1");
    addEntry(m, "&selected news article bodies in selected group", "selectednewsarticlebodies1");
    addEntry(m, "&highlighted news article bodies in selected group", "highlightednewsarticlebodies1");
    addEntry(m, "news article headers and bodies in s&ubscribed groups", "headersandbodiessubscribed1");
    addEntry(m, "news article headers in su&bscribed groups", "headerssubscribed1");
    addEntry(m, "h&ighlighted news article bodies in subscribed groups", "highlightedbodiessubscribed1");

    m = menuBar()->addMenu("&settings");
    m->setObjectName("settings1");
    addEntry(m, "&general", "general1");
    addEntry(m, "&address book", "addressbook1");
    addEntry(m, "&newsgroups", "newsgroups1");
    QMenu* folders = m->addMenu("personal &folders");
    folders->setObjectName("personalfolders1");
    addEntry(folders, "&create", "create1");
    addEntry(folders, "&rename selected", "renameselected1");
    addEntry(folders, "&delete selected", "deleteselected1");
    addEntry(folders, "&options", "options1");
    m->addSeparator();
    QAction* toolbar = m->addAction("&toolbar");
    toolbar->setObjectName("toolbar1");
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    connect(toolbar, &QAction::toggled, Panel1, &QWidget::setVisible);
    QAction* status = m->addAction("&status bar");
    status->setObjectName("statusbar1");
    status->setCheckable(true);
    status->setChecked(true);
    connect(status, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    QAction* byStatus = addEntry(m, "s&ort by status", "sortbystatus1");
    byStatus->setCheckable(true);
    byStatus->setEnabled(true);
    connect(byStatus, &QAction::triggered, this, &Tmainform::sortbystatus1Click);

    m = menuBar()->addMenu("&help");
    m->setObjectName("help1");
    addEntry(m, "orrindel &mail", "orrindelmailhelp1");
    QAction* about = addEntry(m, "&about orrindel mail", "aboutorrindelmail1");
    about->setEnabled(true);
    connect(about, &QAction::triggered, this, [this] {
        ui::informationBox(this, "orrindel mail\nmail and news for people who live in them");
    });
}

QAction* Tmainform::addTwin(QMenu* menu, const char* caption, const char* mainName) {
    QAction* main = action(mainName);
    QAction* twin = menu->addAction(caption);
    twin->setObjectName(menu->objectName() + "_" + mainName);
    // The pop-up entry runs its main-menu twin and follows its enabled state,
    // so a command is wired once, on the main menu.
    twin->setEnabled(main->isEnabled());
    connect(main, &QAction::changed, twin, [twin, main] { twin->setEnabled(main->isEnabled()); });
    connect(twin, &QAction::triggered, main, &QAction::trigger);
    return twin;
}

void Tmainform::attachPopup(QWidget* widget, QMenu* menu) {
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(widget, &QWidget::customContextMenuRequested, this, [widget, menu](const QPoint& pos) {
        menu->popup(widget->mapToGlobal(pos));
    });
}

void Tmainform::buildPopups() {
    auto makeMenu = [this](const char* name) {
        auto* menu = new QMenu(this);
        menu->setObjectName(name);
        return menu;
    };
    compop = makeMenu("compop");
    addTwin(compop, "new email message", "newemailmessage1");
    addTwin(compop, "reply via email", "replytoselecteditemviaemail1");
    addTwin(compop, "new news article", "newnewsarticle1");
    addTwin(compop, "follow up via usenet", "followupselecteditemviausenet1");
    addTwin(compop, "forward", "forwardselecteditem1");
    addTwin(compop, "recompose", "recomposeselecteditem1");

    delretpop = makeMenu("delretpop");
    addTwin(delretpop, "send email messages in outbox", "sendemailmessagesinoutbox1");
    addTwin(delretpop, "post news articles in outbox", "postnewsarticlesinoutbox1");
    addTwin(delretpop, "deliver all in outbox", "deliverallitemsinoutbox1");
    addTwin(delretpop, "retrieve email messages", "retrieveemailmessages1");

    popupsettings = makeMenu("popupsettings");
    addTwin(popupsettings, "general", "general1");
    addTwin(popupsettings, "address book", "addressbook1");
    addTwin(popupsettings, "newsgroups", "newsgroups1");

    popupfolders = makeMenu("popupfolders");
    addTwin(popupfolders, "create", "create1");
    addTwin(popupfolders, "rename selected", "renameselected1");
    addTwin(popupfolders, "delete selected", "deleteselected1");
    addTwin(popupfolders, "options", "options1");

    mailbpopup = makeMenu("mailbpopup");
    addTwin(mailbpopup, "create personal folder", "create1");
    addTwin(mailbpopup, "rename personal folder", "renameselected1");
    addTwin(mailbpopup, "delete personal folder", "deleteselected1");
    addTwin(mailbpopup, "personal folder options", "options1");
    addTwin(mailbpopup, "send email messages", "sendemailmessagesinoutbox1");
    addTwin(mailbpopup, "retrieve email messages", "retrieveemailmessages1");
    addTwin(mailbpopup, "post news articles", "postnewsarticlesinoutbox1");
    addTwin(mailbpopup, "deliver all", "deliverallitemsinoutbox1");

    newspop = makeMenu("newspop");
    addTwin(newspop, "retrieve headers and bodies", "newsarticleheadersandbodies1");
    addTwin(newspop, "retrieve headers", "newsarticleheaders1");
    addTwin(newspop, "retrieve selected bodies", "selectednewsarticlebodies1");
    addTwin(newspop, "retrieve highlighted bodies", "highlightednewsarticlebodies1");
    addTwin(newspop, "retrieve headers and bodies in subscribed groups", "headersandbodiessubscribed1");
    addTwin(newspop, "retrieve headers in subscribed groups", "headerssubscribed1");
    addTwin(newspop, "retrieve highlighted bodies in subscribed groups", "highlightedbodiessubscribed1");

    datapop = makeMenu("datapop");
    addTwin(datapop, "select all", "selectall1");
    addTwin(datapop, "move", "moveselecteditemstofolder1");
    addTwin(datapop, "delete", "deleteselecteditems1");
    addTwin(datapop, "highlight", "highlightselecteditems1");
    addTwin(datapop, "unhighlight", "unhighlightselecteditems1");
    addTwin(datapop, "expire", "expireselectedfolderorgroup1");
    addTwin(datapop, "expire news", "expireallnewsgroups1");
    addTwin(datapop, "view", "selecteditem1");
    addTwin(datapop, "launch", "launchselecteditem1");
    addTwin(datapop, "retrieve", "selectednewsarticlebodies1");

    // Toolbar buttons that open a pop-up menu.
    const std::pair<const char*, QMenu*> buttonMenus[] = {
        {"compbtn", compop}, {"delretrbtn", delretpop}, {"settingsbtn", popupsettings}, {"foldersbtn", popupfolders}};
    for (const auto& [name, menu] : buttonMenus) {
        auto* button = Panel1->findChild<QToolButton*>(name);
        button->setMenu(menu);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setEnabled(true);
    }
    attachPopup(mailbox, mailbpopup);
    attachPopup(newsbox, newspop);
    attachPopup(databox, datapop);
}

void Tmainform::connectList() {
    connect(mailbox, &QListWidget::currentRowChanged, this, &Tmainform::mailFolderChosen);
    connect(newsbox, &QListWidget::currentRowChanged, this, &Tmainform::newsgroupChosen);
    connect(mailbox, &QListWidget::itemDoubleClicked, this, [this] {
        if (mailbox->currentRow() == kInboxRow) emailmessages1Click();
        else if (mailbox->currentRow() == kOutboxRow) action("sendemailmessagesinoutbox1")->trigger();
    });
    connect(newsbox, &QListWidget::itemDoubleClicked, this, [this] { action("newsarticleheaders1")->trigger(); });
    connect(mailheader, &QPushButton::clicked, this, [this] { action("create1")->trigger(); });
    connect(newsheader, &QPushButton::clicked, this, [this] { action("newsgroups1")->trigger(); });
    connect(databox, &VirtualList::sortedColumnChanged, this, &Tmainform::onSortedColumnChanged);
    connect(databox, &QAbstractItemView::clicked, this, &Tmainform::onListClicked);
    connect(databox, &QAbstractItemView::doubleClicked, this, [this] {
        if (itemCount > 0) action("selecteditem1")->trigger();
    });
    connect(databox, &VirtualList::keyDown, this, &Tmainform::onListKeyDown);
    connect(databox, &VirtualList::keyPressed, this, &Tmainform::onListKeyPressed);
}

void Tmainform::restoreGeometry() {
    auto onError = [this](const std::string& text) { ui::informationBox(this, QString::fromStdString(text)); };
    omail::WindowGeometry g = omail::WindowGeometry::read(m_ini, 'm', 640, 480, onError);
    if (g.stored) {
        move(g.left, g.top);
        resize(g.width, g.height);
    } else {
        resize(kDesignedWidth, kDesignedHeight);
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect area = screen->availableGeometry();
            move(area.center() - QPoint(kDesignedWidth / 2, kDesignedHeight / 2));
        }
    }
    int listHeight = -1;
    try {
        listHeight = m_ini.readInteger("mdatah", -1);
    } catch (const omail::InvalidInteger& e) {
        onError(e.what());
    }
    if (listHeight != -1) m_listHeight = listHeight;
}

void Tmainform::loadNameList(const char* file, QListWidget* list) {
    std::string path = platform::resolvePath(file);
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) list->addItem(QString::fromLocal8Bit(line.data(), qsizetype(line.size())));
    }
}

void Tmainform::rebuildMailFolders() {
    int selected = mailbox->currentRow();
    m_switchingFolder = true;
    mailbox->setUpdatesEnabled(false);
    mailbox->clear();
    for (const char* name : kStandardFolders) mailbox->addItem(name);
    for (int i = 0; i < folderbox->count(); ++i) mailbox->addItem(folderbox->item(i)->text());
    if (selected >= 0 && selected < mailbox->count()) mailbox->setCurrentRow(selected);
    mailbox->setUpdatesEnabled(true);
    m_switchingFolder = false;
}

void Tmainform::reloadNewsgroups() {
    if (!platform::fileExists(platform::resolvePath("subscr.lst"))) return;
    m_switchingFolder = true;
    newsbox->clear();
    loadNameList("subscr.lst", newsbox);
    m_switchingFolder = false;
    reloadList();
}

void Tmainform::applySettings(const Tgen& settings) {
    QFont font = settings.settingsFont();
    QPalette pal;
    pal.setColor(QPalette::Base, colorFromSetting(settings.backcol));
    pal.setColor(QPalette::Text, colorFromSetting(settings.normcol));
    for (QWidget* w : {static_cast<QWidget*>(mailbox), static_cast<QWidget*>(newsbox),
                       static_cast<QWidget*>(databox)}) {
        w->setPalette(pal);
        w->setFont(font);
    }
    databox->setRowHeight(QFontMetrics(font).height() + kRowPadding);
    ListColours colours;
    colours.backcol = settings.backcol;
    colours.normcol = settings.normcol;
    colours.unredcol = settings.unredcol;
    colours.readcol = settings.readcol;
    colours.markcol = settings.markcol;
    colours.headcol = settings.headcol;
    colours.highcol = settings.highcol;
    colours.seltcol = settings.seltcol;
    m_model->setColours(colours);
}

// ---------------------------------------------------------------------------
// Folders and the message list
// ---------------------------------------------------------------------------

bool Tmainform::mailFolderShown() const {
    return mailbox->currentRow() >= 0 && mailbox->currentItem() && mailbox->currentItem()->isSelected();
}

void Tmainform::mailFolderChosen(int row) {
    if (m_switchingFolder || row < 0) return;
    m_switchingFolder = true;
    newsbox->setCurrentRow(-1);
    newsbox->clearSelection();
    m_switchingFolder = false;
    if (m_listReady) reloadList();
}

void Tmainform::newsgroupChosen(int row) {
    if (m_switchingFolder || row < 0) return;
    m_switchingFolder = true;
    mailbox->setCurrentRow(-1);
    mailbox->clearSelection();
    m_switchingFolder = false;
    if (m_listReady) reloadList();
}

std::string Tmainform::folderPath() {
    if (mailFolderShown()) return m_dataDir + "/" + mailbox->currentItem()->text().toStdString() + "/";
    bool groupShown = newsbox->currentRow() >= 0 && newsbox->currentItem() && newsbox->currentItem()->isSelected();
    if (!groupShown) {
        mailbox->setCurrentRow(kInboxRow);  // reloads through the selection change
        return m_dataDir + "/" + kStandardFolders[kInboxRow] + "/";
    }
    // A group missing from the subscription file has no folder: it shows an
    // empty list rather than some other folder's items.
    std::string home;
    if (torvakit::GetHomeDir(newsbox->currentItem()->text().toStdString(), m_dataDir + "/" + kSubscriptionFile, home) != 1 ||
        home.empty())
        return {};
    if (home.back() == '\\') home.back() = '/';
    return m_dataDir + "/" + home;
}

void Tmainform::showStatusNow(const QString& text) {
    statusBar()->showMessage(text);
    statusBar()->repaint();
}

void Tmainform::reloadList() {
    WaitCursor wait;
    m_model->setNewsTitles(!mailFolderShown() && newsbox->currentRow() >= 0);
    const std::string folder = folderPath();
    m_listPath = folder + std::string(transfer::kListName);
    m_countPath = folder + std::string(transfer::kCountName);
    m_indexPath = folder + "n" + std::to_string(sortType) + ".idx";
    uint32_t count = 0;
    if (!folder.empty()) {
        if (!platform::fileExists(platform::resolvePath(m_indexPath))) {
            showStatusNow(kSorting);
            torvakit::SortList(m_listPath, sortType);
            showStatusNow(kReady);
        }
        torvakit::GetFile(m_countPath, count);
    }
    itemCount = static_cast<int>(count);
    currentItem = -1;
    setWindowTitle(QString("%1 - (0/%2)").arg(kAppCaption).arg(itemCount));
    databox->clearSelection();
    m_model->showFolder(m_indexPath, m_listPath, itemCount);
}

void Tmainform::setPositionCaption() {
    setWindowTitle(QString("%1 - (%2/%3)").arg(kAppCaption).arg(currentItem + 1).arg(itemCount));
}

void Tmainform::statusRefresh() {
    if (transferState != transfer::kIdle) {
        m_model->refresh();
        return;
    }
    const std::string folder = folderPath();
    if (!folder.empty()) platform::deleteFile(folder + "n" + std::to_string(kSortByStatus) + ".idx");
    if (action("sortbystatus1")->isChecked()) reloadList();
    else m_model->refresh();
}

void Tmainform::dropIndices(const std::string& folder) { transfer::dropIndices(folder); }

std::string Tmainform::currentBodyPath() {
    if (currentItem < 0 || currentItem >= itemCount) return {};
    if (databox->selectedCount() > 1) {
        databox->setMultiSelect(false);
        databox->setMultiSelect(true);
        databox->setFocusedRow(currentItem);
        databox->selectOnly(currentItem);
    }
    std::string body;
    torvakit::GetBodyFileName(folderPath(), currentItem, sortType, body);
    return body;
}

void Tmainform::clearPendingSelections() {
    if (!bodyRetrievalPending && !bodyRetrievalRunning) return;
    WaitCursor wait;
    const std::string folder = folderPath();
    if (!folder.empty() && torvakit::DeselectList(folder, sortType) > 0) statusRefresh();
}

void Tmainform::lockForTransfer() {
    mailbox->setEnabled(false);
    newsbox->setEnabled(false);
    m_savedSortedColumn = databox->sortedColumn();
    databox->setSortedColumn(VirtualList::kNoSortedColumn);
}

void Tmainform::unlockAfterTransfer() {
    mailbox->setEnabled(true);
    newsbox->setEnabled(true);
    databox->setSortedColumn(m_savedSortedColumn);
}

void Tmainform::onSortedColumnChanged(int column) {
    if (transferState != transfer::kIdle) return;
    if (column >= 1 && column <= kListColumns) sortType = kSortTypeOfColumn[column - 1];
    if (m_listReady) reloadList();
}

void Tmainform::sortbystatus1Click() {
    QAction* byStatus = action("sortbystatus1");
    if (transferState != transfer::kIdle) {
        byStatus->setChecked(!byStatus->isChecked());  // the click changed nothing
        return;
    }
    // The menu has already toggled the mark.
    int column = byStatus->isChecked() ? VirtualList::kNoSortedColumn : kStartSortedColumn;
    if (byStatus->isChecked()) sortType = kSortByStatus;
    if (databox->sortedColumn() == column) onSortedColumnChanged(column);
    else databox->setSortedColumn(column);
}

void Tmainform::onListClicked() {
    if (itemCount < 1) {
        currentItem = -1;
        return;
    }
    currentItem = databox->focusedRow();
    setPositionCaption();
}

void Tmainform::onListKeyDown(int key) {
    if (itemCount < 1) return;
    currentItem = databox->focusedRow();
    if (key == Qt::Key_Delete) action("deleteselecteditems1")->trigger();
}

void Tmainform::onListKeyPressed(const QString& text) {
    if (itemCount < 1) return;
    if (text == "\r" || text == "\n") action("selecteditem1")->trigger();
    else if (text == "a") action("findauthor1")->trigger();
    else if (text == "f") action("findinsubject1")->trigger();
    else if (text == "g") action("findagain1")->trigger();
    else if (text == "x") close();
}

void Tmainform::selectall1Click() {
    if (itemCount < 1) return;
    databox->selectAll();
    databox->setFocusedRow(0);
    currentItem = 0;
}

// ---------------------------------------------------------------------------
// Transfers
// ---------------------------------------------------------------------------

void Tmainform::emailmessages1Click() { m_transfers.retrieveMail(); }

void Tmainform::cancelbtnClick() { m_transfers.userCancel(); }

void Tmainform::Timer1Timer() { m_transfers.timerTick(); }

void Tmainform::showStatus(const std::string& text) { showStatusNow(QString::fromLocal8Bit(text.c_str())); }

void Tmainform::information(const std::string& text) {
    ui::informationBox(this, QString::fromLocal8Bit(text.c_str()));
}

bool Tmainform::askPassword(std::string_view caption, std::string& text) {
    QString prompt = QString::fromLatin1(caption.data(), qsizetype(caption.size()));
    if (enterstringform->ask(prompt, true) != ui::kResultOk) return false;
    text = enterstringform->text().toStdString();
    return !text.empty();
}

void Tmainform::setDefaultCursor() {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void Tmainform::mailRetrievalEnded() {
    if (mailFolderShown()) reloadList();
}

std::vector<std::string> Tmainform::personalFolders() const {
    std::vector<std::string> names;
    for (int i = 0; i < folderbox->count(); ++i) names.push_back(folderbox->item(i)->text().toStdString());
    return names;
}

const omail::GeneralSettings& Tmainform::settings() const { return gen ? *gen : defaultSettings(); }

const omail::FolderOptions& Tmainform::folderOptions() const {
    if (auto* options = findChild<Tfoptsform*>()) return *options;
    return defaultFolderOptions();
}

// ---------------------------------------------------------------------------
// Showing and closing
// ---------------------------------------------------------------------------

void Tmainform::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!firstShow) return;
    firstShow = false;
    // The splitter divides the space it really has only once it is shown.
    int total = Panel3->height() - Panel3->handleWidth();
    Panel3->setSizes({m_listHeight, std::max(1, total - m_listHeight)});
    if (!m_lockFailed) {
        m_listReady = true;
        reloadList();
    }
    emit firstShown();
}

bool Tmainform::closingAllowed() {
    if (transferState != transfer::kIdle) m_transfers.cancel(false);
    const std::string outbox = m_dataDir + "/out";
    int32_t mail = 0, news = 0;
    torvakit::CalcItems(outbox, kMailKind, mail);
    torvakit::CalcItems(outbox, kNewsKind, news);
    const int waiting = mail + news;
    if (waiting == 0) return true;
    return queryform->ask(QString("exit with %1 items in outbox?").arg(waiting)) == ui::kResultOk;
}

void Tmainform::closeEvent(QCloseEvent* event) {
    if (m_lockFailed || m_closed) {
        event->accept();
        return;
    }
    if (!closingAllowed()) {
        event->ignore();
        return;
    }
    m_closed = true;
    Timer1->stop();
    torvakit::CloseWinsock();
    torvakit::ApplicationUnlock();
    omail::WindowGeometry::write(m_ini, 'm', x(), y(), width(), height());
    m_ini.writeInteger("mdatah", databox->height());
    event->accept();
}
