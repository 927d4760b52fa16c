// Bodies of chosen news items (0x404) and the commands that choose them.
#include "transfer/newsretrieval.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/messages.h"
#include "store/torvakit.h"
#include "transfer/connection.h"
#include "transfer/transfer.h"

namespace transfer {

void BodyRetrieval::start(bool highlighted, bool allGroups, int viewRow) {
    Transfers& t = m_transfers;
    if (t.transferState != kIdle || m_host.selectedNewsgroup() < 0) return;
    t.transferState = kNewsTransfer;
    t.host().lockForTransfer();
    m_highlighted = highlighted;
    m_allGroups = allGroups;
    m_viewRow = viewRow;
    m_groupIndex = m_host.selectedNewsgroup();
    m_sortType = m_host.listSortType();
    m_total = 0;
    m_step = BodyStep::Connected;
    m_askedPipelining = false;
    m_pipelining = 0;
    m_ahead.clear();
    m_flags.bodyRun = true;
    m_posts.runStarts();
    netwire::OpenServer(&t, kSocketMessage, kBodiesMessage, kStatusMessage, t.host().settings().nntp,
                        kNntpServerType, nntpOptions(t.host().settings()));
}

void BodyRetrieval::post() {
    m_posts.posted();
    platform::PostMessage(&m_transfers, kBodiesMessage, 0, 0);
}

void BodyRetrieval::onCompletion(uintptr_t wParam) {
    switch (m_step) {
    case BodyStep::Connected:
        // Asked once per connection; a body for the viewer is one body.
        if (m_aheadWindow > 0 && m_viewRow < 0 && !m_askedPipelining) {
            m_askedPipelining = true;
            m_step = BodyStep::Capabilities;
            netwire::QueryNewsPipelining(kBodiesMessage, m_pipelining);
            return;
        }
        openGroup();
        return;
    case BodyStep::Capabilities: openGroup(); return;
    case BodyStep::Ahead: onAheadBody(wParam == 0); return;
    case BodyStep::Scan:
        if (m_pipelining == 1 && m_aheadWindow > 0 && m_viewRow < 0) {
            fillAhead();
            if (m_ahead.empty()) return endOfRows();
            requestAhead();
            return;
        }
        scan();
        return;
    case BodyStep::ByMessageId:
        if (wParam == 0) {
            storeBody();
            return;
        }
        m_step = BodyStep::ByNumber;
        netwire::GetBody(kBodiesMessage, m_transfers.dataPath(kBodyTemp), static_cast<int32_t>(m_articleNumber), "");
        return;
    case BodyStep::ByNumber:
        if (wParam == 0) {
            storeBody();
            return;
        }
        // Neither way found it: a selection is given up, a highlight stays.
        if (m_status != kHighlightedNoBodyStatus) torvakit::SetListStatus(m_folder, m_row, m_sortType, kHeaderOnlyStatus);
        m_host.statusRefresh();
        continueScan();
        return;
    }
}

void BodyRetrieval::openGroup() {
    m_rowCounter = 1;
    const std::string group = m_host.newsgroupName(m_groupIndex);
    m_folder = newsgroupFolder(m_transfers, group);
    m_step = BodyStep::Scan;
    if (m_folder.empty()) {
        post();  // nothing to scan in a group without folder
        return;
    }
    netwire::OpenGroup(kBodiesMessage, group, m_articleCount, m_first, m_last);
}

// The next row of the shown list that wants its body, into m_row and the
// fields after it; false at the end of the list.
bool BodyRetrieval::nextWantedRow() {
    const char wanted = m_highlighted ? kHighlightedNoBodyStatus : kSelectedStatus;
    const int32_t items = m_folder.empty() ? 0 : m_host.listItemCount();
    while (m_rowCounter <= items) {
        m_row = m_rowCounter - 1;
        ++m_rowCounter;
        int32_t hasBody = 0;
        if (torvakit::GetMessageId(m_folder, m_messageId, m_bodyPath, m_row, m_sortType, m_status, hasBody,
                                   m_articleNumber) != 1)
            continue;
        if (m_status != wanted || hasBody) continue;
        return true;
    }
    return false;
}

void BodyRetrieval::scan() {
    if (!nextWantedRow()) return endOfRows();
    platform::deleteFile(m_transfers.dataPath(kBodyTemp));
    if (m_messageId.empty()) {
        m_step = BodyStep::ByNumber;
        netwire::GetBody(kBodiesMessage, m_transfers.dataPath(kBodyTemp), static_cast<int32_t>(m_articleNumber), "");
    } else {
        m_step = BodyStep::ByMessageId;
        netwire::GetBody(kBodiesMessage, m_transfers.dataPath(kBodyTemp), -1, m_messageId);
    }
}

// The group's rows are done (and no reply is owed): the next group, the
// scan over again for rows marked meanwhile, or the end of the run.
void BodyRetrieval::endOfRows() {
    if (m_allGroups && m_groupIndex < m_host.newsgroupCount() - 1) {
        ++m_groupIndex;
        m_host.selectNewsgroup(m_groupIndex);
        m_sortType = m_host.listSortType();
        m_step = BodyStep::Connected;
        post();
        return;
    }
    if (m_flags.rescan) {
        m_rowCounter = 1;
        m_flags.rescan = false;
        m_step = BodyStep::Scan;
        post();
        return;
    }
    const int32_t total = m_total;
    m_transfers.cancel(true);
    m_host.statusRefresh();
    m_transfers.host().information(std::to_string(total) + std::string(kBodiesRetrieved));
}

// Scans on until a window of rows is waiting for its replies. The list is
// read a window ahead of what is stored, never further.
void BodyRetrieval::fillAhead() {
    while (m_ahead.size() < static_cast<size_t>(m_aheadWindow) && nextWantedRow())
        m_ahead.push_back({m_row, m_status, m_messageId, m_bodyPath, m_articleNumber, m_messageId.empty()});
}

void BodyRetrieval::requestAhead() {
    std::vector<netwire::BodySelector> selectors;
    selectors.reserve(m_ahead.size());
    for (const Pending& p : m_ahead)
        selectors.push_back({p.byNumber ? static_cast<int32_t>(p.articleNumber) : -1, p.byNumber ? "" : p.messageId});
    platform::deleteFile(m_transfers.dataPath(kBodyTemp));
    m_step = BodyStep::Ahead;
    netwire::GetBodiesAhead(kBodiesMessage, m_transfers.dataPath(kBodyTemp), selectors, m_aheadWindow);
}

// Each reply is stored (or the row given up) exactly as one at a time
// before the next one is read; a refused id is asked again by number
// behind the rows already asked for.
void BodyRetrieval::onAheadBody(bool fetched) {
    Pending done = std::move(m_ahead.front());
    m_ahead.pop_front();
    m_row = done.row;
    m_status = done.status;
    m_bodyPath = done.bodyPath;
    if (fetched) {
        torvakit::moveoverfile(m_transfers.dataPath(kBodyTemp), m_bodyPath);
        if (m_status == kHighlightedNoBodyStatus)
            torvakit::SetListStatus(m_folder, m_row, m_sortType, kHighlightedStatus);
        m_host.statusRefresh();
        ++m_total;
    } else if (!done.byNumber) {
        done.byNumber = true;
        m_ahead.push_back(std::move(done));
    } else {
        if (m_status != kHighlightedNoBodyStatus) torvakit::SetListStatus(m_folder, m_row, m_sortType, kHeaderOnlyStatus);
        m_host.statusRefresh();
    }
    if (m_transfers.transferState != kNewsTransfer) return;
    fillAhead();
    if (m_ahead.empty()) return endOfRows();
    requestAhead();
}

void BodyRetrieval::storeBody() {
    torvakit::moveoverfile(m_transfers.dataPath(kBodyTemp), m_bodyPath);
    if (m_status == kHighlightedNoBodyStatus)
        torvakit::SetListStatus(m_folder, m_row, m_sortType, kHighlightedStatus);
    m_host.statusRefresh();
    ++m_total;
    if (m_viewRow >= 0) {
        const int row = m_viewRow;
        m_transfers.cancel(true);
        m_host.viewRetrievedItem(row);
        return;
    }
    continueScan();
}

void BodyRetrieval::continueScan() {
    if (m_transfers.transferState != kNewsTransfer) return;
    m_step = BodyStep::Scan;
    post();
}

// ---------------------------------------------------------------------------
// Commands that choose bodies
// ---------------------------------------------------------------------------

void NewsTransfers::selectedBodies() {
    if (m_host.listCurrentRow() < 0 || m_flags.viewPending || m_flags.newsRun) return;
    const std::string folder = m_host.shownFolder();
    if (folder.empty()) return;
    const int sortType = m_host.listSortType();
    int marked = 0;
    m_host.setBusyCursor(true);
    for (int row : m_host.listSelectedRows()) {
        std::string messageId, bodyPath;
        char status = 0;
        int32_t hasBody = 0;
        uint32_t number = 0;
        if (torvakit::GetMessageId(folder, messageId, bodyPath, row, sortType, status, hasBody, number) != 1) continue;
        if (hasBody || status == kHighlightedNoBodyStatus) continue;
        torvakit::SetListStatus(folder, row, sortType, kSelectedStatus);
        ++marked;
    }
    m_host.setBusyCursor(false);
    if (marked == 0) return;
    m_host.statusRefresh();
    // A pass already running picks the new marks up when its scan ends.
    if (m_flags.bodyPending) {
        m_flags.rescan = true;
    } else {
        m_flags.rescan = false;
        m_flags.bodyPending = true;
    }
    m_bodies.start(false, false);
}

bool NewsTransfers::requestBodyForViewing(int row) {
    const std::string folder = m_host.shownFolder();
    if (folder.empty() || row < 0) return false;
    const int sortType = m_host.listSortType();
    if (m_transfers.transferState == kIdle) {
        if (torvakit::SetListStatus(folder, row, sortType, kSelectedStatus) != 1) return false;
        m_host.statusRefresh();
        m_flags.bodyPending = true;
        m_flags.viewPending = true;
        m_bodies.start(false, false, row);
        return true;
    }
    if (m_flags.bodyRun) {
        if (torvakit::SetListStatus(folder, row, sortType, kSelectedStatus) != 1) return false;
        m_host.statusRefresh();
        m_flags.rescan = true;
        return true;
    }
    return false;
}

}  // namespace transfer
