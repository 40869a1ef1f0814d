#include "QtMainQueue.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace lanyard {

namespace {

// Seconds to whole milliseconds for a QTimer: negative and NaN wait nothing, the far future is capped.
int millisecondsFor(double seconds) {
    if (!(seconds > 0.0)) {
        return 0;
    }
    const double limit = static_cast<double>(std::numeric_limits<int>::max());
    return static_cast<int>(std::min(std::ceil(seconds * 1000.0), limit));
}

} // namespace

QtMainQueue::QtMainQueue() : _context(std::make_unique<QObject>()) {}

QtMainQueue::~QtMainQueue() {
    // The timers are children of the context; queued calls aimed at it are dropped with it.
    _timers.clear();
    _context.reset();
}

bool QtMainQueue::onQueueThread() const {
    return QThread::currentThread() == _context->thread();
}

void QtMainQueue::post(Block block) {
    QMetaObject::invokeMethod(
        _context.get(), [block = std::move(block)] { block(); }, Qt::QueuedConnection);
}

QtMainQueue::TimerId QtMainQueue::startTimer(double seconds, Block block) {
    const int milliseconds = millisecondsFor(seconds);
    TimerId id = 0;
    {
        std::lock_guard lock(_mutex);
        id = ++_lastId;
        if (!onQueueThread()) {
            _pending.insert(id);
        }
    }
    if (onQueueThread()) {
        createTimer(id, milliseconds, std::move(block));
        return id;
    }
    QMetaObject::invokeMethod(
        _context.get(),
        [this, id, milliseconds, block = std::move(block)]() mutable {
            {
                std::lock_guard lock(_mutex);
                if (_pending.erase(id) == 0) {
                    return; // cancelled before it was created
                }
            }
            createTimer(id, milliseconds, std::move(block));
        },
        Qt::QueuedConnection);
    return id;
}

void QtMainQueue::cancelTimer(TimerId id) {
    {
        std::lock_guard lock(_mutex);
        if (_pending.erase(id) > 0) {
            return;
        }
    }
    if (onQueueThread()) {
        removeTimer(id);
        return;
    }
    QMetaObject::invokeMethod(
        _context.get(), [this, id] { removeTimer(id); }, Qt::QueuedConnection);
}

std::size_t QtMainQueue::activeTimerCount() const {
    std::lock_guard lock(_mutex);
    return _pending.size() + _timers.size();
}

void QtMainQueue::createTimer(TimerId id, int milliseconds, Block block) {
    auto* timer = new QTimer(_context.get());
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, _context.get(), [this, id] { fire(id); });
    {
        std::lock_guard lock(_mutex);
        _timers[id] = Timer{timer, std::move(block)};
    }
    timer->start(milliseconds);
}

void QtMainQueue::fire(TimerId id) {
    Block block;
    {
        std::lock_guard lock(_mutex);
        auto found = _timers.find(id);
        if (found == _timers.end()) {
            return;
        }
        found->second.timer->deleteLater();
        block = std::move(found->second.block);
        _timers.erase(found);
    }
    if (block) {
        block();
    }
}

void QtMainQueue::removeTimer(TimerId id) {
    QTimer* timer = nullptr;
    Block block;
    {
        std::lock_guard lock(_mutex);
        auto found = _timers.find(id);
        if (found == _timers.end()) {
            return;
        }
        timer = found->second.timer;
        block = std::move(found->second.block);
        _timers.erase(found);
    }
    timer->stop();
    timer->deleteLater();
    // `block` is released here, outside the lock: it may own objects whose destructors post again.
}

} // namespace lanyard
