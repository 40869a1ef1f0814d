#pragma once

#include "DispatchQueue.h"

#include <memory>

namespace platform::dispatch {

// A one-shot timer: the block runs on the given queue once `seconds` have passed, unless the timer
// is cancelled first. Cancelling after it fired does nothing.
class DispatchTimer {
public:
    virtual ~DispatchTimer() = default;
    static std::shared_ptr<DispatchTimer> after(DispatchQueue& queue, double seconds, Block block);
    virtual void cancel() = 0;
};

} // namespace platform::dispatch
