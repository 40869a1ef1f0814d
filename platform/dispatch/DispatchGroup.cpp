#include "DispatchGroup.h"

#include "DispatchTime.h"

namespace platform::dispatch {

void DispatchGroup::enter() {
    std::lock_guard lock(_mutex);
    ++_count;
}

void DispatchGroup::leave() {
    std::lock_guard lock(_mutex);
    if (--_count <= 0) {
        _count = 0;
        _condition.notify_all();
    }
}

void DispatchGroup::wait() {
    std::unique_lock lock(_mutex);
    _condition.wait(lock, [this] { return _count == 0; });
}

bool DispatchGroup::waitFor(double seconds) {
    std::unique_lock lock(_mutex);
    return _condition.wait_until(lock, deadlineAfter(seconds), [this] { return _count == 0; });
}

void DispatchSemaphore::signal() {
    std::lock_guard lock(_mutex);
    ++_value;
    _condition.notify_one();
}

void DispatchSemaphore::wait() {
    std::unique_lock lock(_mutex);
    _condition.wait(lock, [this] { return _value > 0; });
    --_value;
}

bool DispatchSemaphore::waitFor(double seconds) {
    std::unique_lock lock(_mutex);
    if (!_condition.wait_until(lock, deadlineAfter(seconds), [this] { return _value > 0; })) {
        return false;
    }
    --_value;
    return true;
}

} // namespace platform::dispatch
