#pragma once

#include <condition_variable>
#include <mutex>

namespace platform::dispatch {

// Counts pieces of outstanding work: enter before, leave after; wait blocks until the count is 0.
class DispatchGroup {
public:
    void enter();
    void leave();
    // Blocks without limit until every enter has been matched by a leave.
    void wait();
    // Blocks at most `seconds`; true when the count reached 0.
    bool waitFor(double seconds);

private:
    std::mutex _mutex;
    std::condition_variable _condition;
    long _count = 0;
};

// A counting semaphore.
class DispatchSemaphore {
public:
    explicit DispatchSemaphore(long value = 0) : _value(value) {}
    void signal();
    void wait();
    // True when it was signalled within `seconds`.
    bool waitFor(double seconds);

private:
    std::mutex _mutex;
    std::condition_variable _condition;
    long _value;
};

} // namespace platform::dispatch
