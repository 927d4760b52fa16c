#include "platform/pollloop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {

using Clock = std::chrono::steady_clock;

PollLoop::PollLoop() {
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    setEventLoop(this);
}

PollLoop::~PollLoop() {
    if (eventLoop() == this) setEventLoop(nullptr);
    if (m_wakeFd >= 0) close(m_wakeFd);
}

void PollLoop::wake() {
    if (m_wakePending.exchange(true)) return;
    uint64_t one = 1;
    ssize_t n = write(m_wakeFd, &one, sizeof one);
    (void)n;  // a full counter still wakes the loop
}

void PollLoop::watchFd(int fd, bool read, bool write, IoCallback callback) {
    m_watches[fd] = Watch{read, write, std::make_shared<IoCallback>(std::move(callback))};
}

void PollLoop::unwatchFd(int fd) { m_watches.erase(fd); }

int PollLoop::addTimer(uint32_t ms, std::function<void()> callback) {
    int id = m_nextTimer++;
    auto period = std::chrono::milliseconds(ms == 0 ? 1 : ms);
    m_timers[id] = Timer{period, Clock::now() + period,
                         std::make_shared<std::function<void()>>(std::move(callback))};
    return id;
}

void PollLoop::removeTimer(int id) { m_timers.erase(id); }

void PollLoop::quit() {
    m_quit = true;
    wake();
}

void PollLoop::run() {
    m_quit = false;
    while (!m_quit) runOnce(-1);
}

void PollLoop::fireDueTimers() {
    auto now = Clock::now();
    std::vector<int> due;
    for (auto& [id, t] : m_timers)
        if (t.due <= now) due.push_back(id);
    for (int id : due) {
        auto it = m_timers.find(id);
        if (it == m_timers.end()) continue;  // removed by an earlier callback
        it->second.due = now + it->second.period;
        auto callback = it->second.callback;
        (*callback)();
    }
}

void PollLoop::runOnce(int timeoutMs) {
    if (hasPostedMessages()) timeoutMs = 0;
    auto now = Clock::now();
    for (auto& [id, t] : m_timers) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(t.due - now).count();
        if (left < 0) left = 0;
        if (timeoutMs < 0 || left < timeoutMs) timeoutMs = static_cast<int>(left);
    }

    std::vector<pollfd> fds;
    fds.push_back({m_wakeFd, POLLIN, 0});
    for (auto& [fd, w] : m_watches) {
        short events = (w.read ? POLLIN : 0) | (w.write ? POLLOUT : 0);
        fds.push_back({fd, events, 0});
    }
    int n = poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0 && errno != EINTR) n = 0;

    if (n > 0) {
        if (fds[0].revents) {
            uint64_t count;
            ssize_t r = read(m_wakeFd, &count, sizeof count);
            (void)r;
            // Messages posted from now on need a new wake-up; those posted
            // before are delivered below.
            m_wakePending = false;
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            auto it = m_watches.find(fds[i].fd);
            if (it == m_watches.end()) continue;  // unwatched by an earlier callback
            auto callback = it->second.callback;
            short re = fds[i].revents;
            bool failed = re & (POLLERR | POLLNVAL);
            bool readable = re & (POLLIN | POLLHUP | POLLRDHUP);
            bool writable = re & POLLOUT;
            (*callback)(fds[i].fd, readable || failed, writable, failed);
        }
    }
    fireDueTimers();
    dispatchPostedMessages();
}

bool PollLoop::runUntil(const std::function<bool()>& done, int timeoutMs) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) return done();
        runOnce(static_cast<int>(left));
    }
    return true;
}

void PollLoop::runFor(int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) return;
        runOnce(static_cast<int>(left));
    }
}

}  // namespace platform
