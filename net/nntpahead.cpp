// NNTP commands sent ahead of their replies: HEAD (and BODY) for a window
// of article numbers, and BODY for a list of chosen articles. Each reply is
// still read and completed on its own, in order, by nntp.cpp's handlers.
#include "net/engine.h"

#include <algorithm>
#include <cstdio>
#include <deque>

namespace netwire {

using namespace engine;

namespace {

// Replies owed to HEAD and BODY commands sent ahead, in the order the server
// will give them. Only meaningful while conn().aheadStep is kStepHead: the
// engine resets that on every new connection and every close, which makes a
// list left from a broken connection stale.
struct Owed {
    int step;
    int32_t number;
};
std::deque<Owed> g_owed;
// The arguments of the BODY commands of GetBodiesAhead whose replies are
// owed, oldest first; meaningful while conn().aheadStep is kStepBody.
std::deque<std::string> g_owedBodies;
bool g_aheadBodies = false;

}  // namespace

namespace engine {

void nntpAheadAnswered() {
    Connection& c = conn();
    if (c.aheadStep == kStepBody) {
        if (!g_owedBodies.empty()) g_owedBodies.pop_front();
        c.held = !g_owedBodies.empty();
        if (!c.held) c.aheadStep = kStepReady;
        return;
    }
    if (c.aheadStep != kStepHead) {
        g_owed.clear();
        return;
    }
    if (!g_owed.empty()) g_owed.pop_front();
    c.held = !g_owed.empty();
    if (!c.held) c.aheadStep = kStepReady;
}

}  // namespace engine

namespace {

// The guard of a pipelined command: replies held for the caller are no busy
// engine; the call must be for the reply that comes next.
bool guardAhead(int step, int32_t article, const char* notConnected, const char* busy) {
    Connection& c = conn();
    if (c.aheadStep != kStepHead) g_owed.clear();
    const char* text = nullptr;
    if (c.state != State::Connected)
        text = notConnected;
    else if (c.step != kStepReady || article < 0 || c.aheadStep == kStepBody ||
             (!g_owed.empty() && (g_owed.front().step != step || g_owed.front().number != article)) ||
             (g_owed.empty() && step != kStepHead))
        text = busy;
    if (text) closeWithError(text);
    return !text;
}

// Sends HEAD (and BODY) for the numbers after those already sent, up to
// min(last, article + window - 1), in one write. The window is topped up
// once half of it has been answered, so a long run is not a packet per
// article. False when the queue would not take them (the connection is
// closed with busy).
bool sendArticlesAhead(int32_t article, int32_t last, int window, const char* busy) {
    Connection& c = conn();
    window = std::clamp(window, 1, kMaxAhead);
    const int64_t until = std::max<int64_t>(article, std::min<int64_t>(last, int64_t{article} + window - 1));
    if (!g_owed.empty() && c.aheadSent - int64_t{article} + 1 > window / 2) return true;
    c.holdFlush = true;
    bool queued = true;
    for (int64_t n = int64_t{c.aheadSent} + 1; n <= until && queued; ++n) {
        char line[2 * kCommandSize];
        const unsigned number = static_cast<unsigned>(n);
        int length = g_aheadBodies ? std::snprintf(line, sizeof line, "HEAD %u\r\nBODY %u\r\n", number, number)
                                   : std::snprintf(line, sizeof line, "HEAD %u\r\n", number);
        queued = queueText(std::string_view(line, static_cast<size_t>(length))) == 0;
        if (!queued) break;
        g_owed.push_back({kStepHead, static_cast<int32_t>(n)});
        if (g_aheadBodies) g_owed.push_back({kStepBody, static_cast<int32_t>(n)});
        c.aheadSent = static_cast<int32_t>(n);
    }
    c.holdFlush = false;
    if (!queued && g_owed.empty()) {
        closeWithError(busy);
        return false;
    }
    flushQueue();
    return c.state == State::Connected;
}

}  // namespace

int GetHeaderAhead(uint32_t completionMessage, std::string_view headerFile, int32_t article, int32_t last,
                   int window, bool withBodies, int32_t& articleNumber) {
    constexpr const char* kBusy = "dll busy (GetHeaderAhead)";
    articleNumber = -1;
    if (!guardAhead(kStepHead, article, "not connected (GetHeaderAhead)", kBusy)) return 0;
    Connection& c = conn();
    if (g_owed.empty()) {
        c.aheadStep = kStepHead;
        c.aheadSent = article - 1;
        g_aheadBodies = withBodies;
    } else if (g_aheadBodies != withBodies) {
        closeWithError(kBusy);
        return 0;
    }
    if (!sendArticlesAhead(article, last, window, kBusy)) return 0;
    c.held = false;
    setTransferFiles(headerFile);
    c.slots = {&articleNumber, nullptr, nullptr};
    const uint32_t number = static_cast<uint32_t>(article);
    beginCommand(completionMessage, kStepHead, formatText(TextKind::NntpProgress, "getting header %u", number));
    resumeReceive();
    return 0;
}

int GetBodyAhead(uint32_t completionMessage, std::string_view bodyFile, int32_t article) {
    if (!guardAhead(kStepBody, article, "not connected (GetBodyAhead)", "dll busy (GetBodyAhead)")) return 0;
    Connection& c = conn();
    c.held = false;
    setTransferFiles(bodyFile);
    const uint32_t number = static_cast<uint32_t>(article);
    beginCommand(completionMessage, kStepBody, formatText(TextKind::NntpProgress, "getting body %u", number));
    resumeReceive();
    return 0;
}

namespace {

// What follows "BODY " for a selector.
std::string bodyArgument(const BodySelector& selector) {
    return selector.article == -1 ? selector.messageId : std::to_string(selector.article);
}

// Sends BODY for the selectors after those already owed, up to window in
// flight, in one write; nothing is sent while more than half the window is
// still owed. A selector GetBody would refuse, and those after it, are not
// sent: the call for it refuses it. False when the connection was closed.
bool sendBodiesAhead(std::span<const BodySelector> selectors, int window, const char* busy) {
    Connection& c = conn();
    window = std::clamp(window, 1, kMaxAhead);
    const size_t owed = g_owedBodies.size();
    if (owed > static_cast<size_t>(window / 2)) return true;
    const size_t until = std::min(selectors.size(), static_cast<size_t>(window));
    c.holdFlush = true;
    for (size_t i = owed; i < until; ++i) {
        const BodySelector& selector = selectors[i];
        if (selector.article == -1 && checkMessageId(selector.messageId)) break;
        std::string argument = bodyArgument(selector);
        if (queueText("BODY " + argument + "\r\n") != 0) break;
        g_owedBodies.push_back(std::move(argument));
    }
    c.holdFlush = false;
    if (g_owedBodies.empty()) {
        closeWithError(busy);
        return false;
    }
    c.aheadStep = kStepBody;
    flushQueue();
    return c.state == State::Connected;
}

}  // namespace

int GetBodiesAhead(uint32_t completionMessage, std::string_view bodyFile, std::span<const BodySelector> selectors,
                   int window) {
    constexpr const char* kBusy = "dll busy (GetBodiesAhead)";
    Connection& c = conn();
    if (c.aheadStep != kStepBody) g_owedBodies.clear();
    const char* text = nullptr;
    if (c.state != State::Connected)
        text = "not connected (GetBodiesAhead)";
    else if (c.step != kStepReady || selectors.empty() || (c.aheadStep != kStepBody && c.held) ||
             (!g_owedBodies.empty() && g_owedBodies.front() != bodyArgument(selectors.front())))
        text = kBusy;
    if (text) {
        closeWithError(text);
        return 0;
    }
    const BodySelector& first = selectors.front();
    if (g_owedBodies.empty() && first.article == -1) {
        if (const char* refusal = checkMessageId(first.messageId)) {
            closeWithError(refusal);
            return 0;
        }
    }
    if (!sendBodiesAhead(selectors, window, kBusy)) return 0;
    c.held = false;
    setTransferFiles(bodyFile);
    const char* progress =
        first.article == -1
            ? formatText(TextKind::NntpProgress, "getting body %s", first.messageId.c_str())
            : formatText(TextKind::NntpProgress, "getting body %u", static_cast<uint32_t>(first.article));
    beginCommand(completionMessage, kStepBody, progress);
    resumeReceive();
    return 0;
}

}  // namespace netwire
