#pragma once

#include "foundation/Data.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform::dispatch {

// Completion of a one-shot read: `error` 0 with bytes, 0 with no bytes at the end of the stream,
// or an error number.
using ReadHandler = std::function<void(Data bytes, int error)>;
// Completion of a read into the caller's buffer: `count` bytes placed (0 at the end of the stream)
// with `error` 0, or an error number.
using ReadIntoHandler = std::function<void(std::size_t count, int error)>;
// Completion of a write: 0 when every byte was written, else an error number.
using WriteHandler = std::function<void(int error)>;
// Completion of a file send: 0 when every byte was sent, else an error number (EIO when the file
// ended before the count); `sent` bytes went out either way.
using SendFileHandler = std::function<void(std::uint64_t sent, int error)>;
// Told the count of each piece a file send got out, as it goes (on the sending thread).
using SendFileProgress = std::function<void(std::uint64_t sent)>;

// Asynchronous reads and writes on a connected socket. The descriptor stays owned by the caller,
// who closes it only after every started operation has completed (and then calls forget).
// Operations on one descriptor run one at a time (the caller starts the next from the completion
// of the last).
//
// An operation that completes at once runs its completion on the calling thread before returning
// (up to a nesting depth, beyond which it goes to the global queue, so that long chains of
// operations that each complete at once still yield); one that has to wait is watched by the
// reactor and finished on the global queue, which runs its completion.
class DispatchSocket {
public:
    // Reads whatever arrives first, at most `maxLength` bytes (0 means no limit: whatever arrives,
    // up to an internal slice), and completes once.
    static void read(int fd, std::size_t maxLength, ReadHandler handler);
    // The same into `buffer` (at most `capacity` bytes), which must stay valid until completion.
    static void readInto(int fd, std::uint8_t* buffer, std::size_t capacity, ReadIntoHandler handler);
    // Writes every byte of `bytes` (kept alive until the write ends; sent with MSG_NOSIGNAL) and
    // completes once.
    static void write(int fd, std::shared_ptr<const Data> bytes, WriteHandler handler);
    // Sends `length` bytes of the open `file` from `offset` on with sendfile(2), always on the global
    // queue's workers (which never take SIGPIPE), and completes once. The file's own position does
    // not move. A file that ends before the count fails the send with EIO. `progress`, when given,
    // hears of every piece that went out.
    static void sendFile(int fd, int file, std::uint64_t offset, std::uint64_t length,
                         SendFileHandler handler, SendFileProgress progress = nullptr);
    // The descriptor is being closed: drops the reactor's record of it.
    static void forget(int fd);
};

// Watches a listening socket: each time connections may be waiting, the event handler runs once
// on the global queue (it is expected to accept until none is left; the readiness may be
// spurious). The source starts suspended; resume arms it. Cancel stops the events, then runs the
// cancel handler once (on the global queue) after any running event handler has returned; the
// cancel handler owns closing the socket.
class DispatchAcceptSource {
public:
    virtual ~DispatchAcceptSource() = default;
    static std::shared_ptr<DispatchAcceptSource>
    create(int listeningSocket, std::function<void()> eventHandler, std::function<void()> cancelHandler);
    virtual void resume() = 0;
    virtual void cancel() = 0;
};

} // namespace platform::dispatch
