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
}

bool SerialQueue::drainLocked(std::unique_lock<std::mutex>& lock, Waiter* self, int budget) {
    while (!_items.empty()) {
        if (self == nullptr && budget-- <= 0) {
            _owned = false;
            scheduleDrainLocked();
            return false;
        }
        Item item = std::move(_items.front());
        _items.pop_front();
        if (item.waiter == self && self != nullptr) {
            return true;
        }
        if (item.waiter != nullptr) {
            item.waiter->granted = true;
            _handoff.notify_all();
            return false;
        }
        lock.unlock();
        item.block();
        item.block = nullptr;
        lock.lock();
    }
    _owned = false;
    return false;
}

void SerialQueue::releaseLocked(std::unique_lock<std::mutex>& lock) {
    if (!_items.empty() && _items.front().waiter != nullptr) {
        _items.front().waiter->granted = true;
        _items.pop_front();
        _handoff.notify_all();
        return;
    }
    _owned = false;
    if (!_items.empty()) {
        scheduleDrainLocked();
    }
    (void)lock;
}

void SerialQueue::sync(Block block) {
    std::unique_lock lock(_mutex);
    Waiter me;
    _items.push_back(Item{nullptr, &me});
    bool mine = false;
    if (!_owned) {
        _owned = true;
        mine = drainLocked(lock, &me, 0);
    }
    if (!mine) {
        _handoff.wait(lock, [&] { return me.granted; });
    }
    lock.unlock();
    struct Release {
        SerialQueue& queue;
        ~Release() {
            std::unique_lock relock(queue._mutex);
            queue.releaseLocked(relock);
        }
    } release{*this};
    block();
}

} // namespace platform::dispatch
