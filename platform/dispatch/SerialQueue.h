#pragma once

#include "DispatchQueue.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace platform::dispatch {

// A serial queue: its blocks run one at a time in the order they were added. Asynchronous blocks
// run on the global queue's threads. A synchronous block runs on the caller's thread once every
// block added before it has run; when no thread is working on the queue at that moment, the caller
// runs those earlier blocks itself, so sync never waits for a free pool thread (the pool is bounded,
// and a pool full of threads blocked in sync must not deadlock).
class SerialQueue final : public DispatchQueue, public std::enable_shared_from_this<SerialQueue> {
public:
    explicit SerialQueue(std::string label) : _label(std::move(label)) {}

    void async(Block block) override;
    void sync(Block block) override;
    const std::string& label() const override { return _label; }

private:
    // A thread waiting in sync for its turn.
    struct Waiter {
        bool granted = false;
    };
    struct Item {
        Block block;
        Waiter* waiter = nullptr;
    };
    // Blocks run by one pool task before it hands the queue back to the pool, so a busy serial queue
    // does not hold on to one worker forever.
    static constexpr int kDrainBudget = 64;

    void drainFromPool();
    // Runs items in order while owning the queue. Returns true when it reached `self` (the caller
    // keeps ownership and runs its block), false when ownership went to another waiter, to a new
    // pool task, or the queue became idle.
    bool drainLocked(std::unique_lock<std::mutex>& lock, Waiter* self, int budget);
    // Gives up ownership after a synchronous block: hands over to what comes next.
    void releaseLocked(std::unique_lock<std::mutex>& lock);
    void scheduleDrainLocked();

    const std::string _label;
    std::mutex _mutex;
    std::condition_variable _handoff;
    std::deque<Item> _items;
    bool _owned = false;          // a thread is running this queue's blocks
    bool _drainScheduled = false; // a pool task is queued to run them
};

} // namespace platform::dispatch
