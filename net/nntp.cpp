// NNTP: group lists, the server date, GROUP, HEAD, NEXT, BODY and POST,
// one command at a time (the commands sent ahead are in nntpahead.cpp).
#include "net/engine.h"

#include "store/torvakit.h"

#include <algorithm>
#include <cctype>

namespace netwire {

using namespace engine;

namespace {

constexpr const char* kConnected = "connected to nntp server";
constexpr const char* kCannotWriteGroups = "cannot write newsgroups file";
constexpr const char* kCannotWriteNewGroups = "cannot write new newsgroups file";
constexpr const char* kCannotWriteDate = "cannot write date file";
constexpr const char* kCannotWriteHeader = "cannot write header file";
constexpr const char* kCannotWriteBody = "cannot write body file";
constexpr const char* kCannotReadHeader = "cannot read header file";
constexpr const char* kCannotReadSignature = "cannot read signature file";
constexpr const char* kCannotReadPosting = "cannot read posting file";
constexpr const char* kGotDate = "got news server date";
constexpr const char* kGroupOpen = "newsgroup open";
constexpr const char* kHeaderRetrieved = "header retrieved";
constexpr const char* kNextDone = "next query completed";
constexpr const char* kBodyRetrieved = "body retrieved";
constexpr const char* kArticlePosted = "article posted";
constexpr const char* kGroupTooLong = "newsgroup name too long";
constexpr const char* kGroupInvalid = "invalid newsgroup name";
constexpr const char* kDefaultDate = "991231";
constexpr const char* kDefaultTime = "120000";
constexpr int kReplyReady = 200;
constexpr int kReplyReadyNoPost = 201;
constexpr int kReplyDate = 111;
constexpr int kReplyGroup = 211;
constexpr int kReplyList = 215;
constexpr int kReplyHead = 221;
constexpr int kReplyBody = 222;
constexpr int kReplyNext = 223;
constexpr int kReplyNewGroups = 231;
constexpr int kReplyPosted = 240;
constexpr int kReplySendArticle = 340;
constexpr int kReplyTlsGo = 382;
constexpr int kReplyAuthOk = 281;
constexpr int kReplyPasswordWanted = 381;
constexpr int kReplyAuthWanted = 480;
constexpr int kNumberOffset = 4;
constexpr size_t kDateLength = 6;
constexpr size_t kDateTimeLength = 12;
constexpr size_t kGroupOverhead = 8;  // "GROUP " and CR LF

std::string g_dateFile;

int32_t* g_capabilitySlot = nullptr;

constexpr const char* kCapabilitiesListed = "capabilities listed";
constexpr int kReplyCapabilities = 101;
constexpr int kPipeliningVersion = 2;  // the first version that must take pipelined commands

int32_t g_listCount = 0;

std::string_view view(const Line& line) { return {line.text, static_cast<size_t>(line.length)}; }
int code(const Line& line) { return torvakit::serverstatus(view(line)); }

// The first number after the reply code.
int32_t replyNumber(const Line& line, int32_t& position) {
    int32_t value = 0;
    torvakit::extractlong(view(line), position, value);
    return value;
}

void closeWith(const char* format, const Line& line) {
    closeWithError(formatText(TextKind::NntpError, format, code(line)));
}

// The command being answered is done. While commands were sent ahead, the
// replies behind this one wait for the caller's next call, so the transfer
// files are the caller's in between.
void replyComplete() {
    conn().step = kStepReady;
    nntpAheadAnswered();
}

void finish(int wParam, const char* text) {
    replyComplete();
    postCompletion(wParam, text);
}

void finishWithCode(int wParam, const char* format, const Line& line) {
    finish(wParam, formatText(TextKind::NntpDone, format, code(line)));
}

// LIST and NEWGROUPS: one lower-case group name per line.
void groupListLine(const Line& line) {
    Connection& c = conn();
    bool list = c.step == kStepList;
    if (c.replyLines == 0) {
        if (code(line) != (list ? kReplyList : kReplyNewGroups))
            return closeWith(list ? "cannot list newsgroups [%d]" : "cannot list new newsgroups [%d]", line);
        if (!openForWrite(0)) return closeWithError(list ? kCannotWriteGroups : kCannotWriteNewGroups);
        return;
    }
    switch (torvakit::linestatus(view(line))) {
    case 2:
        if (!closeFile()) return closeWithError(list ? kCannotWriteGroups : kCannotWriteNewGroups);
        c.step = kStepReady;
        postCompletion(0, formatText(TextKind::NntpDone, list ? "%d newsgroups listed" : "%d new newsgroups listed",
                                     g_listCount));
        return;
    case 1: return;
    default: break;
    }
    std::string lower(line.text, static_cast<size_t>(line.length - 2));
    torvakit::stringlower(lower);
    unsigned char first = lower.empty() ? 0 : static_cast<unsigned char>(lower[0]);
    if (!std::isdigit(first) && !(first >= 'a' && first <= 'z')) return;
    std::string_view name(lower);
    name = name.substr(0, name.find(' '));
    if (!writeData(name.data(), static_cast<int>(name.size()), true))
        return closeWithError(list ? kCannotWriteGroups : kCannotWriteNewGroups);
    ++g_listCount;
    if (c.slots[0]) *c.slots[0] = g_listCount;
}

void dateReply(const Line& line) {
    Connection& c = conn();
    if (code(line) != kReplyDate) return closeWith("cannot get nntp server date [%d]", line);
    std::string_view text(line.text, static_cast<size_t>(line.length - 2));
    size_t from = (text.size() > 4 && text[4] > '2') ? 4 : 6;
    std::string_view date = from < text.size() ? text.substr(from) : std::string_view();
    c.files[0] = g_dateFile;
    if (!openForWrite(0) || !writeData(date.data(), static_cast<int>(date.size()), true) || !closeFile())
        return closeWithError(kCannotWriteDate);
    finish(0, kGotDate);
}

void groupReply(const Line& line) {
    Connection& c = conn();
    if (code(line) != kReplyGroup) return closeWith("cannot open newsgroup [%d]", line);
    int32_t position = kNumberOffset;
    for (int32_t* slot : c.slots) {
        int32_t value = replyNumber(line, position);
        if (slot) *slot = value;
    }
    finish(0, kGroupOpen);
}

// HEAD and BODY: the status line opens the file; the data follows.
void articleLine(const Line& line) {
    Connection& c = conn();
    bool head = c.step == kStepHead;
    const char* writeError = head ? kCannotWriteHeader : kCannotWriteBody;
    if (c.replyLines == 0) {
        if (code(line) != (head ? kReplyHead : kReplyBody))
            return finishWithCode(1, head ? "header not available [%d]" : "body not available [%d]", line);
        if (!openForWrite(0)) return closeWithError(writeError);
        if (head) {
            int32_t position = kNumberOffset;
            int32_t number = replyNumber(line, position);
            if (c.slots[0]) *c.slots[0] = number;
            if (!writeData(line.raw, line.rawLength, true)) return closeWithError(writeError);
        }
        c.streamingData = true;
        c.dotRule = head ? DotRule::Drop : DotRule::Strip;
        return;
    }
    switch (torvakit::linestatus(view(line))) {
    case 2:
        c.streamingData = false;
        if (!closeFile()) return closeWithError(writeError);
        return finish(0, head ? kHeaderRetrieved : kBodyRetrieved);
    case 1:
        if (head) return;
        if (!writeData(line.raw + 1, line.rawLength - 1, true)) closeWithError(writeError);
        return;
    default:
        if (!writeData(line.raw, line.rawLength, true)) closeWithError(writeError);
    }
}

void startLogin() {
    Connection& c = conn();
    if (c.user.find_first_of("\r\n") != std::string::npos || c.user.size() + 16 >= static_cast<size_t>(kCommandSize))
        return closeWithError("invalid user name");
    if (c.password.find_first_of("\r\n") != std::string::npos || c.password.size() + 16 >= static_cast<size_t>(kCommandSize))
        return closeWithError("invalid password");
    c.step = kStepAuthUser;
    queueCommand("AUTHINFO USER %s\r\n", c.user.c_str());
}

void loginReply(const Line& line) {
    Connection& c = conn();
    int reply = code(line);
    if (c.step == kStepAuthUser && reply == kReplyPasswordWanted) {
        c.step = kStepAuthInfoPass;
        std::string command = "AUTHINFO PASS " + c.password + "\r\n";
        queueText(command);
        command.assign(command.size(), '\0');
        return;
    }
    if (reply == kReplyAuthOk) return finish(0, kConnected);
    c.refused = true;
    closeWith("nntp authentication failed [%d]", line);
}

// The greeting was accepted, and TLS is on if it was asked for.
void afterGreeting() {
    if (!conn().user.empty()) return startLogin();
    finish(0, kConnected);
}

void nextReply(const Line& line) {
    Connection& c = conn();
    if (code(line) != kReplyNext) return finishWithCode(1, "no next header [%d]", line);
    int32_t position = kNumberOffset;
    int32_t number = replyNumber(line, position);
    if (c.slots[0]) *c.slots[0] = number;
    finish(0, kNextDone);
}

// CAPABILITIES: "101", capability lines, ".". A server of version 2 or
// later must accept commands sent before the replies to the ones before
// them; anything else (an older server that does not know the command
// among them) is asked one command at a time.
void capabilitiesLine(const Line& line) {
    Connection& c = conn();
    if (c.replyLines == 0) {
        if (code(line) != kReplyCapabilities) finish(0, kCapabilitiesListed);
        return;
    }
    std::string_view text(line.text, static_cast<size_t>(line.length - 2));
    if (torvakit::linestatus(view(line)) == 2) return finish(0, kCapabilitiesListed);
    size_t space = text.find_first_of(" \t");
    if (space == std::string_view::npos || !torvakit::stringcompare(text.substr(0, space), "VERSION")) return;
    // "VERSION 2 3": every version the server speaks.
    for (size_t at = space; at < text.size();) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        int version = 0;
        bool digits = false;
        for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
            digits = true;
            version = std::min(version * 10 + (text[at] - '0'), 1000);
        }
        if (digits && version >= kPipeliningVersion && g_capabilitySlot) *g_capabilitySlot = 1;
        while (at < text.size() && text[at] != ' ' && text[at] != '\t') ++at;
    }
}

void postReply(const Line& line) {
    Connection& c = conn();
    if (code(line) != kReplySendArticle) return finishWithCode(1, "posting failed [%d]", line);
    if (!openForRead(0)) return closeWithError(kCannotReadPosting);
    c.step = kStepArticleSent;
    c.replyLines = -1;  // the reply to the article is a new status line
    c.fileSend = kFileSendStreaming;
    runFileSender();
}

void articleSentReply(const Line& line) {
    Connection& c = conn();
    // A server that answers before the text is complete wants no more of it;
    // what is left must not reach it as commands.
    stopFileSender();
    if (code(line) == kReplyPosted) return finish(0, kArticlePosted);
    c.step = kStepReady;
    postStatus(1, formatText(TextKind::NntpError, "posting failed [%d]", code(line)));
}

// The date and time to ask new groups from: the date file's first line.
void newGroupsSince(std::string_view dateFile, std::string& date, std::string& time) {
    date = kDefaultDate;
    time = kDefaultTime;
    platform::UniqueFile f = platform::openFile(dateFile, "rb");
    if (!f) return;
    char line[2048];
    if (!std::fgets(line, sizeof line, f.get())) line[0] = '\0';
    std::string_view text(line);
    text = text.substr(0, text.find_first_of("\r\n"));
    date = std::string(text.substr(0, kDateLength));
    time = text.size() > kDateLength ? std::string(text.substr(kDateLength, kDateTimeLength - kDateLength))
                                     : std::string();
}

bool startList(uint32_t completionMessage, std::string_view listFile, int32_t& count, int step,
               const char* progress) {
    Connection& c = conn();
    setTransferFiles(listFile);
    g_listCount = 0;
    c.slots = {&count, nullptr, nullptr};
    beginCommand(completionMessage, step, progress);
    return true;
}

}  // namespace

namespace engine {

const char* checkMessageId(std::string_view messageId) {
    constexpr size_t kBodyOverhead = 7;  // "BODY " and CR LF
    return checkArgument(messageId, kBodyOverhead, "message id too long", "invalid message id");
}

void nntpWriteFailed() {
    closeWithError(conn().step == kStepHead ? kCannotWriteHeader : kCannotWriteBody);
}

void nntpTlsEstablished() { afterGreeting(); }

void nntpLine(const Line& line) {
    Connection& c = conn();
    // CAPABILITIES must be answered before any login; a server that wants
    // one even for that is simply not asked to pipeline.
    bool command = c.step != kStepGreeting && c.step != kStepStartTls && c.step != kStepAuthUser &&
                   c.step != kStepAuthInfoPass && c.step != kStepReady && c.step != kStepArticleSent &&
                   c.step != kStepCapa;
    // A server that wants a login first says so to any command; the user
    // is told rather than left with the command's own failure text.
    if (command && c.replyLines == 0 && code(line) == kReplyAuthWanted)
        return closeWith("nntp server asks for authentication [%d]", line);
    switch (c.step) {
    case kStepGreeting: {
        int reply = code(line);
        if (reply != kReplyReady && reply != kReplyReadyNoPost) {
            c.refused = true;
            return closeWith("cannot connect to nntp server [%d]", line);
        }
        if (c.security == kSecurityStartTls) {
            c.step = kStepStartTls;
            queueText("STARTTLS\r\n");
            return;
        }
        return afterGreeting();
    }
    case kStepStartTls:
        if (code(line) != kReplyTlsGo) {
            c.refused = true;
            return closeWith("nntp server refused STARTTLS [%d]", line);
        }
        return beginStartTls();
    case kStepAuthUser:
    case kStepAuthInfoPass: return loginReply(line);
    case kStepList:
    case kStepNewGroups: return groupListLine(line);
    case kStepDate: return dateReply(line);
    case kStepGroup: return groupReply(line);
    case kStepHead:
    case kStepBody: return articleLine(line);
    case kStepNext: return nextReply(line);
    case kStepPost: return postReply(line);
    case kStepArticleSent: return articleSentReply(line);
    case kStepCapa: return capabilitiesLine(line);
    default: return;
    }
}

}  // namespace engine

int ListGroups(uint32_t completionMessage, std::string_view listFile, int32_t& count) {
    count = 0;
    if (!guard("not connected (ListGroups)", "dll busy (ListGroups)")) return 0;
    startList(completionMessage, listFile, count, kStepList, "listing newsgroups...");
    queueText("LIST\r\n");
    return 0;
}

int ListNewGroups(uint32_t completionMessage, std::string_view listFile, std::string_view dateFile, int32_t& count) {
    count = 0;
    if (!guard("not connected (ListNewGroups)", "dll busy (ListNewGroups)")) return 0;
    std::string date, time;
    newGroupsSince(dateFile, date, time);
    startList(completionMessage, listFile, count, kStepNewGroups, "listing new newsgroups...");
    if (!queueCommand("NEWGROUPS %s %s\r\n", date.c_str(), time.c_str()))
        closeWithError(kCannotWriteNewGroups);
    return 0;
}

int NewsDate(uint32_t completionMessage, std::string_view dateFile) {
    if (!guard("not connected (NewsDate)", "dll busy (NewsDate)")) return 0;
    g_dateFile = std::string(dateFile);
    beginCommand(completionMessage, kStepDate, "getting news server date...");
    queueText("DATE\r\n");
    return 0;
}

int OpenGroup(uint32_t completionMessage, std::string_view group, int32_t& articleCount, int32_t& firstArticle,
              int32_t& lastArticle) {
    if (!guard("not connected (OpenGroup)", "dll busy (OpenGroup)")) return 0;
    if (const char* refusal = checkArgument(group, kGroupOverhead, kGroupTooLong, kGroupInvalid)) {
        closeWithError(refusal);
        return 0;
    }
    conn().slots = {&articleCount, &firstArticle, &lastArticle};
    beginCommand(completionMessage, kStepGroup, "opening newsgroup...");
    queueCommand("GROUP %.*s\r\n", static_cast<int>(group.size()), group.data());
    return 0;
}

int GetHeader(uint32_t completionMessage, std::string_view headerFile, int32_t article, int32_t& articleNumber) {
    articleNumber = -1;
    if (!guard("not connected (GetHeader)", "dll busy (GetHeader)")) return 0;
    setTransferFiles(headerFile);
    conn().slots = {&articleNumber, nullptr, nullptr};
    if (article == -1) {
        beginCommand(completionMessage, kStepHead, "getting first header...");
        queueText("HEAD\r\n");
    } else {
        uint32_t number = static_cast<uint32_t>(article);
        beginCommand(completionMessage, kStepHead, formatText(TextKind::NntpProgress, "getting header %u", number));
        queueCommand("HEAD %u\r\n", number);
    }
    return 0;
}

int NextHeader(uint32_t completionMessage, int32_t& articleNumber) {
    articleNumber = -1;
    if (!guard("not connected (NextHeader)", "dll busy (NextHeader)")) return 0;
    conn().slots = {&articleNumber, nullptr, nullptr};
    beginCommand(completionMessage, kStepNext, "querying for next header...");
    queueText("NEXT\r\n");
    return 0;
}

int GetBody(uint32_t completionMessage, std::string_view bodyFile, int32_t article, std::string_view messageId) {
    if (!guard("not connected (GetBody)", "dll busy (GetBody)")) return 0;
    if (article == -1) {
        if (const char* refusal = checkMessageId(messageId)) {
            closeWithError(refusal);
            return 0;
        }
    }
    setTransferFiles(bodyFile);
    if (article == -1) {
        std::string id(messageId);
        beginCommand(completionMessage, kStepBody, formatText(TextKind::NntpProgress, "getting body %s", id.c_str()));
        queueCommand("BODY %s\r\n", id.c_str());
    } else {
        uint32_t number = static_cast<uint32_t>(article);
        beginCommand(completionMessage, kStepBody, formatText(TextKind::NntpProgress, "getting body %u", number));
        queueCommand("BODY %d\r\n", article);
    }
    return 0;
}

int PostItem(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
             std::string_view signatureFile) {
    if (!guard("not connected (PostItem)", "dll busy (PostItem)")) return 0;
    ItemHeader item = scanItemHeader(headerFile);
    if (!item.readable) {
        closeWithError(kCannotReadHeader);
        return 0;
    }
    bool withSignature = item.signature && !signatureFile.empty();
    if (withSignature && !platform::openFile(signatureFile, "rb")) {
        closeWithError(kCannotReadSignature);
        return 0;
    }
    setTransferFiles(headerFile, bodyFile, withSignature ? signatureFile : std::string_view());
    beginCommand(completionMessage, kStepPost,
                 formatText(TextKind::NntpProgress, "posting article %s", item.messageId.c_str()));
    queueText("POST\r\n");
    return 0;
}

int QueryNewsPipelining(uint32_t completionMessage, int32_t& pipelining) {
    pipelining = 0;
    if (!guard("not connected (QueryNewsPipelining)", "dll busy (QueryNewsPipelining)")) return 0;
    g_capabilitySlot = &pipelining;
    beginCommand(completionMessage, kStepCapa, "asking for capabilities...");
    queueText("CAPABILITIES\r\n");
    return 0;
}

}  // namespace netwire
