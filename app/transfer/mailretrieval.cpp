#include "transfer/mailretrieval.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "store/torvakit.h"
#include "transfer/connection.h"
#include "transfer/transfer.h"

#include <algorithm>
#include <span>

namespace transfer {

namespace {
// Commands in flight when pipelining: enough to cover a long round trip,
// few enough that a failure leaves little unread.
constexpr int kRetrieveWindow = 32;
constexpr int kDeleteWindow = 128;
}  // namespace

void MailRetrieval::start() {
    Transfers& t = m_transfers;
    if (t.transferState != kIdle) return;
    const omail::GeneralSettings& settings = t.host().settings();
    if (settings.pass != t.storedPasswordCopy) {
        t.storedPasswordCopy = settings.pass;
        t.retrievalPassword = settings.pass;
    }
    if (t.retrievalPassword.empty() && !t.automaticRun) {
        std::string entered;
        if (t.host().askPassword(kPasswordPrompt, entered)) t.retrievalPassword = entered;
    }
    if (t.retrievalPassword.empty()) {
        t.automaticRun = false;
        return;
    }
    t.transferState = kRetrievingMail;
    t.host().lockForTransfer();
    m_itemNumber = 1;
    m_pipelining = 0;
    m_filedCount = 0;
    m_byIds = false;
    m_fetches.clear();
    m_deletions.clear();
    m_step = MailStep::Connected;
    netwire::OpenServer(&t, kSocketMessage, kMailMessage, kStatusMessage, settings.pop, kPop3ServerType,
                        pop3Options(settings));
}

void MailRetrieval::onCompletion(uintptr_t wParam) {
    Transfers& t = m_transfers;
    switch (m_step) {
    case MailStep::Connected:
        netwire::OpenMailBox(kMailMessage, t.host().settings().user, t.retrievalPassword, m_messageCount);
        m_step = MailStep::LoggedOn;
        break;
    case MailStep::LoggedOn:
        if (m_messageCount <= 0) {
            const bool automatic = t.automaticRun;
            t.cancel(true);
            if (!automatic) t.host().information(std::string(kNoNewMessages));
            return;
        }
        m_pipelining = 0;
        // One message gains nothing from commands sent ahead.
        if (m_messageCount > 1) {
            netwire::QueryPipelining(kMailMessage, m_pipelining);
            m_step = MailStep::Capabilities;
            break;
        }
        [[fallthrough]];
    case MailStep::Capabilities:
        if (wantsUniqueIds()) listUniqueIds();
        else fetchOrDelete(1);
        break;
    case MailStep::Listed:
        if (!onListed(wParam)) return;
        break;
    case MailStep::Retrieved:
        // A failed retrieval left at most part of the message; it stays on
        // the server and comes again next time, so nothing is filed.
        if (wParam == 0 && alreadyFiled()) {
            platform::deleteFile(m_transfers.dataPath(kHeaderTemp));
            platform::deleteFile(m_transfers.dataPath(kBodyTemp));
            fetchOrDelete(nextToFetch(m_itemNumber));
            break;
        }
        if (wParam == 0 && !markPending()) return;
        if (wParam == 0 && !fileRetrievedMessage()) {
            stopUnfiled();
            return;
        }
        if (wParam == 0 && !recordFiled()) return;
        fetchOrDelete(nextToFetch(m_itemNumber));
        break;
    case MailStep::Deleted:
        deleteFrom(nextToDelete(m_itemNumber));
        break;
    }
}

namespace {
// The planned numbers from number on (number is one of them).
std::span<const int32_t> from(const std::vector<int32_t>& planned, int32_t number) {
    auto at = std::lower_bound(planned.begin(), planned.end(), number);
    return {at, planned.end()};
}
}  // namespace

// Without unique ids the numbers run one after another; with them the engine
// is given the planned lists, whose numbers skip the messages filed before.
void MailRetrieval::fetchOrDelete(int32_t number) {
    if (number > m_messageCount) {
        if (pipelinedByIds()) m_deletions = plannedDeletions();
        return deleteFrom(nextToDelete(0));
    }
    m_itemNumber = number;
    const std::string head = m_transfers.dataPath(kHeaderTemp);
    const std::string body = m_transfers.dataPath(kBodyTemp);
    if (pipelinedByIds())
        netwire::GetMailItemsAhead(kMailMessage, head, body, from(m_fetches, number), kRetrieveWindow);
    else if (m_pipelining == 1)
        netwire::GetMailItemAhead(kMailMessage, head, body, number, m_messageCount, kRetrieveWindow);
    else
        netwire::GetMailItem(kMailMessage, head, body, number);
    m_step = MailStep::Retrieved;
}

void MailRetrieval::deleteFrom(int32_t number) {
    if (number > m_messageCount) return end();
    m_itemNumber = number;
    if (pipelinedByIds())
        netwire::DeleteMailItemsAhead(kMailMessage, from(m_deletions, number), kDeleteWindow);
    else if (m_pipelining == 1)
        netwire::DeleteMailItemAhead(kMailMessage, number, m_messageCount, kDeleteWindow);
    else
        netwire::DeleteMailItem(kMailMessage, number);
    m_step = MailStep::Deleted;
}

void MailRetrieval::stopUnfiled() {
    // Nothing may be deleted on the server that is not safely filed.
    const bool automatic = m_transfers.automaticRun;
    m_transfers.cancel(false);
    if (!automatic) m_transfers.host().information(std::string(kCannotFile));
}

void MailRetrieval::end() {
    const int32_t count = m_byIds ? m_filedCount : m_messageCount;
    const bool automatic = m_transfers.automaticRun;
    m_record.close();
    m_transfers.cancel(true);
    m_transfers.host().mailRetrievalEnded();
    if (automatic) return;
    if (m_byIds && count == 0) m_transfers.host().information(std::string(kNoNewMessages));
    else m_transfers.host().information(std::to_string(count) + std::string(kNewMessagesRetrieved));
}

std::string MailRetrieval::destinationFolder() const {
    const Transfers& t = m_transfers;
    Host& host = t.host();
    const omail::FolderOptions& options = host.folderOptions();
    std::vector<std::string> folders = host.personalFolders();
    const bool byAuthor = options.rfrom == 1;
    const bool byRecipient = options.rrecip == 1;
    if (byAuthor || (byRecipient && !folders.empty())) {
        std::string from, replyTo, recipient;
        torvakit::GetFilters(t.dataPath(kHeaderTemp), from, replyTo, recipient);
        auto occurs = [](const std::string& value, const std::string& name) {
            return !value.empty() && !name.empty() && torvakit::substringcompare(value, name) >= 0;
        };
        for (std::string name : folders) {
            torvakit::stringlower(name);
            bool match = byAuthor && (occurs(from, name) || occurs(replyTo, name));
            if (!match && byRecipient) match = occurs(recipient, name);
            if (!match) continue;
            // A folder removed behind our back must not swallow the message.
            if (platform::directoryExists(t.dataPath(name))) return t.dataPath(name) + "/";
            break;
        }
    }
    return t.dataPath(kInbox) + "/";
}

bool MailRetrieval::fileRetrievedMessage() {
    const Transfers& t = m_transfers;
    const std::string head = t.dataPath(kHeaderTemp);
    // A message the server sent nothing for: nothing to file, nothing lost.
    if (!platform::fileExists(head)) return true;
    // The store takes the number, moves both files and adds the record as
    // one journaled step; it never files over another item and puts the
    // files back when any part fails.
    std::string headerName;
    const std::string folder = destinationFolder();
    if (torvakit::FileRetrieved(t.dataPath(kItemNumberFile), head, t.dataPath(kBodyTemp), folder, kNewStatus,
                                headerName) != 1)
        return false;
    ++m_filedCount;
    t.mailFiled(folder + headerName);
    return true;
}

}  // namespace transfer
