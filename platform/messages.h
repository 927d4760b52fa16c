// Window messages, window timers and the event-loop interface.
//
// Library code reports to its caller by posting messages to a Window; the
// messages are queued here and delivered one at a time, in order, on the
// thread that runs the event loop. The loop itself is one of two backends
// (PollLoop below, or the Qt backend of the program), installed with
// setEventLoop(); library code never knows which one runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform {

constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_USER = 0x0400;

class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    // Drops the messages still queued for this window and stops its timers.
    virtual ~Window();
    virtual void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;
};

// Queues a message for the window and returns at once; safe from any thread.
// Returns false only for a null window.
bool PostMessage(Window* window, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// A repeating timer that posts WM_TIMER with wParam = id every `ms`
// milliseconds. Setting an existing id again restarts it with the new period.
bool SetTimer(Window* window, uintptr_t id, uint32_t ms);
bool KillTimer(Window* window, uintptr_t id);

// The backend interface. Callbacks run on the loop's thread.
class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Called (from any thread) when a message was queued; the loop must call
    // dispatchPostedMessages() on its own thread soon after.
    virtual void wake() = 0;
    using IoCallback = std::function<void(int fd, bool readable, bool writable, bool failed)>;
    // Watches fd for readiness; a second call for the same fd replaces the first.
    virtual void watchFd(int fd, bool read, bool write, IoCallback callback) = 0;
    virtual void unwatchFd(int fd) = 0;
    // A repeating timer; returns its id (> 0).
    virtual int addTimer(uint32_t ms, std::function<void()> callback) = 0;
    virtual void removeTimer(int id) = 0;
};

// Installs the loop used by PostMessage, SetTimer and the socket layer.
// Pass nullptr before the loop is destroyed.
void setEventLoop(EventLoop* loop);
EventLoop* eventLoop();

// Delivers the messages that were queued when the call began, one at a time.
// Returns how many were delivered. Called by the backends.
size_t dispatchPostedMessages();
bool hasPostedMessages();

}  // namespace platform
