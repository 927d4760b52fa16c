// The event loop of the library tests, benchmarks and command-line tools:
// standard C++ and poll(2), no toolkit.
#pragma once

#include "platform/messages.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace platform {

class PollLoop final : public EventLoop {
public:
    // The loop installs itself with setEventLoop() and removes itself again
    // when destroyed.
    PollLoop();
    ~PollLoop() override;

    // Runs until quit() is called.
    void run();
    void quit();
    // Waits at most timeoutMs for one round of events and handles it.
    void runOnce(int timeoutMs);
    // Runs until done() is true or timeoutMs passed; returns done().
    bool runUntil(const std::function<bool()>& done, int timeoutMs);
    // Runs for the given time, handling whatever arrives.
    void runFor(int ms);

    void wake() override;
    void watchFd(int fd, bool read, bool write, IoCallback callback) override;
    void unwatchFd(int fd) override;
    int addTimer(uint32_t ms, std::function<void()> callback) override;
    void removeTimer(int id) override;

private:
    struct Watch {
        bool read = false;
        bool write = false;
        std::shared_ptr<IoCallback> callback;
    };
    struct Timer {
        std::chrono::steady_clock::duration period;
        std::chrono::steady_clock::time_point due;
        std::shared_ptr<std::function<void()>> callback;
    };
    void fireDueTimers();

    int m_wakeFd = -1;
    // Set while a wake-up is on its way, so a burst of posted messages
    // costs one write to the descriptor, not one each.
    std::atomic<bool> m_wakePending{false};
    bool m_quit = false;
    int m_nextTimer = 1;
    std::map<int, Watch> m_watches;
    std::map<int, Timer> m_timers;
};

}  // namespace platform
