#include "viewer/viewcommands.h"

#include "main/mainhost.h"
#include "platform/fsys.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"
#include "ui/dialogs.h"
#include "ui/waitcursor.h"
#include "viewer/headform.h"
#include "viewer/logform.h"
#include "viewer/viewform.h"

#include <QFileInfo>
#include <QWidget>

namespace {
constexpr int kOutboxPosition = 1;
constexpr char kRead = 'R';
constexpr char kHighlighted = 'H';
constexpr int kStatusChanged = 1;

bool bodyExists(const std::string& path) { return !path.empty() && platform::fileExists(platform::resolvePath(path)); }
}  // namespace

ViewCommands::ViewCommands(MainHost& host, QObject* parent) : QObject(parent), m_host(host) {
    // A news body fetched for viewing arrives here with its row.
    m_host.setNewsViewer([this](int row) {
        m_host.setCurrentItem(row);
        openViewer();
    });
}

ViewCommands::~ViewCommands() = default;

Tlogform& ViewCommands::log() {
    if (!m_log) m_log = std::make_unique<Tlogform>(m_host.dataDirectory(), m_host.settings(), m_host.window());
    return *m_log;
}

Tviewform& ViewCommands::viewer() {
    if (!m_viewer) {
        m_viewer = std::make_unique<Tviewform>(m_host, log());
        passComposeHandler();
    }
    return *m_viewer;
}

void ViewCommands::setComposeHandler(ComposeHandler handler) {
    m_compose = std::move(handler);
    if (m_viewer) passComposeHandler();
}

void ViewCommands::passComposeHandler() {
    if (!m_compose) {
        m_viewer->setComposeHandler({});
        return;
    }
    Tviewform* v = m_viewer.get();
    m_viewer->setComposeHandler([this, v](int mode, const std::string& source) { return m_compose(mode, source, v); });
}

Theadform& ViewCommands::headerDialog() {
    if (!m_head) m_head = std::make_unique<Theadform>(m_host.settings(), m_host.window());
    return *m_head;
}

bool ViewCommands::itemBlocked() const {
    const bool outbox = m_host.mailFolderShown() && m_host.mailFolderRow() == kOutboxPosition;
    return m_host.currentItem() < 0 || (outbox && m_host.transfers().deliveryFlag);
}

void ViewCommands::selecteditem1Click() {
    if (m_host.currentItem() < 0) return;
    // A news item without its body is fetched first and viewed once it is
    // there; while a transfer that cannot take it runs, nothing happens.
    if (!m_host.mailFolderShown() && !bodyExists(m_host.currentBodyPath())) {
        m_host.fetchNewsBodyForViewing(m_host.currentItem());
        return;
    }
    openViewer();
}

void ViewCommands::openViewer() {
    const bool outbox = m_host.mailFolderShown() && m_host.mailFolderRow() == kOutboxPosition;
    if (outbox && m_host.transfers().deliveryFlag) return;
    const std::string body = m_host.currentBodyPath();
    if (!bodyExists(body)) {
        ui::informationBox(m_host.window(), kNoBody);
        return;
    }
    Tviewform& v = viewer();
    v.currentRow = m_host.currentItem();
    v.sortType = m_host.sortType();
    v.itemCount = m_host.itemCount();
    v.folderPath = m_host.folderPath();
    v.bodyPath = body;
    v.folderName = m_host.shownFolderName();
    if (torvakit::GetListStatus(v.folderPath, v.currentRow, v.sortType) != kHighlighted)
        torvakit::SetListStatus(v.folderPath, v.currentRow, v.sortType, kRead);
    v.display();
    v.showModal();
    if (outbox) {
        m_host.reloadList();
    } else {
        m_host.statusRefresh();
        m_host.showViewedItem();
    }
    if (m_host.settings().autodlv == 1 && deliverAfterViewing) deliverAfterViewing();
}

int ViewCommands::showHeaderDialog(int mode, const std::string& path) {
    Theadform& head = headerDialog();
    head.mode = mode;
    head.path = QString::fromStdString(platform::resolvePath(path));
    return head.exec();
}

void ViewCommands::selecteditemheader1Click() {
    if (itemBlocked()) return;
    std::string path = m_host.currentBodyPath();
    if (path.empty()) return;
    path.back() = 'h';
    showHeaderDialog(Theadform::ViewHeader, path);
}

void ViewCommands::printselecteditem1Click() {
    if (itemBlocked()) return;
    const std::string path = m_host.currentBodyPath();
    if (path.empty()) return;
    viewer().bodyPath = path;
    viewer().printitem1Click();
}

void ViewCommands::saveselecteditemas1Click() {
    if (itemBlocked()) return;
    const std::string path = m_host.currentBodyPath();
    if (path.empty()) return;
    viewer().bodyPath = path;
    viewer().saveitemas1Click();
}

void ViewCommands::launchselecteditem1Click() {
    if (itemBlocked()) return;
    const std::string path = m_host.currentBodyPath();
    if (path.empty()) return;
    std::string names;
    bool decoded = false;
    {
        ui::WaitCursor wait;
        torvakit::decodefile(platform::resolvePath(path), names, '>', Tlogform::decodeFolder(m_host.dataDirectory()));
        for (const QString& name : QString::fromStdString(names).split("\r\n", Qt::SkipEmptyParts))
            decoded = decoded || QFileInfo(name).isFile();
    }
    if (!decoded) {
        ui::informationBox(m_host.window(), "decoding failed");
        return;
    }
    const std::string folder = m_host.folderPath();
    const int row = m_host.currentItem(), sort = m_host.sortType();
    if (torvakit::GetListStatus(folder, row, sort) != kHighlighted &&
        torvakit::SetListStatus(folder, row, sort, kRead) == kStatusChanged)
        m_host.statusRefresh();
    log().launchNewest();
}

void ViewCommands::viewdecodelog1Click() {
    log().setCaller(m_host.window());
    log().exec();
}
