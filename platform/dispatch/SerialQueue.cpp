#include "SerialQueue.h"

#include "GlobalQueue.h"

#include <utility>

namespace platform::dispatch {

void SerialQueue::async(Block block) {
    std::unique_lock lock(_mutex);
    _items.push_back(Item{std::move(block), nullptr});
    if (!_owned) {
        scheduleDrainLocked();
    }
}

void SerialQueue::scheduleDrainLocked() {
    if (_drainScheduled) {
        return;
    }
    _drainScheduled = true;
    // The task keeps the queue alive until its pending blocks have run.
    GlobalQueue::instance().async([self = shared_from_this()] { self->drainFromPool(); });
}

void SerialQueue::drainFromPool() {
    std::unique_lock lock(_mutex);
    _drainScheduled = false;
    if (_owned) {
        return; // whoever owns the queue hands it on when done
    }
    _owned = true;
    drainLocked(lock, nullptr, kDrainBudget);
    releaseLocked();
}

bool SerialQueue::drainLocked(std::unique_lock<std::mutex>& lock, Waiter* until, int budget) {
    while (!_items.empty() && budget-- > 0) {
        Item item = std::move(_items.front());
        _items.pop_front();
        Waiter* waiter = item.waiter;
        lock.unlock();
        std::exception_ptr error;
        if (waiter) {
            try {
                (*waiter->block)();
            } catch (...) {
                error = std::current_exception();
            }
        } else {
            item.block();
            item.block = nullptr;
        }
        lock.lock();
        if (waiter) {
            // Under the lock: the waiter cannot return (and destroy itself) before we are done.
            waiter->error = error;
            waiter->done = true;
            if (waiter != until) {
                waiter->ran.notify_one();
            } else {
                return true;
            }
        }
    }
    return false;
}

void SerialQueue::releaseLocked() {
    // A sync caller still waiting takes the queue over (and runs what is before its block itself):
    // it must never wait for a pool thread, all of which may be waiting in sync too.
    for (Item& item : _items) {
        if (item.waiter != nullptr) {
            item.waiter->promoted = true;
            item.waiter->ran.notify_one();
            return; // the queue stays owned, by that caller now
        }
    }
    _owned = false;
    if (!_items.empty()) {
        scheduleDrainLocked();
    }
}

void SerialQueue::runAsOwnerLocked(std::unique_lock<std::mutex>& lock, Waiter& me) {
    me.promoted = false;
    // Every block before ours, then ours, then the sync blocks that queued meanwhile (their
    // threads sleep until they have run), up to a budget.
    drainLocked(lock, &me, static_cast<int>(_items.size()));
    for (int more = 0; more < kSyncBudget && !_items.empty() && _items.front().waiter != nullptr; ++more) {
        drainLocked(lock, nullptr, 1);
    }
    releaseLocked();
}

void SerialQueue::sync(Block block) {
    std::unique_lock lock(_mutex);
    Waiter me;
    me.block = &block;
    _items.push_back(Item{nullptr, &me});
    if (!_owned) {
        _owned = true;
        me.promoted = true;
    }
    while (!me.done) {
        if (me.promoted) {
            runAsOwnerLocked(lock, me);
        } else {
            me.ran.wait(lock, [&] { return me.done || me.promoted; });
        }
    }
    lock.unlock();
    if (me.error) {
        std::rethrow_exception(me.error);
    }
}

} // namespace platform::dispatch
