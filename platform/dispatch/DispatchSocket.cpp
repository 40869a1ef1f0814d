#include "DispatchSocket.h"

#include "DispatchReactor.h"
#include "GlobalQueue.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/types.h>

namespace platform::dispatch {

namespace {

// What a read without a limit takes at most, and what any single read takes at most.
constexpr std::size_t kReadSlice = 64 * 1024;
constexpr std::size_t kLargestRead = 256 * 1024;
// How deep completions that ran at once may nest on one thread before the next goes to the queue.
constexpr int kInlineDepthLimit = 16;
// What one turn of a file send sends at most before it lets other work of the queue run.
constexpr std::uint64_t kSendFileTurn = 64ull * 1024 * 1024;
// The largest count one sendfile call takes.
constexpr std::uint64_t kSendFileCall = 0x7ffff000;

thread_local int tInlineDepth = 0;

// Runs a completion now on this thread, or on the global queue once completions nest too deep.
template <class Completion> void complete(Completion&& completion) {
    if (tInlineDepth >= kInlineDepthLimit) {
        GlobalQueue::instance().async(Block(std::forward<Completion>(completion)));
        return;
    }
    struct Depth {
        Depth() { ++tInlineDepth; }
        ~Depth() { --tInlineDepth; }
    } depth;
    completion();
}

// Waits until the descriptor may be ready, then runs `retry` on the global queue; when it cannot
// wait (a bad descriptor), runs `failed` with the error instead.
template <class Failed>
void waitThen(int fd, DispatchReactor::Direction direction, Block retry, Failed&& failed) {
    int error = 0;
    if (DispatchReactor::instance().watch(fd, direction, std::move(retry), error) == 0) {
        complete([failed = std::forward<Failed>(failed), error]() mutable { failed(error); });
    }
}

// One non-blocking receive of at most `limit` bytes into `into`. Returns the count, or -1 with the
// error number in `error` (EAGAIN when nothing is there yet).
ssize_t receive(int fd, void* into, std::size_t limit, int& error) {
    for (;;) {
        const ssize_t count = ::recv(fd, into, limit, MSG_DONTWAIT);
        if (count >= 0) {
            return count;
        }
        if (errno != EINTR) {
            error = errno == EWOULDBLOCK ? EAGAIN : errno;
            return -1;
        }
    }
}

void startRead(int fd, std::size_t limit, ReadHandler handler) {
    // Bytes land in a scratch buffer of the thread and are copied into a vector of the exact size,
    // so small reads do not pin large allocations.
    thread_local Data scratch(kLargestRead);
    int error = 0;
    const ssize_t count = receive(fd, scratch.data(), limit, error);
    if (count < 0 && error == EAGAIN) {
        waitThen(
            fd, DispatchReactor::Direction::Read,
            [fd, limit, handler]() mutable { startRead(fd, limit, std::move(handler)); },
            [handler](int failure) { handler(Data{}, failure); });
        return;
    }
    Data bytes;
    if (count > 0) {
        bytes.assign(scratch.begin(), scratch.begin() + count);
    }
    complete([handler = std::move(handler), bytes = std::move(bytes),
              error = count < 0 ? error : 0]() mutable { handler(std::move(bytes), error); });
}

void startReadInto(int fd, std::uint8_t* buffer, std::size_t capacity, ReadIntoHandler handler) {
    int error = 0;
    const ssize_t count = receive(fd, buffer, capacity, error);
    if (count < 0 && error == EAGAIN) {
        waitThen(
            fd, DispatchReactor::Direction::Read,
            [fd, buffer, capacity, handler]() mutable {
                startReadInto(fd, buffer, capacity, std::move(handler));
            },
            [handler](int failure) { handler(0, failure); });
        return;
    }
    complete([handler = std::move(handler), count, error] {
        handler(count < 0 ? 0 : static_cast<std::size_t>(count), count < 0 ? error : 0);
    });
}

struct WriteOperation {
    int fd;
    std::shared_ptr<const Data> bytes;
    std::size_t offset = 0;
    WriteHandler handler;
};

void continueWrite(std::shared_ptr<WriteOperation> operation) {
    const std::size_t size = operation->bytes ? operation->bytes->size() : 0;
    int error = 0;
    while (operation->offset < size) {
        const ssize_t count = ::send(operation->fd, operation->bytes->data() + operation->offset,
                                     size - operation->offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count >= 0) {
            operation->offset += static_cast<std::size_t>(count);
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const int fd = operation->fd;
            waitThen(
                fd, DispatchReactor::Direction::Write, [operation] { continueWrite(operation); },
                [operation](int failure) {
                    operation->bytes.reset();
                    operation->handler(failure);
                });
            return;
        }
        error = errno;
        break;
    }
    operation->bytes.reset();
    complete([operation, error] { operation->handler(error); });
}

struct SendFileOperation {
    int fd;
    int file;
    std::uint64_t offset;
    std::uint64_t remaining;
    std::uint64_t sent = 0;
    SendFileHandler handler;
    SendFileProgress progress;
};

void finishSendFile(const std::shared_ptr<SendFileOperation>& operation, int error) {
    complete([operation, error] { operation->handler(operation->sent, error); });
}

// On a worker of the global queue: sends until the socket is full, the count is reached or a turn
// has been used up (then the rest goes back to the queue, behind the work waiting there).
void continueSendFile(std::shared_ptr<SendFileOperation> operation) {
    std::uint64_t turn = 0;
    while (operation->remaining > 0) {
        if (turn >= kSendFileTurn) {
            GlobalQueue::instance().async([operation] { continueSendFile(operation); });
            return;
        }
        auto offset = static_cast<off_t>(operation->offset);
        const ssize_t count =
            ::sendfile(operation->fd, operation->file, &offset,
                       static_cast<std::size_t>(std::min(operation->remaining, kSendFileCall)));
        if (count > 0) {
            const auto sent = static_cast<std::uint64_t>(count);
            operation->offset += sent;
            operation->remaining -= sent;
            operation->sent += sent;
            turn += sent;
            if (operation->progress) {
                operation->progress(sent);
            }
            continue;
        }
        if (count == 0) {
            finishSendFile(operation, EIO); // the file is shorter than it was
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const int fd = operation->fd;
            waitThen(
                fd, DispatchReactor::Direction::Write, [operation] { continueSendFile(operation); },
                [operation](int failure) { operation->handler(operation->sent, failure); });
            return;
        }
        finishSendFile(operation, errno);
        return;
    }
    finishSendFile(operation, 0);
}

} // namespace

void DispatchSocket::read(int fd, std::size_t maxLength, ReadHandler handler) {
    startRead(fd, maxLength == 0 ? kReadSlice : std::min(maxLength, kLargestRead), std::move(handler));
}

void DispatchSocket::readInto(int fd, std::uint8_t* buffer, std::size_t capacity, ReadIntoHandler handler) {
    startReadInto(fd, buffer, capacity, std::move(handler));
}

void DispatchSocket::write(int fd, std::shared_ptr<const Data> bytes, WriteHandler handler) {
    continueWrite(
        std::make_shared<WriteOperation>(WriteOperation{fd, std::move(bytes), 0, std::move(handler)}));
}

void DispatchSocket::sendFile(int fd, int file, std::uint64_t offset, std::uint64_t length,
                              SendFileHandler handler, SendFileProgress progress) {
    // sendfile takes no flag that keeps it from blocking: the socket itself must not block, or a
    // client that reads nothing holds a worker (and its idle time-out never fires).
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) {
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
    auto operation = std::make_shared<SendFileOperation>(
        SendFileOperation{fd, file, offset, length, 0, std::move(handler), std::move(progress)});
    // sendfile has no MSG_NOSIGNAL: it runs only where SIGPIPE is blocked.
    if (GlobalQueue::isWorkerThread()) {
        continueSendFile(std::move(operation));
    } else {
        GlobalQueue::instance().async([operation] { continueSendFile(operation); });
    }
}

void DispatchSocket::forget(int fd) {
    DispatchReactor::instance().forget(fd);
}

} // namespace platform::dispatch
