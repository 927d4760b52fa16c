#include "news/newsgrpform.h"

#include "main/mainhost.h"
#include "main/prompts.h"
#include "platform/fsys.h"
#include "settings/gen.h"
#include "settings/geometry.h"
#include "store/lines.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"
#include "ui/dialogs.h"
#include "ui/waitcursor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdio>

namespace {

constexpr const char* kRetrieveQuestion = "retrieve active newsgroup list?";
constexpr const char* kUpdateQuestion = "update active newsgroup list?";
constexpr const char* kNamePrompt = "please enter a newsgroup name";
constexpr const char* kFindPrompt = "enter text to find";
constexpr const char* kUnsubscribeQuestion = "unsubscribe?";
constexpr const char* kNoMatch = "no match found";
constexpr const char* kAlreadySubscribed = "already subscribed to ";
constexpr const char* kNotSubscribed = "not subscribed to ";
constexpr const char* kCannotSubscribe = "cannot subscribe to ";
constexpr const char* kAbout = "orrindel mail\nmail and news for people who live in them";
constexpr std::string_view kSubscriptionFile = "subscr.dat";
constexpr std::string_view kSubscribedNames = "SUBSCR.LST";
constexpr std::string_view kFolderCounter = "SUBSCR.IDX";
constexpr size_t kMaxGroupName = 255;
constexpr int kResultChanged = 1;
constexpr int kResultUnchanged = 2;
constexpr int kBarHeight = 20;

}  // namespace

// ---------------------------------------------------------------------------
// The active list
// ---------------------------------------------------------------------------

int ActiveGroupsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max<int>(1, m_list.total());
}

QVariant ActiveGroupsModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const std::string name = m_list.name(index.row());
    return QString::fromLocal8Bit(name.data(), qsizetype(name.size()));
}

void ActiveGroupsModel::reset() {
    beginResetModel();
    endResetModel();
}

void ActiveGroupsView::keyPressEvent(QKeyEvent* event) {
    QListView::keyPressEvent(event);
    if (!event->text().isEmpty()) emit keyTyped(event->text());
}

// ---------------------------------------------------------------------------
// Building
// ---------------------------------------------------------------------------

Tnewsgrpform::Tnewsgrpform(MainHost& host, const omail::IniFile& ini, QAction* generalSettings, QWidget* parent)
    : QDialog(parent), m_host(host), m_ini(ini),
      m_groups(std::make_unique<news::GroupList>(static_cast<news::GroupListHost&>(*this), host.dataDirectory())) {
    setObjectName("newsgrpform");
    setWindowTitle(kNewsgroupsCaption);
    setModal(true);
    buildLists();
    buildMenus(generalSettings);
    omail::restoreWindowPlace(this, m_ini, 'n', omail::kDefaultWindowWidth, omail::kDefaultWindowHeight);
    loadList(news::kNewGroupList, newbox);
    loadList(kSubscribedNames, subbox);
}

Tnewsgrpform::~Tnewsgrpform() = default;

void Tnewsgrpform::buildLists() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    toolbar = new QToolBar(this);
    toolbar->setObjectName("toolbar");
    layout->addWidget(toolbar);

    splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName("splitter");
    splitter->setChildrenCollapsible(false);
    auto column = [this](const char* title, QWidget* list) {
        auto* pane = new QWidget(splitter);
        auto* v = new QVBoxLayout(pane);
        v->setContentsMargins(0, 0, 0, 0);
        v->setSpacing(0);
        auto* label = new QLabel(title, pane);
        label->setFixedHeight(kBarHeight);
        list->setParent(pane);
        v->addWidget(label);
        v->addWidget(list);
    };
    newbox = new QListWidget;
    newbox->setObjectName("newbox");
    newbox->setSortingEnabled(true);
    subbox = new QListWidget;
    subbox->setObjectName("subbox");
    subbox->setSortingEnabled(true);
    activebox = new ActiveGroupsView;
    activebox->setObjectName("activebox");
    activebox->setUniformItemSizes(true);
    activebox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_model = new ActiveGroupsModel(*m_groups, activebox);
    activebox->setModel(m_model);
    column("new newsgroups", newbox);
    column("subscribed newsgroups", subbox);
    column(" active newsgroups", activebox);
    splitter->setSizes({160, 160, 320});
    layout->addWidget(splitter, 1);

    statusbar = new QStatusBar(this);
    statusbar->setObjectName("statusbar");
    statusbar->setSizeGripEnabled(false);
    statusbar->setFixedHeight(kBarHeight);
    statuspanel = new QLabel("ready", statusbar);
    statuspanel->setObjectName("statuspanel");
    statusbar->addWidget(statuspanel, 1);
    layout->addWidget(statusbar);

    // The view makes a row current by itself when it gets the focus; only
    // a row the user selected (click or keys) counts as the current one.
    connect(activebox->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { onActiveRowChanged(current); });
    connect(activebox->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { onActiveRowChanged(activebox->currentIndex()); });
    connect(activebox, &ActiveGroupsView::keyTyped, this, &Tnewsgrpform::onActiveKey);
    connect(activebox, &QAbstractItemView::doubleClicked, this,
            &Tnewsgrpform::addselectednewsgrouptosubscribedlist1Click);
    connect(newbox, &QListWidget::itemClicked, this, [this] {
        activebox->clearSelection();
        m_currentRow = -1;
    });
    connect(newbox, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        subscribe(item->text().toLocal8Bit().toStdString());
    });
    connect(subbox, &QListWidget::itemDoubleClicked, this,
            &Tnewsgrpform::removeselectednewsgroupfromsubscribedlist1Click);
}

void Tnewsgrpform::buildMenus(QAction* generalSettings) {
    auto* bar = new QMenuBar(this);
    layout()->setMenuBar(bar);
    struct Entry {
        const char* caption;
        const char* name;
        void (Tnewsgrpform::*slot)();
    };
    const Entry commands[] = {
        {"&retrieve active newsgroup list", "retrieveactivenewsgrouplist1",
         &Tnewsgrpform::retrieveactivenewsgrouplist1Click},
        {"&update active newsgroup list", "updateactivenewsgrouplist1", &Tnewsgrpform::updateactivenewsgrouplist1Click},
        {nullptr, nullptr, nullptr},
        {"a&dd selected newsgroup to subscribed list", "addselectednewsgrouptosubscribedlist1",
         &Tnewsgrpform::addselectednewsgrouptosubscribedlist1Click},
        {"&add a newsgroup to subscribed list", "addanewsgrouptosubscribedlist1",
         &Tnewsgrpform::addanewsgrouptosubscribedlist1Click},
        {"&remove selected newsgroup from subscribed list", "removeselectednewsgroupfromsubscribedlist1",
         &Tnewsgrpform::removeselectednewsgroupfromsubscribedlist1Click},
        {nullptr, nullptr, nullptr},
        {"&find in active newsgroups...", "findinactivenewsgroups1", &Tnewsgrpform::findinactivenewsgroups1Click},
        {"find a&gain", "findagain1", &Tnewsgrpform::findagain1Click},
        {nullptr, nullptr, nullptr},
        {"&cancel update or retrieve", "cancelupdateorretrieve1", &Tnewsgrpform::cancelupdateorretrieve1Click},
        {"&exit newsgroups", "exitnewsgroups1", &Tnewsgrpform::exitnewsgroups1Click},
    };
    QMenu* groups = bar->addMenu("&newsgroups");
    groups->setObjectName("newsgroups1");
    for (const Entry& e : commands) {
        if (!e.caption) {
            groups->addSeparator();
            continue;
        }
        QAction* a = groups->addAction(e.caption);
        a->setObjectName(e.name);
        connect(a, &QAction::triggered, this, e.slot);
    }

    QMenu* settings = bar->addMenu("&settings");
    settings->setObjectName("settings1");
    QAction* general = settings->addAction("&general");
    general->setObjectName("general1");
    general->setEnabled(generalSettings && generalSettings->isEnabled());
    if (generalSettings) connect(general, &QAction::triggered, this, [this, generalSettings] {
        generalSettings->trigger();
        applySettings();
    });
    QAction* tools = settings->addAction("&toolbar");
    tools->setObjectName("toolbar1");
    tools->setCheckable(true);
    tools->setChecked(true);
    connect(tools, &QAction::toggled, toolbar, &QWidget::setVisible);
    QAction* status = settings->addAction("status bar");
    status->setObjectName("statusbar1");
    status->setCheckable(true);
    status->setChecked(true);
    connect(status, &QAction::toggled, statusbar, &QWidget::setVisible);

    QMenu* help = bar->addMenu("&help");
    help->setObjectName("help1");
    QAction* helpfile = help->addAction("orrindel &mail");
    helpfile->setObjectName("orrindelmailhelp1");
    helpfile->setEnabled(false);  // no help viewer yet
    QAction* about = help->addAction("&about orrindel mail");
    about->setObjectName("aboutorrindelmail1");
    connect(about, &QAction::triggered, this, [this] { ui::informationBox(this, kAbout); });

    // The toolbar: the drop-down of the list commands, cancel, help, exit.
    newspop = new QMenu(this);
    newspop->setObjectName("newspop");
    const std::pair<const char*, void (Tnewsgrpform::*)()> popup[] = {
        {"retrieve active newsgroup list", &Tnewsgrpform::retrieveactivenewsgrouplist1Click},
        {"update active newgroup list", &Tnewsgrpform::updateactivenewsgrouplist1Click},
        {"add selected newsgroup to subscribed list", &Tnewsgrpform::addselectednewsgrouptosubscribedlist1Click},
        {"add a newsgroup to subscribed list", &Tnewsgrpform::addanewsgrouptosubscribedlist1Click},
        {"remove selected newsgroup from subscribed list",
         &Tnewsgrpform::removeselectednewsgroupfromsubscribedlist1Click},
    };
    for (const auto& [caption, slot] : popup) connect(newspop->addAction(caption), &QAction::triggered, this, slot);
    auto button = [this](const char* name, const char* hint, QStyle::StandardPixmap icon) {
        auto* b = new QToolButton(toolbar);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setAutoRaise(true);
        b->setIcon(style()->standardIcon(icon));
        toolbar->addWidget(b);
        return b;
    };
    QToolButton* listButton = button("newsbtn", "newsgroups", QStyle::SP_FileDialogListView);
    listButton->setMenu(newspop);
    listButton->setPopupMode(QToolButton::InstantPopup);
    connect(button("cancelbtn", "cancel update or retrieve", QStyle::SP_BrowserStop), &QToolButton::clicked, this,
            &Tnewsgrpform::cancelupdateorretrieve1Click);
    button("helpbtn", "help", QStyle::SP_DialogHelpButton)->setEnabled(false);
    connect(button("exitbtn", "exit", QStyle::SP_DialogCloseButton), &QToolButton::clicked, this,
            &Tnewsgrpform::exitnewsgroups1Click);
}

void Tnewsgrpform::loadList(std::string_view file, QListWidget* list) {
    list->clear();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(
        std::fopen(platform::resolvePath(m_groups->dataPath(file)).c_str(), "rb"), &std::fclose);
    if (!in) return;
    std::string line;
    list->setUpdatesEnabled(false);
    while (torvakit::lines::readLine(in.get(), line) != torvakit::lines::kEndOfFile)
        if (!line.empty()) list->addItem(QString::fromLocal8Bit(line.data(), qsizetype(line.size())));
    list->setUpdatesEnabled(true);
}

void Tnewsgrpform::applySettings() {
    const omail::GeneralSettings& s = m_host.settings();
    QPalette pal = palette();
    pal.setColor(QPalette::Base, colorFromSetting(s.backcol));
    pal.setColor(QPalette::Text, colorFromSetting(s.normcol));
    QFont font = QApplication::font();
    if (!s.fontnam.empty()) font.setFamily(QString::fromStdString(s.fontnam));
    if (s.fontsiz > 0) font.setPointSize(s.fontsiz);
    const omail::FontStyle style = omail::FontStyle::parse(s.fontstl);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    font.setUnderline(style.underline);
    font.setStrikeOut(style.strikeOut);
    for (QWidget* w : {static_cast<QWidget*>(newbox), static_cast<QWidget*>(subbox),
                       static_cast<QWidget*>(activebox)}) {
        w->setPalette(pal);
        w->setFont(font);
    }
}

// ---------------------------------------------------------------------------
// Showing and closing
// ---------------------------------------------------------------------------

int Tnewsgrpform::run() { return exec(); }

void Tnewsgrpform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_changed = false;
    applySettings();
    activebox->setFocus();
}

void Tnewsgrpform::reject() { exitnewsgroups1Click(); }

void Tnewsgrpform::exitnewsgroups1Click() {
    cancelupdateorretrieve1Click();
    omail::saveWindowPlace(this, m_ini, 'n');
    done(m_changed ? kResultChanged : kResultUnchanged);
}

void Tnewsgrpform::cancelupdateorretrieve1Click() { m_groups->cancel(); }

// ---------------------------------------------------------------------------
// The group list transfer
// ---------------------------------------------------------------------------

void Tnewsgrpform::retrieveactivenewsgrouplist1Click() {
    startTransfer(news::ListTransfer::FullList, kRetrieveQuestion);
}

void Tnewsgrpform::updateactivenewsgrouplist1Click() { startTransfer(news::ListTransfer::NewGroups, kUpdateQuestion); }

void Tnewsgrpform::startTransfer(news::ListTransfer kind, const char* question) {
    if (m_groups->state() != news::ListTransfer::Idle) return;
    // The engine serves one connection: a second one would cut the main
    // window's transfer off.
    if (m_host.transfers().transferState != transfer::kIdle) return;
    if (m_host.questionPrompt().ask(question) != ui::kResultOk) return;
    m_groups->start(kind, m_host.settings().nntp);
}

void Tnewsgrpform::showStatus(const std::string& text) {
    statuspanel->setText(QString::fromLocal8Bit(text.c_str()));
    statuspanel->repaint();
}

void Tnewsgrpform::information(const std::string& text) {
    ui::informationBox(this, QString::fromLocal8Bit(text.c_str()));
}

void Tnewsgrpform::setBusy(bool busy) {
    if (busy == m_busy) return;
    m_busy = busy;
    if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
}

void Tnewsgrpform::listsFiled(bool newGroups) {
    m_model->reset();
    activebox->clearSelection();
    m_currentRow = -1;
    if (newGroups) loadList(news::kNewGroupList, newbox);
}

// ---------------------------------------------------------------------------
// Subscriptions
// ---------------------------------------------------------------------------

bool Tnewsgrpform::subscriptionsLocked() const {
    return m_groups->state() != news::ListTransfer::Idle || m_host.transfers().transferState != transfer::kIdle;
}

void Tnewsgrpform::subscribe(std::string name) {
    if (subscriptionsLocked() || name.empty()) return;
    if (name.size() > kMaxGroupName) name.resize(kMaxGroupName);
    ui::WaitCursor wait;
    const int result = torvakit::AddSub(m_groups->dataPath(kSubscriptionFile), m_groups->dataPath(kSubscribedNames),
                                        m_groups->dataPath(kFolderCounter), name);
    if (result == 1) {
        information(kAlreadySubscribed + name);
    } else if (result == 0) {
        m_changed = true;
        reloadSubscribed();
    } else {
        information(kCannotSubscribe + name);
    }
}

void Tnewsgrpform::reloadSubscribed() {
    loadList(kSubscribedNames, subbox);
    m_host.reloadNewsgroups();
}

void Tnewsgrpform::addselectednewsgrouptosubscribedlist1Click() {
    if (m_currentRow >= 0 && m_groups->total() > 0) {
        for (const QModelIndex& index : activebox->selectionModel()->selectedRows())
            subscribe(m_groups->name(index.row()));
        return;
    }
    if (QListWidgetItem* item = newbox->currentItem(); item && item->isSelected())
        subscribe(item->text().toLocal8Bit().toStdString());
}

void Tnewsgrpform::addanewsgrouptosubscribedlist1Click() {
    if (subscriptionsLocked()) return;
    Tenterstringform& entry = m_host.entryPrompt();
    if (entry.ask(kNamePrompt) != ui::kResultOk) return;
    subscribe(entry.text().toLocal8Bit().toStdString());
}

void Tnewsgrpform::removeselectednewsgroupfromsubscribedlist1Click() {
    QListWidgetItem* item = subbox->currentItem();
    if (!item || subscriptionsLocked()) return;
    if (m_host.questionPrompt().ask(kUnsubscribeQuestion) != ui::kResultOk) return;
    const int position = subbox->row(item);
    std::string name = item->text().toLocal8Bit().toStdString();
    int result = 0;
    {
        ui::WaitCursor wait;
        result = torvakit::SubSub(m_groups->dataPath(kSubscriptionFile), m_groups->dataPath(kSubscribedNames), name);
    }
    if (result == 1) {
        information(kNotSubscribed + name);
        return;
    }
    if (result != 0) return;  // the files could not be rewritten: nothing changed
    m_changed = true;
    reloadSubscribed();
    if (subbox->count() > 0) subbox->setCurrentRow(std::min(position, subbox->count() - 1));
}

// ---------------------------------------------------------------------------
// Find and the active list's keys
// ---------------------------------------------------------------------------

void Tnewsgrpform::findinactivenewsgroups1Click() {
    if (m_groups->state() != news::ListTransfer::Idle) return;
    Tenterstringform& entry = m_host.entryPrompt();
    if (entry.ask(kFindPrompt) != ui::kResultOk) return;
    m_findText = entry.text();
    search();
}

void Tnewsgrpform::findagain1Click() {
    if (m_groups->state() != news::ListTransfer::Idle || m_findText.isEmpty()) return;
    search();
}

void Tnewsgrpform::search() {
    int32_t hit = -1;
    {
        ui::WaitCursor wait;
        hit = m_groups->find(m_findText.toLocal8Bit().toStdString(), m_currentRow);
    }
    if (hit < 0) {
        information(kNoMatch);
        return;
    }
    const QModelIndex index = m_model->index(hit);
    activebox->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    activebox->scrollTo(index, QAbstractItemView::PositionAtCenter);
    m_currentRow = hit;
    newbox->clearSelection();
}

void Tnewsgrpform::onActiveRowChanged(const QModelIndex& current) {
    if (m_groups->total() <= 0 || !current.isValid()) return;
    if (!activebox->selectionModel()->isSelected(current)) return;
    if (m_currentRow == current.row()) return;
    m_currentRow = current.row();
    newbox->clearSelection();
}

void Tnewsgrpform::onActiveKey(const QString& text) {
    if (text == "s") addselectednewsgrouptosubscribedlist1Click();
    else if (text == "f") findinactivenewsgroups1Click();
    else if (text == "g") findagain1Click();
    else if (text == "x") exitnewsgroups1Click();
}
