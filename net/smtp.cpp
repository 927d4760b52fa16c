// SMTP: HELO on connecting; MAIL FROM, one RCPT TO per To and Cc address,
// DATA and the item's files for each outbox item, one command at a time, or
// as groups in one write when the server takes pipelining.
#include "net/engine.h"

#include "store/torvakit.h"

#include <cctype>

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

// What the EHLO reply offered.
struct Offer {
    bool startTls = false;
    bool auth = false;
    bool plain = false;
    bool login = false;
    bool pipelining = false;
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

// An item's MAIL FROM, RCPT TO for each address and DATA as one text, the
// same lines the lock-step exchange sends one by one (checkEnvelope first).
std::string envelope(const ItemHeader& item) {
    std::string address;
    torvakit::extractemailaddr(item.from, address);
    std::string text = "MAIL FROM:" + address + "\r\n";
    for (size_t from = 0;;) {
        std::string_view part = element(item.recipients, from);
        address.clear();
        torvakit::extractemailaddr(part, address);
        text += "RCPT TO:" + address + "\r\n";
        from += part.size();
        if (from >= item.recipients.size()) break;
        ++from;
    }
    return text + kData;
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

}  // namespace

namespace engine {

void smtpTlsEstablished() { sendEhlo(); }

void smtpDataQueued() {
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
    g_pendingNext = std::string(nextHeaderFile);
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

}  // namespace netwire
