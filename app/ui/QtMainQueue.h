#pragma once

#include <dispatch/MainQueue.h>

#include <QObject>

#include <map>
#include <memory>
#include <mutex>
#include <set>

class QTimer;

namespace lanyard {

// The main queue on the Qt event loop: posted blocks and timers run on the thread that created the
// back end (the GUI thread), in the order they were posted. Blocks may be posted and timers started
// and cancelled from any thread. Create it after the application object, install it with
// platform::dispatch::MainQueue::setBackend and destroy it on the GUI thread; blocks and timers
// still pending then are dropped.
class QtMainQueue : public platform::dispatch::MainQueueBackend {
public:
    using Block = platform::dispatch::Block;
    using TimerId = platform::dispatch::TimerId;

    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void post(Block block) override;
    TimerId startTimer(double seconds, Block block) override;
    void cancelTimer(TimerId id) override;

    // Timers started and not yet fired or cancelled.
    std::size_t activeTimerCount() const;

private:
    struct Timer {
        QTimer* timer = nullptr;
        Block block;
    };

    bool onQueueThread() const;
    void createTimer(TimerId id, int milliseconds, Block block);
    void fire(TimerId id);
    void removeTimer(TimerId id);

    std::unique_ptr<QObject> _context;
    mutable std::mutex _mutex;
    TimerId _lastId = 0;
    // Timers whose creation was posted from another thread and has not run yet.
    std::set<TimerId> _pending;
    // Created timers; touched on the queue thread only.
    std::map<TimerId, Timer> _timers;
};

} // namespace lanyard
