#include "main/mainform.h"

#include "main/gen.h"
#include "platform/fsys.h"
#include "store/torvakit.h"
#include "ui/dialogs.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <fstream>

Tmainform* mainform = nullptr;
Tgen* gen = nullptr;

namespace {

const char* const kStandardFolders[] = {"in", "out", "sent", "bin"};

struct Column {
    const char* mailTitle;
    const char* newsTitle;
    int width;
};
constexpr Column kColumns[] = {
    {" author", " author", 100},   {" recipient", " newsgroup", 100}, {" subject", " subject", 280},
    {" date", " date", 80},        {" size", " lines", 29},
};

// The message list's model until the folder contents are shown: the five
// column titles and no rows.
class EmptyListModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& = {}) const override { return 0; }
    int columnCount(const QModelIndex& = {}) const override { return 5; }
    QVariant data(const QModelIndex&, int) const override { return {}; }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 5) return {};
        return QString::fromLatin1(kColumns[section].mailTitle);
    }
};

}  // namespace

Tmainform::Tmainform(QWidget* parent)
    : QMainWindow(parent), m_dataDir(platform::currentDirectory()), m_ini(m_dataDir) {
    mainform = this;
    setObjectName("mainform");
    setWindowTitle(kAppCaption);

    buildToolbar();
    buildPanes();
    buildMenus();
    statusBar()->setObjectName("statusbar");
    statusBar()->showMessage("ready");

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
    transferState = 0;
    deliveryFlag = false;
    itemCount = -1;
    findMode = -1;
    torvakit::OpenWinsock();

    loadNameList("folders.lst", folderbox);
    rebuildMailFolders();
    loadNameList("subscr.lst", newsbox);
    mailbox->setCurrentRow(0);
    sortType = 7;
    firstShow = true;

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kAutoRetrieveTick);
    Timer1->start();
}

Tmainform::~Tmainform() {
    if (mainform == this) mainform = nullptr;
}

QToolButton* Tmainform::addButton(const char* name, const char* hint, int icon) {
    auto* b = new QToolButton(Panel1);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setFixedSize(52, 42);
    b->setIconSize(QSize(24, 24));
    b->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
    b->setEnabled(false);  // each command comes with its own window or transfer
    Panel1->addWidget(b);
    return b;
}

void Tmainform::buildToolbar() {
    Panel1 = addToolBar("toolbar");
    Panel1->setObjectName("Panel1");
    Panel1->setMovable(false);
    Panel1->setFixedHeight(56);
    addButton("cancelbtn", "cancel deliver or retrieve", QStyle::SP_BrowserStop);
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

    databox = new QTableView(Panel3);
    databox->setObjectName("databox");
    m_model = new EmptyListModel(databox);
    databox->setModel(m_model);
    databox->verticalHeader()->hide();
    databox->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    databox->setSelectionBehavior(QAbstractItemView::SelectRows);
    databox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    databox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    databox->setShowGrid(false);
    for (int c = 0; c < 5; ++c) databox->setColumnWidth(c, kColumns[c].width);

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
        header->setFlat(true);
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
    a->setEnabled(false);  // enabled as each command is built
    return a;
}

void Tmainform::buildMenus() {
    QMenu* m = menuBar()->addMenu("&orrindel mail");
    m->setObjectName("orrindelmail1");
    addEntry(m, "&select all", "selectall1");
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
    addEntry(m, "&cancel deliver or retrieve", "canceldeliverorretrieve1");
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
    addEntry(m, "&email messages", "retrieveemailmessages1");
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

    m = menuBar()->addMenu("&help");
    m->setObjectName("help1");
    addEntry(m, "orrindel &mail", "orrindelmailhelp1");
    QAction* about = addEntry(m, "&about orrindel mail", "aboutorrindelmail1");
    about->setEnabled(true);
    connect(about, &QAction::triggered, this, [this] {
        ui::informationBox(this, "orrindel mail\nmail and news for people who live in them");
    });
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
    mailbox->clear();
    for (const char* name : kStandardFolders) mailbox->addItem(name);
    for (int i = 0; i < folderbox->count(); ++i) mailbox->addItem(folderbox->item(i)->text());
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
    databox->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 4);
}

void Tmainform::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!firstShow) return;
    firstShow = false;
    // The splitter divides the space it really has only once it is shown.
    int total = Panel3->height() - Panel3->handleWidth();
    Panel3->setSizes({m_listHeight, std::max(1, total - m_listHeight)});
    emit firstShown();
}

void Tmainform::closeEvent(QCloseEvent* event) {
    if (m_lockFailed || m_closed) {
        event->accept();
        return;
    }
    m_closed = true;
    torvakit::CloseWinsock();
    torvakit::ApplicationUnlock();
    omail::WindowGeometry::write(m_ini, 'm', x(), y(), width(), height());
    m_ini.writeInteger("mdatah", databox->height());
    event->accept();
}
