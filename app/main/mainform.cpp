#include "main/mainform.h"

#include "main/prompts.h"
#include "net/netwire.h"
#include "transfer/connection.h"
#include "platform/fsys.h"
#include "settings/gen.h"
#include "store/torvakit.h"
#include "ui/dialogs.h"
#include "ui/helpviewer.h"
#include "ui/virtuallist.h"
#include "viewer/headform.h"
#include "viewer/viewcommands.h"

#include <QApplication>
#include <QCloseEvent>
#include <QListWidget>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>

namespace {

constexpr int kMailKind = 2;
constexpr int kNewsKind = 1;

// Settings used when the program runs without its settings windows (tests).
const omail::GeneralSettings& defaultSettings() {
    static const omail::GeneralSettings settings;
    return settings;
}
const omail::FolderOptions& defaultFolderOptions() {
    static const omail::FolderOptions options;
    return options;
}

}  // namespace

Tmainform::Tmainform(QWidget* parent)
    : QMainWindow(parent), m_dataDir(platform::currentDirectory()), m_ini(m_dataDir), m_transfers(*this, m_dataDir) {
    setObjectName("mainform");
    setWindowTitle(kAppCaption);

    enterstringform = new Tenterstringform(this);
    queryform = new Tqueryform(this);
    buildToolbar();
    buildPanes();
    buildStatusBar();
    buildMenus();
    buildPopups();
    bindCommands();
    connectPanes();
    connectList();

    if (torvakit::ApplicationLock("FILE.LOK") == 1) {
        m_lockFailed = true;
        ui::informationBox(nullptr, kOneInstanceText);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return;
    }
    restoreGeometry();
    // Run state: nothing carries over between runs.
    m_transfers.retrievalPassword.clear();
    m_transfers.storedPasswordCopy.clear();
    m_transfers.timerSeconds = 0;
    m_transfers.timerMinutes = 0;
    m_transfers.automaticRun = false;
    m_transfers.transferState = transfer::kIdle;
    m_transfers.deliveryFlag = false;
    m_itemCount = -1;
    torvakit::OpenWinsock();
    netwire::SetTrustFile(m_dataDir + "/" + transfer::kTrustFile);
    // An operation a crash cut short is finished or undone before any
    // folder is read; what was repaired is said once the list is shown.
    torvakit::RecoverStore(m_dataDir, m_recoveryReport);

    loadNameList("folders.lst", folderbox);
    rebuildMailFolders();
    loadNameList("subscr.lst", newsbox);
    mailbox->setCurrentRow(kInboxRow);
    m_sortType = kSortByDate;
    databox->setSortedColumn(kStartSortedColumn);
    m_firstShow = true;

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kAutoRetrieveTick);
    connect(Timer1, &QTimer::timeout, this, &Tmainform::Timer1Timer);
    Timer1->start();
}

Tmainform::~Tmainform() = default;

void Tmainform::useSettings(Tgen* settings, Tfoptsform* options) {
    if (m_settings) disconnect(m_settings, nullptr, this, nullptr);
    m_settings = settings;
    m_folderOptions = options;
    if (!settings) return;
    connect(settings, &Tgen::settingsApplied, this, [this] { applySettings(*m_settings); });
    settings->showHelp = [] { ui::showHelp(); };
    settings->showAbout = [settings] { ui::aboutBox(settings); };
    settings->closeHelp = [] { ui::closeHelp(); };
    settings->editSignature = [this](const QString& path) {
        m_view->showHeaderDialog(Theadform::EditSignature, path.toStdString());
    };
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

// ---------------------------------------------------------------------------
// Transfers
// ---------------------------------------------------------------------------

void Tmainform::emailmessages1Click() { m_transfers.retrieveMail(); }

void Tmainform::cancelbtnClick() { m_transfers.userCancel(); }

void Tmainform::Timer1Timer() { m_transfers.timerTick(); }

void Tmainform::showStatus(const std::string& text) { showStatusText(QString::fromLocal8Bit(text.c_str())); }

void Tmainform::information(const std::string& text) {
    ui::informationBox(this, QString::fromLocal8Bit(text.c_str()));
}

bool Tmainform::askPassword(std::string_view caption, std::string& text) {
    QString prompt = QString::fromLatin1(caption.data(), qsizetype(caption.size()));
    if (enterstringform->ask(prompt, true) != ui::kResultOk) return false;
    text = enterstringform->text().toStdString();
    return !text.empty();
}

bool Tmainform::question(const std::string& text) {
    return queryform->ask(QString::fromStdString(text)) == ui::kResultOk;
}

void Tmainform::setDefaultCursor() {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void Tmainform::mailRetrievalEnded() {
    if (mailFolderShown()) reloadList();
}

void Tmainform::outboxChanged() {
    if (mailFolderShown()) reloadList();
}

const omail::GeneralSettings& Tmainform::settings() const {
    return m_settings ? *m_settings : defaultSettings();
}

const omail::FolderOptions& Tmainform::folderOptions() const {
    return m_folderOptions ? *m_folderOptions : defaultFolderOptions();
}

// Hints of menu entries would replace the status bar's text; the status
// bar shows only what the program writes.
bool Tmainform::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) return true;
    return QMainWindow::event(event);
}

// ---------------------------------------------------------------------------
// Showing and closing
// ---------------------------------------------------------------------------

void Tmainform::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_firstShow) return;
    m_firstShow = false;
    // The splitter divides the space it really has only once it is shown.
    int total = Panel3->height() - Panel3->handleWidth();
    Panel3->setSizes({m_listHeight, std::max(1, total - m_listHeight)});
    if (!m_lockFailed) {
        m_listReady = true;
        reloadList();
        if (!m_recoveryReport.empty()) showStatusText(QString::fromStdString(m_recoveryReport));
        // A new user is asked for the account first; queued, so the main
        // window is drawn beneath the dialog.
        if (!m_ini.exists()) QTimer::singleShot(0, this, [this] { m_actions.general1->trigger(); });
    }
    emit firstShown();
}

bool Tmainform::closingAllowed() {
    if (m_transfers.transferState != transfer::kIdle) m_transfers.cancel(false);
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
    ui::closeHelp();
    torvakit::CloseWinsock();
    torvakit::ApplicationUnlock();
    omail::WindowGeometry::write(m_ini, 'm', x(), y(), width(), height());
    m_ini.writeInteger("mdatah", databox->height());
    event->accept();
}
