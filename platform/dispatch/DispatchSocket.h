#pragma once

#include "foundation/Data.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace platform::dispatch {

// Completion of a one-shot read: `error` 0 with bytes, 0 with no bytes at the end of the stream,
// or an error number.
using ReadHandler = std::function<void(Data bytes, int error)>;
// Completion of a write: 0 when every byte was written, else an error number.
using WriteHandler = std::function<void(int error)>;

// Asynchronous reads and writes on a connected socket. The descriptor stays owned by the caller,
// who closes it only after every started operation has completed. Operations on one descriptor
// run one at a time (the caller starts the next from the completion of the last). Completions run
// on the global queue.
class DispatchSocket {
public:
    // Reads whatever arrives first, at most `maxLength` bytes (0 means no limit: whatever arrives,
    // up to an internal slice), and completes once.
    static void read(int fd, std::size_t maxLength, ReadHandler handler);
    // Writes every byte of `bytes` (kept alive until the write ends; sent with MSG_NOSIGNAL) and
    // completes once.
    static void write(int fd, std::shared_ptr<const Data> bytes, WriteHandler handler);
};

// Watches a listening socket: each time a connection is waiting, the event handler runs once on
// the global queue (it is expected to accept one connection). The source starts suspended; resume
// arms it. Cancel stops the events, then runs the cancel handler once (on the global queue) after
// any running event handler has returned; the cancel handler owns closing the socket.
class DispatchAcceptSource {
public:
    virtual ~DispatchAcceptSource() = default;
    static std::shared_ptr<DispatchAcceptSource>
    create(int listeningSocket, std::function<void()> eventHandler, std::function<void()> cancelHandler);
    virtual void resume() = 0;
    virtual void cancel() = 0;
};

} // namespace platform::dispatch
