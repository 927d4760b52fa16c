// POP3: logon with USER, PASS and STAT; RETR into a header and a body file;
// DELE.
#include "net/engine.h"

#include "store/torvakit.h"

#include <cstring>

namespace netwire {

using namespace engine;

namespace {

constexpr const char* kConnected = "connected to pop3 server";
constexpr const char* kCannotConnect = "cannot connect to pop3 server";
constexpr const char* kLoggingOn = "logging on to pop3 server...";
constexpr const char* kUserFailed = "user name failed";
constexpr const char* kPasswordFailed = "password failed";
constexpr const char* kUserTooLong = "user name too long";
constexpr const char* kPasswordTooLong = "password too long";
constexpr const char* kUserInvalid = "invalid user name";
constexpr const char* kPasswordInvalid = "invalid password";
constexpr size_t kVerbOverhead = 7;  // "USER " or "PASS " and CR LF
constexpr const char* kCannotRetrieve = "cannot retreive mail";
constexpr const char* kRetrieved = "mail item retrieved";
constexpr const char* kDeleted = "mail item deleted";
constexpr const char* kDeleteFailed = "mail deletion failed";
constexpr const char* kCannotWriteHeader = "cannot write header file";
constexpr const char* kCannotWriteBody = "cannot write body file";
constexpr int kStatNumberOffset = 4;
constexpr const char* kStlsRefused = "pop3 server refused STLS";
constexpr const char* kUidlUnsupported = "uidl not supported";
constexpr const char* kCannotWriteUidl = "cannot write unique id file";
int32_t g_uidCount = 0;

// The password waits here until PASS is formatted.
std::string g_password;
int32_t* g_countSlot = nullptr;

bool positive(const Line& line) { return line.length >= 3 && std::strncmp(line.text, "+OK", 3) == 0; }

// A refusal of the greeting or logon: the server's close that follows is
// not reported again.
void refuse(const char* text) {
    conn().refused = true;
    closeWithError(text);
}

// File errors of RETR close the connection and go out on the completion
// message, so that the caller's retrieval ends with them.
void failRetrieval(const char* text) {
    AbortConnection();
    postCompletion(1, text);
}

void greeting(const Line& line) {
    Connection& c = conn();
    if (!positive(line)) return refuse(kCannotConnect);
    if (c.security == kSecurityStartTls) {
        c.step = kStepStartTls;
        queueText("STLS\r\n");
        return;
    }
    c.step = kStepReady;
    postCompletion(0, kConnected);
}

// UIDL: "+OK", then "NUMBER ID" lines, then ".".
void uidlLine(const Line& line) {
    Connection& c = conn();
    if (c.replyLines == 0) {
        if (!positive(line)) {
            c.step = kStepReady;
            return postCompletion(1, kUidlUnsupported);
        }
        if (!openForWrite(0)) return failRetrieval(kCannotWriteUidl);
        return;
    }
    std::string_view text(line.raw, static_cast<size_t>(line.rawLength));
    switch (torvakit::linestatus(std::string_view(line.text, static_cast<size_t>(line.length)))) {
    case 2:
        if (!closeFile()) return failRetrieval(kCannotWriteUidl);
        c.step = kStepReady;
        return postCompletion(0, formatText(TextKind::Pop3Progress, "%d unique ids listed", g_uidCount));
    case 1: text.remove_prefix(1); break;
    default: break;
    }
    // "NUMBER ID" with single spaces, whatever the server put between them.
    size_t space = text.find_first_of(" \t");
    if (space == std::string_view::npos) return;
    std::string_view number = text.substr(0, space);
    std::string_view id = text.substr(space);
    while (!id.empty() && (id.front() == ' ' || id.front() == '\t')) id.remove_prefix(1);
    while (!id.empty() && (id.back() == ' ' || id.back() == '\t')) id.remove_suffix(1);
    if (number.empty() || id.empty()) return;
    std::string out = std::string(number) + " " + std::string(id);
    if (!writeData(out.data(), static_cast<int>(out.size()), true)) return failRetrieval(kCannotWriteUidl);
    ++g_uidCount;
    if (g_countSlot) *g_countSlot = g_uidCount;
}

// CAPA: "+OK", capability lines, "."; a server without CAPA says -ERR and
// is treated as one without pipelining.
void capaLine(const Line& line) {
    Connection& c = conn();
    if (c.replyLines == 0 && !positive(line)) {
        c.step = kStepReady;
        return postCompletion(0, static_cast<intptr_t>(0));
    }
    if (c.replyLines == 0) return;
    std::string_view text(line.text, static_cast<size_t>(line.length));
    if (torvakit::linestatus(text) == 2) {
        c.step = kStepReady;
        return postCompletion(0, static_cast<intptr_t>(g_countSlot ? *g_countSlot : 0));
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '\0')) text.remove_suffix(1);
    const std::string_view word = text.substr(0, text.find_first_of(" \t"));
    if (torvakit::stringcompare(word, "PIPELINING") && g_countSlot) *g_countSlot = 1;
}

void statReply(const Line& line) {
    int32_t count = 0;
    if (positive(line)) {
        int32_t position = kStatNumberOffset;
        torvakit::extractlong(std::string_view(line.text, static_cast<size_t>(line.length)), position, count);
    }
    if (g_countSlot) *g_countSlot = count;
    conn().step = kStepReady;
    postCompletion(0, static_cast<intptr_t>(count));
}

void retrStatus(const Line& line) {
    Connection& c = conn();
    if (!positive(line)) return closeWithError(kCannotRetrieve);
    // A body file left from an earlier message must not pass for this one's.
    // The header file is made anew too: ext4 writes a file that was cut to
    // nothing and written again out to the disk when it is closed, which
    // waits on the journal under load.
    platform::deleteFile(c.files[1]);
    platform::deleteFile(c.files[0]);
    if (!openForWrite(0) || !writeData(line.raw, line.rawLength, true)) return failRetrieval(kCannotWriteHeader);
    c.nextFile = 1;
    c.streamingData = true;
    c.dotRule = DotRule::Strip;
}

void retrData(const Line& line) {
    Connection& c = conn();
    switch (torvakit::linestatus(std::string_view(line.text, static_cast<size_t>(line.length)))) {
    case 2:
        c.streamingData = false;
        if (!closeFile()) return failRetrieval(c.nextFile == 1 ? kCannotWriteHeader : kCannotWriteBody);
        replyDone();
        postCompletion(0, kRetrieved);
        return;
    case 1:
        if (!writeData(line.raw + 1, line.rawLength - 1, true)) pop3WriteFailed();
        return;
    default:
        break;
    }
    if (c.nextFile == 1 && (line.text[0] == '\r' || line.text[0] == '\n')) {
        if (!closeFile()) return failRetrieval(kCannotWriteHeader);
        if (!openForWrite(1)) return failRetrieval(kCannotWriteBody);
        c.nextFile = 2;
        return;
    }
    if (!writeData(line.raw, line.rawLength, true)) pop3WriteFailed();
}

}  // namespace

namespace engine {

void pop3TlsEstablished() {
    conn().step = kStepReady;
    postCompletion(0, kConnected);
}

void pop3WriteFailed() { failRetrieval(conn().nextFile == 1 ? kCannotWriteHeader : kCannotWriteBody); }

void pop3Line(const Line& line) {
    Connection& c = conn();
    switch (c.step) {
    case kStepGreeting: greeting(line); break;
    case kStepStartTls:
        if (!positive(line)) return refuse(kStlsRefused);
        beginStartTls();
        break;
    case kStepUidl: uidlLine(line); break;
    case kStepCapa: capaLine(line); break;
    case kStepUser:
        if (!positive(line)) return refuse(kUserFailed);
        c.step = kStepPass;
        queueCommand("PASS %s\r\n", g_password.c_str());
        g_password.assign(g_password.size(), '\0');
        g_password.clear();
        break;
    case kStepPass:
        if (!positive(line)) return refuse(kPasswordFailed);
        c.step = kStepStat;
        queueText("STAT\r\n");
        break;
    case kStepStat: statReply(line); break;
    case kStepRetr:
        if (c.replyLines == 0) retrStatus(line); else retrData(line);
        break;
    case kStepDele:
        if (!positive(line)) return closeWithError(kDeleteFailed);
        replyDone();
        postCompletion(0, kDeleted);
        break;
    default: break;  // nothing is expected: ignore
    }
}

}  // namespace engine

int OpenMailBox(uint32_t completionMessage, std::string_view user, std::string_view password, int32_t& count) {
    count = 0;
    if (!guard("not connected (OpenMailBox)", "dll busy (OpenMailBox)")) return 0;
    // The command lines are 256 bytes; a longer name or password is refused
    // rather than sent cut short.
    const char* refusal = checkArgument(user, kVerbOverhead, kUserTooLong, kUserInvalid);
    if (!refusal) refusal = checkArgument(password, kVerbOverhead, kPasswordTooLong, kPasswordInvalid);
    if (refusal) {
        closeWithError(refusal);
        return 0;
    }
    g_password.assign(password);
    g_countSlot = &count;
    beginCommand(completionMessage, kStepUser, kLoggingOn);
    queueCommand("USER %.*s\r\n", static_cast<int>(user.size()), user.data());
    return 0;
}

int GetMailItem(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile, int32_t number) {
    if (!guard("not connected (GetMailItem)", "dll busy (GetMailItem)")) return 0;
    setTransferFiles(headerFile, bodyFile);
    beginCommand(completionMessage, kStepRetr, formatText(TextKind::Pop3Progress, "retrieving mail item %d", number));
    queueCommand("RETR %d\r\n", number);
    return 0;
}

int ListUniqueIds(uint32_t completionMessage, std::string_view listFile, int32_t& count) {
    count = 0;
    if (!guard("not connected (ListUniqueIds)", "dll busy (ListUniqueIds)")) return 0;
    setTransferFiles(listFile);
    g_uidCount = 0;
    g_countSlot = &count;
    beginCommand(completionMessage, kStepUidl, "listing unique ids...");
    queueText("UIDL\r\n");
    return 0;
}

int QueryPipelining(uint32_t completionMessage, int32_t& pipelining) {
    pipelining = 0;
    if (!guard("not connected (QueryPipelining)", "dll busy (QueryPipelining)")) return 0;
    g_countSlot = &pipelining;
    beginCommand(completionMessage, kStepCapa, "asking for capabilities...");
    queueText("CAPA\r\n");
    return 0;
}

namespace {

// The guard of a pipelined command: a hold for the caller is no busy engine.
bool guardAhead(const char* notConnected, const char* busy) {
    Connection& c = conn();
    const char* text = c.state != State::Connected ? notConnected : c.step != kStepReady ? busy : nullptr;
    if (text) closeWithError(text);
    return !text;
}

}  // namespace

int GetMailItemAhead(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                     int32_t number, int32_t last, int window) {
    constexpr const char* kBusy = "dll busy (GetMailItemAhead)";
    if (!guardAhead("not connected (GetMailItemAhead)", kBusy)) return 0;
    if (!sendAhead(kStepRetr, "RETR", number, last, window, kBusy)) return 0;
    setTransferFiles(headerFile, bodyFile);
    beginCommand(completionMessage, kStepRetr, formatText(TextKind::Pop3Progress, "retrieving mail item %d", number));
    resumeReceive();
    return 0;
}

int DeleteMailItemAhead(uint32_t completionMessage, int32_t number, int32_t last, int window) {
    constexpr const char* kBusy = "dll busy (DeleteMailItemAhead)";
    if (!guardAhead("not connected (DeleteMailItemAhead)", kBusy)) return 0;
    if (!sendAhead(kStepDele, "DELE", number, last, window, kBusy)) return 0;
    beginCommand(completionMessage, kStepDele, formatText(TextKind::Pop3Progress, "deleting mail item %d", number));
    resumeReceive();
    return 0;
}

int GetMailItemsAhead(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                      std::span<const int32_t> numbers, int window) {
    constexpr const char* kBusy = "dll busy (GetMailItemsAhead)";
    if (!guardAhead("not connected (GetMailItemsAhead)", kBusy)) return 0;
    if (!sendAheadList(kStepRetr, "RETR", numbers, window, kBusy)) return 0;
    setTransferFiles(headerFile, bodyFile);
    beginCommand(completionMessage, kStepRetr,
                 formatText(TextKind::Pop3Progress, "retrieving mail item %d", numbers.front()));
    resumeReceive();
    return 0;
}

int DeleteMailItemsAhead(uint32_t completionMessage, std::span<const int32_t> numbers, int window) {
    constexpr const char* kBusy = "dll busy (DeleteMailItemsAhead)";
    if (!guardAhead("not connected (DeleteMailItemsAhead)", kBusy)) return 0;
    if (!sendAheadList(kStepDele, "DELE", numbers, window, kBusy)) return 0;
    beginCommand(completionMessage, kStepDele,
                 formatText(TextKind::Pop3Progress, "deleting mail item %d", numbers.front()));
    resumeReceive();
    return 0;
}

int DeleteMailItem(uint32_t completionMessage, int32_t number) {
    if (!guard("not connected (DeleteMailItem)", "dll busy (DeleteMailItem)")) return 0;
    beginCommand(completionMessage, kStepDele, formatText(TextKind::Pop3Progress, "deleting mail item %d", number));
    queueCommand("DELE %d\r\n", number);
    return 0;
}

}  // namespace netwire
