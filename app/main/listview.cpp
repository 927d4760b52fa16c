// The message list: filling it from the shown folder, sorting by column,
// the current item, and the keys and clicks of the list.
#include "main/mainform.h"

#include "platform/fsys.h"
#include "store/torvakit.h"
#include "ui/virtuallist.h"
#include "ui/waitcursor.h"

#include <QListWidget>

namespace {

constexpr const char* kSorting = "sorting...";
constexpr const char* kReady = "ready";

// Sort type of each sorted column (1 to 5).
constexpr int kSortTypeOfColumn[kListColumns] = {3, 4, 5, 7, 8};

}  // namespace

void Tmainform::connectList() {
    connect(databox, &VirtualList::sortedColumnChanged, this, &Tmainform::onSortedColumnChanged);
    connect(databox, &QAbstractItemView::clicked, this, &Tmainform::onListClicked);
    connect(databox, &QAbstractItemView::doubleClicked, this, [this] {
        if (m_itemCount > 0) m_actions.selecteditem1->trigger();
    });
    connect(databox, &VirtualList::keyDown, this, &Tmainform::onListKeyDown);
    connect(databox, &VirtualList::keyPressed, this, &Tmainform::onListKeyPressed);
}

void Tmainform::reloadList() {
    ui::WaitCursor wait;
    m_model->setNewsTitles(!mailFolderShown() && newsbox->currentRow() >= 0);
    const std::string folder = folderPath();
    m_listPath = folder + std::string(transfer::kListName);
    m_countPath = folder + std::string(transfer::kCountName);
    m_indexPath = folder + "n" + std::to_string(m_sortType) + ".idx";
    uint32_t count = 0;
    if (!folder.empty()) {
        if (!platform::fileExists(platform::resolvePath(m_indexPath))) {
            showStatusText(kSorting);
            torvakit::SortList(m_listPath, m_sortType);
            showStatusText(kReady);
        }
        torvakit::GetFile(m_countPath, count);
    }
    m_itemCount = static_cast<int>(count);
    m_currentItem = -1;
    setWindowTitle(QString("%1 - (0/%2)").arg(kAppCaption).arg(m_itemCount));
    databox->clearSelection();
    m_model->showFolder(m_indexPath, m_listPath, m_itemCount);
}

void Tmainform::setPositionCaption() {
    setWindowTitle(QString("%1 - (%2/%3)").arg(kAppCaption).arg(m_currentItem + 1).arg(m_itemCount));
}

void Tmainform::statusRefresh() {
    if (m_transfers.transferState != transfer::kIdle) {
        m_model->refresh();
        return;
    }
    const std::string folder = folderPath();
    if (!folder.empty()) platform::deleteFile(folder + "n" + std::to_string(kSortByStatus) + ".idx");
    if (m_actions.sortbystatus1->isChecked()) reloadList();
    else m_model->refresh();
}

void Tmainform::dropIndices(const std::string& folder) { transfer::dropIndices(folder); }

std::string Tmainform::currentBodyPath() {
    if (m_currentItem < 0 || m_currentItem >= m_itemCount) return {};
    if (databox->selectedCount() > 1) {
        databox->setMultiSelect(false);
        databox->setMultiSelect(true);
        databox->setFocusedRow(m_currentItem);
        databox->selectOnly(m_currentItem);
    }
    std::string body;
    torvakit::GetBodyFileName(folderPath(), m_currentItem, m_sortType, body);
    return body;
}

std::string Tmainform::bodyPathOfRow(int row) {
    m_currentItem = row;
    if (row < 0 || row >= m_itemCount) return {};
    databox->setFocusedRow(row);
    std::string body;
    torvakit::GetBodyFileName(folderPath(), row, m_sortType, body);
    return body;
}

void Tmainform::showViewedItem() {
    if (m_currentItem < 0 || m_currentItem >= m_itemCount) return;
    databox->setMultiSelect(false);
    databox->setMultiSelect(true);
    databox->setFocusedRow(m_currentItem);
    databox->selectOnly(m_currentItem);
    mailbox->setFocus();
    databox->setFocus();
    setPositionCaption();
}

void Tmainform::clearPendingSelections() {
    if (!bodyRetrievalPending && !bodyRetrievalRunning) return;
    ui::WaitCursor wait;
    const std::string folder = folderPath();
    if (!folder.empty() && torvakit::DeselectList(folder, m_sortType) > 0) statusRefresh();
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
    if (m_transfers.transferState != transfer::kIdle) return;
    if (column >= 1 && column <= kListColumns) m_sortType = kSortTypeOfColumn[column - 1];
    if (m_listReady) reloadList();
}

void Tmainform::sortbystatus1Click() {
    QAction* byStatus = m_actions.sortbystatus1;
    if (m_transfers.transferState != transfer::kIdle) {
        byStatus->setChecked(!byStatus->isChecked());  // the click changed nothing
        return;
    }
    // The menu has already toggled the mark.
    int column = byStatus->isChecked() ? VirtualList::kNoSortedColumn : kStartSortedColumn;
    if (byStatus->isChecked()) m_sortType = kSortByStatus;
    if (databox->sortedColumn() == column) onSortedColumnChanged(column);
    else databox->setSortedColumn(column);
}

void Tmainform::onListClicked() {
    if (m_itemCount < 1) {
        m_currentItem = -1;
        return;
    }
    m_currentItem = databox->focusedRow();
    setPositionCaption();
}

void Tmainform::onListKeyDown(int key) {
    if (m_itemCount < 1) return;
    m_currentItem = databox->focusedRow();
    if (key == Qt::Key_Delete) m_actions.deleteselecteditems1->trigger();
}

void Tmainform::onListKeyPressed(const QString& text) {
    if (m_itemCount < 1) return;
    if (text == "\r" || text == "\n") m_actions.selecteditem1->trigger();
    else if (text == "a") m_actions.findauthor1->trigger();
    else if (text == "f") m_actions.findinsubject1->trigger();
    else if (text == "g") m_actions.findagain1->trigger();
    else if (text == "x") close();
}

void Tmainform::selectall1Click() {
    if (m_itemCount < 1) return;
    databox->selectAll();
    databox->setFocusedRow(0);
    m_currentItem = 0;
}
