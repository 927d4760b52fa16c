// Outbox delivery: e-mail by SMTP and news by NNTP, each kind over a
// connection of its own, one item per completion message (0x406), in the
// order of the outbox's subject index. When the run ends the delivered items
// are filed into "sent" (or a personal folder) and taken out of the outbox;
// everything else stays there. "Deliver all" sends the mail, then the news.
#pragma once

#include "transfer/connection.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace transfer {

class Transfers;

enum class DeliveryKind { Mail, News };

enum class DeliveryStep {
    Idle,        // no delivery runs
    Connecting,  // waiting for the server's greeting
    Sending,     // one item handed to the engine, waiting for its report
};

// The outbox is walked in subject order.
inline constexpr int kDeliverySortType = 5;
inline constexpr std::string_view kOutbox = "out";
inline constexpr std::string_view kSent = "sent";

inline constexpr std::string_view kNoArticles = "no articles to post";
inline constexpr std::string_view kNoMessages = "no messages to send";
inline constexpr std::string_view kNoItems = "no items to deliver";
inline constexpr std::string_view kArticlesPosted = " articles posted";
inline constexpr std::string_view kMessagesSent = " messages sent";
inline constexpr std::string_view kItemsDelivered = " items delivered";
inline constexpr std::string_view kArticleRefused = "article refused by server";
inline constexpr std::string_view kMessageRefused = "message refused by server";
// Mail items in flight at once when the server takes them without waiting.
inline constexpr int kSendWindow = 64;
inline constexpr std::string_view kCannotFileSent = "cannot file delivered item";

class Delivery {
public:
    // Registers itself for 0x406 and for the transfers' cancel.
    explicit Delivery(Transfers& transfers);

    // Starts a delivery of one kind when no transfer runs.
    void start(DeliveryKind kind);
    // Mail first, then news; reportEmpty shows "no items to deliver".
    void deliverAll(bool reportEmpty);

    DeliveryStep step() const { return m_step; }
    bool deliverAllRunning() const { return m_deliverAll; }
    // Body file names delivered in the run so far (the last run's after it).
    const std::vector<std::string>& delivered() const { return m_delivered; }

private:
    struct Refusal {
        std::string subject;
        std::string reply;
        bool mail = false;
    };
    struct Upcoming {
        int32_t row = 0;
        std::string body;
    };

    void onCompletion(uintptr_t wParam, intptr_t lParam);
    void onCancel(bool normalEnd);
    // Hands the next item of the kind to the engine; false when none is left.
    bool sendNext();
    // The same for mail with smtppipe: the items after it go along, for an
    // engine that sends them ahead.
    bool sendNextMailAhead();
    // The next item of the kind from position on (advanced past it); false
    // when none is left.
    bool findItem(const std::string& outbox, int32_t& position, int32_t& row, std::string& body) const;
    void endRun();
    void fileDelivered();
    // "sent/" or the personal folder the options choose for the item.
    std::string destinationFor(const std::string& headerPath) const;
    std::string outboxFolder() const;
    std::string report(size_t count, std::string_view what) const;

    Transfers& m_transfers;
    DeliveryKind m_kind = DeliveryKind::Mail;
    DeliveryStep m_step = DeliveryStep::Idle;
    int32_t m_listLength = 0;
    int32_t m_position = 0;
    std::string m_inFlight;  // body file name handed to the engine
    int32_t m_inFlightRow = 0;
    std::deque<Upcoming> m_ahead;  // mail items found after m_inFlight
    std::vector<std::string> m_delivered;
    std::vector<Refusal> m_refused;
    bool m_deliverAll = false;
    int32_t m_pendingNews = 0;
    size_t m_mailDelivered = 0;  // what the mail pass of a deliver-all sent
};

}  // namespace transfer
