#pragma once

#include "DispatchQueue.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform::dispatch {

// One epoll thread that watches descriptors for readiness on behalf of the socket operations and
// the accept sources. At most one watch per descriptor and direction. Started on first use and
// never destroyed, like the global queue.
class DispatchReactor {
public:
    enum class Direction { Read, Write };
    using Token = std::uint64_t;
    // Runs on the reactor thread, under the reactor's lock, whenever the descriptor may be ready in
    // the watched direction (it may be called when it is not: it must do non-blocking work only).
    // It must not call back into the reactor. Returns true when it is finished: the watch is removed,
    // and then the `completion` it may have set is posted to the global queue. (Posting only after
    // the removal lets the completion close the descriptor.)
    using ReadyHandler = std::function<bool(Block& completion)>;

    static DispatchReactor& instance();

    // Starts a level-triggered watch. Returns its token, or 0 with an error number in `error`.
    Token watch(int fd, Direction direction, ReadyHandler handler, int& error);
    // Removes the watch with this token if it is still there. When this returns, its handler is not
    // running and will not run again.
    void unwatch(int fd, Direction direction, Token token);

private:
    struct Slot {
        Token token = 0;
        ReadyHandler handler;
    };
    struct Entry {
        std::uint32_t generation = 0;
        std::uint32_t events = 0; // what epoll currently watches
        Slot reader;
        Slot writer;
    };

    DispatchReactor();
    void loop();
    void dispatchLocked(int fd, std::uint32_t generation, std::uint32_t events,
                        std::vector<ReadyHandler>& done, std::vector<Block>& completions);
    // Brings the epoll registration in line with the entry's slots; drops the entry when empty.
    int updateLocked(int fd, Entry& entry);

    const int _epoll;
    std::mutex _mutex;
    std::unordered_map<int, Entry> _entries;
    std::uint32_t _nextGeneration = 1;
    Token _nextToken = 1;
};

} // namespace platform::dispatch
