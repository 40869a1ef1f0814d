#include "TimerThread.h"

#include <thread>

namespace platform::dispatch {

TimerThread& TimerThread::instance() {
    // Never destroyed: its thread is detached and lives as long as the process.
    static TimerThread* const timers = new TimerThread();
    return *timers;
}

TimerThread::TimerThread() {
    std::thread([this] { loop(); }).detach();
}

TimerThread::Id TimerThread::schedule(Clock::time_point when, Block fire) {
    std::lock_guard lock(_mutex);
    const Id id = _nextId++;
    const bool earliest = _timers.empty() || when < _timers.begin()->first.first;
    _timers.emplace(Key{when, id}, std::move(fire));
    _deadlines.emplace(id, when);
    if (earliest) {
        _changed.notify_one();
    }
    return id;
}

void TimerThread::unschedule(Id id) {
    Block dropped;
    std::lock_guard lock(_mutex);
    const auto found = _deadlines.find(id);
    if (found == _deadlines.end()) {
        return;
    }
    const auto timer = _timers.find(Key{found->second, id});
    dropped = std::move(timer->second); // destroyed after the lock is released
    _timers.erase(timer);
    _deadlines.erase(found);
}

void TimerThread::loop() {
    std::unique_lock lock(_mutex);
    for (;;) {
        if (_timers.empty()) {
            _changed.wait(lock);
            continue;
        }
        const auto first = _timers.begin();
        // A copy: the timer may be removed while we wait.
        const Clock::time_point due = first->first.first;
        if (due > Clock::now()) {
            _changed.wait_until(lock, due);
            continue;
        }
        Block fire = std::move(first->second);
        _deadlines.erase(first->first.second);
        _timers.erase(first);
        lock.unlock();
        fire();
        fire = nullptr;
        lock.lock();
    }
}

} // namespace platform::dispatch
