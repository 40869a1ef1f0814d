#include "DispatchTime.h"
#include "MainQueue.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform::dispatch {

namespace {

// Timer ids are unique in the process, whichever run loop issued them; 0 is never used.
TimerId nextTimerId() {
    static std::atomic<TimerId> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

struct RunLoop::State {
    using Key = std::pair<Clock::time_point, TimerId>;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Block> posted;
    std::map<Key, Block> timers;
    std::unordered_map<TimerId, Clock::time_point> deadlines;
    bool woken = false;

    bool readyLocked(Clock::time_point now) const {
        return woken || !posted.empty() || (!timers.empty() && timers.begin()->first.first <= now);
    }

    std::vector<TimerId> dueLocked(Clock::time_point now) const {
        std::vector<TimerId> due;
        for (auto it = timers.begin(); it != timers.end() && it->first.first <= now; ++it) {
            due.push_back(it->first.second);
        }
        return due;
    }

    // Removes a timer that has not run; returns its block (empty when there was none).
    Block takeLocked(TimerId id) {
        const auto found = deadlines.find(id);
        if (found == deadlines.end()) {
            return nullptr;
        }
        const auto timer = timers.find(Key{found->second, id});
        Block block = std::move(timer->second);
        timers.erase(timer);
        deadlines.erase(found);
        return block;
    }
};

std::shared_ptr<RunLoop> RunLoop::shared() {
    // Never destroyed, so blocks may still be posted while static objects are being destroyed.
    static std::shared_ptr<RunLoop>* const loop = new std::shared_ptr<RunLoop>(std::make_shared<RunLoop>());
    return *loop;
}

RunLoop::RunLoop() : _state(std::make_unique<State>()) {}

RunLoop::~RunLoop() = default;

void RunLoop::post(Block block) {
    std::lock_guard lock(_state->mutex);
    _state->posted.push_back(std::move(block));
    _state->changed.notify_all();
}

TimerId RunLoop::startTimer(double seconds, Block block) {
    const TimerId id = nextTimerId();
    const auto when = deadlineAfter(seconds);
    std::lock_guard lock(_state->mutex);
    _state->timers.emplace(State::Key{when, id}, std::move(block));
    _state->deadlines.emplace(id, when);
    _state->changed.notify_all();
    return id;
}

void RunLoop::cancelTimer(TimerId id) {
    Block cancelled; // destroyed after the lock is released
    std::lock_guard lock(_state->mutex);
    cancelled = _state->takeLocked(id);
}

void RunLoop::wakeUp() {
    std::lock_guard lock(_state->mutex);
    _state->woken = true;
    _state->changed.notify_all();
}

// Runs the blocks posted before it started running (blocks they post wait for the next call),
// then the timers that were due at that moment and are still not cancelled, earliest first.
bool RunLoop::runOnce(double maxSeconds) {
    State& state = *_state;
    std::unique_lock lock(state.mutex);
    const auto limit = deadlineAfter(maxSeconds);
    for (auto now = Clock::now(); !state.readyLocked(now) && now < limit; now = Clock::now()) {
        auto wakeAt = limit;
        if (!state.timers.empty() && state.timers.begin()->first.first < wakeAt) {
            wakeAt = state.timers.begin()->first.first;
        }
        state.changed.wait_until(lock, wakeAt);
    }
    state.woken = false;
    std::deque<Block> batch;
    batch.swap(state.posted);
    const std::vector<TimerId> due = state.dueLocked(Clock::now());
    lock.unlock();

    bool ran = false;
    for (Block& block : batch) {
        block();
        block = nullptr;
        ran = true;
    }
    for (const TimerId id : due) {
        Block block;
        {
            std::lock_guard relock(state.mutex);
            block = state.takeLocked(id);
        }
        if (block) {
            block();
            ran = true;
        }
    }
    return ran;
}

} // namespace platform::dispatch
