// The panes under the toolbar: the message list above, the mail folder and
// newsgroup lists side by side below, and the status bar.
#include "main/mainform.h"

#include "platform/fsys.h"
#include "settings/gen.h"
#include "store/lines.h"
#include "store/torvakit.h"
#include "ui/virtuallist.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include <cstdio>
#include <memory>

namespace {

const char* const kStandardFolders[] = {"in", "out", "sent", "bin"};
constexpr int kColumnWidths[kListColumns] = {100, 100, 280, 80, 29};
constexpr int kBarHeight = 20;
constexpr int kRowPadding = 4;
constexpr int kMailPaneWidth = 104;
constexpr int kMailPaneMinimum = 60;
constexpr int kSplitterWidth = 5;
constexpr const char* kReady = "ready";
constexpr const char* kSubscriptionFile = "subscr.dat";
constexpr const char* kFolderNamesFile = "folders.lst";
constexpr const char* kSubscribedNamesFile = "subscr.lst";

}  // namespace

void Tmainform::buildPanes() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    Panel3 = new QSplitter(Qt::Vertical, central);
    Panel3->setObjectName("Panel3");
    Panel3->setHandleWidth(kSplitterWidth);
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
    Panel5->setHandleWidth(kSplitterWidth);
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
    left->setMinimumWidth(kMailPaneMinimum);
    Panel5->setSizes({kMailPaneWidth, kDesignedWidth - kMailPaneWidth});
    newsbox->setSortingEnabled(true);

    Panel3->setSizes({kDesignedListHeight, kDesignedHeight - kDesignedListHeight});
    layout->addWidget(Panel3);
    setCentralWidget(central);
}

void Tmainform::buildStatusBar() {
    // One plain text panel that keeps its text until the program writes
    // another: no temporary messages that a menu entry's hint could wipe.
    statusBar()->setObjectName("statusbar");
    statusBar()->setFixedHeight(kBarHeight);
    statusBar()->setSizeGripEnabled(false);
    statuspanel = new QLabel(kReady, statusBar());
    statuspanel->setObjectName("statuspanel");
    statusBar()->addWidget(statuspanel, 1);
}

QString Tmainform::statusText() const { return statuspanel->text(); }

void Tmainform::showStatusText(const QString& text) {
    statuspanel->setText(text);
    statuspanel->repaint();
    emit statusTextChanged(text);
}

void Tmainform::connectPanes() {
    // The folder shown follows the pane's current row, which a mouse press,
    // the arrow keys and the program all set before this fires.
    connect(mailbox, &QListWidget::currentRowChanged, this, &Tmainform::mailFolderChosen);
    connect(newsbox, &QListWidget::currentRowChanged, this, &Tmainform::newsgroupChosen);
    connect(mailbox, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        const int row = mailbox->row(item);
        if (row == kInboxRow) emailmessages1Click();
        else if (row == kOutboxRow) m_actions.sendemailmessagesinoutbox1->trigger();
    });
    connect(newsbox, &QListWidget::itemDoubleClicked, this, [this] { m_actions.newsarticleheaders1->trigger(); });
    connect(mailheader, &QPushButton::clicked, this, [this] { m_actions.create1->trigger(); });
    connect(newsheader, &QPushButton::clicked, this, [this] { m_actions.newsgroups1->trigger(); });
}

void Tmainform::loadNameList(const char* file, QListWidget* list) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(platform::resolvePath(file).c_str(), "rb"),
                                                        &std::fclose);
    if (!in) return;
    std::string line;
    while (torvakit::lines::readLine(in.get(), line) != torvakit::lines::kEndOfFile)
        if (!line.empty()) list->addItem(QString::fromLocal8Bit(line.data(), qsizetype(line.size())));
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
    if (!platform::fileExists(platform::resolvePath(kSubscribedNamesFile))) return;
    m_switchingFolder = true;
    newsbox->clear();
    loadNameList(kSubscribedNamesFile, newsbox);
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

bool Tmainform::mailFolderShown() const { return mailbox->currentRow() >= 0; }

int Tmainform::mailFolderRow() const { return mailbox->currentRow(); }

QString Tmainform::shownFolderName() const {
    if (QListWidgetItem* item = mailbox->currentItem()) return item->text();
    if (QListWidgetItem* item = newsbox->currentItem()) return item->text();
    return {};
}

std::vector<std::string> Tmainform::personalFolders() const {
    std::vector<std::string> names;
    for (int i = 0; i < folderbox->count(); ++i) names.push_back(folderbox->item(i)->text().toStdString());
    return names;
}

void Tmainform::mailFolderChosen(int row) {
    if (m_switchingFolder || row < 0) return;
    m_switchingFolder = true;
    newsbox->setCurrentRow(-1);
    m_switchingFolder = false;
    if (m_listReady) reloadList();
}

void Tmainform::newsgroupChosen(int row) {
    if (m_switchingFolder || row < 0) return;
    m_switchingFolder = true;
    mailbox->setCurrentRow(-1);
    m_switchingFolder = false;
    if (m_listReady) reloadList();
}

std::string Tmainform::folderPath() {
    if (mailFolderShown()) return m_dataDir + "/" + mailbox->currentItem()->text().toStdString() + "/";
    if (newsbox->currentRow() < 0) {
        mailbox->setCurrentRow(kInboxRow);  // reloads through the row change
        return m_dataDir + "/" + kStandardFolders[kInboxRow] + "/";
    }
    // A group missing from the subscription file has no folder: it shows an
    // empty list rather than some other folder's items.
    std::string home;
    if (torvakit::GetHomeDir(newsbox->currentItem()->text().toStdString(), m_dataDir + "/" + kSubscriptionFile,
                             home) != 1 ||
        home.empty())
        return {};
    if (home.back() == '\\') home.back() = '/';
    return m_dataDir + "/" + home;
}

// ---------------------------------------------------------------------------
// The newsgroup pane and the list as the news retrieval sees them
// ---------------------------------------------------------------------------

int Tmainform::newsgroupCount() const { return newsbox->count(); }

std::string Tmainform::newsgroupName(int row) const {
    QListWidgetItem* item = newsbox->item(row);
    return item ? item->text().toLocal8Bit().toStdString() : std::string();
}

int Tmainform::selectedNewsgroup() const { return newsbox->currentRow(); }

void Tmainform::selectNewsgroup(int row) {
    m_switchingFolder = true;
    mailbox->setCurrentRow(-1);
    newsbox->setCurrentRow(row);
    m_switchingFolder = false;
    reloadList();
}

std::vector<int> Tmainform::listSelectedRows() const { return databox->selectedRowList(); }

void Tmainform::setBusyCursor(bool busy) {
    if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
}

void Tmainform::viewRetrievedItem(int row) {
    if (m_newsViewer) m_newsViewer(row);
}
