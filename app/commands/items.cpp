#include "commands/items.h"

#include "commands/folders.h"
#include "commands/pickers.h"
#include "main/mainhost.h"
#include "main/prompts.h"
#include "platform/fsys.h"
#include "settings/settings.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"
#include "ui/dialogs.h"
#include "ui/virtuallist.h"
#include "ui/waitcursor.h"

#include <QWidget>

namespace {
constexpr int kWastebasketRow = 3;
constexpr const char* kWastebasketName = "bin";
constexpr int kOutboxRow = 1;
constexpr int kViewHeaderMode = 0;
constexpr int kEditHeaderMode = 1;
constexpr int kEditBodyMode = 3;

std::string headerOf(const std::string& bodyPath) {
    std::string header = bodyPath;
    if (!header.empty()) header.back() = 'h';
    return header;
}
}  // namespace

ItemCommands::ItemCommands(MainHost& host, QWidget* dialogParent)
    : QObject(dialogParent), m_host(host), m_moveform(new Tmoveform(dialogParent)),
      m_expireform(new Texpireform(dialogParent)) {}

bool ItemCommands::idle() const {
    const transfer::Transfers& t = m_host.transfers();
    return t.transferState == transfer::kIdle && !t.deliveryFlag;
}

bool ItemCommands::wastebasketShown() const {
    return m_host.mailFolderShown() && m_host.mailFolderRow() == kWastebasketRow;
}

std::string ItemCommands::wastebasket() const {
    return m_host.dataDirectory() + "/" + kWastebasketName + "/";
}

std::string ItemCommands::pickFolder() {
    const omail::GeneralSettings& s = m_host.settings();
    const std::string list = m_host.dataDirectory() + "/" + kFolderListFile;
    if (m_moveform->pick(kMoveCaption, list, s.backcol, s.normcol) != ui::kResultOk) return {};
    return m_host.dataDirectory() + "/" + m_moveform->result().toLocal8Bit().toStdString() + "/";
}

void ItemCommands::moveSelected(const std::string& destination) {
    const std::string source = m_host.folderPath();
    if (source.empty()) return;
    if (source == destination) {
        ui::informationBox(m_host.window(), kSameFolder);
        return;
    }
    ui::WaitCursor wait;
    const std::vector<int> rows = m_host.messageList().selectedRowList();
    std::vector<int32_t> selection;
    selection.reserve(rows.size() + 1);
    selection.push_back(static_cast<int32_t>(rows.size()));
    selection.insert(selection.end(), rows.begin(), rows.end());
    torvakit::MoveItems(source, destination, m_host.sortType(), selection);
    transfer::dropIndices(source);
    if (!destination.empty()) transfer::dropIndices(destination);
    m_host.reloadList();
}

void ItemCommands::moveAll(const std::string& destination) {
    const std::string source = m_host.folderPath();
    if (source.empty()) return;
    if (source == destination) {
        ui::informationBox(m_host.window(), kSameFolder);
        return;
    }
    ui::WaitCursor wait;
    torvakit::MoveAllItems(source, destination);
    transfer::dropIndices(source);
    transfer::dropIndices(destination);
    m_host.reloadList();
}

void ItemCommands::moveselecteditemstofolder1Click() {
    if (m_host.currentItem() < 0 || m_host.personalFolders().empty() || !idle()) return;
    const std::string destination = pickFolder();
    if (!destination.empty()) moveSelected(destination);
}

void ItemCommands::moveallitemstofolder1Click() {
    if (m_host.personalFolders().empty() || !idle() || m_host.itemCount() < 1) return;
    const std::string destination = pickFolder();
    if (!destination.empty()) moveAll(destination);
}

void ItemCommands::deleteselecteditems1Click() {
    if (m_host.currentItem() < 0 || !idle()) return;
    moveSelected(wastebasketShown() ? std::string() : wastebasket());
}

void ItemCommands::deleteallitems1Click() {
    if (!idle() || m_host.itemCount() < 1) return;
    if (m_host.questionPrompt().ask(kDeleteAllQuestion) != ui::kResultOk) return;
    if (!wastebasketShown()) {
        moveAll(wastebasket());
        return;
    }
    {
        ui::WaitCursor wait;
        torvakit::EmptyDir(m_host.dataDirectory() + "/" + kWastebasketName);
    }
    m_host.reloadList();
}

void ItemCommands::setHighlight(bool on) {
    if (m_host.currentItem() < 0) return;
    const std::string folder = m_host.folderPath();
    if (folder.empty()) return;
    {
        ui::WaitCursor wait;
        const int sortType = m_host.sortType();
        std::string body;
        for (int row : m_host.messageList().selectedRowList()) {
            if (torvakit::GetBodyFileName(folder, row, sortType, body) != 1) continue;
            const bool hasBody = platform::fileExists(body);
            torvakit::SetListStatus(folder, row, sortType, on ? (hasBody ? 'H' : 'M') : (hasBody ? 'U' : 'O'));
        }
    }
    m_host.statusRefresh();
}

void ItemCommands::expireselectedfolderorgroup1Click() {
    if (!idle() || m_host.itemCount() < 1) return;
    if (m_expireform->ask() != ui::kResultOk) return;
    const std::string source = m_host.folderPath();
    if (source.empty()) return;
    const std::string destination = wastebasketShown() ? std::string() : wastebasket();
    ui::WaitCursor wait;
    torvakit::ExpireItems(source, destination, m_expireform->method());
    transfer::dropIndices(source);
    if (!destination.empty()) transfer::dropIndices(destination);
    m_host.reloadList();
}

void ItemCommands::expireallnewsgroups1Click() {
    if (!idle() || m_host.newsgroupCount() < 1) return;
    if (m_expireform->ask() != ui::kResultOk) return;
    ui::WaitCursor wait;
    const std::string destination = wastebasket();
    for (int group = 0; group < m_host.newsgroupCount(); ++group) {
        m_host.selectNewsgroup(group);  // each group is shown in turn
        const std::string source = m_host.folderPath();
        if (source.empty()) continue;
        torvakit::ExpireItems(source, destination, m_expireform->method());
        transfer::dropIndices(source);
        m_host.reloadList();
    }
    transfer::dropIndices(destination);
}

void ItemCommands::selecteditemheader1Click() {
    if (!m_headerDialog || m_host.currentItem() < 0) return;
    const bool outbox = m_host.mailFolderShown() && m_host.mailFolderRow() == kOutboxRow;
    if (outbox && m_host.transfers().deliveryFlag) return;
    const std::string body = m_host.currentBodyPath();
    if (!body.empty()) m_headerDialog(kViewHeaderMode, headerOf(body));
}

void ItemCommands::editselecteditembodyinoutbox1Click() {
    if (!m_headerDialog || !m_host.mailFolderShown() || m_host.mailFolderRow() != kOutboxRow) return;
    if (m_host.currentItem() < 0 || m_host.transfers().deliveryFlag) return;
    const std::string body = m_host.currentBodyPath();
    if (!body.empty()) m_headerDialog(kEditBodyMode, body);
}

void ItemCommands::editselecteditemheaderinoutbox1Click() {
    if (!m_headerDialog || !m_host.mailFolderShown() || m_host.mailFolderRow() != kOutboxRow) return;
    if (m_host.currentItem() < 0 || m_host.transfers().deliveryFlag) return;
    const std::string body = m_host.currentBodyPath();
    if (body.empty() || m_headerDialog(kEditHeaderMode, headerOf(body)) != ui::kResultOk) return;
    refileOutboxItem(body);
}

void ItemCommands::refileOutboxItem(const std::string& bodyPath) {
    const std::string header = headerOf(bodyPath);
    const std::string folder = bodyPath.substr(0, bodyPath.find_last_of('/') + 1);
    const std::string dataDir = m_host.dataDirectory() + "/";
    const std::string name = header.substr(folder.size());
    const int sortType = m_host.sortType();
    // The move below leaves a list of its own in the data directory; one
    // that is there already is not ours to delete.
    if (platform::fileExists(dataDir + std::string(transfer::kListName))) {
        m_host.reloadList();
        return;
    }
    ui::WaitCursor wait;
    const int status = torvakit::GetListStatus(folder, m_host.currentItem(), sortType);
    // The record leaves the list with its files, which then come straight
    // back: the list keeps no record of the old header.
    std::vector<int32_t> one{1, m_host.currentItem()};
    if (status != 0 && torvakit::MoveItems(folder, dataDir, sortType, one) == 1) {
        platform::deleteFile(dataDir + std::string(transfer::kListName));
        platform::deleteFile(dataDir + std::string(transfer::kCountName));
        const std::string movedBody = dataDir + name.substr(0, name.size() - 1) + "b";
        if (platform::fileExists(movedBody)) torvakit::moveoverfile(movedBody, bodyPath);
        if (platform::fileExists(dataDir + name)) torvakit::moveoverfile(dataDir + name, header);
        torvakit::AppendToList(header, bodyPath, folder + std::string(transfer::kListName),
                               folder + std::string(transfer::kCountName), static_cast<char>(status));
    }
    transfer::dropIndices(folder);
    m_host.reloadList();
}
