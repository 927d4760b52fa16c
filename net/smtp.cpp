// SMTP: HELO on connecting; MAIL FROM, one RCPT TO per To and Cc address,
// DATA and the item's files for each outbox item, one command at a time, or
// as groups in one write when the server takes pipelining.
#include "net/engine.h"

#include "store/torvakit.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <optional>
#include <vector>

namespace netwire {

using namespace engine;

namespace {

constexpr const char* kHelo = "HELO orrindel.mail\r\n";
constexpr const char* kEhlo = "EHLO orrindel.mail\r\n";
constexpr const char* kNoStartTls = "smtp server does not offer STARTTLS";
constexpr const char* kNoAuthMechanism = "smtp server offers neither AUTH PLAIN nor AUTH LOGIN";
constexpr const char* kNoAuth = "smtp server does not ask for authentication";
constexpr const char* kUserInvalid = "invalid user name";
constexpr const char* kPasswordInvalid = "invalid password";
constexpr int kReplyAuthOk = 235;
constexpr int kReplyAuthMore = 334;
constexpr const char* kData = "DATA\r\n";
constexpr const char* kConnected = "connected to smtp server";
constexpr const char* kSent = "message sent";
constexpr const char* kCannotReadHeader = "cannot read header file";
constexpr const char* kCannotReadSignature = "cannot read signature file";
constexpr const char* kCannotReadFile = "cannot read file";
constexpr const char* kListTooLong = "recipient list too long";
constexpr const char* kRecipientTooLong = "recipient address too long";
constexpr const char* kRecipientInvalid = "invalid recipient address";
constexpr const char* kSenderTooLong = "sender address too long";
constexpr const char* kSenderInvalid = "invalid sender address";
constexpr int kReplyReady = 220;
constexpr int kReplyOk = 250;
constexpr int kReplyStartData = 354;
constexpr size_t kRecipientListMax = 2047;
constexpr size_t kMailFromOverhead = 12;  // "MAIL FROM:" and CR LF
constexpr size_t kRcptToOverhead = 10;    // "RCPT TO:" and CR LF
constexpr size_t kBracketsOverhead = 2;   // the angle brackets an address may gain

std::string g_recipients;
size_t g_position = 0;

// Pipelining: the current item's commands went out as one group (its RCPT
// TO and DATA are not sent on the replies); the header file whose commands
// are to follow the current item's "."; the one whose commands did, whose
// replies wait for the caller.
bool g_grouped = false;
std::string g_pendingNext;
std::string g_aheadHeader;
// The server takes commands sent ahead within one message's transaction
// only: dovecot's submission server (2.3.19) aborts the connection when
// the next message's MAIL and RCPT arrive before the reply to the text
// before them, with DATA and with BDAT alike, though it announces
// PIPELINING. Its messages then go one transaction at a time.
bool g_oneTransaction = false;

// What the EHLO reply offered.
struct Offer {
    bool startTls = false;
    bool auth = false;
    bool plain = false;
    bool login = false;
    bool pipelining = false;
    bool chunking = false;
};
Offer g_offer;
int g_ehloLines = 0;

std::string base64(std::string_view in) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        uint32_t v = (uint32_t(uint8_t(in[i])) << 16) | (uint32_t(uint8_t(in[i + 1])) << 8) | uint8_t(in[i + 2]);
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (i < in.size()) {
        uint32_t v = uint32_t(uint8_t(in[i])) << 16;
        if (i + 1 < in.size()) v |= uint32_t(uint8_t(in[i + 1])) << 8;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += i + 1 < in.size() ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Sends a line carrying a secret and wipes the copy.
void queueSecret(std::string line) {
    line += "\r\n";
    queueText(line);
    line.assign(line.size(), '\0');
}

void noteCapability(const Line& line) {
    std::string word(line.length > 4 ? line.text + 4 : "", line.length > 6 ? static_cast<size_t>(line.length - 6) : 0);
    for (char& ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (word == "STARTTLS") g_offer.startTls = true;
    if (word == "PIPELINING") g_offer.pipelining = true;
    if (word == "CHUNKING") g_offer.chunking = true;
    if (word.rfind("AUTH", 0) == 0 && (word.size() == 4 || word[4] == ' ' || word[4] == '=')) {
        g_offer.auth = true;
        word += ' ';
        g_offer.plain = g_offer.plain || word.find(" PLAIN ") != std::string::npos || word.find("=PLAIN ") != std::string::npos;
        g_offer.login = g_offer.login || word.find(" LOGIN ") != std::string::npos || word.find("=LOGIN ") != std::string::npos;
    }
}

void sendEhlo() {
    g_offer = {};
    g_ehloLines = 0;
    conn().step = kStepEhlo;
    queueText(kEhlo);
}

void connected() {
    conn().step = kStepReady;
    postCompletion(0, kConnected);
}

void refuseWith(const char* text) {
    conn().refused = true;
    closeWithError(text);
}

// After the last EHLO line: TLS first when it was asked for, then the
// credentials, which therefore never travel before TLS is on.
void ehloDone() {
    Connection& c = conn();
    if (c.security == kSecurityStartTls && !c.tlsDone) {
        if (!g_offer.startTls) return refuseWith(kNoStartTls);
        c.step = kStepStartTls;
        queueText("STARTTLS\r\n");
        return;
    }
    if (c.user.empty()) return connected();
    if (!g_offer.auth) {
        // Nothing secret was sent; a server that takes mail without a login
        // is left to accept or refuse the message.
        postStatus(0, kNoAuth);
        return connected();
    }
    if (c.user.find_first_of("\r\n") != std::string::npos) return closeWithError(kUserInvalid);
    if (c.password.find_first_of("\r\n") != std::string::npos) return closeWithError(kPasswordInvalid);
    if (g_offer.plain) {
        std::string token;
        token += '\0';
        token += c.user;
        token += '\0';
        token += c.password;
        c.step = kStepAuth;
        queueSecret("AUTH PLAIN " + base64(token));
        token.assign(token.size(), '\0');
        return;
    }
    if (!g_offer.login) return refuseWith(kNoAuthMechanism);
    c.step = kStepAuthLogin;
    queueText("AUTH LOGIN\r\n");
}

int code(const Line& line) { return torvakit::serverstatus(std::string_view(line.text, static_cast<size_t>(line.length))); }

// The element of a recipient list that starts at `from`, up to the next
// ',' or the end.
std::string_view element(std::string_view list, size_t from) {
    size_t end = list.find(',', from);
    return list.substr(from, (end == std::string_view::npos ? list.size() : end) - from);
}

void sendRecipient() {
    std::string_view text = element(g_recipients, g_position);
    g_position += text.size();
    conn().step = kStepRcptTo;
    if (g_grouped) return;  // already on its way
    std::string address;
    torvakit::extractemailaddr(text, address);
    queueCommand("RCPT TO:%s\r\n", address.c_str());
}

void fail(const char* format, const Line& line) {
    closeWithError(formatText(TextKind::SmtpError, format, code(line)));
}

void startData() {
    Connection& c = conn();
    if (!openForRead(0)) return closeWithError(kCannotReadFile);
    c.step = kStepDataSent;
    c.fileSend = kFileSendStreaming;
    runFileSender();
}

// Everything about the item that can be refused is checked before the first
// command goes out, so a refused item leaves nothing half-sent.
const char* checkEnvelope(const ItemHeader& item) {
    if (item.lineTooLong || item.recipients.size() > kRecipientListMax) return kListTooLong;
    const char* refusal = checkArgument(item.from, kMailFromOverhead + kBracketsOverhead, kSenderTooLong, kSenderInvalid);
    if (refusal) return refusal;
    for (size_t from = 0;;) {
        std::string_view text = element(item.recipients, from);
        refusal = checkArgument(text, kRcptToOverhead + kBracketsOverhead, kRecipientTooLong, kRecipientInvalid);
        if (refusal) return refusal;
        from += text.size();
        if (from >= item.recipients.size()) return nullptr;
        ++from;  // the ','
    }
}

// An item's MAIL FROM and RCPT TO for each address as one text, the same
// lines the lock-step exchange sends one by one (checkEnvelope first).
std::string mailAndRecipients(const ItemHeader& item, int& recipients) {
    recipients = 0;
    std::string address;
    torvakit::extractemailaddr(item.from, address);
    std::string text = "MAIL FROM:" + address + "\r\n";
    for (size_t from = 0;;) {
        std::string_view part = element(item.recipients, from);
        address.clear();
        torvakit::extractemailaddr(part, address);
        text += "RCPT TO:" + address + "\r\n";
        ++recipients;
        from += part.size();
        if (from >= item.recipients.size()) break;
        ++from;
    }
    return text;
}

// The same with DATA behind.
std::string envelope(const ItemHeader& item) {
    int recipients = 0;
    return mailAndRecipients(item, recipients) + kData;
}

bool pipelining() { return conn().smtpPipelining && g_offer.pipelining; }

// The checks of SendMailItem, then the item's files are the transfer
// files. False: the connection was closed with the reason.
bool prepareItem(std::string_view headerFile, std::string_view bodyFile, std::string_view signatureFile,
                 ItemHeader& item) {
    item = scanItemHeader(headerFile);
    if (!item.readable) {
        closeWithError(kCannotReadHeader);
        return false;
    }
    g_recipients = item.recipients;
    if (const char* refusal = checkEnvelope(item)) {
        closeWithError(refusal);
        return false;
    }
    bool withSignature = item.signature && !signatureFile.empty();
    if (withSignature && !platform::openFile(signatureFile, "rb")) {
        closeWithError(kCannotReadSignature);
        return false;
    }
    setTransferFiles(headerFile, bodyFile, withSignature ? signatureFile : std::string_view());
    return true;
}

// Chunking: items sent as "BDAT SIZE LAST" and their text, several in
// flight. Each flight owes its replies in order: RSET when the group began
// with one, MAIL FROM, one per RCPT TO, then the last one (BDAT, or the RSET
// that replaces the text of an item whose recipients were refused).
struct Flight {
    std::string header;
    std::string body;
    std::string signature;   // empty when the item goes without
    std::string messageId;
    int recipients = 0;
    bool rset = false;       // the group begins with RSET
    bool gated = false;      // the text waits for the recipients' replies
    bool dropped = false;    // a gated item whose text was replaced by RSET
    int replies = 0;         // read so far
    std::string failure;     // the first refusal
    uint64_t size = 0;
    int owed() const { return (rset ? 1 : 0) + 2 + recipients; }
};
// Sent, replies owed, oldest first.
std::deque<Flight> g_flights;
// Not sent yet, in order, and the one measured for sending next.
std::vector<OutboxItem> g_upcoming;
std::optional<std::pair<Flight, ItemHeader>> g_measured;
std::string g_signature;
int g_window = 1;
bool g_streaming = false;   // the text of the newest flight is being queued
bool g_gateShut = false;    // the newest flight waits for its recipients' replies
bool g_needRset = false;    // a transaction failed: the next group resets first
bool g_pumping = false;

bool chunking() { return pipelining() && g_offer.chunking; }

void resetChunks() {
    g_flights.clear();
    g_upcoming.clear();
    g_measured.reset();
    g_streaming = g_gateShut = g_needRset = false;
}

void streamChunk(const Flight& f) {
    Connection& c = conn();
    setTransferFiles(f.header, f.body, f.signature);
    if (!openForRead(0)) return closeWithError(kCannotReadFile);
    c.rawData = true;
    c.rawBytes = 0;
    c.fileSend = kFileSendStreaming;
    g_streaming = true;
    runFileSender();
}

std::string bdatLine(uint64_t size) { return "BDAT " + std::to_string(size) + " LAST\r\n"; }

// Reads and measures the next upcoming item; false when it cannot go ahead
// (it is dealt with, and refused, on the call that names it first).
bool measureNext() {
    if (g_measured && g_measured->first.header == g_upcoming.front().headerFile) return true;
    g_measured.reset();
    const OutboxItem& next = g_upcoming.front();
    ItemHeader item = scanItemHeader(next.headerFile);
    if (!item.readable || checkEnvelope(item)) return false;
    bool withSignature = item.signature && !g_signature.empty();
    if (withSignature && !platform::openFile(g_signature, "rb")) return false;
    setTransferFiles(next.headerFile, next.bodyFile, withSignature ? std::string_view(g_signature) : std::string_view());
    Flight f;
    if (!measureTransferFiles(f.size)) return false;
    f.header = next.headerFile;
    f.body = next.bodyFile;
    if (withSignature) f.signature = g_signature;
    f.messageId = item.messageId;
    g_measured.emplace(std::move(f), std::move(item));
    return true;
}

// Sends the groups of upcoming items while the window has room, one text
// being queued at a time.
void pumpChunks() {
    Connection& c = conn();
    if (g_pumping) return;
    g_pumping = true;
    while (c.state == State::Connected && !c.closePending && !g_streaming && !g_gateShut && !g_upcoming.empty() &&
           static_cast<int>(g_flights.size()) < g_window) {
        if (!measureNext()) {
            g_upcoming.clear();
            // Nothing ahead of it: this is the item the caller asked for.
            if (g_flights.empty() && c.step == kStepChunks) closeWithError(kCannotReadFile);
            break;
        }
        auto& [f, item] = *g_measured;
        std::string text = g_needRset ? "RSET\r\n" : "";
        text += mailAndRecipients(item, f.recipients);
        // With one recipient a refusal means no delivery at all; with more,
        // the text must not reach some of them only.
        f.gated = f.recipients > 1;
        if (!f.gated) text += bdatLine(f.size);
        if (queueText(text) != 0) break;  // the next write event goes on
        f.rset = g_needRset;
        g_needRset = false;
        g_flights.push_back(std::move(f));
        g_measured.reset();
        g_upcoming.erase(g_upcoming.begin());
        if (g_flights.back().gated) g_gateShut = true;
        else streamChunk(g_flights.back());
    }
    g_pumping = false;
}

// The last RCPT TO reply of a gated item: its text, or RSET when a
// recipient was refused.
void openGate(Flight& f) {
    g_gateShut = false;
    if (!f.failure.empty()) {
        f.dropped = true;
        queueText("RSET\r\n");
        return pumpChunks();
    }
    // The server has read the commands before this one: the queue is empty.
    if (queueText(bdatLine(f.size)) != 0) return closeWithError(kCannotReadFile);
    streamChunk(f);
}

void chunkReply(const Line& line) {
    Connection& c = conn();
    if (g_flights.empty()) return;
    Flight& f = g_flights.front();
    const int reply = code(line);
    const int index = f.replies++;
    const int mail = f.rset ? 1 : 0;
    const char* refusal = nullptr;
    if (index == mail) {
        if (reply != kReplyOk) refusal = "mail from: failed [%d]";
    } else if (index > mail && index <= mail + f.recipients) {
        if (reply != kReplyOk) refusal = "rcpt to: failed [%d]";
    } else if (index > mail && !f.dropped && reply != kReplyOk) {
        refusal = "message send failed [%d]";
    }
    if (refusal && f.failure.empty()) f.failure = formatText(TextKind::SmtpError, refusal, reply);
    if (f.gated && index == mail + f.recipients) openGate(f);
    if (c.state != State::Connected || f.replies < f.owed()) return;
    const std::string failure = std::move(f.failure);
    // A failed transaction may leave the server expecting RSET.
    if (!failure.empty() && !f.dropped) g_needRset = true;
    g_flights.pop_front();
    c.step = kStepReady;
    if (failure.empty()) postCompletion(0, kSent);
    else postCompletion(1, formatText(TextKind::SmtpError, "%s", failure.c_str()));
    pumpChunks();
    // The replies to the items behind wait for the call that names them.
    if (c.state == State::Connected) c.held = !g_flights.empty();
}

}  // namespace

namespace engine {

void smtpTlsEstablished() { sendEhlo(); }

void smtpDataQueued() {
    Connection& c = conn();
    if (c.rawData) {
        c.rawData = false;
        g_streaming = false;
        // A file that changed since it was measured would leave the server
        // reading our next commands as text.
        if (g_flights.empty() || c.rawBytes != g_flights.back().size) return closeWithError(kCannotReadFile);
        return pumpChunks();
    }
    if (g_pendingNext.empty()) return;
    std::string next = std::move(g_pendingNext);
    g_pendingNext.clear();
    // An item that would be refused, or commands the queue cannot take now,
    // go the ordinary way on the caller's call for it.
    ItemHeader item = scanItemHeader(next);
    if (!item.readable || checkEnvelope(item)) return;
    if (queueText(envelope(item)) != 0) return;
    g_aheadHeader = std::move(next);
}

void smtpWriteReady() {
    if (!g_upcoming.empty()) pumpChunks();
}

void smtpLine(const Line& line) {
    Connection& c = conn();
    int reply = code(line);
    switch (c.step) {
    case kStepGreeting:
        if (reply != kReplyReady) {
            c.refused = true;
            return fail("cannot connect to smtp server [%d]", line);
        }
        g_grouped = false;
        g_pendingNext.clear();
        g_aheadHeader.clear();
        resetChunks();
        {
            std::string greeting(line.text, static_cast<size_t>(line.length));
            torvakit::stringlower(greeting);
            g_oneTransaction = greeting.find("dovecot") != std::string::npos;
        }
        if (c.security == kSecurityNone && c.user.empty() && !c.smtpPipelining) {
            c.step = kStepHelo;
            queueText(kHelo);
        } else {
            sendEhlo();
        }
        break;
    case kStepEhlo:
        if (reply >= 500 && g_ehloLines == 0 && c.security == kSecurityNone && c.user.empty()) {
            // EHLO was only asked for pipelining: a server that does not
            // know it gets the plain greeting.
            c.step = kStepHelo;
            queueText(kHelo);
            break;
        }
        if (reply != kReplyOk) {
            c.refused = true;
            return fail("cannot connect to smtp server [%d]", line);
        }
        if (g_ehloLines++ > 0) noteCapability(line);  // the first line greets
        if (line.length > 3 && line.text[3] == '-') break;
        ehloDone();
        break;
    case kStepStartTls:
        if (reply != kReplyReady) {
            c.refused = true;
            return fail("smtp server refused STARTTLS [%d]", line);
        }
        beginStartTls();
        break;
    case kStepAuthLogin:
        if (reply != kReplyAuthMore) return fail("smtp authentication failed [%d]", line);
        c.step = kStepAuthPass;
        queueSecret(base64(c.user));
        break;
    case kStepAuthPass:
        if (reply != kReplyAuthMore) return fail("smtp authentication failed [%d]", line);
        c.step = kStepAuth;
        queueSecret(base64(c.password));
        break;
    case kStepAuth:
        if (reply != kReplyAuthOk) {
            c.refused = true;
            return fail("smtp authentication failed [%d]", line);
        }
        connected();
        break;
    case kStepHelo:
        if (reply != kReplyOk) {
            c.refused = true;
            return fail("cannot connect to smtp server [%d]", line);
        }
        c.step = kStepReady;
        postCompletion(0, kConnected);
        break;
    case kStepMailFrom:
        if (reply != kReplyOk) return fail("mail from: failed [%d]", line);
        g_position = 0;
        sendRecipient();
        break;
    case kStepRcptTo:
        if (reply != kReplyOk) return fail("rcpt to: failed [%d]", line);
        if (g_position < g_recipients.size() && g_recipients[g_position] == ',') {
            ++g_position;
            sendRecipient();
        } else {
            c.step = kStepData;
            if (!g_grouped) queueText(kData);
        }
        break;
    case kStepData:
        if (reply != kReplyStartData) return fail("data failed [%d]", line);
        startData();
        break;
    case kStepDataSent:
        if (reply != kReplyOk) return fail("message send failed [%d]", line);
        stopFileSender();  // a server that answers early has had all it wants
        c.step = kStepReady;
        g_pendingNext.clear();
        // The replies to the next item's commands wait for its call.
        c.held = !g_aheadHeader.empty();
        postCompletion(0, kSent);
        break;
    case kStepChunks: chunkReply(line); break;
    default: break;
    }
}

}  // namespace engine

int SendMailItem(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                 std::string_view signatureFile) {
    if (!guard("not connected (SendMailItem)", "dll busy (SendMailItem)")) return 0;
    ItemHeader item;
    if (!prepareItem(headerFile, bodyFile, signatureFile, item)) return 0;
    g_grouped = false;
    g_pendingNext.clear();
    std::string sender;
    torvakit::extractemailaddr(item.from, sender);
    beginCommand(completionMessage, kStepMailFrom,
                 formatText(TextKind::SmtpProgress, "sending message %s", item.messageId.c_str()));
    queueCommand("MAIL FROM:%s\r\n", sender.c_str());
    return 0;
}

int SendMailItemAhead(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                      std::string_view signatureFile, std::string_view nextHeaderFile) {
    Connection& c = conn();
    if (!c.held && !pipelining()) return SendMailItem(completionMessage, headerFile, bodyFile, signatureFile);
    // Held: only the item whose commands already went may be sent.
    const char* refusal = c.state != State::Connected ? "not connected (SendMailItemAhead)"
                          : c.step != kStepReady || (c.held && headerFile != g_aheadHeader)
                              ? "dll busy (SendMailItemAhead)"
                              : nullptr;
    if (refusal) {
        closeWithError(refusal);
        return 0;
    }
    ItemHeader item;
    if (!prepareItem(headerFile, bodyFile, signatureFile, item)) return 0;
    g_grouped = true;
    g_pendingNext = g_oneTransaction ? std::string() : std::string(nextHeaderFile);
    beginCommand(completionMessage, kStepMailFrom,
                 formatText(TextKind::SmtpProgress, "sending message %s", item.messageId.c_str()));
    if (c.held) {
        c.held = false;
        g_aheadHeader.clear();
        resumeReceive();
    } else if (queueText(envelope(item)) != 0) {
        // A list too long for one write goes the lock-step way.
        g_grouped = false;
        std::string sender;
        torvakit::extractemailaddr(item.from, sender);
        queueCommand("MAIL FROM:%s\r\n", sender.c_str());
    }
    return 0;
}

int SendMailItemsAhead(uint32_t completionMessage, std::span<const OutboxItem> items,
                       std::string_view signatureFile, int window) {
    Connection& c = conn();
    const bool inBatch = !g_flights.empty();
    if (!inBatch && !chunking()) {
        if (items.empty()) return SendMailItem(completionMessage, "", "", signatureFile);
        return SendMailItemAhead(completionMessage, items[0].headerFile, items[0].bodyFile, signatureFile,
                                 items.size() > 1 ? std::string_view(items[1].headerFile) : std::string_view());
    }
    // Held: only the item whose replies come next may be asked for.
    const char* refusal = c.state != State::Connected ? "not connected (SendMailItemsAhead)"
                          : items.empty() || c.step != kStepReady || c.held != inBatch ||
                                  (inBatch && items[0].headerFile != g_flights.front().header)
                              ? "dll busy (SendMailItemsAhead)"
                              : nullptr;
    if (refusal) {
        closeWithError(refusal);
        return 0;
    }
    std::string messageId;
    if (inBatch) {
        messageId = g_flights.front().messageId;
    } else {
        // The first item of a batch is checked as SendMailItem checks it.
        ItemHeader item;
        if (!prepareItem(items[0].headerFile, items[0].bodyFile, signatureFile, item)) return 0;
        messageId = item.messageId;
    }
    g_signature = std::string(signatureFile);
    g_window = g_oneTransaction ? 1 : std::clamp(window, 1, kMaxAhead);
    const size_t from = std::min(g_flights.size(), items.size());
    const size_t to = std::max(from, std::min(items.size(), static_cast<size_t>(g_window)));
    g_upcoming.assign(items.begin() + static_cast<std::ptrdiff_t>(from), items.begin() + static_cast<std::ptrdiff_t>(to));
    beginCommand(completionMessage, kStepChunks,
                 formatText(TextKind::SmtpProgress, "sending message %s", messageId.c_str()));
    if (inBatch) {
        c.held = false;
        resumeReceive();
    }
    if (c.state == State::Connected && c.step == kStepChunks) pumpChunks();
    return 0;
}

}  // namespace netwire
