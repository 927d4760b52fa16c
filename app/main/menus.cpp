// The main menu, the pop-up menus and the toolbar, each built from a table.
#include "commands/find.h"
#include "commands/folders.h"
#include "commands/items.h"
#include "compose/composecommands.h"
#include "main/mainform.h"
#include "news/newsgrpform.h"
#include "ui/dialogs.h"
#include "ui/helpviewer.h"
#include "settings/gen.h"
#include "ui/virtuallist.h"
#include "viewer/viewcommands.h"

#include <QAbstractScrollArea>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

using ActionSlot = QAction* MainActions::*;

// One menu entry: its caption, its object name and where the action is
// kept. A null caption is a separator; a caption with a null slot opens
// a sub-menu that takes the entries up to the next null name.
struct MenuEntry {
    const char* caption;
    const char* name;
    ActionSlot slot;
};

struct MenuTitle {
    const char* caption;
    const char* name;
};

constexpr MenuEntry kSeparator{nullptr, nullptr, nullptr};
constexpr MenuEntry kEndSubmenu{"", nullptr, nullptr};

struct MenuTable {
    MenuTitle title;
    std::initializer_list<MenuEntry> entries;
};

const MenuTable kMainMenu[] = {
    {{"&orrindel mail", "orrindelmail1"},
     {{"&select all", "selectall1", &MainActions::selectall1},
      kSeparator,
      {"&move selected items to folder", "moveselecteditemstofolder1", &MainActions::moveselecteditemstofolder1},
      {"m&ove all items to folder", "moveallitemstofolder1", &MainActions::moveallitemstofolder1},
      {"&delete selected items", "deleteselecteditems1", &MainActions::deleteselecteditems1},
      {"d&elete all items", "deleteallitems1", &MainActions::deleteallitems1},
      kSeparator,
      {"&highlight selected items", "highlightselecteditems1", &MainActions::highlightselecteditems1},
      {"&unhighlight selected items", "unhighlightselecteditems1", &MainActions::unhighlightselecteditems1},
      kSeparator,
      {"&find in subject", "findinsubject1", &MainActions::findinsubject1},
      {"find &author", "findauthor1", &MainActions::findauthor1},
      {"find a&gain", "findagain1", &MainActions::findagain1},
      kSeparator,
      {"e&xpire selected folder or group", "expireselectedfolderorgroup1", &MainActions::expireselectedfolderorgroup1},
      {"ex&pire all newsgroups", "expireallnewsgroups1", &MainActions::expireallnewsgroups1},
      kSeparator,
      {"&cancel deliver or retrieve", "canceldeliverorretrieve1", &MainActions::canceldeliverorretrieve1},
      {"&exit orrindel mail", "exitorrindelmail1", &MainActions::exitorrindelmail1}}},
    {{"&view", "view1"},
     {{"&selected &item", "selecteditem1", &MainActions::selecteditem1},
      {"selected item &header", "selecteditemheader1", &MainActions::selecteditemheader1},
      {"&launch selected item", "launchselecteditem1", &MainActions::launchselecteditem1},
      {"view decode lo&g", "viewdecodelog1", &MainActions::viewdecodelog1},
      {"&print selected item", "printselecteditem1", &MainActions::printselecteditem1},
      {"&save selected item as...", "saveselecteditemas1", &MainActions::saveselecteditemas1}}},
    {{"&compose", "compose1"},
     {{"new &email message", "newemailmessage1", &MainActions::newemailmessage1},
      {"&reply to selected item via email", "replytoselecteditemviaemail1", &MainActions::replytoselecteditemviaemail1},
      {"new &news article", "newnewsarticle1", &MainActions::newnewsarticle1},
      {"&follow up selected item via usenet", "followupselecteditemviausenet1",
       &MainActions::followupselecteditemviausenet1},
      {"&forward selected item", "forwardselecteditem1", &MainActions::forwardselecteditem1},
      {"&recompose selected item", "recomposeselecteditem1", &MainActions::recomposeselecteditem1},
      {"e&dit selected item header in outbox", "editselecteditemheaderinoutbox1",
       &MainActions::editselecteditemheaderinoutbox1},
      {"ed&it selected item body in outbox", "editselecteditembodyinoutbox1",
       &MainActions::editselecteditembodyinoutbox1}}},
    {{"&deliver", "deliver1"},
     {{"send &email messages in outbox", "sendemailmessagesinoutbox1", &MainActions::sendemailmessagesinoutbox1},
      {"post &news articles in outbox", "postnewsarticlesinoutbox1", &MainActions::postnewsarticlesinoutbox1},
      {"&deliver all items in outbox", "deliverallitemsinoutbox1", &MainActions::deliverallitemsinoutbox1}}},
    {{"&retrieve", "retrieve1"},
     {{"&email messages", "retrieveemailmessages1", &MainActions::retrieveemailmessages1},
      {"&news article headers and bodies in selected group", "newsarticleheadersandbodies1",
       &MainActions::newsarticleheadersandbodies1},
      {"n&ews article headers in selected group", "newsarticleheaders1", &MainActions::newsarticleheaders1},
      {"&selected news article bodies in selected group", "selectednewsarticlebodies1",
       &MainActions::selectednewsarticlebodies1},
      {"&highlighted news article bodies in selected group", "highlightednewsarticlebodies1",
       &MainActions::highlightednewsarticlebodies1},
      {"news article headers and bodies in s&ubscribed groups", "headersandbodiessubscribed1",
       &MainActions::headersandbodiessubscribed1},
      {"news article headers in su&bscribed groups", "headerssubscribed1", &MainActions::headerssubscribed1},
      {"h&ighlighted news article bodies in subscribed groups", "highlightedbodiessubscribed1",
       &MainActions::highlightedbodiessubscribed1}}},
    {{"&settings", "settings1"},
     {{"&general", "general1", &MainActions::general1},
      {"&address book", "addressbook1", &MainActions::addressbook1},
      {"&newsgroups", "newsgroups1", &MainActions::newsgroups1},
      {"personal &folders", "personalfolders1", nullptr},
      {"&create", "create1", &MainActions::create1},
      {"&rename selected", "renameselected1", &MainActions::renameselected1},
      {"&delete selected", "deleteselected1", &MainActions::deleteselected1},
      {"&options", "options1", &MainActions::options1},
      kEndSubmenu,
      kSeparator,
      {"&toolbar", "toolbar1", &MainActions::toolbar1},
      {"&status bar", "statusbar1", &MainActions::statusbar1},
      {"s&ort by status", "sortbystatus1", &MainActions::sortbystatus1}}},
    {{"&help", "help1"},
     {{"orrindel &mail", "orrindelmailhelp1", &MainActions::orrindelmailhelp1},
      {"&about orrindel mail", "aboutorrindelmail1", &MainActions::aboutorrindelmail1}}},
};

// A pop-up entry: its caption and the main-menu action it runs.
struct PopupEntry {
    const char* caption;
    ActionSlot twin;
};

const PopupEntry kCompop[] = {
    {"new email message", &MainActions::newemailmessage1},
    {"reply via email", &MainActions::replytoselecteditemviaemail1},
    {"new news article", &MainActions::newnewsarticle1},
    {"follow up via usenet", &MainActions::followupselecteditemviausenet1},
    {"forward", &MainActions::forwardselecteditem1},
    {"recompose", &MainActions::recomposeselecteditem1},
};
const PopupEntry kDelretpop[] = {
    {"send email messages in outbox", &MainActions::sendemailmessagesinoutbox1},
    {"post news articles in outbox", &MainActions::postnewsarticlesinoutbox1},
    {"deliver all in outbox", &MainActions::deliverallitemsinoutbox1},
    {"retrieve email messages", &MainActions::retrieveemailmessages1},
};
const PopupEntry kPopupsettings[] = {
    {"general", &MainActions::general1},
    {"address book", &MainActions::addressbook1},
    {"newsgroups", &MainActions::newsgroups1},
};
const PopupEntry kPopupfolders[] = {
    {"create", &MainActions::create1},
    {"rename selected", &MainActions::renameselected1},
    {"delete selected", &MainActions::deleteselected1},
    {"options", &MainActions::options1},
};
const PopupEntry kMailbpopup[] = {
    {"create personal folder", &MainActions::create1},
    {"rename personal folder", &MainActions::renameselected1},
    {"delete personal folder", &MainActions::deleteselected1},
    {"personal folder options", &MainActions::options1},
    {"send email messages", &MainActions::sendemailmessagesinoutbox1},
    {"retrieve email messages", &MainActions::retrieveemailmessages1},
    {"post news articles", &MainActions::postnewsarticlesinoutbox1},
    {"deliver all", &MainActions::deliverallitemsinoutbox1},
};
const PopupEntry kNewspop[] = {
    {"retrieve headers and bodies", &MainActions::newsarticleheadersandbodies1},
    {"retrieve headers", &MainActions::newsarticleheaders1},
    {"retrieve selected bodies", &MainActions::selectednewsarticlebodies1},
    {"retrieve highlighted bodies", &MainActions::highlightednewsarticlebodies1},
    {"retrieve headers and bodies in subscribed groups", &MainActions::headersandbodiessubscribed1},
    {"retrieve headers in subscribed groups", &MainActions::headerssubscribed1},
    {"retrieve highlighted bodies in subscribed groups", &MainActions::highlightedbodiessubscribed1},
};
const PopupEntry kDatapop[] = {
    {"select all", &MainActions::selectall1},
    {"move", &MainActions::moveselecteditemstofolder1},
    {"delete", &MainActions::deleteselecteditems1},
    {"highlight", &MainActions::highlightselecteditems1},
    {"unhighlight", &MainActions::unhighlightselecteditems1},
    {"expire", &MainActions::expireselectedfolderorgroup1},
    {"expire news", &MainActions::expireallnewsgroups1},
    {"view", &MainActions::selecteditem1},
    {"launch", &MainActions::launchselecteditem1},
    {"retrieve", &MainActions::selectednewsarticlebodies1},
};

struct ButtonEntry {
    const char* name;
    const char* hint;
    QStyle::StandardPixmap icon;
};

const ButtonEntry kButtons[] = {
    {"cancelbtn", "cancel deliver or retrieve", QStyle::SP_BrowserStop},
    {"printbtn", "print selected item", QStyle::SP_FileDialogDetailedView},
    {"saveasbtn", "save selected item as...", QStyle::SP_DialogSaveButton},
    {"compbtn", "compose", QStyle::SP_FileIcon},
    {"delretrbtn", "deliver and retrieve", QStyle::SP_BrowserReload},
    {"settingsbtn", "settings", QStyle::SP_FileDialogListView},
    {"foldersbtn", "personal folders", QStyle::SP_DirIcon},
    {"helpbtn", "help", QStyle::SP_DialogHelpButton},
    {"exitbtn", "exit orrindel mail", QStyle::SP_DialogCloseButton},
};
constexpr int kButtonWidth = 52;
constexpr int kButtonHeight = 42;
constexpr int kToolbarHeight = 56;
constexpr int kIconSize = 24;

// A pop-up opens at the pointer: a scroll area reports the position in
// its viewport, not in its frame.
void attachPopup(QAbstractScrollArea* area, QMenu* menu) {
    area->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(area, &QWidget::customContextMenuRequested, menu, [area, menu](const QPoint& pos) {
        menu->popup(area->viewport()->mapToGlobal(pos));
    });
}

}  // namespace

QToolButton* Tmainform::addButton(const char* name, const char* hint, int icon) {
    auto* b = new QToolButton(Panel1);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setFixedSize(kButtonWidth, kButtonHeight);
    b->setIconSize(QSize(kIconSize, kIconSize));
    b->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
    b->setEnabled(false);  // enabled once its command exists
    Panel1->addWidget(b);
    return b;
}

void Tmainform::buildToolbar() {
    Panel1 = addToolBar("toolbar");
    Panel1->setObjectName("Panel1");
    Panel1->setMovable(false);
    Panel1->setFixedHeight(kToolbarHeight);
    for (const ButtonEntry& button : kButtons) addButton(button.name, button.hint, button.icon);

    folderbox = new QListWidget(this);
    folderbox->setObjectName("folderbox");
    folderbox->setSortingEnabled(true);
    folderbox->hide();
}

void Tmainform::buildMenus() {
    for (const MenuTable& table : kMainMenu) {
        QMenu* menu = menuBar()->addMenu(table.title.caption);
        menu->setObjectName(table.title.name);
        QMenu* target = menu;
        for (const MenuEntry& entry : table.entries) {
            if (!entry.caption) {
                target->addSeparator();
            } else if (!entry.name) {
                target = menu;  // end of a sub-menu
            } else if (!entry.slot) {
                target = menu->addMenu(entry.caption);
                target->setObjectName(entry.name);
            } else {
                QAction* a = target->addAction(entry.caption);
                a->setObjectName(entry.name);
                a->setEnabled(false);  // enabled once its command exists
                m_actions.*entry.slot = a;
            }
        }
    }
    for (QAction* check : {m_actions.toolbar1, m_actions.statusbar1, m_actions.sortbystatus1}) {
        check->setCheckable(true);
        check->setEnabled(true);
    }
    m_actions.toolbar1->setChecked(true);
    m_actions.statusbar1->setChecked(true);
}

void Tmainform::buildPopups() {
    auto makeMenu = [this](const char* name, auto const& entries) {
        auto* menu = new QMenu(this);
        menu->setObjectName(name);
        for (const PopupEntry& entry : entries) {
            QAction* main = m_actions.*entry.twin;
            QAction* twin = menu->addAction(entry.caption);
            twin->setObjectName(menu->objectName() + "_" + main->objectName());
            // The pop-up entry runs its main-menu twin and follows its
            // enabled state, so a command is wired once, on the main menu.
            twin->setEnabled(main->isEnabled());
            connect(main, &QAction::changed, twin, [twin, main] { twin->setEnabled(main->isEnabled()); });
            connect(twin, &QAction::triggered, main, &QAction::trigger);
        }
        return menu;
    };
    compop = makeMenu("compop", kCompop);
    delretpop = makeMenu("delretpop", kDelretpop);
    popupsettings = makeMenu("popupsettings", kPopupsettings);
    popupfolders = makeMenu("popupfolders", kPopupfolders);
    mailbpopup = makeMenu("mailbpopup", kMailbpopup);
    newspop = makeMenu("newspop", kNewspop);
    datapop = makeMenu("datapop", kDatapop);

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

// The commands this window runs itself; the command families bind theirs.
void Tmainform::bindCommands() {
    const MainActions& a = m_actions;
    bindAction(a.selectall1, this, &Tmainform::selectall1Click);
    bindAction(a.canceldeliverorretrieve1, this, &Tmainform::canceldeliveryorretrieve1Click);
    bindAction(a.exitorrindelmail1, this, &QWidget::close);
    bindAction(a.retrieveemailmessages1, this, &Tmainform::emailmessages1Click);
    bindSettingsCommands();
    connect(a.toolbar1, &QAction::toggled, Panel1, &QWidget::setVisible);
    connect(a.statusbar1, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    connect(a.sortbystatus1, &QAction::triggered, this, &Tmainform::sortbystatus1Click);

    auto* cancel = Panel1->findChild<QToolButton*>("cancelbtn");
    cancel->setEnabled(true);
    connect(cancel, &QToolButton::clicked, this, &Tmainform::cancelbtnClick);
    auto* exitbtn = Panel1->findChild<QToolButton*>("exitbtn");
    exitbtn->setEnabled(true);
    connect(exitbtn, &QToolButton::clicked, this, &QWidget::close);

    m_find = new FindCommands(*this, this);
    bindAction(a.findinsubject1, m_find, &FindCommands::findinsubject1Click);
    bindAction(a.findauthor1, m_find, &FindCommands::findauthor1Click);
    bindAction(a.findagain1, m_find, &FindCommands::findagain1Click);

    auto* folders = new FolderCommands(*this, this);
    bindAction(a.create1, folders, &FolderCommands::create1Click);
    bindAction(a.renameselected1, folders, &FolderCommands::renameselected1Click);
    bindAction(a.deleteselected1, folders, &FolderCommands::deleteselected1Click);

    m_items = new ItemCommands(*this, this);
    bindAction(a.moveselecteditemstofolder1, m_items, &ItemCommands::moveselecteditemstofolder1Click);
    bindAction(a.moveallitemstofolder1, m_items, &ItemCommands::moveallitemstofolder1Click);
    bindAction(a.deleteselecteditems1, m_items, &ItemCommands::deleteselecteditems1Click);
    bindAction(a.deleteallitems1, m_items, &ItemCommands::deleteallitems1Click);
    bindAction(a.highlightselecteditems1, m_items, &ItemCommands::highlightselecteditems1Click);
    bindAction(a.unhighlightselecteditems1, m_items, &ItemCommands::unhighlightselecteditems1Click);
    bindAction(a.expireselectedfolderorgroup1, m_items, &ItemCommands::expireselectedfolderorgroup1Click);
    bindAction(a.expireallnewsgroups1, m_items, &ItemCommands::expireallnewsgroups1Click);

    m_view = new ViewCommands(*this, this);
    bindAction(a.selecteditem1, m_view, &ViewCommands::selecteditem1Click);
    bindAction(a.selecteditemheader1, m_view, &ViewCommands::selecteditemheader1Click);
    bindAction(a.launchselecteditem1, m_view, &ViewCommands::launchselecteditem1Click);
    bindAction(a.viewdecodelog1, m_view, &ViewCommands::viewdecodelog1Click);
    bindAction(a.printselecteditem1, m_view, &ViewCommands::printselecteditem1Click);
    bindAction(a.saveselecteditemas1, m_view, &ViewCommands::saveselecteditemas1Click);
    const std::pair<const char*, QAction*> viewButtons[] = {{"printbtn", a.printselecteditem1},
                                                            {"saveasbtn", a.saveselecteditemas1}};
    for (const auto& [name, action] : viewButtons) {
        auto* button = Panel1->findChild<QToolButton*>(name);
        button->setEnabled(true);
        connect(button, &QToolButton::clicked, action, &QAction::trigger);
    }
    bindNewsCommands();

    m_compose = new ComposeCommands(*this, this);
    bindAction(a.newemailmessage1, m_compose, &ComposeCommands::newemailmessage1Click);
    bindAction(a.replytoselecteditemviaemail1, m_compose, &ComposeCommands::replytoselecteditemviaemail1Click);
    bindAction(a.newnewsarticle1, m_compose, &ComposeCommands::newnewsarticle1Click);
    bindAction(a.followupselecteditemviausenet1, m_compose, &ComposeCommands::followupselecteditemviausenet1Click);
    bindAction(a.forwardselecteditem1, m_compose, &ComposeCommands::forwardselecteditem1Click);
    bindAction(a.recomposeselecteditem1, m_compose, &ComposeCommands::recomposeselecteditem1Click);
    bindAction(a.sendemailmessagesinoutbox1, m_compose, &ComposeCommands::sendemailmessagesinoutbox1Click);
    bindAction(a.postnewsarticlesinoutbox1, m_compose, &ComposeCommands::postnewsarticlesinoutbox1Click);
    bindAction(a.deliverallitemsinoutbox1, m_compose, &ComposeCommands::deliverallitemsinoutbox1Click);
    bindAction(a.addressbook1, m_compose, &ComposeCommands::addressbook1Click);

    // The viewer answers through the compose window and hands its
    // dialogs and the delivery after viewing to the families that own them.
    m_view->setComposeHandler([this](int mode, const std::string& source, QWidget* viewer) {
        return m_compose->composeFromViewer(mode, source, viewer);
    });
    m_view->deliverAfterViewing = [this] { m_compose->deliverAfterViewer(); };
    useHeaderDialog([this](int mode, const std::string& path) { return m_view->showHeaderDialog(mode, path); });
}

// The settings dialogs, help and about.
void Tmainform::bindSettingsCommands() {
    const MainActions& a = m_actions;
    bindAction(a.general1, this, [this] {
        if (m_settings) m_settings->ask();
    });
    bindAction(a.options1, this, [this] {
        if (m_folderOptions) m_folderOptions->ask();
    });
    bindAction(a.orrindelmailhelp1, this, [] { ui::showHelp(); });
    bindAction(a.aboutorrindelmail1, this, [this] { ui::aboutBox(this); });
    auto* help = Panel1->findChild<QToolButton*>("helpbtn");
    help->setEnabled(true);
    connect(help, &QToolButton::clicked, this, [] { ui::showHelp(); });
}

void Tmainform::useHeaderDialog(std::function<int(int mode, const std::string& path)> dialog) {
    const bool first = !m_items->hasHeaderDialog();
    m_items->setHeaderDialog(std::move(dialog));
    if (!first) return;
    const MainActions& a = m_actions;
    // "selected item &header" belongs to the viewer's commands.
    bindAction(a.editselecteditemheaderinoutbox1, m_items, &ItemCommands::editselecteditemheaderinoutbox1Click);
    bindAction(a.editselecteditembodyinoutbox1, m_items, &ItemCommands::editselecteditembodyinoutbox1Click);
}


void Tmainform::bindNewsCommands() {
    const MainActions& a = m_actions;
    bindAction(a.newsarticleheadersandbodies1, this, [this] { m_news.headersAndBodies(); });
    bindAction(a.newsarticleheaders1, this, [this] { m_news.headers(); });
    bindAction(a.selectednewsarticlebodies1, this, [this] { m_news.selectedBodies(); });
    bindAction(a.highlightednewsarticlebodies1, this, [this] { m_news.highlightedBodies(); });
    bindAction(a.headersandbodiessubscribed1, this, [this] { m_news.headersAndBodiesSubscribed(); });
    bindAction(a.headerssubscribed1, this, [this] { m_news.headersSubscribed(); });
    bindAction(a.highlightedbodiessubscribed1, this, [this] { m_news.highlightedBodiesSubscribed(); });
    bindAction(a.newsgroups1, this, &Tmainform::newsgroups1Click);
}

void Tmainform::newsgroups1Click() {
    if (m_transfers.transferState == transfer::kNewsTransfer) return;
    if (!m_newsgroups) m_newsgroups = new Tnewsgrpform(*this, m_ini, m_actions.general1, this);
    // The window's list transfers use the engine's one connection: a timed
    // mail retrieval starting meanwhile would cut them off. The count
    // towards it goes on once the window is closed.
    Timer1->stop();
    m_newsgroups->run();
    Timer1->start();
}
