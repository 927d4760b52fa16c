#include "ui/qtloop.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

QtEventLoop::QtEventLoop(QObject* parent) : QObject(parent) { platform::setEventLoop(this); }

QtEventLoop::~QtEventLoop() {
    if (platform::eventLoop() == this) platform::setEventLoop(nullptr);
}

void QtEventLoop::wake() {
    // Any thread: one queued call is enough however many messages arrive.
    if (m_wakePending.exchange(true)) return;
    QMetaObject::invokeMethod(this, &QtEventLoop::dispatch, Qt::QueuedConnection);
}

void QtEventLoop::dispatch() {
    m_wakePending = false;
    platform::dispatchPostedMessages();
    if (platform::hasPostedMessages()) wake();
}

void QtEventLoop::watchFd(int fd, bool read, bool write, IoCallback callback) {
    unwatchFd(fd);
    Watch& w = m_watches[fd];
    w.callback = std::make_shared<IoCallback>(std::move(callback));
    if (read) {
        w.read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(w.read.get(), &QSocketNotifier::activated, this,
                [this, fd] { onActivated(fd, true, false, false); });
    }
    if (write) {
        w.write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        connect(w.write.get(), &QSocketNotifier::activated, this,
                [this, fd] { onActivated(fd, false, true, false); });
    }
    w.error = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Exception);
    connect(w.error.get(), &QSocketNotifier::activated, this,
            [this, fd] { onActivated(fd, true, false, true); });
}

void QtEventLoop::onActivated(int fd, bool readable, bool writable, bool failed) {
    auto it = m_watches.find(fd);
    if (it == m_watches.end()) return;
    auto callback = it->second.callback;  // the callback may unwatch fd
    (*callback)(fd, readable, writable, failed);
    platform::dispatchPostedMessages();
}

void QtEventLoop::unwatchFd(int fd) {
    auto it = m_watches.find(fd);
    if (it == m_watches.end()) return;
    // Notifiers must not be deleted inside their own activated signal.
    for (auto* n : {it->second.read.release(), it->second.write.release(), it->second.error.release()})
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    m_watches.erase(it);
}

int QtEventLoop::addTimer(uint32_t ms, std::function<void()> callback) {
    int id = m_nextTimer++;
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(static_cast<int>(ms));
    connect(timer.get(), &QTimer::timeout, this, [callback = std::move(callback)] { callback(); });
    timer->start();
    m_timers[id] = std::move(timer);
    return id;
}

void QtEventLoop::removeTimer(int id) {
    auto it = m_timers.find(id);
    if (it == m_timers.end()) return;
    it->second->stop();
    it->second.release()->deleteLater();
    m_timers.erase(it);
}
