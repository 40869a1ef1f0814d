#pragma once

#include "DispatchQueue.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

namespace platform::dispatch {

// A serial queue: its blocks run one at a time in the order they were added. Asynchronous blocks
// run on the global queue's threads. A synchronous block runs once every block added before it has
// run: on the caller's thread when the queue is idle (the caller then runs earlier blocks itself,
// so sync never waits for a free pool thread: the pool is bounded, and a pool full of threads
// blocked in sync must not deadlock); when another thread owns the queue, that thread runs the
// block in its turn and wakes the caller once it has run (so a busy queue passes no ownership
// from sleeping thread to sleeping thread). An exception of a synchronous block reaches its
// caller.
class SerialQueue final : public DispatchQueue, public std::enable_shared_from_this<SerialQueue> {
public:
    explicit SerialQueue(std::string label) : _label(std::move(label)) {}

    void async(Block block) override;
    void sync(Block block) override;
    const std::string& label() const override { return _label; }

private:
    // A thread waiting in sync for its block to run.
    struct Waiter {
        Block* block = nullptr;
        bool done = false;
        bool promoted = false; // handed the queue: runs its own block, and on
        std::exception_ptr error;
        std::condition_variable ran;
    };
    struct Item {
        Block block;
        Waiter* waiter = nullptr; // a synchronous block: the waiter's
    };
    // Sync blocks run by a caller that owns the queue after its own one, before it hands the queue on.
    static constexpr int kSyncBudget = 64;
    // Blocks run by one pool task before it hands the queue back to the pool, so a busy serial queue
    // does not hold on to one worker forever.
    static constexpr int kDrainBudget = 64;

    void drainFromPool();
    // Runs items in order while owning the queue, at most `budget` of them; stops after running
    // `until` when it is given. Returns true when it ran `until`.
    bool drainLocked(std::unique_lock<std::mutex>& lock, Waiter* until, int budget);
    // Gives up ownership: to the first sync caller still waiting (asleep, it would otherwise wait
    // for a pool thread), else what is left goes to a new pool task.
    void releaseLocked();
    // Owns the queue for a sync caller until its block has run, and a few more sync blocks after.
    void runAsOwnerLocked(std::unique_lock<std::mutex>& lock, Waiter& me);
    void scheduleDrainLocked();

    const std::string _label;
    std::mutex _mutex;
    std::deque<Item> _items;
    bool _owned = false;          // a thread is running this queue's blocks
    bool _drainScheduled = false; // a pool task is queued to run them
};

} // namespace platform::dispatch
