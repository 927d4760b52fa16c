#include "transfer/mailretrieval.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "store/torvakit.h"
#include "transfer/connection.h"
#include "transfer/transfer.h"

namespace transfer {

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
    m_step = MailStep::Connected;
    netwire::OpenServer(&t, kSocketMessage, kMailMessage, kStatusMessage, settings.pop, kPop3ServerType,
                        pop3Options(settings));
}

void MailRetrieval::onCompletion(uintptr_t wParam) {
    Transfers& t = m_transfers;
    const std::string head = t.dataPath(kHeaderTemp);
    const std::string body = t.dataPath(kBodyTemp);
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
        netwire::GetMailItem(kMailMessage, head, body, m_itemNumber);
        m_step = MailStep::Retrieved;
        break;
    case MailStep::Retrieved:
        // A failed retrieval left at most part of the message; it stays on
        // the server and comes again next time, so nothing is filed.
        if (wParam == 0 && !fileRetrievedMessage()) {
            stopUnfiled();
            return;
        }
        ++m_itemNumber;
        if (m_itemNumber > m_messageCount) {
            m_itemNumber = 1;
            netwire::DeleteMailItem(kMailMessage, m_itemNumber);
            m_step = MailStep::Deleted;
        } else {
            netwire::GetMailItem(kMailMessage, head, body, m_itemNumber);
        }
        break;
    case MailStep::Deleted:
        ++m_itemNumber;
        if (m_itemNumber > m_messageCount) end();
        else netwire::DeleteMailItem(kMailMessage, m_itemNumber);
        break;
    }
}

void MailRetrieval::stopUnfiled() {
    // Nothing may be deleted on the server that is not safely filed.
    const bool automatic = m_transfers.automaticRun;
    m_transfers.cancel(false);
    if (!automatic) m_transfers.host().information(std::string(kCannotFile));
}

void MailRetrieval::end() {
    const int32_t count = m_messageCount;
    const bool automatic = m_transfers.automaticRun;
    m_transfers.cancel(true);
    m_transfers.host().mailRetrievalEnded();
    if (!automatic) m_transfers.host().information(std::to_string(count) + std::string(kNewMessagesRetrieved));
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
    t.mailFiled(folder + headerName);
    return true;
}

}  // namespace transfer
