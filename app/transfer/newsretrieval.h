// News retrieval by NNTP, two machines on one connection each:
//  - new articles (0x403): the headers above a group's high-water mark, up
//    to the per-group limit, optionally with their bodies, for the selected
//    group or every subscribed group in pane order;
//  - bodies of chosen items (0x404): the items of the shown group (or of
//    every subscribed group) marked "S" or highlighted without body ("M"),
//    fetched by message-id, then by article number.
// Both plug into Transfers through completion handlers and a cancel hook.
#pragma once

#include "transfer/connection.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace transfer {

class Transfers;

inline constexpr char kHeaderOnlyStatus = 'O';
inline constexpr char kSelectedStatus = 'S';
inline constexpr char kHighlightedStatus = 'H';
inline constexpr char kHighlightedNoBodyStatus = 'M';
inline constexpr char kUnreadStatus = 'U';

inline constexpr std::string_view kSubscriptionFile = "subscr.dat";
inline constexpr std::string_view kNoNewHeaders = "no new headers available";
inline constexpr std::string_view kNewArticlesRetrieved = " new articles retrieved";
inline constexpr std::string_view kNewHeadersRetrieved = " new headers retrieved";
inline constexpr std::string_view kBodiesRetrieved = " article bodies retrieved";
inline constexpr std::string_view kCannotFileArticle = "cannot file retrieved news article";

// What the news machines need of the main window besides transfer::Host.
class NewsHost {
public:
    virtual ~NewsHost() = default;
    // The newsgroup pane: its entries and its selected row (-1 none).
    virtual int newsgroupCount() const = 0;
    virtual std::string newsgroupName(int row) const = 0;
    virtual int selectedNewsgroup() const = 0;
    // Clears the mail folder pane's selection, selects the group and
    // reloads the message list.
    virtual void selectNewsgroup(int row) = 0;
    virtual void reloadList() = 0;
    // Redraws after a status change (re-sorting when sorting by status).
    virtual void statusRefresh() = 0;
    // The shown list: its sort type, item count, current row and the
    // selected rows; and the shown folder's directory ending in "/"
    // (empty when none).
    virtual int listSortType() const = 0;
    virtual int listItemCount() const = 0;
    virtual int listCurrentRow() const = 0;
    virtual std::vector<int> listSelectedRows() const = 0;
    virtual std::string shownFolder() = 0;
    virtual void setBusyCursor(bool busy) { (void)busy; }
    // A body fetched for viewing is in place: open the row in the viewer.
    virtual void viewRetrievedItem(int row) { (void)row; }
};

// Flags shared by the two machines and the commands that request bodies.
struct NewsFlags {
    bool newsRun = false;         // a 0x403 run is active
    bool bodyPending = false;     // bodies were requested by a command
    bool viewPending = false;     // a body is wanted for the viewer
    bool rescan = false;          // a running 0x404 pass starts its scan over
    bool bodyRun = false;         // a 0x404 run is active
};

// Counts the messages a machine posts to itself, so that those still queued
// when a run ends are passed over by the next run (they arrive in order).
class OwnPosts {
public:
    void posted() { ++m_inFlight; }
    void runStarts() { m_stale = m_inFlight; }
    bool stale(intptr_t lParam) {
        if (lParam != 0 || m_inFlight == 0) return false;
        --m_inFlight;
        if (m_stale == 0) return false;
        --m_stale;
        return true;
    }

private:
    int m_inFlight = 0;
    int m_stale = 0;
};

enum class NewsStep {
    Connected,     // connected, or the next group: open it
    GroupOpen,     // the group's numbers are known
    FirstFetched,  // the current article's header told its number
    Probing,       // looking upward for the first available header
    Filing,        // a header fetched (or refused): file it
    BodyDone,      // the filed header's body fetched (or refused)
    NextDone,      // NEXT answered
    Capabilities,  // whether the server takes commands sent ahead
    AheadHeader,   // a HEAD sent ahead answered: file it (or pass a missing number over)
    AheadBody,     // the BODY sent behind it answered
};

// Articles asked for ahead of the one being filed when the server takes
// pipelined commands: enough to keep a long round trip busy (64 left a
// 50 ms link idle for half of a 1,000-article run, as filing now takes
// well under a millisecond an article), few enough that a failure leaves
// little unread. The HEAD and BODY lines of a window (about 6 KB) go out
// in one write, well inside the send queue.
inline constexpr int kNewsAheadWindow = 256;
// Chosen bodies asked for ahead: each holds a row of the list until its
// body is stored, so fewer are kept in flight.
inline constexpr int kNewsBodiesWindow = 64;

class NewsRetrieval {
public:
    NewsRetrieval(Transfers& transfers, NewsHost& host, NewsFlags& flags)
        : m_transfers(transfers), m_host(host), m_flags(flags) {}

    // Starts a run for the selected group, or for every subscribed group
    // from the first; nothing happens while a transfer runs.
    void start(bool withBodies, bool allGroups);
    void onCompletion(uintptr_t wParam);

    NewsStep step() const { return m_step; }
    int32_t total() const { return m_total; }
    // A message this machine posted to itself (lParam 0) that belongs to a
    // run which has ended since: it must not drive the next run.
    bool staleOwnMessage(intptr_t lParam) { return m_posts.stale(lParam); }
    // Articles asked for ahead when the server allows it; 0 never asks the
    // server and fetches one command at a time.
    void setAheadWindow(int articles) { m_aheadWindow = articles; }

private:
    void openGroup();
    void onGroupOpen();
    void fetchMarked();
    void fetchFirst();
    void fetchAhead(int32_t article);
    void onAheadHeader(bool fetched);
    void onAheadBody(bool fetched);
    void afterAheadArticle();
    void fileHeader(bool fetched);
    void afterArticle();
    void endGroup(bool nothingNew);
    void finish(bool nothingNew);
    bool fileHead(std::string& headerName);
    void writeMark(uint32_t next);
    void post();

    Transfers& m_transfers;
    NewsHost& m_host;
    NewsFlags& m_flags;
    NewsStep m_step = NewsStep::Connected;
    OwnPosts m_posts;
    bool m_withBodies = false;
    bool m_allGroups = false;
    int m_groupIndex = 0;
    std::string m_group;
    std::string m_folder;  // ends in "/"
    std::string m_headerName;  // the item filed last ("N0000042.omh"); its body follows
    int32_t m_articleCount = 0;
    int32_t m_first = 0;
    int32_t m_groupFirst = 0;     // the first number GROUP gave
    int32_t m_last = 0;
    int32_t m_mark = 0;           // the next article to fetch
    int32_t m_headerArticle = -1;
    int32_t m_groupFiled = 0;
    int32_t m_total = 0;
    NewsStep m_firstStep = NewsStep::Probing;  // how the one-at-a-time fetch begins
    int m_aheadWindow = kNewsAheadWindow;
    bool m_askedPipelining = false;            // once per connection
    int32_t m_pipelining = 0;                  // 1: HEAD and BODY are sent ahead
    bool m_headerFiled = false;                // the article asked ahead was filed
};

enum class BodyStep {
    Connected,     // connected, or the next group: open it
    Scan,          // look for the next item that wants its body
    ByMessageId,   // BODY <message-id> answered
    ByNumber,      // BODY n answered
    Capabilities,  // whether the server takes commands sent ahead
    Ahead,         // the first of the bodies asked for ahead answered
};

class BodyRetrieval {
public:
    BodyRetrieval(Transfers& transfers, NewsHost& host, NewsFlags& flags)
        : m_transfers(transfers), m_host(host), m_flags(flags) {}

    // highlighted: fetch "M" items (else "S"); viewRow >= 0: the run ends
    // with the first body stored and that row is opened in the viewer.
    void start(bool highlighted, bool allGroups, int viewRow = -1);
    void onCompletion(uintptr_t wParam);

    BodyStep step() const { return m_step; }
    int32_t total() const { return m_total; }
    bool staleOwnMessage(intptr_t lParam) { return m_posts.stale(lParam); }
    // Bodies asked for ahead when the server allows it; 0 never asks the
    // server and fetches one body at a time.
    void setAheadWindow(int bodies) { m_aheadWindow = bodies; }

private:
    // A row whose body was asked for ahead, as the scan found it.
    struct Pending {
        int32_t row = -1;
        char status = 0;
        std::string messageId;
        std::string bodyPath;
        uint32_t articleNumber = 0;
        bool byNumber = false;  // asked by number (no id, or the id was refused)
    };

    void openGroup();
    void scan();
    bool nextWantedRow();
    void endOfRows();
    void fillAhead();
    void requestAhead();
    void onAheadBody(bool fetched);
    void storeBody();
    void continueScan();
    void post();

    Transfers& m_transfers;
    NewsHost& m_host;
    NewsFlags& m_flags;
    BodyStep m_step = BodyStep::Connected;
    OwnPosts m_posts;
    bool m_highlighted = false;
    bool m_allGroups = false;
    int m_viewRow = -1;
    int m_groupIndex = 0;
    int m_sortType = 7;
    int32_t m_rowCounter = 1;
    int32_t m_row = -1;
    std::string m_folder;
    std::string m_messageId;
    std::string m_bodyPath;
    char m_status = 0;
    uint32_t m_articleNumber = 0;
    int32_t m_articleCount = 0, m_first = 0, m_last = 0;
    int32_t m_total = 0;
    int m_aheadWindow = kNewsBodiesWindow;
    bool m_askedPipelining = false;  // once per connection
    int32_t m_pipelining = 0;        // 1: bodies are asked for ahead
    // The rows asked for (or to be asked for) ahead, in the order of their
    // replies; a row whose id was refused comes again at the end, by number.
    std::deque<Pending> m_ahead;
};

// The news commands of the main window and the two machines behind them.
class NewsTransfers {
public:
    NewsTransfers(Transfers& transfers, NewsHost& host);

    // "&news article headers and bodies in selected group" and its twins.
    void headersAndBodies() { m_news.start(true, false); }
    void headers() { m_news.start(false, false); }
    void headersAndBodiesSubscribed() { if (selectFirstGroup()) m_news.start(true, true); }
    void headersSubscribed() { if (selectFirstGroup()) m_news.start(false, true); }
    void highlightedBodies() { m_bodies.start(true, false); }
    void highlightedBodiesSubscribed() { if (selectFirstGroup()) m_bodies.start(true, true); }
    // "&selected news article bodies in selected group": marks the selected
    // rows without body "S" and fetches their bodies.
    void selectedBodies();
    // Opening a news item whose body is missing: marks it "S", fetches it
    // and then asks the host to view it. Returns false when nothing was
    // requested (the item could not be marked).
    bool requestBodyForViewing(int row);

    const NewsFlags& flags() const { return m_flags; }
    NewsRetrieval& news() { return m_news; }
    BodyRetrieval& bodies() { return m_bodies; }

private:
    // The all-groups commands begin with the first group shown; false when
    // they cannot run.
    bool selectFirstGroup();
    void onCancel();

    Transfers& m_transfers;
    NewsHost& m_host;
    NewsFlags m_flags;
    NewsRetrieval m_news;
    BodyRetrieval m_bodies;
};

// Resolves a subscribed group's folder: data directory + "/" + its folder
// + "/"; empty when the group is not subscribed.
std::string newsgroupFolder(const Transfers& transfers, std::string_view group);

}  // namespace transfer
