#include "compose/mailform.h"

#include "addressbook/addrbook.h"
#include "main/mainhost.h"
#include "main/prompts.h"
#include "settings/gen.h"
#include "settings/geometry.h"
#include "settings/settings.h"
#include "ui/dialogs.h"
#include "ui/waitcursor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

namespace compose {

QString captionFor(int mode) {
    switch (mode) {
    case kNewMessage: return "compose - orrindel mail - new message";
    case kReply: return "compose - orrindel mail - reply message";
    case kForward: return "compose - orrindel mail - forward";
    case kNewArticle: return "compose - orrindel mail - new article";
    case kFollowUp: return "compose - orrindel mail - follow up article";
    default: return "compose";
    }
}

}  // namespace compose

namespace {

constexpr int kButtonColumn = 96;
constexpr int kSeparatorHeight = 3;

// The subscribed groups, one per line, picked in a small list dialog.
QString pickFromList(QWidget* parent, const QStringList& groups) {
    QDialog dialog(parent);
    dialog.setObjectName("moveform");
    dialog.setWindowTitle("newsgroups");
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    list->setObjectName("movebox");
    list->addItems(groups);
    if (!groups.isEmpty()) list->setCurrentRow(0);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    if (dialog.exec() != QDialog::Accepted || !list->currentItem()) return {};
    return list->currentItem()->text();
}

}  // namespace

using namespace compose;

Tmailform::Tmailform(MainHost& host, QWidget* parent) : QDialog(parent), m_host(host) {
    setObjectName("mailform");
    setWindowTitle("compose");
    setModal(true);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    m_mode = kNewMessage;
    const QString here = QString::fromStdString(m_host.dataDirectory());
    m_attachDir = m_textDir = m_templateDir = here;
    buildFields();
    buildToolbar();
    buildMenus();
    restorePlace();
}

Tmailform::~Tmailform() {
    // A window never shown has nothing new to keep (and a second instance,
    // refused the lock, must not write the first one's settings).
    if (m_shown) omail::saveWindowPlace(this, omail::IniFile(m_host.dataDirectory()), 'c');
}

void Tmailform::restorePlace() {
    resize(kDesignedWidth, kDesignedHeight);
    omail::restoreWindowPlace(this, omail::IniFile(m_host.dataDirectory()), 'c', kDesignedWidth, kDesignedHeight);
}

void Tmailform::buildFields() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Panel1 = new QToolBar(this);
    Panel1->setObjectName("Panel1");
    layout->addWidget(Panel1);

    auto panel = [this, layout](const char* name) {
        auto* w = new QWidget(this);
        w->setObjectName(name);
        auto* grid = new QGridLayout(w);
        grid->setContentsMargins(4, 2, 4, 2);
        grid->setColumnMinimumWidth(0, kButtonColumn);
        layout->addWidget(w);
        return std::pair{w, grid};
    };
    auto field = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        return e;
    };
    auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        b->setFixedWidth(kButtonColumn);
        return b;
    };
    auto [to, toGrid] = panel("topanel");
    topanel = to;
    tobtn = button("tobtn", "to");
    dto = field("dto");
    dsub = field("dsub");
    toGrid->addWidget(tobtn, 0, 0);
    toGrid->addWidget(dto, 0, 1);
    auto* subject = new QLabel("subject", this);
    subject->setAlignment(Qt::AlignCenter);
    toGrid->addWidget(subject, 1, 0);
    toGrid->addWidget(dsub, 1, 1);

    auto [cc, ccGrid] = panel("ccpanel");
    ccpanel = cc;
    ccbtn = button("ccbtn", "cc");
    dcc = field("dcc");
    ccGrid->addWidget(ccbtn, 0, 0);
    ccGrid->addWidget(dcc, 0, 1);

    auto [att, attGrid] = panel("attpanel");
    attpanel = att;
    attbtn = button("attbtn", "attachment");
    datt = field("datt");
    repbtn = button("repbtn", "reply to");
    drep = field("drep");
    attGrid->addWidget(attbtn, 0, 0);
    attGrid->addWidget(datt, 0, 1);
    attGrid->addWidget(repbtn, 1, 0);
    attGrid->addWidget(drep, 1, 1);

    auto [fol, folGrid] = panel("folpanel");
    folpanel = fol;
    folbtn = button("folbtn", "follow up to");
    dfol = field("dfol");
    folGrid->addWidget(folbtn, 0, 0);
    folGrid->addWidget(dfol, 0, 1);

    auto* separator = new QFrame(this);
    separator->setObjectName("Panel4");
    separator->setFrameShape(QFrame::HLine);
    separator->setFixedHeight(kSeparatorHeight);
    Panel4 = separator;
    layout->addWidget(Panel4);

    memo = new QPlainTextEdit(this);
    memo->setObjectName("memo");
    memo->setTabChangesFocus(false);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(memo, 1);
    ClipMemo = new QPlainTextEdit(this);
    ClipMemo->setObjectName("ClipMemo");
    ClipMemo->hide();

    connect(tobtn, &QPushButton::clicked, this, &Tmailform::tobtnClick);
    connect(ccbtn, &QPushButton::clicked, this, &Tmailform::ccbtnClick);
    connect(repbtn, &QPushButton::clicked, this, &Tmailform::repbtnClick);
    connect(folbtn, &QPushButton::clicked, this, &Tmailform::folbtnClick);
    connect(attbtn, &QPushButton::clicked, this, &Tmailform::attbtnClick);
}

void Tmailform::buildToolbar() {
    struct Button {
        const char* name;
        const char* hint;
        QStyle::StandardPixmap icon;
        void (Tmailform::*handler)();
    };
    const Button buttons[] = {
        {"ExplorerButton2", "ok", QStyle::SP_DialogOkButton, &Tmailform::exitcompose1Click},
        {"cancelbtn", "cancel", QStyle::SP_DialogCancelButton, &Tmailform::cancelbtnClick},
        {"ExplorerButton3", "insert text file", QStyle::SP_FileIcon, &Tmailform::inserttextfile1Click},
        {"ExplorerButton4", "merge template", QStyle::SP_FileDialogContentsView, &Tmailform::mergetemplatefile1Click},
        {"ExplorerButton5", "save as template", QStyle::SP_DialogSaveButton, &Tmailform::saveastemplatefile1Click},
        {"ExplorerButton6", "clear all", QStyle::SP_DialogResetButton, &Tmailform::clearall1Click},
    };
    for (const Button& b : buttons) {
        QAction* a = Panel1->addAction(style()->standardIcon(b.icon), b.hint);
        a->setObjectName(b.name);
        a->setToolTip(b.hint);
        connect(a, &QAction::triggered, this, b.handler);
    }
}

void Tmailform::buildMenus() {
    auto* bar = new QMenuBar(this);
    bar->setObjectName("MainMenu1");
    layout()->setMenuBar(bar);
    auto add = [this](QMenu* menu, const char* caption, const char* name, auto handler) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    // The clipboard commands act on the edit field or body that has the focus.
    auto onFocused = [](auto lineOp, auto textOp) {
        return [lineOp, textOp] {
            QWidget* w = QApplication::focusWidget();
            if (auto* line = qobject_cast<QLineEdit*>(w)) (line->*lineOp)();
            else if (auto* text = qobject_cast<QPlainTextEdit*>(w)) (text->*textOp)();
        };
    };
    auto copy = onFocused(&QLineEdit::copy, &QPlainTextEdit::copy);
    auto cut = onFocused(&QLineEdit::cut, &QPlainTextEdit::cut);
    auto paste = onFocused(&QLineEdit::paste, &QPlainTextEdit::paste);
    auto selectAll = [this] {
        memo->setFocus();
        memo->selectAll();
    };

    QMenu* file = bar->addMenu("&compose");
    add(file, "&ok", "exitcompose1", &Tmailform::exitcompose1Click);
    add(file, "ca&ncel", "exitcomposeandsaveinoutbox1", &Tmailform::cancelbtnClick);
    file->addSeparator();
    add(file, "&insert text file", "insertfileatcursor1", &Tmailform::inserttextfile1Click);
    add(file, "&append text file", "appendtextfile1", &Tmailform::appendtextfile1Click);
    file->addSeparator();
    add(file, "&merge template file", "mergetemplatefile1", &Tmailform::mergetemplatefile1Click);
    add(file, "&save as template file", "saveastemplatefile1", &Tmailform::saveastemplatefile1Click);

    QMenu* edit = bar->addMenu("&edit");
    add(edit, "&select all", "selec1", selectAll);
    add(edit, "&copy to clipboard", "copyselectedtexttoclipboard1", copy);
    add(edit, "c&ut to clipboard", "cutselectedtexttoclipboard1", cut);
    add(edit, "&paste from clipboard", "pastefromclipboard1", paste);
    edit->addSeparator();
    add(edit, "&clear all", "clearall1", &Tmailform::clearall1Click);

    QMenu* settings = bar->addMenu("&settings");
    QAction* general = settings->addAction("&general");
    general->setObjectName("general1");
    general->setEnabled(false);  // the settings windows are not built yet
    toolbar1 = settings->addAction("&toolbar");
    toolbar1->setObjectName("toolbar1");
    toolbar1->setCheckable(true);
    toolbar1->setChecked(true);
    connect(toolbar1, &QAction::toggled, Panel1, &QWidget::setVisible);
    allfields = settings->addAction("&all fields");
    allfields->setObjectName("allfields");
    allfields->setCheckable(true);
    allfields->setChecked(true);
    connect(allfields, &QAction::toggled, this, &Tmailform::layoutPanels);

    QMenu* help = bar->addMenu("&help");
    add(help, "&about orrindel mail", "aboutorrindelmail1",
        [this] { ui::informationBox(this, "orrindel mail\nmail and news for people who live in them"); });

    commpop = new QMenu(this);
    commpop->setObjectName("commpop");
    add(commpop, "insert text file", "inserttextfile1", &Tmailform::inserttextfile1Click);
    add(commpop, "append text file", "appendtextfile2", &Tmailform::appendtextfile1Click);
    add(commpop, "merge template", "N7", &Tmailform::mergetemplatefile1Click);
    commpop->addSeparator();
    add(commpop, "select all", "selectall1", selectAll);
    add(commpop, "copy to clipboard", "copytoclipboard1", copy);
    add(commpop, "cut to clipboard", "cuttoclipboard1", cut);
    add(commpop, "paste from clipboard", "pastefromclipboard2", paste);
    memo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(memo, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { commpop->popup(memo->viewport()->mapToGlobal(pos)); });
}

void Tmailform::setMode(int mode, const QString& sourceItem) {
    m_mode = mode;
    m_source = sourceItem;
}

void Tmailform::setCaller(int caller, QWidget* callerWindow) {
    m_caller = caller;
    m_callerWindow = callerWindow;
}

int Tmailform::showModal() { return exec() == QDialog::Accepted ? ui::kResultOk : ui::kResultCancel; }

void Tmailform::applyLook() {
    const omail::GeneralSettings& s = m_host.settings();
    QPalette palette = memo->palette();
    palette.setColor(QPalette::Base, colorFromSetting(s.backcol));
    palette.setColor(QPalette::Text, colorFromSetting(s.normcol));
    memo->setPalette(palette);
    if (!s.fontnam.empty()) {
        QFont font(QString::fromStdString(s.fontnam), s.fontsiz);
        const omail::FontStyle style = omail::FontStyle::parse(s.fontstl);
        font.setBold(style.bold);
        font.setItalic(style.italic);
        memo->setFont(font);
    }
}

void Tmailform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_shown = true;
    ui::WaitCursor wait;
    applyLook();
    loadFields();
    applyStartFields();
    layoutPanels();
    setCaption();
    dto->setFocus();
    if (m_callerWindow) m_callerWindow->hide();
}

void Tmailform::done(int result) {
    if (m_callerWindow) m_callerWindow->show();
    QDialog::done(result);
}

void Tmailform::closeEvent(QCloseEvent* event) {
    // Closing the window's frame is a cancel: nothing is written.
    event->accept();
    QDialog::closeEvent(event);
}

void Tmailform::setCaption() {
    setWindowTitle(captionFor(m_mode));
    tobtn->setText(isNewsMode(m_mode) ? "newsgroup" : "to");
}

void Tmailform::layoutPanels() {
    const bool all = allfields->isChecked();
    ccpanel->setVisible(all && !isNewsMode(m_mode));
    folpanel->setVisible(all && isNewsMode(m_mode));
    attpanel->setVisible(all);
}

void Tmailform::cancelbtnClick() { reject(); }

void Tmailform::clearall1Click() {
    if (m_host.questionPrompt().ask(kClearAllQuestion) != ui::kResultOk) return;
    m_references.clear();
    for (QLineEdit* e : {dto, dsub, dcc, datt, drep}) e->clear();
    memo->clear();
    m_mode = isNewsMode(m_mode) ? kNewArticle : kNewMessage;
    setCaption();
    layoutPanels();
}

// ---------------------------------------------------------------------------
// Picking addresses and groups
// ---------------------------------------------------------------------------

QString Tmailform::pickAddress() {
    Taddrbookform* book = m_book;
    if (!book) {
        if (!m_ownBook) m_ownBook = new Taddrbookform(QString::fromStdString(m_host.dataDirectory()), this);
        book = m_ownBook;
    }
    book->setPrefill({}, {});
    book->setPickingMode(1);
    const int result = book->showModal();
    book->setPickingMode(0);
    return result == ui::kResultOk ? book->result() : QString();
}

void Tmailform::addPicked(QLineEdit* field, const QString& picked, bool replace) {
    if (!picked.isEmpty()) {
        if (replace || field->text().isEmpty()) field->setText(picked);
        else field->setText(field->text() + "," + picked);
    }
    field->setFocus();
}

QString Tmailform::pickGroupLine() {
    QStringList groups;
    QFile file(QString::fromStdString(m_host.dataDirectory()) + "/subscr.lst");
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.trimmed().isEmpty()) groups.push_back(QString::fromUtf8(line.trimmed()));
    return m_pickGroup ? m_pickGroup(groups) : pickFromList(this, groups);
}

void Tmailform::tobtnClick() {
    if (isNewsMode(m_mode)) {
        const QString group = pickGroupLine();
        if (!group.isEmpty()) dto->setText(group);
        dto->setFocus();
        return;
    }
    addPicked(dto, pickAddress(), false);
}

void Tmailform::ccbtnClick() { addPicked(dcc, pickAddress(), false); }

void Tmailform::repbtnClick() { addPicked(drep, pickAddress(), true); }

void Tmailform::folbtnClick() {
    const QString group = pickGroupLine();
    if (!group.isEmpty()) dfol->setText(group);
    dfol->setFocus();
}
