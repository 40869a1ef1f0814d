#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform::dispatch {

using Block = std::function<void()>;

// A queue of blocks. The global queue runs its blocks concurrently on a pool of worker threads;
// a serial queue runs its blocks one after another (on the pool), in the order they were added.
class DispatchQueue {
public:
    virtual ~DispatchQueue() = default;

    // The default-priority global concurrent queue (a process-wide pool of worker threads).
    static DispatchQueue& global();
    // A new serial queue with the given label.
    static std::shared_ptr<DispatchQueue> createSerial(std::string label);

    // Adds the block and returns at once.
    virtual void async(Block block) = 0;
    // Runs the block and returns when it has run. On a serial queue it runs exclusively of every
    // other block of that queue (possibly on the caller's thread). Not reentrant: a block must not
    // call sync on its own serial queue.
    virtual void sync(Block block) = 0;
    virtual const std::string& label() const = 0;
};

} // namespace platform::dispatch
