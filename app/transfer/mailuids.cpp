// The unique-id steps of the mail retrieval: list the ids after the logon,
// record each filed message's id before anything else happens, and choose
// what to fetch and what to delete from the record.
#include "transfer/mailretrieval.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace transfer {

namespace {
// Item numbers wrap after seven digits, as the store's names do.
constexpr uint32_t kMaxItemNumber = 9999999;
}  // namespace

bool MailRetrieval::wantsUniqueIds() const {
    // Without either the exchange is the classic one, byte for byte.
    const omail::GeneralSettings& s = m_transfers.host().settings();
    return s.uidl != 0 || s.leave != 0;
}

void MailRetrieval::listUniqueIds() {
    int32_t listed = 0;
    m_step = MailStep::Listed;
    netwire::ListUniqueIds(kMailMessage, m_transfers.dataPath(kUidListTemp), listed);
}

bool MailRetrieval::onListed(uintptr_t wParam) {
    Transfers& t = m_transfers;
    const std::string listFile = t.dataPath(kUidListTemp);
    if (wParam != 0 && netwire::ConnectionState() != netwire::kStateIdle) {
        // A server without UIDL: the run goes on as if none were asked for.
        fetchOrDelete(1);
        return true;
    }
    const omail::GeneralSettings& s = t.host().settings();
    const bool listed = wParam == 0 && m_plan.readList(listFile);
    platform::deleteFile(listFile);
    if (!listed || !m_record.open(t.dataPath(UidRecord::fileName(s.pop, s.user)), s.user + "@" + s.pop)) {
        const bool automatic = t.automaticRun;
        t.cancel(false);
        if (!automatic) t.host().information(std::string(kCannotRecordIds));
        return false;
    }
    // Ids gone from the server are dropped, but only when the list names
    // every message: a short list must not make the record forget. A failed
    // clean-up only leaves the record longer than it need be.
    if (m_plan.ids().size() == static_cast<size_t>(m_messageCount)) m_record.keepOnly(m_plan.ids());
    m_byIds = true;
    if (pipelinedByIds()) m_fetches = plannedFetches();
    fetchOrDelete(nextToFetch(0));
    return true;
}

bool MailRetrieval::markPending() {
    const std::string id = m_byIds ? m_plan.idOf(m_itemNumber) : std::string();
    const Transfers& t = m_transfers;
    if (id.empty() || !platform::fileExists(t.dataPath(kHeaderTemp))) return true;
    // The name the store is about to give the item: the number in omail.dat.
    uint32_t number = 0;
    torvakit::GetFile(t.dataPath(kItemNumberFile), number);
    if (number > kMaxItemNumber) number = 0;
    char name[32];
    std::snprintf(name, sizeof name, "N%07u.omh", number);
    std::string folder = destinationFolder();
    folder.pop_back();
    const std::string header = platform::resolvePath(folder) + "/" + name;
    if (m_record.addPending(id, static_cast<int64_t>(std::time(nullptr)), header)) return true;
    stopUnrecorded();
    return false;
}

bool MailRetrieval::recordFiled() {
    if (!m_byIds) return true;
    const std::string id = m_plan.idOf(m_itemNumber);
    if (id.empty() || m_record.add(id, static_cast<int64_t>(std::time(nullptr)))) return true;
    stopUnrecorded();
    return false;
}

void MailRetrieval::stopUnrecorded() {
    // Deleting or fetching on without the record could file a message twice.
    m_record.close();
    const bool automatic = m_transfers.automaticRun;
    m_transfers.cancel(false);
    if (!automatic) m_transfers.host().information(std::string(kCannotRecordIds));
}

namespace {
int32_t nextPlanned(const std::vector<int32_t>& planned, int32_t after, int32_t count) {
    auto it = std::upper_bound(planned.begin(), planned.end(), after);
    return it == planned.end() ? count + 1 : *it;
}
}  // namespace

int32_t MailRetrieval::nextToFetch(int32_t after) const {
    if (pipelinedByIds()) return nextPlanned(m_fetches, after, m_messageCount);
    return m_byIds ? m_plan.nextToFetch(after, m_messageCount, m_record) : after + 1;
}

int32_t MailRetrieval::nextToDelete(int32_t after) const {
    if (pipelinedByIds()) return nextPlanned(m_deletions, after, m_messageCount);
    if (!m_byIds) return after + 1;
    const omail::GeneralSettings& s = m_transfers.host().settings();
    return m_plan.nextToDelete(after, m_messageCount, m_record, s.leave != 0, s.leavedays,
                               static_cast<int64_t>(std::time(nullptr)));
}

std::vector<int32_t> MailRetrieval::plannedFetches() const {
    std::vector<int32_t> planned;
    for (int32_t n = m_plan.nextToFetch(0, m_messageCount, m_record); n <= m_messageCount;
         n = m_plan.nextToFetch(n, m_messageCount, m_record))
        planned.push_back(n);
    return planned;
}

// Chosen after the fetching, so the messages filed in this run count: a
// message is deleted only once its id is in the record.
std::vector<int32_t> MailRetrieval::plannedDeletions() const {
    const omail::GeneralSettings& s = m_transfers.host().settings();
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::vector<int32_t> planned;
    for (int32_t n = 0;;) {
        n = m_plan.nextToDelete(n, m_messageCount, m_record, s.leave != 0, s.leavedays, now);
        if (n > m_messageCount) break;
        planned.push_back(n);
    }
    return planned;
}

bool MailRetrieval::alreadyFiled() const {
    if (!m_byIds) return false;
    const std::string id = m_plan.idOf(m_itemNumber);
    return !id.empty() && m_record.filedAt(id) >= 0;
}

}  // namespace transfer
