#pragma once

#include "DispatchQueue.h"
#include "DispatchTime.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace platform::dispatch {

// One thread that runs short blocks at given times (the timers hand their real work to a queue).
// Started on first use and never destroyed, like the global queue.
class TimerThread {
public:
    using Id = std::uint64_t;

    static TimerThread& instance();

    // Runs `fire` on the timer thread at `when`; it must return quickly.
    Id schedule(Clock::time_point when, Block fire);
    // Drops a block that has not run yet; otherwise nothing.
    void unschedule(Id id);

private:
    using Key = std::pair<Clock::time_point, Id>;

    TimerThread();
    void loop();

    std::mutex _mutex;
    std::condition_variable _changed;
    std::map<Key, Block> _timers;
    std::unordered_map<Id, Clock::time_point> _deadlines;
    Id _nextId = 1;
};

} // namespace platform::dispatch
