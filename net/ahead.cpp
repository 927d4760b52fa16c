// Commands sent ahead of their replies (pipelining): a window of numbered
// commands in flight, their replies read one by one in order.
#include "net/engine.h"

#include <algorithm>
#include <cstdio>

namespace netwire::engine {

namespace {

// Starts or continues a batch for the command of number: false (connection
// closed with busy) when replies of another command, or of another number,
// are owed.
bool continueBatch(int step, int32_t number, const char* busy) {
    Connection& c = conn();
    if (c.aheadStep != kStepReady && c.owedCount > 0) {
        // Replies are owed: only the next one of the same command may be read.
        if (c.aheadStep != step || number != c.aheadNext) {
            closeWithError(busy);
            return false;
        }
    } else {
        c.aheadStep = step;
        c.aheadSent = number - 1;
        c.owedFirst = c.owedCount = 0;
    }
    c.aheadNext = number;
    c.held = false;
    return true;
}

// Queues "VERB N" for each number that next(after) gives after the highest
// one sent, while fewer than window replies are owed; one write for all of
// them, not a packet per command.
template <class Next>
bool sendBatch(const char* verb, int window, Next next) {
    Connection& c = conn();
    window = std::clamp(window, 1, kMaxAhead);
    c.holdFlush = true;
    for (int32_t n = next(c.aheadSent); n > c.aheadSent && c.owedCount < window; n = next(n)) {
        char line[32];
        const int length = std::snprintf(line, sizeof line, "%s %d\r\n", verb, n);
        if (length <= 0 || length >= static_cast<int>(sizeof line)) break;
        // A full queue holds the rest back for the next call.
        if (queueText(std::string_view(line, static_cast<size_t>(length))) != 0) break;
        c.owed[static_cast<size_t>((c.owedFirst + c.owedCount) % kMaxAhead)] = n;
        ++c.owedCount;
        c.aheadSent = n;
    }
    c.holdFlush = false;
    flushQueue();
    return c.state == State::Connected;
}

}  // namespace

bool sendAhead(int step, const char* verb, int32_t number, int32_t last, int window, const char* busy) {
    if (!continueBatch(step, number, busy)) return false;
    return sendBatch(verb, window, [number, last](int32_t after) -> int32_t {
        const int32_t n = std::max(after, number - 1);
        return n < last ? n + 1 : 0;
    });
}

bool sendAheadList(int step, const char* verb, std::span<const int32_t> numbers, int window, const char* busy) {
    if (numbers.empty()) {
        closeWithError(busy);  // nothing to read: a caller out of step
        return false;
    }
    if (!continueBatch(step, numbers.front(), busy)) return false;
    return sendBatch(verb, window, [numbers](int32_t after) -> int32_t {
        auto it = std::upper_bound(numbers.begin(), numbers.end(), after);
        return it == numbers.end() ? 0 : *it;
    });
}

void replyDone() {
    Connection& c = conn();
    c.step = kStepReady;
    if (c.aheadStep == kStepReady) return;
    if (c.owedCount > 0) {
        c.owedFirst = (c.owedFirst + 1) % kMaxAhead;
        --c.owedCount;
    }
    c.held = c.owedCount > 0;
    if (c.held) c.aheadNext = c.owed[static_cast<size_t>(c.owedFirst)];
    else c.aheadStep = kStepReady;
}

}  // namespace netwire::engine
