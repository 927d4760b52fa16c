// Mail retrieval by POP3: log on, fetch every waiting message into
// "head.tmp"/"body.tmp" and file it, then delete them all on the server in
// the same connection. One completion message (0x405) advances it one step.
#pragma once

#include "transfer/uidrecord.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace transfer {

class Transfers;

inline constexpr int kPop3ServerType = 1;
inline constexpr char kNewStatus = 'U';

inline constexpr std::string_view kPasswordPrompt = "please enter your password";
inline constexpr std::string_view kNoNewMessages = "no new messages available";
inline constexpr std::string_view kNewMessagesRetrieved = " new messages retrieved";
inline constexpr std::string_view kCannotFile = "cannot file retrieved mail item";

enum class MailStep {
    Connected,  // greeting seen: log on and ask for the count
    LoggedOn,   // count known
    Capabilities,  // whether the server takes commands ahead (CAPA PIPELINING)
    Retrieved,  // one message written into the temporary files
    Deleted,    // one message deleted on the server
    Listed,     // unique ids listed (or refused by the server)
};

class MailRetrieval {
public:
    explicit MailRetrieval(Transfers& transfers) : m_transfers(transfers) {}

    // Starts a retrieval when no transfer runs: adopts or asks for the
    // password, locks the panes and connects.
    void start();
    void onCompletion(uintptr_t wParam);

    MailStep step() const { return m_step; }
    int32_t itemNumber() const { return m_itemNumber; }
    int32_t messageCount() const { return m_messageCount; }

private:
    void end();
    // The run ends before any deletion: the unfiled message stays on the server.
    void stopUnfiled();
    // False when the message could not be put into its folder.
    bool fileRetrievedMessage();
    std::string destinationFolder() const;

    // With unique ids, only messages not filed before are fetched and only
    // filed ones deleted; without them every message is fetched, then
    // every one deleted.
    bool wantsUniqueIds() const;
    void listUniqueIds();
    // false when the run has ended.
    bool onListed(uintptr_t wParam);
    // false when the id of the message about to be filed, or of the one
    // filed, could not be recorded (the run has ended).
    bool markPending();
    bool recordFiled();
    void stopUnrecorded();
    int32_t nextToFetch(int32_t after) const;
    int32_t nextToDelete(int32_t after) const;
    // RETR and DELE of number, with the following ones sent ahead when the
    // server allows it.
    void fetchOrDelete(int32_t number);
    void deleteFrom(int32_t number);
    // With unique ids and commands sent ahead, what is fetched and deleted is
    // chosen once, as lists: the engine has sent part of them already.
    bool pipelinedByIds() const { return m_byIds && m_pipelining == 1; }
    std::vector<int32_t> plannedFetches() const;
    std::vector<int32_t> plannedDeletions() const;
    // The retrieved message's id is in the record already: a server that
    // gives two messages one id; the second is not filed again.
    bool alreadyFiled() const;

    Transfers& m_transfers;
    MailStep m_step = MailStep::Connected;
    int32_t m_itemNumber = 1;
    int32_t m_messageCount = 0;
    int32_t m_filedCount = 0;
    bool m_byIds = false;
    UidRecord m_record;
    UidPlan m_plan;
    int32_t m_pipelining = 0;  // 1: the server takes RETR and DELE sent ahead
    std::vector<int32_t> m_fetches;    // pipelinedByIds(): the numbers to fetch, ascending
    std::vector<int32_t> m_deletions;  // and to delete, once the fetching is done
};

}  // namespace transfer
