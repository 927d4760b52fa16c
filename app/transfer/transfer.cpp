#include "transfer/transfer.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "store/torvakit.h"

#include <string>

namespace transfer {

void dropIndices(std::string_view folder) {
    for (int type : kIndexSortTypes) {
        std::string path(folder);
        path += "n" + std::to_string(type) + ".idx";
        platform::deleteFile(path);
    }
}

Transfers::Transfers(Host& host, std::string dataDirectory) : m_host(host), m_dataDir(std::move(dataDirectory)) {}

Transfers::~Transfers() {
    // The engine must not post to a window that is gone.
    if (transferState != kIdle) netwire::AbortConnection();
}

std::string Transfers::dataPath(std::string_view name) const {
    std::string path = m_dataDir;
    path += '/';
    path += name;
    return path;
}

void Transfers::setCompletionHandler(uint32_t message, std::function<void(uintptr_t, intptr_t)> handler) {
    m_completions[message] = std::move(handler);
}

void Transfers::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    switch (msg) {
    case kSocketMessage: netwire::ProcessMsg(wParam, lParam); return;
    case kStatusMessage: onStatus(wParam, reinterpret_cast<const char*>(lParam)); return;
    case kMailMessage:
        if (transferState == kRetrievingMail) onMailCompletion(wParam);
        return;
    default: break;
    }
    auto it = m_completions.find(msg);
    if (it != m_completions.end() && it->second) it->second(wParam, lParam);
}

void Transfers::onStatus(uintptr_t wParam, const char* text) {
    std::string message = text ? text : "";
    if (wParam != kStatusError) {
        m_host.showStatus(message);
        return;
    }
    int wasRunning = transferState;
    cancel(false);
    m_host.setDefaultCursor();
    if (message == kPasswordFailed) retrievalPassword.clear();
    if (wasRunning != kIdle && !automaticRun) m_host.information(message);
    automaticRun = false;
}

void Transfers::cancel(bool normalEnd) {
    netwire::AbortConnection();
    for (const auto& hook : m_cancelHooks) hook(normalEnd);
    m_host.unlockAfterTransfer();
    transferState = kIdle;
}

void Transfers::userCancel() {
    if (transferState != kIdle) cancel(false);
}

void Transfers::retrieveMail() {
    if (transferState != kIdle) return;
    const omail::GeneralSettings& settings = m_host.settings();
    if (settings.pass != storedPasswordCopy) {
        storedPasswordCopy = settings.pass;
        retrievalPassword = settings.pass;
    }
    if (retrievalPassword.empty() && !automaticRun) {
        std::string entered;
        if (m_host.askPassword(kPasswordPrompt, entered)) retrievalPassword = entered;
    }
    if (retrievalPassword.empty()) {
        automaticRun = false;
        return;
    }
    transferState = kRetrievingMail;
    m_host.lockForTransfer();
    itemNumber = 1;
    transferStep = kStepConnected;
    netwire::OpenServer(this, kSocketMessage, kMailMessage, kStatusMessage, settings.pop, kPop3ServerType);
}

void Transfers::onMailCompletion(uintptr_t wParam) {
    const std::string head = dataPath(kHeaderTemp);
    const std::string body = dataPath(kBodyTemp);
    switch (transferStep) {
    case kStepConnected:
        netwire::OpenMailBox(kMailMessage, m_host.settings().user, retrievalPassword, messageCount);
        transferStep = kStepLoggedOn;
        break;
    case kStepLoggedOn:
        if (messageCount <= 0) {
            cancel(true);
            if (!automaticRun) m_host.information(std::string(kNoNewMessages));
            automaticRun = false;
            return;
        }
        netwire::GetMailItem(kMailMessage, head, body, itemNumber);
        transferStep = kStepRetrieved;
        break;
    case kStepRetrieved:
        // A failed retrieval left at most part of the message; it stays on
        // the server and comes again next time, so nothing is filed.
        if (wParam == 0 && !fileRetrievedMessage()) {
            // Nothing may be deleted on the server that is not safely filed.
            cancel(false);
            if (!automaticRun) m_host.information(std::string(kCannotFile));
            automaticRun = false;
            return;
        }
        ++itemNumber;
        if (itemNumber > messageCount) {
            itemNumber = 1;
            netwire::DeleteMailItem(kMailMessage, itemNumber);
            transferStep = kStepDeleted;
        } else {
            netwire::GetMailItem(kMailMessage, head, body, itemNumber);
        }
        break;
    case kStepDeleted:
        ++itemNumber;
        if (itemNumber > messageCount) {
            endRetrieval();
        } else {
            netwire::DeleteMailItem(kMailMessage, itemNumber);
        }
        break;
    default: break;
    }
}

void Transfers::endRetrieval() {
    int32_t count = messageCount;
    cancel(true);
    m_host.mailRetrievalEnded();
    if (!automaticRun) m_host.information(std::to_string(count) + std::string(kNewMessagesRetrieved));
    automaticRun = false;
}

std::string Transfers::destinationFolder() const {
    const omail::FolderOptions& options = m_host.folderOptions();
    std::vector<std::string> folders = m_host.personalFolders();
    const bool byAuthor = options.rfrom == 1;
    const bool byRecipient = options.rrecip == 1;
    if (byAuthor || (byRecipient && !folders.empty())) {
        std::string from, replyTo, recipient;
        torvakit::GetFilters(dataPath(kHeaderTemp), from, replyTo, recipient);
        auto occurs = [](const std::string& value, const std::string& name) {
            return !value.empty() && !name.empty() && torvakit::substringcompare(value, name) >= 0;
        };
        for (std::string name : folders) {
            torvakit::stringlower(name);
            bool match = byAuthor && (occurs(from, name) || occurs(replyTo, name));
            if (!match && byRecipient) match = occurs(recipient, name);
            if (!match) continue;
            // A folder removed behind our back must not swallow the message.
            if (platform::directoryExists(dataPath(name))) return dataPath(name) + "/";
            break;
        }
    }
    return dataPath(kInbox) + "/";
}

bool Transfers::fileRetrievedMessage() {
    const std::string head = dataPath(kHeaderTemp);
    const std::string body = dataPath(kBodyTemp);
    // A message the server sent nothing for: nothing to file, nothing lost.
    if (!platform::fileExists(head)) return true;
    std::string headerName, bodyName;
    torvakit::MakeFileNames(dataPath(kItemNumberFile), headerName, bodyName);
    const std::string folder = destinationFolder();
    const std::string headerPath = folder + headerName;
    const std::string bodyPath = folder + bodyName;
    torvakit::moveoverfile(body, bodyPath);
    torvakit::moveoverfile(head, headerPath);
    if (!platform::fileExists(headerPath)) return false;
    int appended = torvakit::AppendToList(headerPath, bodyPath, folder + std::string(kListName),
                                          folder + std::string(kCountName), kNewStatus);
    dropIndices(folder);
    return appended == 1;
}

void Transfers::timerTick() {
    if (automaticRun) {
        timerSeconds = 0;
        timerMinutes = 0;
        return;
    }
    timerSeconds += kTickSeconds;
    if (timerSeconds >= kSecondsPerMinute) {
        ++timerMinutes;
        timerSeconds = 0;
    }
    const int interval = m_host.settings().timei;
    if (interval == 0 || timerMinutes < interval) return;
    if (transferState == kIdle) {
        automaticRun = true;
        retrieveMail();
    }
    timerSeconds = 0;
    timerMinutes = 0;
}

}  // namespace transfer
