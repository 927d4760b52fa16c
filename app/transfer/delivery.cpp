#include "transfer/delivery.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"

#include <cstdio>
#include <map>

namespace transfer {
namespace {

constexpr int32_t kMailHeaderKind = 2;
constexpr int32_t kNewsHeaderKind = 1;

int32_t headerKind(DeliveryKind kind) { return kind == DeliveryKind::News ? kNewsHeaderKind : kMailHeaderKind; }

std::string fileName(const std::string& path) {
    std::string directory, name;
    torvakit::extractfrompath(path, directory, name);
    return name;
}

std::string headerNameOf(std::string body) {
    if (!body.empty()) body.back() = 'h';
    return body;
}

// What the engine reported, as a text.
std::string replyText(intptr_t lParam) {
    const char* text = reinterpret_cast<const char*>(lParam);
    return text ? text : "";
}

}  // namespace

Delivery::Delivery(Transfers& transfers) : m_transfers(transfers) {
    m_transfers.setCompletionHandler(kDeliverMessage,
                                     [this](uintptr_t wParam, intptr_t lParam) { onCompletion(wParam, lParam); });
    m_transfers.addCancelHook([this](bool normalEnd) { onCancel(normalEnd); });
}

// Folders as they are spelled on disk: the names inside them then resolve
// at once instead of by a search of the folder.
std::string Delivery::outboxFolder() const { return platform::resolvePath(m_transfers.dataPath(kOutbox)) + "/"; }

void Delivery::start(DeliveryKind kind) {
    Transfers& t = m_transfers;
    if (t.transferState != kIdle) return;
    m_kind = kind;
    int32_t count = 0;
    torvakit::CalcItems(t.dataPath(kOutbox), headerKind(kind), count);
    if (count == 0) {
        m_deliverAll = false;
        t.host().information(std::string(kind == DeliveryKind::News ? kNoArticles : kNoMessages));
        return;
    }
    const std::string outbox = outboxFolder();
    uint32_t length = 0;
    torvakit::GetFile(outbox + std::string(kCountName), length);
    m_listLength = static_cast<int32_t>(length);
    // The walk goes by the subject index: build it when a change dropped it.
    if (!platform::fileExists(outbox + "n5.idx")) torvakit::SortList(outbox + std::string(kListName), kDeliverySortType);
    m_delivered.clear();
    m_refused.clear();
    m_inFlight.clear();
    m_ahead.clear();
    m_position = 0;
    t.host().lockForTransfer();
    t.deliveryFlag = true;
    m_step = DeliveryStep::Connecting;
    const omail::GeneralSettings& s = t.host().settings();
    if (kind == DeliveryKind::News) {
        t.transferState = kNewsTransfer;
        netwire::OpenServer(&t, kSocketMessage, kDeliverMessage, kStatusMessage, s.nntp, kNntpServerType,
                            nntpOptions(s));
    } else {
        t.transferState = kSendingMail;
        netwire::OpenServer(&t, kSocketMessage, kDeliverMessage, kStatusMessage, s.smtp, kSmtpServerType,
                            smtpOptions(s));
    }
}

void Delivery::deliverAll(bool reportEmpty) {
    Transfers& t = m_transfers;
    if (t.transferState != kIdle) return;
    int32_t mail = 0, news = 0;
    torvakit::CalcItems(t.dataPath(kOutbox), kMailHeaderKind, mail);
    torvakit::CalcItems(t.dataPath(kOutbox), kNewsHeaderKind, news);
    if (mail == 0 && news == 0) {
        if (reportEmpty) t.host().information(std::string(kNoItems));
        return;
    }
    m_mailDelivered = 0;
    if (mail == 0) {
        m_deliverAll = false;
        start(DeliveryKind::News);
        return;
    }
    m_deliverAll = true;
    m_pendingNews = news;
    start(DeliveryKind::Mail);
}

void Delivery::onCompletion(uintptr_t wParam, intptr_t lParam) {
    Transfers& t = m_transfers;
    if (t.transferState == kIdle || !t.deliveryFlag || m_step == DeliveryStep::Idle) return;
    if (m_step == DeliveryStep::Sending && !m_inFlight.empty()) {
        // A refused POST leaves the connection open and the article unsent:
        // it stays in the outbox and the run goes on with the next one.
        if (wParam == 0) {
            m_delivered.push_back(m_inFlight);
        } else if (m_kind == DeliveryKind::Mail) {
            // A mail item refused while others were in flight: it stays in
            // the outbox and the run goes on with the ones behind it.
            std::string subject, ignored;
            torvakit::GetSubject(outboxFolder(), subject, ignored, m_inFlightRow, kDeliverySortType);
            m_refused.push_back({subject, replyText(lParam), true});
        } else {
            const std::string reply = replyText(lParam);
            m_refused.back().reply = reply.empty() ? std::string(kArticleRefused) : reply;
        }
        m_inFlight.clear();
    }
    if (!sendNext()) endRun();
}

bool Delivery::findItem(const std::string& outbox, int32_t& position, int32_t& row, std::string& body) const {
    const int32_t wanted = headerKind(m_kind);
    while (position < m_listLength) {
        row = position++;
        if (torvakit::GetBodyFileName(outbox, row, kDeliverySortType, body) != 1) continue;
        if (torvakit::HeaderType(body) == wanted) return true;
    }
    return false;
}

bool Delivery::sendNextMailAhead() {
    const std::string outbox = outboxFolder();
    Upcoming next;
    while (m_ahead.size() < static_cast<size_t>(kSendWindow) && findItem(outbox, m_position, next.row, next.body))
        m_ahead.push_back(next);
    if (m_ahead.empty()) return false;
    std::vector<netwire::OutboxItem> items;
    items.reserve(m_ahead.size());
    for (const Upcoming& u : m_ahead) items.push_back({outbox + headerNameOf(fileName(u.body)), u.body});
    m_inFlight = fileName(m_ahead.front().body);
    m_inFlightRow = m_ahead.front().row;
    m_ahead.pop_front();
    m_step = DeliveryStep::Sending;
    netwire::SendMailItemsAhead(kDeliverMessage, items, m_transfers.host().settings().sigfile, kSendWindow);
    return true;
}

bool Delivery::sendNext() {
    if (m_kind == DeliveryKind::Mail && m_transfers.host().settings().smtppipe != 0) return sendNextMailAhead();
    const std::string outbox = outboxFolder();
    int32_t row = 0;
    std::string body;
    if (findItem(outbox, m_position, row, body)) {
        const std::string header = outbox + headerNameOf(fileName(body));
        m_inFlight = fileName(body);
        if (m_kind == DeliveryKind::News) {
            std::string subject, ignored;
            torvakit::GetSubject(outbox, subject, ignored, row, kDeliverySortType);
            m_refused.push_back({subject, {}});  // dropped again unless refused
        }
        m_step = DeliveryStep::Sending;
        const std::string& signature = m_transfers.host().settings().sigfile;
        if (m_kind == DeliveryKind::News) {
            netwire::PostItem(kDeliverMessage, header, body, signature);
        } else {
            netwire::SendMailItem(kDeliverMessage, header, body, signature);
        }
        return true;
    }
    return false;
}

std::string Delivery::report(size_t count, std::string_view what) const {
    std::string text = std::to_string(count) + std::string(what);
    for (const Refusal& r : m_refused) {
        if (r.reply.empty()) continue;
        text += "\n" + std::string(r.mail ? kMessageRefused : kArticleRefused) + ": " + r.subject + " (" + r.reply + ")";
    }
    return text;
}

void Delivery::endRun() {
    Transfers& t = m_transfers;
    const DeliveryKind kind = m_kind;
    const bool deliverAll = m_deliverAll;
    t.cancel(true);  // QUIT, then the filing through onCancel
    const size_t sent = m_delivered.size();
    if (deliverAll && kind == DeliveryKind::Mail && m_pendingNews > 0) {
        m_mailDelivered = sent;
        m_pendingNews = 0;
        m_deliverAll = true;
        start(DeliveryKind::News);
        return;
    }
    if (deliverAll) {
        m_deliverAll = false;
        t.host().information(report(m_mailDelivered + sent, kItemsDelivered));
        return;
    }
    t.host().information(report(sent, kind == DeliveryKind::News ? kArticlesPosted : kMessagesSent));
}

void Delivery::onCancel(bool normalEnd) {
    Transfers& t = m_transfers;
    if (!t.deliveryFlag) return;
    // The item whose transfer was under way when the run stopped is not
    // delivered: it stays in the outbox.
    m_inFlight.clear();
    fileDelivered();
    t.deliveryFlag = false;
    m_step = DeliveryStep::Idle;
    if (!normalEnd) m_deliverAll = false;
}

std::string Delivery::destinationFor(const std::string& headerPath) const {
    const Transfers& t = m_transfers;
    const omail::FolderOptions& o = t.host().folderOptions();
    const bool news = m_kind == DeliveryKind::News;
    const bool byAuthor = (news ? o.pfrom : o.sfrom) == 1;
    const bool byRecipient = (news ? o.pgrp : o.srecip) == 1;
    const std::string sent = platform::resolvePath(t.dataPath(kSent)) + "/";
    if (!byAuthor && !byRecipient) return sent;
    std::string from, replyTo, recipient;
    torvakit::GetFilters(headerPath, from, replyTo, recipient);
    auto occurs = [](const std::string& value, const std::string& name) {
        return !value.empty() && !name.empty() && torvakit::substringcompare(value, name) >= 0;
    };
    for (std::string name : t.host().personalFolders()) {
        torvakit::stringlower(name);
        bool match = byAuthor && (occurs(from, name) || occurs(replyTo, name));
        if (!match && byRecipient) match = occurs(recipient, name);
        if (!match) continue;
        // A folder removed behind our back must not swallow the item.
        if (platform::directoryExists(t.dataPath(name))) return platform::resolvePath(t.dataPath(name)) + "/";
        break;
    }
    return sent;
}

void Delivery::fileDelivered() {
    if (m_delivered.empty()) return;
    const std::string outbox = outboxFolder();
    // Rows are looked up by file name now, not remembered from the walk: the
    // outbox index may have been rebuilt in between.
    if (!platform::fileExists(outbox + "n5.idx")) torvakit::SortList(outbox + std::string(kListName), kDeliverySortType);
    uint32_t count = 0;
    torvakit::GetFile(outbox + std::string(kCountName), count);
    std::map<std::string, int32_t> rows;
    for (int32_t row = 0; row < static_cast<int32_t>(count); ++row) {
        std::string body;
        if (torvakit::GetBodyFileName(outbox, row, kDeliverySortType, body) == 1) rows.emplace(fileName(body), row);
    }
    std::vector<int32_t> selection{0};
    std::vector<std::string> destinations;
    for (const std::string& bodyName : m_delivered) {
        auto it = rows.find(bodyName);
        if (it == rows.end()) continue;
        selection.push_back(it->second);
        destinations.push_back(destinationFor(outbox + headerNameOf(bodyName)));
    }
    selection[0] = static_cast<int32_t>(selection.size() - 1);
    // One journalled step: files, records and counts move together.
    const bool filed =
        selection[0] == 0 || torvakit::FileDelivered(outbox, kDeliverySortType, selection, destinations) == 1;
    m_transfers.host().outboxChanged();
    if (!filed) m_transfers.host().information(std::string(kCannotFileSent));
}

}  // namespace transfer
