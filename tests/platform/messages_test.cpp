// Posted messages arrive in order, one at a time, from any thread; timers
// post WM_TIMER; a destroyed window receives nothing more.
#include "platform/messages.h"
#include "platform/pollloop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <vector>

using namespace platform;

namespace {

struct Recorder : Window {
    std::vector<std::tuple<uint32_t, uintptr_t, intptr_t>> got;
    std::function<void(uint32_t)> onMessage;
    void handleMessage(uint32_t msg, uintptr_t w, intptr_t l) override {
        got.emplace_back(msg, w, l);
        if (onMessage) onMessage(msg);
    }
};

}  // namespace

TEST(Messages, ArriveInOrderAfterThePosterReturns) {
    PollLoop loop;
    Recorder r;
    r.onMessage = [&](uint32_t msg) {
        if (msg == 1) PostMessage(&r, 3, 0, 0);  // handled after 2, not inside 1
    };
    PostMessage(&r, 1, 10, -1);
    PostMessage(&r, 2, 20, -2);
    EXPECT_TRUE(r.got.empty());
    ASSERT_TRUE(loop.runUntil([&] { return r.got.size() == 3; }, 2000));
    EXPECT_EQ(r.got[0], std::make_tuple(1u, uintptr_t(10), intptr_t(-1)));
    EXPECT_EQ(std::get<0>(r.got[1]), 2u);
    EXPECT_EQ(std::get<0>(r.got[2]), 3u);
}

TEST(Messages, PostedFromAnotherThreadWakeTheLoop) {
    PollLoop loop;
    Recorder r;
    std::thread t([&] {
        for (int i = 0; i < 100; ++i) PostMessage(&r, 7, i, 0);
    });
    ASSERT_TRUE(loop.runUntil([&] { return r.got.size() == 100; }, 5000));
    t.join();
    for (int i = 0; i < 100; ++i) EXPECT_EQ(std::get<1>(r.got[i]), uintptr_t(i));
}

TEST(Messages, ADestroyedWindowGetsNothing) {
    PollLoop loop;
    auto gone = std::make_unique<Recorder>();
    Recorder stays;
    PostMessage(gone.get(), 1, 0, 0);
    PostMessage(&stays, 2, 0, 0);
    SetTimer(gone.get(), 5, 1);
    gone.reset();
    ASSERT_TRUE(loop.runUntil([&] { return !stays.got.empty(); }, 2000));
    loop.runFor(20);
    EXPECT_EQ(stays.got.size(), 1u);
    EXPECT_FALSE(PostMessage(nullptr, 1, 0, 0));
}

TEST(Timers, PostWmTimerUntilKilled) {
    PollLoop loop;
    Recorder r;
    ASSERT_TRUE(SetTimer(&r, 42, 5));
    ASSERT_TRUE(loop.runUntil([&] { return r.got.size() >= 3; }, 2000));
    EXPECT_EQ(r.got[0], std::make_tuple(WM_TIMER, uintptr_t(42), intptr_t(0)));
    EXPECT_TRUE(KillTimer(&r, 42));
    EXPECT_FALSE(KillTimer(&r, 42));
    size_t n = r.got.size();
    loop.runFor(30);
    EXPECT_LE(r.got.size(), n + 1);  // at most one that was already queued
}

TEST(PollLoop, WatchesDescriptorsUntilUnwatched) {
    PollLoop loop;
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    int reads = 0;
    loop.watchFd(sv[0], true, false, [&](int fd, bool readable, bool, bool) {
        char buf[16];
        if (readable && read(fd, buf, sizeof buf) > 0) ++reads;
    });
    ASSERT_EQ(write(sv[1], "x", 1), 1);
    ASSERT_TRUE(loop.runUntil([&] { return reads == 1; }, 2000));
    loop.unwatchFd(sv[0]);
    ASSERT_EQ(write(sv[1], "y", 1), 1);
    loop.runFor(20);
    EXPECT_EQ(reads, 1);
    close(sv[0]);
    close(sv[1]);
}
