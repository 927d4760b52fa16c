// The transfer machinery of the main window: one transfer at a time, driven
// by the protocol engine's posted messages. This object is the window the
// engine posts to; it owns the transfer state, handles the socket
// notification and status messages and cancels. The mail retrieval
// (mailretrieval.h) is built in; the news and delivery machines plug in
// through completion handlers and the cancel hook.
//
// Everything the transfers show or ask goes through Host, so the machinery
// runs headless under a PollLoop as well as inside the window.
#pragma once

#include "settings/settings.h"
#include "platform/messages.h"
#include "transfer/mailretrieval.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace transfer {

// Message numbers the main window registers with the engine.
inline constexpr uint32_t kSocketMessage = 0x401;
inline constexpr uint32_t kStatusMessage = 0x402;
inline constexpr uint32_t kNewsMessage = 0x403;
inline constexpr uint32_t kBodiesMessage = 0x404;
inline constexpr uint32_t kMailMessage = 0x405;
inline constexpr uint32_t kDeliverMessage = 0x406;

// Status message wParam.
inline constexpr uintptr_t kStatusProgress = 0;
inline constexpr uintptr_t kStatusError = 1;

// Transfer states.
inline constexpr int kIdle = 0;
inline constexpr int kRetrievingMail = 1;
inline constexpr int kNewsTransfer = 2;
inline constexpr int kSendingMail = 3;

// Automatic retrieval: the window timer ticks every 10 s.
inline constexpr int kTickSeconds = 10;
inline constexpr int kSecondsPerMinute = 60;

inline constexpr std::string_view kPasswordFailed = "password failed";
inline constexpr std::string_view kCannotTrust = "cannot write the list of trusted certificates";

inline constexpr std::string_view kHeaderTemp = "head.tmp";
inline constexpr std::string_view kBodyTemp = "body.tmp";
inline constexpr std::string_view kItemNumberFile = "omail.dat";
inline constexpr std::string_view kInbox = "in";
inline constexpr std::string_view kListName = "n.lst";
inline constexpr std::string_view kCountName = "n.cnt";

// The sort types whose index files a change of a folder's list makes stale.
inline constexpr int kIndexSortTypes[] = {2, 3, 4, 5, 7, 8};

// Deletes a folder's index files of the sort types above. folder ends in a
// separator.
void dropIndices(std::string_view folder);

// What the transfers need of the window.
class Host {
public:
    virtual ~Host() = default;
    // A progress or error text for the status bar, shown at once.
    virtual void showStatus(const std::string& text) = 0;
    // An information box with one OK button.
    virtual void information(const std::string& text) = 0;
    // A yes/no question; true for yes.
    virtual bool question(const std::string&) { return false; }
    // The one-line entry dialog showing '*' for each character; true with
    // the text when the user confirmed a non-empty entry.
    virtual bool askPassword(std::string_view caption, std::string& text) = 0;
    // Disables the folder panes and hides the sorted column, and back.
    virtual void lockForTransfer() = 0;
    virtual void unlockAfterTransfer() = 0;
    virtual void setDefaultCursor() {}
    // A mail retrieval has ended normally: reload the list when a mail folder
    // is shown.
    virtual void mailRetrievalEnded() = 0;
    // Delivered items have left the outbox: reload the list when a mail
    // folder is shown.
    virtual void outboxChanged() {}
    // Personal folder names in their sorted order.
    virtual std::vector<std::string> personalFolders() const = 0;
    virtual const omail::GeneralSettings& settings() const = 0;
    virtual const omail::FolderOptions& folderOptions() const = 0;
};

class Transfers : public platform::Window {
public:
    Transfers(Host& host, std::string dataDirectory);
    ~Transfers() override;

    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    // "&email messages": starts a retrieval when no transfer runs.
    void retrieveMail();
    // Ends the running transfer; normalEnd is true when a machine finished,
    // false when the user or an error stopped it. Clears the automatic-run flag.
    void cancel(bool normalEnd);
    // The user's cancel: acts only while a transfer runs.
    void userCancel();
    // One tick (10 s) of the window timer: automatic retrieval.
    void timerTick();

    // Completion messages of other transfers (news, delivery).
    void setCompletionHandler(uint32_t message, std::function<void(uintptr_t, intptr_t)> handler);
    // Hooks run inside cancel, in the order added, after the connection is
    // closed and before the panes are unlocked (delivery filing, news flags).
    void addCancelHook(std::function<void(bool normalEnd)> hook) { m_cancelHooks.push_back(std::move(hook)); }
    // Hooks run for each message a mail retrieval has filed, with the path of
    // its header file (new-mail notices).
    void addFiledHook(std::function<void(const std::string& headerPath)> hook) {
        m_filedHooks.push_back(std::move(hook));
    }
    void mailFiled(const std::string& headerPath) const {
        for (const auto& hook : m_filedHooks) hook(headerPath);
    }

    const std::string& dataDirectory() const { return m_dataDir; }
    // data directory + "/" + name
    std::string dataPath(std::string_view name) const;

    // Run state, shared with the window and the other transfers.
    int transferState = kIdle;
    bool deliveryFlag = false;
    bool automaticRun = false;
    int timerSeconds = 0;
    int timerMinutes = 0;
    std::string retrievalPassword;
    std::string storedPasswordCopy;

    Host& host() const { return m_host; }

private:
    void onStatus(uintptr_t wParam, const char* text);
    enum class Trust { NotAsked, Declined, Trusted };
    // After a refused certificate: offers to trust it for its host.
    Trust offerTrust(const std::string& message);

    Host& m_host;
    std::string m_dataDir;
    MailRetrieval m_mail;
    std::map<uint32_t, std::function<void(uintptr_t, intptr_t)>> m_completions;
    std::vector<std::function<void(const std::string&)>> m_filedHooks;
    std::vector<std::function<void(bool)>> m_cancelHooks;
};

}  // namespace transfer
