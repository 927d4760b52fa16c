// The Qt backend of the platform event loop: posted messages arrive as
// queued calls, sockets are watched with QSocketNotifier, timers are QTimers.
// Create one after the QApplication and keep it for the run; it installs
// itself with platform::setEventLoop.
#pragma once

#include "platform/messages.h"

#include <QObject>

#include <atomic>
#include <map>
#include <memory>

class QSocketNotifier;
class QTimer;

class QtEventLoop final : public QObject, public platform::EventLoop {
    Q_OBJECT
public:
    explicit QtEventLoop(QObject* parent = nullptr);
    ~QtEventLoop() override;

    void wake() override;
    void watchFd(int fd, bool read, bool write, IoCallback callback) override;
    void unwatchFd(int fd) override;
    int addTimer(uint32_t ms, std::function<void()> callback) override;
    void removeTimer(int id) override;

private:
    void dispatch();
    void onActivated(int fd, bool readable, bool writable, bool failed);

    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
        std::unique_ptr<QSocketNotifier> error;
        std::shared_ptr<IoCallback> callback;
    };
    std::atomic<bool> m_wakePending{false};
    std::map<int, Watch> m_watches;
    std::map<int, std::unique_ptr<QTimer>> m_timers;
    int m_nextTimer = 1;
};
