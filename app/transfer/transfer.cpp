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

Transfers::Transfers(Host& host, std::string dataDirectory)
    : m_host(host), m_dataDir(std::move(dataDirectory)), m_mail(*this) {}

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
        if (transferState == kRetrievingMail) m_mail.onCompletion(wParam);
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
    const int wasRunning = transferState;
    const bool automatic = automaticRun;
    cancel(false);
    m_host.setDefaultCursor();
    if (message == kPasswordFailed) retrievalPassword.clear();
    if (wasRunning == kIdle || automatic) return;
    switch (offerTrust(message)) {
    case Trust::NotAsked: m_host.information(message); break;
    case Trust::Declined: break;  // the question showed the reason
    case Trust::Trusted:
        // Trusted from now on: the retrieval starts again at once; other
        // transfers are started again by the user.
        if (wasRunning == kRetrievingMail) retrieveMail();
        break;
    }
}

Transfers::Trust Transfers::offerTrust(const std::string& message) {
    std::string host, fingerprint;
    if (netwire::LastCertificateProblem(host, fingerprint) == netwire::kCertificateOk) return Trust::NotAsked;
    if (!m_host.question(message + "\n\ntrust this certificate for " + host + " from now on?")) return Trust::Declined;
    if (netwire::TrustCertificate(host, fingerprint) != 0) {
        m_host.information(std::string(kCannotTrust));
        return Trust::Declined;
    }
    return Trust::Trusted;
}

void Transfers::cancel(bool normalEnd) {
    netwire::AbortConnection();
    for (const auto& hook : m_cancelHooks) hook(normalEnd);
    m_host.unlockAfterTransfer();
    transferState = kIdle;
    // Every end of a run, the user's cancel included, clears the flag: a
    // flag left set would stop the timer for the rest of the run and keep
    // the next manual retrieval from asking for a password.
    automaticRun = false;
}

void Transfers::userCancel() {
    if (transferState != kIdle) cancel(false);
}

void Transfers::retrieveMail() { m_mail.start(); }

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
