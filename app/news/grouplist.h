// The newsgroup window's list of active groups and its one NNTP transfer:
// the full list (LIST) or the groups new since the last fetch (NEWGROUPS),
// each followed by the server's date (DATE) on the same connection, then
// filed into "GROUP.LST" with its index "GROUP.IDX" and count "GROUP.DAT".
// Headless: everything shown goes through GroupListHost.
#pragma once

#include "platform/messages.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace news {

// Message numbers this window registers with the engine.
inline constexpr uint32_t kSocketMessage = 0x401;
inline constexpr uint32_t kStatusMessage = 0x402;
inline constexpr uint32_t kConnectedMessage = 0x403;
inline constexpr uint32_t kListedMessage = 0x404;
inline constexpr uint32_t kDatedMessage = 0x405;

inline constexpr std::string_view kGroupList = "GROUP.LST";
inline constexpr std::string_view kGroupIndex = "GROUP.IDX";
inline constexpr std::string_view kGroupCount = "GROUP.DAT";
inline constexpr std::string_view kNewGroupList = "NEWGRP.LST";
inline constexpr std::string_view kReceiveList = "TEMP.LST";
inline constexpr std::string_view kServerDate = "NEWS.DAT";
inline constexpr std::string_view kSortingList = "sorting list...";

// Transfer states.
enum class ListTransfer { Idle = 0, FullList = 1, NewGroups = 2 };

class GroupListHost {
public:
    virtual ~GroupListHost() = default;
    virtual void showStatus(const std::string& text) = 0;
    virtual void information(const std::string& text) = 0;
    virtual void setBusy(bool busy) = 0;
    // The lists were filed anew: reset the active list to the new total;
    // newGroups: "NEWGRP.LST" changed too.
    virtual void listsFiled(bool newGroups) = 0;
};

class GroupList : public platform::Window {
public:
    GroupList(GroupListHost& host, std::string dataDirectory);
    ~GroupList() override;

    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    // Connects to the news server and fetches; false while a transfer runs.
    bool start(ListTransfer kind, std::string_view server);
    // Stops a running transfer; the files stay as they were.
    void cancel();

    ListTransfer state() const { return m_state; }
    // Names in "GROUP.LST", as "GROUP.DAT" holds it (0 when missing).
    int32_t total() const { return m_total; }
    void readTotal();
    // The name at a row in name order; empty past the end.
    std::string name(int32_t row) const;
    // The first row after `after` (-1: from the top) whose name contains
    // text, or -1.
    int32_t find(std::string_view text, int32_t after) const;

    std::string dataPath(std::string_view name) const;

private:
    void onStatus(uintptr_t wParam, const char* text);
    void finish();
    // A full list replaces "GROUP.LST" in one rename; false when it could not.
    bool fileFullList();
    // Appends the reported groups that the list does not hold yet.
    bool fileNewGroups();
    bool writeIndexAndCount();

    GroupListHost& m_host;
    std::string m_dataDir;
    ListTransfer m_state = ListTransfer::Idle;
    int32_t m_received = 0;
    int32_t m_total = 0;
    std::string m_pending;
};

}  // namespace news
