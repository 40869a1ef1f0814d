#include "DispatchTestSupport.h"
#include "dispatch/DispatchGroup.h"
#include "dispatch/DispatchSocket.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using namespace platform::dispatch;
using dispatchtest::kTimeout;
using dispatchtest::ScopedFd;

namespace {

// What one read delivered; counts completions so a second one is caught.
struct ReadOutcome {
    std::mutex mutex;
    int calls = 0;
    Data bytes;
    int error = -1;
    std::thread::id thread;
    DispatchSemaphore done;
};

std::shared_ptr<ReadOutcome> startRead(int fd, std::size_t maxLength) {
    auto outcome = std::make_shared<ReadOutcome>();
    DispatchSocket::read(fd, maxLength, [outcome](Data bytes, int error) {
        {
            std::lock_guard lock(outcome->mutex);
            ++outcome->calls;
            outcome->bytes = std::move(bytes);
            outcome->error = error;
            outcome->thread = std::this_thread::get_id();
        }
        outcome->done.signal();
    });
    return outcome;
}

struct WriteOutcome {
    std::atomic<int> calls{0};
    std::atomic<int> error{-1};
    DispatchSemaphore done;
};

std::shared_ptr<WriteOutcome> startWrite(int fd, Data bytes) {
    auto outcome = std::make_shared<WriteOutcome>();
    DispatchSocket::write(fd, std::make_shared<const Data>(std::move(bytes)), [outcome](int error) {
        outcome->error = error;
        ++outcome->calls;
        outcome->done.signal();
    });
    return outcome;
}

struct SocketPair {
    ScopedFd a;
    ScopedFd b;
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
            a.reset(fds[0]);
            b.reset(fds[1]);
            dispatchtest::setSocketTimeout(fds[0], kTimeout);
            dispatchtest::setSocketTimeout(fds[1], kTimeout);
        }
    }
};

void sendAll(int fd, const std::string& text) {
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

Data patternOf(std::size_t size) {
    Data bytes(size);
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

} // namespace

TEST(DispatchSocket, ReadWaitsForTheFirstBytesAndTakesAtMostMaxLength) {
    SocketPair pair;
    auto first = startRead(pair.a.get(), 4);
    EXPECT_FALSE(first->done.waitFor(0.05));
    sendAll(pair.b.get(), "abcdefghij");
    ASSERT_TRUE(first->done.waitFor(kTimeout));
    EXPECT_EQ(stringFromData(first->bytes), "abcd");
    EXPECT_EQ(first->error, 0);
    EXPECT_NE(first->thread, std::this_thread::get_id());
    auto rest = startRead(pair.a.get(), 0);
    ASSERT_TRUE(rest->done.waitFor(kTimeout));
    EXPECT_EQ(stringFromData(rest->bytes), "efghij");
    EXPECT_EQ(rest->calls, 1);
}

TEST(DispatchSocket, ReadReportsEndOfStream) {
    SocketPair pair;
    auto pending = startRead(pair.a.get(), 0);
    ::shutdown(pair.b.get(), SHUT_WR);
    ASSERT_TRUE(pending->done.waitFor(kTimeout));
    EXPECT_TRUE(pending->bytes.empty());
    EXPECT_EQ(pending->error, 0);
    auto again = startRead(pair.a.get(), 0); // already at the end: completes at once
    ASSERT_TRUE(again->done.waitFor(kTimeout));
    EXPECT_TRUE(again->bytes.empty());
    EXPECT_EQ(again->error, 0);
}

TEST(DispatchSocket, ReadReportsAConnectionResetAndBadDescriptors) {
    std::uint16_t port = 0;
    ScopedFd listener(dispatchtest::listenOnLoopback(port));
    ASSERT_GE(listener.get(), 0);
    ScopedFd client(dispatchtest::connectToLoopback(port));
    ASSERT_GE(client.get(), 0);
    ScopedFd server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_GE(server.get(), 0);
    auto outcome = startRead(server.get(), 0);
    linger abort{1, 0};
    ASSERT_EQ(::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    client.reset(); // sends a reset
    ASSERT_TRUE(outcome->done.waitFor(kTimeout));
    EXPECT_TRUE(outcome->bytes.empty());
    EXPECT_EQ(outcome->error, ECONNRESET);

    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    ScopedFd readEnd(pipeFds[0]);
    ScopedFd writeEnd(pipeFds[1]);
    auto notSocket = startRead(readEnd.get(), 0);
    ASSERT_TRUE(notSocket->done.waitFor(kTimeout));
    EXPECT_EQ(notSocket->error, ENOTSOCK);
    auto closed = startRead(-1, 0);
    ASSERT_TRUE(closed->done.waitFor(kTimeout));
    EXPECT_EQ(closed->error, EBADF);
    EXPECT_TRUE(closed->bytes.empty());
}

TEST(DispatchSocket, WritesALargeBufferToASlowReaderWhileAReadWaits) {
    SocketPair pair;
    auto reply = startRead(pair.a.get(), 0);
    const Data sent = patternOf(8 * 1024 * 1024 + 17);
    auto outcome = startWrite(pair.a.get(), sent);
    Data received;
    received.reserve(sent.size());
    std::vector<std::uint8_t> chunk(64 * 1024);
    int slowReads = 0;
    while (received.size() < sent.size()) {
        const ssize_t count = ::recv(pair.b.get(), chunk.data(), chunk.size(), 0);
        ASSERT_GT(count, 0) << "reader timed out or failed, errno " << errno;
        received.insert(received.end(), chunk.begin(), chunk.begin() + count);
        if (slowReads++ < 40) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ASSERT_TRUE(outcome->done.waitFor(kTimeout));
    EXPECT_EQ(outcome->error.load(), 0);
    EXPECT_TRUE(received == sent);
    EXPECT_FALSE(reply->done.waitFor(0));
    sendAll(pair.b.get(), "thanks");
    ASSERT_TRUE(reply->done.waitFor(kTimeout));
    EXPECT_EQ(stringFromData(reply->bytes), "thanks");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(outcome->calls.load(), 1);
}

TEST(DispatchSocket, EmptyWriteCompletesAndWriteToAClosedPeerFailsWithoutASignal) {
    SocketPair pair;
    auto empty = startWrite(pair.a.get(), Data{});
    ASSERT_TRUE(empty->done.waitFor(kTimeout));
    EXPECT_EQ(empty->error.load(), 0);
    pair.b.reset();
    auto outcome = startWrite(pair.a.get(), patternOf(1024 * 1024));
    ASSERT_TRUE(outcome->done.waitFor(kTimeout));
    EXPECT_TRUE(outcome->error.load() == EPIPE || outcome->error.load() == ECONNRESET)
        << outcome->error.load();
}

TEST(DispatchSocket, PeerClosingDuringALongWriteFailsTheWrite) {
    SocketPair pair;
    auto outcome = startWrite(pair.a.get(), patternOf(16 * 1024 * 1024));
    EXPECT_FALSE(outcome->done.waitFor(0.05)); // stuck: nobody reads
    pair.b.reset();
    ASSERT_TRUE(outcome->done.waitFor(kTimeout));
    EXPECT_NE(outcome->error.load(), 0);
}

TEST(DispatchSocket, ChainedReadsStreamEverything) {
    // The way a connection uses it: each completion starts the next read, until the end.
    SocketPair pair;
    const Data sent = patternOf(3 * 1024 * 1024 + 5);
    struct Stream {
        int fd;
        Data received;
        DispatchSemaphore ended;
        int error = 0;
        void next(const std::shared_ptr<Stream>& self) {
            DispatchSocket::read(fd, 0, [self](Data bytes, int failure) {
                if (failure != 0 || bytes.empty()) {
                    self->error = failure;
                    self->ended.signal();
                    return;
                }
                self->received.insert(self->received.end(), bytes.begin(), bytes.end());
                self->next(self);
            });
        }
    };
    auto stream = std::make_shared<Stream>();
    stream->fd = pair.a.get();
    stream->next(stream);
    std::thread writer([&] {
        std::size_t offset = 0;
        while (offset < sent.size()) {
            const ssize_t count = ::send(pair.b.get(), sent.data() + offset,
                                         std::min<std::size_t>(100000, sent.size() - offset), MSG_NOSIGNAL);
            if (count <= 0) {
                break;
            }
            offset += static_cast<std::size_t>(count);
        }
        ::shutdown(pair.b.get(), SHUT_WR);
    });
    const bool ended = stream->ended.waitFor(kTimeout);
    writer.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(stream->error, 0);
    EXPECT_TRUE(stream->received == sent);
}

TEST(DispatchSocket, ManyConnectionsWaitAtOnce) {
    constexpr int kPairs = 200;
    std::vector<std::unique_ptr<SocketPair>> pairs;
    std::vector<std::shared_ptr<ReadOutcome>> outcomes;
    for (int i = 0; i < kPairs; ++i) {
        pairs.push_back(std::make_unique<SocketPair>());
        ASSERT_GE(pairs.back()->a.get(), 0);
        outcomes.push_back(startRead(pairs.back()->a.get(), 0));
    }
    for (int i = 0; i < kPairs; ++i) {
        const std::string tag = std::to_string(i);
        ::send(pairs[i]->b.get(), tag.data(), tag.size(), MSG_NOSIGNAL);
    }
    for (int i = 0; i < kPairs; ++i) {
        ASSERT_TRUE(outcomes[i]->done.waitFor(kTimeout)) << i;
        EXPECT_EQ(stringFromData(outcomes[i]->bytes), std::to_string(i));
    }
}

TEST(DispatchSocket, AReadThatCompletesAtOnceRunsOnTheCallersThreadAndDeepChainsStillYield) {
    SocketPair pair;
    sendAll(pair.b.get(), "x");
    auto now = startRead(pair.a.get(), 0);
    ASSERT_TRUE(now->done.waitFor(0)) << "completed before read returned";
    EXPECT_EQ(now->thread, std::this_thread::get_id());

    // 5,000 one-byte reads that each complete at once, each started from the last completion:
    // the nesting stays bounded (no stack overflow) and every byte arrives once, in order.
    constexpr int kBytes = 5000;
    std::string sent;
    for (int i = 0; i < kBytes; ++i) {
        sent.push_back(static_cast<char>('a' + i % 26));
    }
    sendAll(pair.b.get(), sent);
    struct Chain {
        int fd;
        std::string received;
        DispatchSemaphore ended;
        void next(const std::shared_ptr<Chain>& self) {
            DispatchSocket::read(fd, 1, [self](Data bytes, int error) {
                if (error == 0 && !bytes.empty()) {
                    self->received.append(bytes.begin(), bytes.end());
                }
                if (error != 0 || bytes.empty() || self->received.size() == kBytes) {
                    self->ended.signal();
                    return;
                }
                self->next(self);
            });
        }
    };
    auto chain = std::make_shared<Chain>();
    chain->fd = pair.a.get();
    chain->next(chain);
    ASSERT_TRUE(chain->ended.waitFor(kTimeout));
    EXPECT_EQ(chain->received, sent);
}

TEST(DispatchSocket, SendFileSendsTheRangeAndFailsOnAShortFile) {
    char pattern[] = "/tmp/lanyard-sendfile-XXXXXX";
    ScopedFd file(::mkstemp(pattern));
    ASSERT_GE(file.get(), 0);
    ::unlink(pattern);
    const Data content = patternOf(3 * 1024 * 1024 + 3);
    ASSERT_EQ(::write(file.get(), content.data(), content.size()), static_cast<ssize_t>(content.size()));
    struct Outcome {
        std::atomic<int> error{-1};
        std::atomic<std::uint64_t> sent{0};
        DispatchSemaphore done;
    };
    const auto send = [&](int fd, std::uint64_t offset, std::uint64_t length) {
        auto outcome = std::make_shared<Outcome>();
        DispatchSocket::sendFile(fd, file.get(), offset, length, [outcome](std::uint64_t sent, int error) {
            outcome->sent = sent;
            outcome->error = error;
            outcome->done.signal();
        });
        return outcome;
    };
    const auto receive = [](int fd, std::size_t size) {
        Data received(size);
        std::size_t got = 0;
        while (got < size) {
            const ssize_t count = ::recv(fd, received.data() + got, size - got, 0);
            if (count <= 0) {
                break;
            }
            got += static_cast<std::size_t>(count);
        }
        received.resize(got);
        return received;
    };
    SocketPair pair;
    const std::uint64_t offset = 1000, length = 2 * 1024 * 1024 + 5;
    auto ranged = send(pair.a.get(), offset, length);
    const Data received = receive(pair.b.get(), length);
    ASSERT_TRUE(ranged->done.waitFor(kTimeout));
    EXPECT_EQ(ranged->error.load(), 0);
    EXPECT_EQ(ranged->sent.load(), length);
    EXPECT_TRUE(received == Data(content.begin() + offset, content.begin() + offset + length));
    EXPECT_EQ(::lseek(file.get(), 0, SEEK_CUR), static_cast<off_t>(content.size())) << "the position stays";

    auto tooLong = send(pair.a.get(), content.size() - 10, 100);
    const Data tail = receive(pair.b.get(), 10);
    ASSERT_TRUE(tooLong->done.waitFor(kTimeout));
    EXPECT_EQ(tooLong->error.load(), EIO);
    EXPECT_EQ(tooLong->sent.load(), 10u);
    EXPECT_EQ(tail.size(), 10u);

    pair.b.reset();
    auto closedPeer = send(pair.a.get(), 0, content.size()); // EPIPE, and no SIGPIPE kills the test
    ASSERT_TRUE(closedPeer->done.waitFor(kTimeout));
    EXPECT_NE(closedPeer->error.load(), 0);
}
