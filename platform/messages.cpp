#include "platform/messages.h"

#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace platform {
namespace {

struct Posted {
    Window* window;
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
};

struct Queue {
    std::mutex mutex;
    std::deque<Posted> messages;
    EventLoop* loop = nullptr;
    // (window, timer id) -> backend timer id
    std::map<std::pair<Window*, uintptr_t>, int> timers;
};

Queue& queue() {
    static Queue q;
    return q;
}

}  // namespace

Window::~Window() {
    Queue& q = queue();
    std::lock_guard lock(q.mutex);
    std::erase_if(q.messages, [this](const Posted& p) { return p.window == this; });
    for (auto it = q.timers.begin(); it != q.timers.end();) {
        if (it->first.first == this) {
            if (q.loop) q.loop->removeTimer(it->second);
            it = q.timers.erase(it);
        } else {
            ++it;
        }
    }
}

bool PostMessage(Window* window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (!window) return false;
    Queue& q = queue();
    EventLoop* loop;
    {
        std::lock_guard lock(q.mutex);
        q.messages.push_back({window, msg, wParam, lParam});
        loop = q.loop;
    }
    if (loop) loop->wake();
    return true;
}

bool SetTimer(Window* window, uintptr_t id, uint32_t ms) {
    Queue& q = queue();
    std::lock_guard lock(q.mutex);
    if (!window || !q.loop) return false;
    auto key = std::make_pair(window, id);
    if (auto it = q.timers.find(key); it != q.timers.end()) q.loop->removeTimer(it->second);
    q.timers[key] = q.loop->addTimer(ms, [window, id] { PostMessage(window, WM_TIMER, id, 0); });
    return true;
}

bool KillTimer(Window* window, uintptr_t id) {
    Queue& q = queue();
    std::lock_guard lock(q.mutex);
    auto it = q.timers.find({window, id});
    if (it == q.timers.end()) return false;
    if (q.loop) q.loop->removeTimer(it->second);
    q.timers.erase(it);
    return true;
}

void setEventLoop(EventLoop* loop) {
    Queue& q = queue();
    bool pending;
    {
        std::lock_guard lock(q.mutex);
        q.loop = loop;
        pending = !q.messages.empty();
    }
    if (loop && pending) loop->wake();
}

EventLoop* eventLoop() {
    Queue& q = queue();
    std::lock_guard lock(q.mutex);
    return q.loop;
}

size_t dispatchPostedMessages() {
    Queue& q = queue();
    size_t budget;
    {
        std::lock_guard lock(q.mutex);
        budget = q.messages.size();
    }
    size_t delivered = 0;
    // Messages posted by the handlers wait for the next round, so a window
    // that keeps posting to itself cannot starve sockets and timers.
    while (delivered < budget) {
        Posted p;
        {
            std::lock_guard lock(q.mutex);
            if (q.messages.empty()) break;
            p = q.messages.front();
            q.messages.pop_front();
        }
        ++delivered;
        p.window->handleMessage(p.msg, p.wParam, p.lParam);
    }
    return delivered;
}

bool hasPostedMessages() {
    Queue& q = queue();
    std::lock_guard lock(q.mutex);
    return !q.messages.empty();
}

}  // namespace platform
