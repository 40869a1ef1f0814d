#pragma once

#include "DispatchQueue.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform::dispatch {

// One epoll thread that reports readiness of descriptors on behalf of the socket operations and the
// accept sources; the work itself runs on the global queue. A descriptor is registered with epoll
// once, the first time it is watched, in one-shot mode, and re-armed (EPOLL_CTL_MOD) for each
// later watch: no registration and removal per wait. At most one watch per descriptor and
// direction. Started on first use and never destroyed, like the global queue.
class DispatchReactor {
public:
    enum class Direction { Read, Write };
    using Token = std::uint64_t;

    static DispatchReactor& instance();

    // Starts a one-shot watch: `ready` is posted to the global queue once, when the descriptor may
    // be ready in that direction (readiness may be spurious: the block retries its operation and
    // watches again when it would block), or has failed or hung up. Returns its token, or 0 with an
    // error number in `error` (`ready` is then dropped).
    Token watch(int fd, Direction direction, Block ready, int& error);
    // Removes the watch with this token if it has not fired. Returns true when it was removed: its
    // block will not run.
    bool unwatch(int fd, Direction direction, Token token);
    // Drops what the reactor knows of a descriptor that is being closed (no watch may be pending on
    // it). Closing removes it from epoll; this only keeps the table small and exact.
    void forget(int fd);

private:
    struct Slot {
        Token token = 0;
        Block ready;
    };
    struct Entry {
        std::uint32_t generation = 0;
        bool registered = false; // added to epoll (then disarmed or armed for `armed`)
        Slot reader;
        Slot writer;
    };

    DispatchReactor();
    void loop();
    void dispatchLocked(int fd, std::uint32_t generation, std::uint32_t events, std::vector<Block>& ready);
    // Arms epoll for what the entry's slots wait for (nothing to do when they wait for nothing: a
    // one-shot registration stays disarmed after its event).
    int armLocked(int fd, Entry& entry);

    const int _epoll;
    std::mutex _mutex;
    std::unordered_map<int, Entry> _entries;
    std::uint32_t _nextGeneration = 1;
    Token _nextToken = 1;
};

} // namespace platform::dispatch
