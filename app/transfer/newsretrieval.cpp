#include "transfer/newsretrieval.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/messages.h"
#include "store/torvakit.h"
#include "transfer/connection.h"
#include "transfer/transfer.h"

#include <algorithm>
#include <limits>

namespace transfer {

std::string newsgroupFolder(const Transfers& transfers, std::string_view group) {
    std::string home;
    if (torvakit::GetHomeDir(group, transfers.dataPath(kSubscriptionFile), home) != 1 || home.size() < 2) return {};
    home.back() = '/';
    return transfers.dataPath(home);
}

// ---------------------------------------------------------------------------
// New articles (0x403)
// ---------------------------------------------------------------------------

void NewsRetrieval::start(bool withBodies, bool allGroups) {
    Transfers& t = m_transfers;
    if (t.transferState != kIdle || m_host.selectedNewsgroup() < 0) return;
    t.transferState = kNewsTransfer;
    t.host().lockForTransfer();
    m_withBodies = withBodies;
    m_allGroups = allGroups;
    m_groupIndex = m_host.selectedNewsgroup();
    m_total = 0;
    m_step = NewsStep::Connected;
    m_flags.newsRun = true;
    m_askedPipelining = false;
    m_pipelining = 0;
    m_posts.runStarts();
    netwire::OpenServer(&t, kSocketMessage, kNewsMessage, kStatusMessage, t.host().settings().nntp, kNntpServerType,
                        nntpOptions(t.host().settings()));
}

void NewsRetrieval::post() {
    m_posts.posted();
    platform::PostMessage(&m_transfers, kNewsMessage, 0, 0);
}

void NewsRetrieval::onCompletion(uintptr_t wParam) {
    switch (m_step) {
    case NewsStep::Connected: openGroup(); return;
    case NewsStep::GroupOpen: onGroupOpen(); return;
    case NewsStep::FirstFetched: fetchMarked(); return;
    case NewsStep::Probing:
        if (m_headerArticle != -1) {
            m_step = NewsStep::Filing;
            post();
            return;
        }
        // Nothing above the group's last article can be there: probing
        // further would never end on a group with a hole at its top.
        if (m_mark >= m_last) {
            endGroup(m_groupFiled == 0);
            return;
        }
        ++m_mark;
        netwire::GetHeader(kNewsMessage, m_transfers.dataPath(kHeaderTemp), m_mark, m_headerArticle);
        return;
    case NewsStep::Filing: fileHeader(wParam == 0); return;
    case NewsStep::BodyDone:
        if (wParam == 0) {
            // Without its body in place the item stays "O" and its body can
            // be fetched later; nothing is replaced.
            if (torvakit::FileRetrievedBody(m_transfers.dataPath(kBodyTemp), m_folder, m_headerName) == 1)
                torvakit::UpdatePrevStatus(m_folder + std::string(kListName), kUnreadStatus);
        }
        afterArticle();
        return;
    case NewsStep::NextDone:
        if (m_mark == -1) {
            endGroup(false);
            return;
        }
        m_step = NewsStep::Filing;
        netwire::GetHeader(kNewsMessage, m_transfers.dataPath(kHeaderTemp), m_mark, m_headerArticle);
        return;
    case NewsStep::Capabilities: fetchFirst(); return;
    case NewsStep::AheadHeader: onAheadHeader(wParam == 0); return;
    case NewsStep::AheadBody: onAheadBody(wParam == 0); return;
    }
}

void NewsRetrieval::openGroup() {
    m_groupFiled = 0;
    m_group = m_host.newsgroupName(m_groupIndex);
    m_folder = newsgroupFolder(m_transfers, m_group);
    // A listed group without a subscription line has no folder to file
    // into: it is passed over rather than filed into the data directory.
    if (m_folder.empty()) {
        endGroup(true);
        return;
    }
    m_step = NewsStep::GroupOpen;
    netwire::OpenGroup(kNewsMessage, m_group, m_articleCount, m_first, m_last);
}

void NewsRetrieval::onGroupOpen() {
    uint32_t mark = 0;
    torvakit::getarticlen(m_group, m_transfers.dataPath(kSubscriptionFile), mark);
    if (mark > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) || static_cast<int32_t>(mark) > m_last ||
        m_articleCount == 0) {
        endGroup(true);
        return;
    }
    m_mark = static_cast<int32_t>(mark);
    m_groupFirst = m_first;
    m_step = NewsStep::FirstFetched;
    netwire::GetHeader(kNewsMessage, m_transfers.dataPath(kHeaderTemp), -1, m_first);
}

void NewsRetrieval::fetchMarked() {
    // The current article after GROUP is the first one the server holds; a
    // mark below it starts there.
    if (m_first != -1 && m_mark < m_first) {
        m_mark = m_first;
        m_firstStep = NewsStep::Filing;
    } else {
        // Without the current article's number (it is gone) the probe still
        // starts no lower than the group's first number, not at 0.
        if (m_first == -1 && m_mark < m_groupFirst) m_mark = m_groupFirst;
        m_firstStep = NewsStep::Probing;
    }
    // Asked once per connection, and only where more than one article
    // may come: one article gains nothing from commands sent ahead.
    if (m_aheadWindow > 0 && !m_askedPipelining && m_last > m_mark) {
        m_askedPipelining = true;
        m_step = NewsStep::Capabilities;
        netwire::QueryNewsPipelining(kNewsMessage, m_pipelining);
        return;
    }
    fetchFirst();
}

void NewsRetrieval::fetchFirst() {
    if (m_pipelining == 1 && m_aheadWindow > 0) return fetchAhead(m_mark);
    m_step = m_firstStep;
    netwire::GetHeader(kNewsMessage, m_transfers.dataPath(kHeaderTemp), m_mark, m_headerArticle);
}

// Every number from the mark to the group's last is asked for by HEAD (and
// BODY); a number the group lacks is refused and passed over without
// moving the mark, just as NEXT would have stepped over it. Never more are
// in flight than the per-group limit still wants, so the group ends with
// no reply owed.
void NewsRetrieval::fetchAhead(int32_t article) {
    m_mark = article;
    m_step = NewsStep::AheadHeader;
    const int wanted = m_transfers.host().settings().hlimit - m_groupFiled;
    const int window = std::max(1, std::min(m_aheadWindow, wanted));
    netwire::GetHeaderAhead(kNewsMessage, m_transfers.dataPath(kHeaderTemp), article, m_last, window, m_withBodies,
                            m_headerArticle);
}

void NewsRetrieval::onAheadHeader(bool fetched) {
    m_headerFiled = false;
    if (fetched) {
        if (!fileHead(m_headerName)) {
            m_transfers.cancel(false);
            m_transfers.host().information(std::string(kCannotFileArticle));
            return;
        }
        ++m_total;
        ++m_groupFiled;
        m_headerFiled = true;
        writeMark(static_cast<uint32_t>(m_mark) + 1);
    } else {
        platform::deleteFile(m_transfers.dataPath(kHeaderTemp));
    }
    if (m_withBodies) {
        // The body's reply is owed even for a missing article.
        m_step = NewsStep::AheadBody;
        netwire::GetBodyAhead(kNewsMessage, m_transfers.dataPath(kBodyTemp), m_mark);
        return;
    }
    afterAheadArticle();
}

void NewsRetrieval::onAheadBody(bool fetched) {
    const std::string body = m_transfers.dataPath(kBodyTemp);
    if (fetched && m_headerFiled) {
        if (torvakit::FileRetrievedBody(body, m_folder, m_headerName) == 1)
            torvakit::UpdatePrevStatus(m_folder + std::string(kListName), kUnreadStatus);
    } else if (fetched) {
        platform::deleteFile(body);  // the body of a header the server refused
    }
    afterAheadArticle();
}

void NewsRetrieval::afterAheadArticle() {
    // The limit counts filed articles only, as it does one at a time.
    if (m_headerFiled && m_groupFiled >= m_transfers.host().settings().hlimit) return endGroup(false);
    if (m_mark >= m_last) return endGroup(m_groupFiled == 0);
    fetchAhead(m_mark + 1);
}

void NewsRetrieval::fileHeader(bool fetched) {
    if (fetched) {
        if (!fileHead(m_headerName)) {
            // The mark stays before this article: the next run fetches it again.
            m_transfers.cancel(false);
            m_transfers.host().information(std::string(kCannotFileArticle));
            return;
        }
        ++m_total;
        ++m_groupFiled;
    } else {
        platform::deleteFile(m_transfers.dataPath(kHeaderTemp));
    }
    // A refused header is passed over: the mark moves past it, but only
    // filed articles count towards the limit and the total.
    writeMark(static_cast<uint32_t>(m_mark) + 1);
    if (fetched && m_withBodies) {
        m_step = NewsStep::BodyDone;
        netwire::GetBody(kNewsMessage, m_transfers.dataPath(kBodyTemp), m_mark, "");
        return;
    }
    afterArticle();
}

void NewsRetrieval::afterArticle() {
    if (m_groupFiled < m_transfers.host().settings().hlimit) {
        m_step = NewsStep::NextDone;
        netwire::NextHeader(kNewsMessage, m_mark);
        return;
    }
    endGroup(false);
}

void NewsRetrieval::writeMark(uint32_t next) {
    torvakit::setarticlen(m_group, m_transfers.dataPath(kSubscriptionFile), next);
}

bool NewsRetrieval::fileHead(std::string& headerName) {
    const Transfers& t = m_transfers;
    const std::string head = t.dataPath(kHeaderTemp);
    if (!platform::fileExists(head)) return false;
    // The header comes alone; its body, when fetched, follows later. A body
    // file left from before belongs to no article and must not be filed
    // with this one.
    const std::string body = t.dataPath(kBodyTemp);
    platform::deleteFile(body);
    // One journaled store step: the number, the move and the record; it
    // never files over another item.
    return torvakit::FileRetrieved(t.dataPath(kItemNumberFile), head, body, m_folder, kHeaderOnlyStatus,
                                   headerName) == 1;
}

void NewsRetrieval::endGroup(bool nothingNew) {
    if (m_groupFiled > 0) dropIndices(m_folder);
    if (m_allGroups && m_groupIndex < m_host.newsgroupCount() - 1) {
        ++m_groupIndex;
        m_host.selectNewsgroup(m_groupIndex);
        m_step = NewsStep::Connected;
        post();
        return;
    }
    finish(nothingNew);
}

void NewsRetrieval::finish(bool nothingNew) {
    const int32_t total = m_total;
    m_transfers.cancel(true);
    if (nothingNew && !(m_allGroups && total > 0)) {
        m_transfers.host().information(std::string(kNoNewHeaders));
        return;
    }
    m_host.reloadList();
    m_transfers.host().information(std::to_string(total) +
                                   std::string(m_withBodies ? kNewArticlesRetrieved : kNewHeadersRetrieved));
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

NewsTransfers::NewsTransfers(Transfers& transfers, NewsHost& host)
    : m_transfers(transfers), m_host(host), m_news(transfers, host, m_flags), m_bodies(transfers, host, m_flags) {
    m_transfers.setCompletionHandler(kNewsMessage, [this](uintptr_t wParam, intptr_t lParam) {
        if (m_news.staleOwnMessage(lParam)) return;
        if (m_transfers.transferState == kNewsTransfer && m_flags.newsRun) m_news.onCompletion(wParam);
    });
    m_transfers.setCompletionHandler(kBodiesMessage, [this](uintptr_t wParam, intptr_t lParam) {
        if (m_bodies.staleOwnMessage(lParam)) return;
        if (m_transfers.transferState == kNewsTransfer && m_flags.bodyRun) m_bodies.onCompletion(wParam);
    });
    m_transfers.addCancelHook([this](bool) { onCancel(); });
}

bool NewsTransfers::selectFirstGroup() {
    if (m_host.newsgroupCount() == 0 || m_transfers.transferState != kIdle) return false;
    m_host.selectNewsgroup(0);
    return true;
}

void NewsTransfers::onCancel() {
    // Marks made for a body request that did not run to its end would
    // otherwise stay "S" for ever.
    if (m_flags.bodyPending || m_flags.viewPending) {
        const std::string folder = m_host.shownFolder();
        if (!folder.empty() && torvakit::DeselectList(folder, m_host.listSortType()) > 0) m_host.statusRefresh();
    }
    m_flags = NewsFlags{};
}

}  // namespace transfer
