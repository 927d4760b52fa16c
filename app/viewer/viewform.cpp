// The viewer's window, panes, menus, keys, display and navigation; the
// print, save and decode commands are in viewactions.cpp.
#include "viewer/viewform.h"

#include "main/mainhost.h"
#include "platform/fsys.h"
#include "settings/gen.h"
#include "settings/geometry.h"
#include "store/torvakit.h"
#include "ui/dialogs.h"
#include "ui/waitcursor.h"
#include "viewer/bodytext.h"
#include "viewer/logform.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr char kRead = 'R';
constexpr char kHighlighted = 'H';
constexpr int kHeaderHeight = 120;
constexpr int kBarHeight = 5;
constexpr int kPartsHeight = 96;
// Characters shown at once, then added per event-loop turn.
constexpr qsizetype kFirstSlice = 64 * 1024;
constexpr qsizetype kSlice = 1024 * 1024;

// The bar between toolbar and header pane: dragging it with the left button
// alone resizes the header pane.
class SizeBar : public QWidget {
public:
    SizeBar(QWidget* pane, QWidget* parent) : QWidget(parent), m_pane(pane) {
        setFixedHeight(kBarHeight);
        setCursor(Qt::SizeVerCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override { m_start = e->globalPosition().y(); }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (e->buttons() != Qt::LeftButton) return;
        const int dy = int(e->globalPosition().y() - m_start);
        const int height = m_pane->height() + dy;
        if (height >= 0 && height < window()->height() - y()) {
            m_pane->setFixedHeight(height);
            m_start = e->globalPosition().y();
        }
    }

private:
    QWidget* m_pane;
    qreal m_start = 0;
};

QString loadText(const std::string& path, bool& exists) {
    QString text;
    exists = viewer::readBodyText(QString::fromStdString(platform::resolvePath(path)), text);
    return text;
}

}  // namespace

Tviewform::Tviewform(MainHost& host, Tlogform& log, QWidget* parent)
    : QMainWindow(parent), m_host(host), m_log(log), m_ini(host.dataDirectory()),
      m_saveDir(QString::fromStdString(host.dataDirectory())) {
    setObjectName("viewform");
    setWindowTitle(kViewCaption);
    buildPanes();
    buildMenus();
    resize(omail::kDefaultWindowWidth, omail::kDefaultWindowHeight);
    omail::restoreWindowPlace(this, m_ini, 'v', omail::kDefaultWindowWidth, omail::kDefaultWindowHeight);
}

Tviewform::~Tviewform() { omail::saveWindowPlace(this, m_ini, 'v'); }

void Tviewform::buildPanes() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    headermemo = new QPlainTextEdit(central);
    headermemo->setObjectName("headermemo");
    headermemo->setReadOnly(true);
    headermemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    headermemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    headermemo->setFixedHeight(kHeaderHeight);
    bodymemo = new QPlainTextEdit(central);
    bodymemo->setObjectName("bodymemo");
    bodymemo->setReadOnly(true);
    bodymemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    bodymemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bodymemo->setUndoRedoEnabled(false);
    m_bodyFeeder = new QTimer(this);
    m_bodyFeeder->setInterval(0);
    connect(m_bodyFeeder, &QTimer::timeout, this, &Tviewform::feedBody);
    Panel2 = new SizeBar(headermemo, central);
    Panel2->setObjectName("Panel2");
    layout->addWidget(Panel2);
    layout->addWidget(headermemo);
    layout->addWidget(bodymemo, 1);
    partbox = new QListWidget(central);
    partbox->setObjectName("partbox");
    partbox->setMaximumHeight(kPartsHeight);
    partbox->hide();
    layout->addWidget(partbox);
    connect(partbox, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { launchPart(partbox->row(item)); });
    partbox->installEventFilter(this);
    setCentralWidget(central);
    for (QPlainTextEdit* pane : {headermemo, bodymemo}) {
        pane->installEventFilter(this);
        pane->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(pane, &QWidget::customContextMenuRequested, this,
                [this, pane](const QPoint& pos) { viewpop->popup(pane->viewport()->mapToGlobal(pos)); });
    }
}

void Tviewform::buildMenus() {
    auto add = [this](QMenu* menu, const char* caption, const char* name, auto handler) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    QMenu* view = menuBar()->addMenu("&view");
    QAction* top = add(view, "&top item", "viewfirst1", &Tviewform::viewfirst1Click);
    QAction* bottom = add(view, "&bottom item", "viewlast1", &Tviewform::viewlast1Click);
    QAction* next = add(view, "&next item", "viewnext2", &Tviewform::viewnext2Click);
    QAction* unread = add(view, "next unre&ad item", "viewnextunread1", &Tviewform::viewnextunread1Click);
    QAction* high = add(view, "next &highlighted item", "viewnexthighlighted1", &Tviewform::viewnexthighlighted1Click);
    QAction* prev = add(view, "&previous item", "viewnext1", &Tviewform::viewnext1Click);
    view->addSeparator();
    QAction* all = add(view, "se&lect all", "selectall2", [this] { bodymemo->selectAll(); });
    QAction* copy = add(view, "&copy to clipboard", "copy1", [this] {
        (headermemo->hasFocus() ? headermemo : bodymemo)->copy();
    });
    view->addSeparator();
    QAction* print = add(view, "&print item", "printitem1", &Tviewform::printitem1Click);
    QAction* save = add(view, "&save item as...", "saveitemas1", &Tviewform::saveitemas1Click);
    view->addSeparator();
    QAction* exitView = add(view, "&exit view", "exitview1", &QWidget::close);

    QMenu* decode = menuBar()->addMenu("&decode");
    QAction* launch = add(decode, "&launch single part attachment", "launchsinglepartattachment1",
                          &Tviewform::launchsinglepartattachment1Click);
    QAction* launchNext = add(decode, "launch next", "launchnext1", &Tviewform::launchnext1Click);
    decode->addSeparator();
    QAction* single = add(decode, "&single part attachment", "decodesinglepart1", &Tviewform::decodesinglepart1Click);
    QAction* multi = add(decode, "&multi part uue attachment", "decodemultipart1", &Tviewform::decodemultipart1Click);
    QAction* base64 = add(decode, "&unheaded base64 attachment", "decodesinglepartnetscapeattachment1",
                          &Tviewform::decodesinglepartnetscapeattachment1Click);
    decode->addSeparator();
    QAction* log = add(decode, "view dec&ode log", "decodelog1", &Tviewform::decodelog1Click);

    QMenu* composeMenu = menuBar()->addMenu("&compose");
    const std::pair<const char*, int> composeEntries[] = {
        {"new &message", 1}, {"&reply message", 2}, {"new &article", 4},
        {"&follow up article", 5}, {"f&orward", 3}, {"recompos&e", 6}};
    for (const auto& [caption, mode] : composeEntries) {
        QAction* a = composeMenu->addAction(caption);
        a->setObjectName(QString("compose%1").arg(mode));
        a->setData(mode);
        a->setEnabled(false);  // until the compose window is there
        connect(a, &QAction::triggered, this, [this, m = mode] { compose(m); });
        m_composeActions << a;
    }

    QMenu* settings = menuBar()->addMenu("&settings");
    QAction* general = settings->addAction("&general");
    general->setObjectName("general1");
    general->setEnabled(false);  // the settings window binds it
    QAction* toolbar = settings->addAction("&toolbar");
    toolbar->setObjectName("toolbar1");
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    QMenu* help = menuBar()->addMenu("&help");
    help->addAction("orrindel &mail")->setEnabled(false);
    add(help, "&about orrindel mail", "aboutorrindelmail1",
        [this] { ui::informationBox(this, "orrindel mail\nmail and news for people who live in them"); });

    viewpop = new QMenu(this);
    viewpop->setObjectName("viewpop");
    viewpop->addActions({next, prev, unread, high, top, bottom});
    viewpop->addSeparator();
    viewpop->addActions({all, copy});
    viewpop->addSeparator();
    viewpop->addActions({launch, launchNext, log});
    viewpop->addSeparator();
    viewpop->addAction(exitView);
    vcompop = new QMenu(this);
    vcompop->setObjectName("vcompop");
    vcompop->addActions(m_composeActions);
    vdecpop = new QMenu(this);
    vdecpop->setObjectName("vdecpop");
    vdecpop->addActions({launch, single, multi, base64, log});
    vsetpop = new QMenu(this);
    vsetpop->setObjectName("vsetpop");
    vsetpop->addActions({general, toolbar});

    Panel1 = addToolBar("toolbar");
    Panel1->setObjectName("Panel1");
    Panel1->setMovable(false);
    connect(toolbar, &QAction::toggled, Panel1, &QWidget::setVisible);
    auto button = [this](const char* name, const char* hint, QStyle::StandardPixmap icon, QAction* action,
                         QMenu* menu) {
        auto* b = new QToolButton(Panel1);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setAutoRaise(true);
        b->setIcon(style()->standardIcon(icon));
        if (action) connect(b, &QToolButton::clicked, action, &QAction::trigger);
        if (menu) {
            b->setMenu(menu);
            b->setPopupMode(QToolButton::InstantPopup);
        }
        Panel1->addWidget(b);
    };
    button("ExplorerButton8", "view previous", QStyle::SP_ArrowBack, prev, nullptr);
    button("ExplorerButton9", "view next", QStyle::SP_ArrowForward, next, nullptr);
    button("ExplorerButton3", "print item", QStyle::SP_FileDialogDetailedView, print, nullptr);
    button("ExplorerButton4", "save item as...", QStyle::SP_DialogSaveButton, save, nullptr);
    button("compbtn", "compose", QStyle::SP_FileIcon, nullptr, vcompop);
    button("decbtn", "decode", QStyle::SP_DriveHDIcon, nullptr, vdecpop);
    button("setbtn", "settings", QStyle::SP_FileDialogListView, nullptr, vsetpop);
    button("ExplorerButton7", "exit view", QStyle::SP_DialogCloseButton, exitView, nullptr);
}

void Tviewform::setComposeHandler(std::function<int(int, const std::string&)> handler) {
    composeHandler = std::move(handler);
    for (QAction* a : m_composeActions) a->setEnabled(bool(composeHandler));
}

void Tviewform::applySettings() {
    const omail::GeneralSettings& gen = m_host.settings();
    for (QPlainTextEdit* pane : {headermemo, bodymemo}) {
        QPalette p = pane->palette();
        p.setColor(QPalette::Base, colorFromSetting(gen.backcol));
        p.setColor(QPalette::Text, colorFromSetting(pane == headermemo ? gen.headcol : gen.normcol));
        pane->setPalette(p);
    }
    QFont font(QString::fromStdString(gen.fontnam));
    if (gen.fontsiz > 0) font.setPointSize(gen.fontsiz);
    omail::FontStyle style = omail::FontStyle::parse(gen.fontstl);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    font.setUnderline(style.underline);
    font.setStrikeOut(style.strikeOut);
    bodymemo->setFont(font);
}

void Tviewform::display() {
    ui::WaitCursor wait;
    setWindowTitle(QString("%1 - %2 (%3/%4)").arg(kViewCaption, folderName).arg(currentRow + 1).arg(itemCount));
    std::string headerPath = bodyPath;
    if (!headerPath.empty()) headerPath.back() = 'h';
    std::string shown;
    bool exists = false;
    QString header;
    if (!headerPath.empty() && torvakit::MakeViewHeaderDecoded(headerPath, shown, 1) == 1)
        header = loadText(shown, exists);
    headermemo->setPlainText(header);
    QString body;
    torvakit::ReadableText info;
    if (!bodyPath.empty()) viewer::readableText(bodyPath, body, info);
    m_parts = std::move(info.parts);
    partbox->clear();
    for (size_t i = 0; i < m_parts.size(); ++i)
        partbox->addItem(QString("%1  %2").arg(i + 1).arg(viewer::partLabel(m_parts[i])));
    partbox->setVisible(!m_parts.empty());
    setBodyText(body);
}

// Cuts after a line break, so a CR LF pair is never split.
static qsizetype sliceEnd(const QString& text, qsizetype from, qsizetype length) {
    if (from + length >= text.size()) return text.size();
    const qsizetype brk = text.indexOf('\n', from + length);
    return brk < 0 ? text.size() : brk + 1;
}

void Tviewform::setBodyText(QString text) {
    m_bodyFeeder->stop();
    m_pendingBody.clear();
    m_pendingAt = 0;
    const qsizetype first = sliceEnd(text, 0, kFirstSlice);
    if (first >= text.size()) {
        bodymemo->setPlainText(text);
        return;
    }
    bodymemo->setPlainText(text.left(first));
    m_pendingBody = std::move(text);
    m_pendingAt = first;
    m_bodyFeeder->start();
}

void Tviewform::feedBody() {
    const qsizetype end = sliceEnd(m_pendingBody, m_pendingAt, kSlice);
    QTextCursor cursor(bodymemo->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(m_pendingBody.mid(m_pendingAt, end - m_pendingAt));
    m_pendingAt = end;
    if (m_pendingAt < m_pendingBody.size()) return;
    m_bodyFeeder->stop();
    m_pendingBody.clear();
    m_pendingAt = 0;
}

void Tviewform::showModal() {
    QEventLoop loop;
    connect(this, &Tviewform::closed, &loop, &QEventLoop::quit);
    setWindowModality(Qt::ApplicationModal);
    show();
    loop.exec();
}

void Tviewform::showEvent(QShowEvent* event) {
    ui::WaitCursor wait;
    applySettings();
    bodymemo->setFocus();
    QMainWindow::showEvent(event);
    m_host.window()->hide();
}

void Tviewform::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    m_host.window()->show();
    emit closed();
}

bool Tviewform::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == partbox) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && partbox->currentRow() >= 0) {
            launchPart(partbox->currentRow());
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress && (watched == headermemo || watched == bodymemo || watched == partbox)) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.size() == 1 && text[0].isPrint() && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            runKey(text[0]);
            return true;  // every other printable key is dropped
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool Tviewform::runKey(QChar key) {
    if (key >= '1' && key <= '9') {
        const int part = key.unicode() - '1';
        if (part < int(m_parts.size())) launchPart(part);
        return true;
    }
    switch (key.unicode()) {
    case 't': viewfirst1Click(); return true;
    case 'b': viewlast1Click(); return true;
    case 'n': viewnext2Click(); return true;
    case 'a': viewnextunread1Click(); return true;
    case 'h': viewnexthighlighted1Click(); return true;
    case 'p': viewnext1Click(); return true;
    case 'x': close(); return true;
    case 'l': launchsinglepartattachment1Click(); return true;
    case 'm': compose(1); return true;
    case 'r': compose(2); return true;
    case 'k': compose(4); return true;
    case 'f': compose(5); return true;
    case 'o': compose(3); return true;
    case 'e': compose(6); return true;
    default: return false;
    }
}

void Tviewform::markRead(int row) {
    if (torvakit::GetListStatus(folderPath, row, sortType) != kHighlighted)
        torvakit::SetListStatus(folderPath, row, sortType, kRead);
}

void Tviewform::step(int delta, Kind kind) {
    const int start = currentRow;
    std::string candidate;
    bool accepted = false;
    while (!accepted && currentRow >= 0 && currentRow < itemCount) {
        currentRow += delta;
        candidate = m_host.bodyPathOfRow(currentRow);
        if (candidate.empty() || !platform::fileExists(platform::resolvePath(candidate))) continue;
        const int status = torvakit::GetListStatus(folderPath, currentRow, sortType);
        if (kind == Kind::Unread) accepted = status != kRead && status != kHighlighted;
        else if (kind == Kind::Highlighted) accepted = status == kHighlighted;
        else accepted = true;
    }
    if (!accepted) {
        currentRow = start;
        m_host.bodyPathOfRow(start);
        return;
    }
    markRead(currentRow);
    bodyPath = candidate;
    display();
}

void Tviewform::goToEnd(bool first) {
    const int delta = first ? 1 : -1;
    int row = first ? -1 : itemCount;
    for (int tries = 0; tries < itemCount; ++tries) {
        row += delta;
        std::string path = m_host.bodyPathOfRow(row);
        if (path.empty() || !platform::fileExists(platform::resolvePath(path))) continue;
        markRead(row);
        currentRow = row;
        bodyPath = path;
        display();
        return;
    }
    m_host.bodyPathOfRow(currentRow);
}

void Tviewform::viewfirst1Click() { goToEnd(true); }
void Tviewform::viewlast1Click() { goToEnd(false); }
