// SMTP: HELO on connecting; MAIL FROM, one RCPT TO per To and Cc address,
// DATA and the item's files for each outbox item.
#include "net/engine.h"

#include "store/torvakit.h"

namespace netwire {

using namespace engine;

namespace {

constexpr const char* kHelo = "HELO orrindel.mail\r\n";
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

int code(const Line& line) { return torvakit::serverstatus(std::string_view(line.text, static_cast<size_t>(line.length))); }

// The element of the recipient list that starts at `from`, up to the next
// ',' or the end.
std::string_view element(size_t from) {
    std::string_view list(g_recipients);
    size_t end = list.find(',', from);
    return list.substr(from, (end == std::string_view::npos ? list.size() : end) - from);
}

void sendRecipient() {
    std::string_view text = element(g_position);
    g_position += text.size();
    std::string address;
    torvakit::extractemailaddr(text, address);
    conn().step = kStepRcptTo;
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
        std::string_view text = element(from);
        refusal = checkArgument(text, kRcptToOverhead + kBracketsOverhead, kRecipientTooLong, kRecipientInvalid);
        if (refusal) return refusal;
        from += text.size();
        if (from >= g_recipients.size()) return nullptr;
        ++from;  // the ','
    }
}

}  // namespace

namespace engine {

void smtpLine(const Line& line) {
    Connection& c = conn();
    int reply = code(line);
    switch (c.step) {
    case kStepGreeting:
        if (reply != kReplyReady) {
            c.refused = true;
            return fail("cannot connect to smtp server [%d]", line);
        }
        c.step = kStepHelo;
        queueText(kHelo);
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
            queueText(kData);
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
        postCompletion(0, kSent);
        break;
    default: break;
    }
}

}  // namespace engine

int SendMailItem(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                 std::string_view signatureFile) {
    if (!guard("not connected (SendMailItem)", "dll busy (SendMailItem)")) return 0;
    ItemHeader item = scanItemHeader(headerFile);
    if (!item.readable) {
        closeWithError(kCannotReadHeader);
        return 0;
    }
    g_recipients = item.recipients;
    if (const char* refusal = checkEnvelope(item)) {
        closeWithError(refusal);
        return 0;
    }
    std::string sender;
    torvakit::extractemailaddr(item.from, sender);
    bool withSignature = item.signature && !signatureFile.empty();
    if (withSignature && !platform::openFile(signatureFile, "rb")) {
        closeWithError(kCannotReadSignature);
        return 0;
    }
    setTransferFiles(headerFile, bodyFile, withSignature ? signatureFile : std::string_view());
    beginCommand(completionMessage, kStepMailFrom,
                 formatText(TextKind::SmtpProgress, "sending message %s", item.messageId.c_str()));
    queueCommand("MAIL FROM:%s\r\n", sender.c_str());
    return 0;
}

}  // namespace netwire
