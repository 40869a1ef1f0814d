#include "DispatchSocket.h"

#include "DispatchReactor.h"
#include "GlobalQueue.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <sys/types.h>

namespace platform::dispatch {

namespace {

// What a read without a limit takes at most, and what any single read takes at most.
constexpr std::size_t kReadSlice = 64 * 1024;
constexpr std::size_t kLargestRead = 256 * 1024;

Block readCompletion(ReadHandler handler, Data bytes, int error) {
    return [handler = std::move(handler), bytes = std::move(bytes), error]() mutable {
        handler(std::move(bytes), error);
    };
}

Block writeCompletion(WriteHandler handler, int error) {
    return [handler = std::move(handler), error] { handler(error); };
}

// One non-blocking receive of at most `limit` bytes. Returns false when nothing is there yet;
// otherwise `bytes` and `error` hold the outcome. Bytes land in a scratch buffer of the thread and
// are copied into a vector of the exact size, so small reads do not pin large allocations.
bool tryRead(int fd, std::size_t limit, Data& bytes, int& error) {
    thread_local Data scratch(kLargestRead);
    for (;;) {
        const ssize_t count = ::recv(fd, scratch.data(), limit, MSG_DONTWAIT);
        if (count >= 0) {
            bytes.assign(scratch.begin(), scratch.begin() + count);
            error = 0;
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return false;
        }
        error = errno;
        return true;
    }
}

struct ReadOperation {
    int fd;
    std::size_t limit;
    ReadHandler handler;

    // Returns false while nothing is there; otherwise sets the completion to post.
    bool step(Block& completion) {
        Data bytes;
        int error = 0;
        if (!tryRead(fd, limit, bytes, error)) {
            return false;
        }
        completion = readCompletion(std::move(handler), std::move(bytes), error);
        return true;
    }
};

struct WriteOperation {
    int fd;
    std::shared_ptr<const Data> bytes;
    std::size_t offset = 0;
    WriteHandler handler;

    // Sends as much as the socket takes. Returns false when it has to wait for room; otherwise sets
    // the completion to post.
    bool step(Block& completion) {
        const std::size_t size = bytes ? bytes->size() : 0;
        while (offset < size) {
            const ssize_t count =
                ::send(fd, bytes->data() + offset, size - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (count >= 0) {
                offset += static_cast<std::size_t>(count);
                continue;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return false;
            }
            completion = finish(errno);
            return true;
        }
        completion = finish(0);
        return true;
    }

    Block finish(int error) {
        bytes.reset();
        return writeCompletion(std::move(handler), error);
    }
};

} // namespace

void DispatchSocket::read(int fd, std::size_t maxLength, ReadHandler handler) {
    const std::size_t limit = maxLength == 0 ? kReadSlice : std::min(maxLength, kLargestRead);
    auto operation = std::make_shared<ReadOperation>(ReadOperation{fd, limit, std::move(handler)});
    Block completion;
    if (!operation->step(completion)) {
        int error = 0;
        const auto token = DispatchReactor::instance().watch(
            fd, DispatchReactor::Direction::Read,
            [operation](Block& ready) { return operation->step(ready); }, error);
        if (token != 0) {
            return;
        }
        completion = readCompletion(std::move(operation->handler), Data{}, error);
    }
    GlobalQueue::instance().async(std::move(completion));
}

void DispatchSocket::write(int fd, std::shared_ptr<const Data> bytes, WriteHandler handler) {
    auto operation =
        std::make_shared<WriteOperation>(WriteOperation{fd, std::move(bytes), 0, std::move(handler)});
    Block completion;
    if (!operation->step(completion)) {
        int error = 0;
        const auto token = DispatchReactor::instance().watch(
            fd, DispatchReactor::Direction::Write,
            [operation](Block& ready) { return operation->step(ready); }, error);
        if (token != 0) {
            return;
        }
        completion = operation->finish(error);
    }
    GlobalQueue::instance().async(std::move(completion));
}

} // namespace platform::dispatch
