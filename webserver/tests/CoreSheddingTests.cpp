// What the server gives up when no descriptor is left, over real loopback sockets in this process
// under a lowered descriptor limit: which connection makes room for a newcomer, and what each
// client is told.

#include "CoreTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Reads at least `count` bytes (fewer when the socket ends or times out); returns how many.
std::size_t readAtLeast(const coretest::RawClient& client, std::size_t count) {
    std::size_t total = 0;
    char buffer[65536];
    while (total < count) {
        const ssize_t n = ::recv(client.fd(), buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    return total;
}

constexpr off_t kBigSize = 256 * 1024 * 1024; // sparse: more than the socket buffers hold

// GET /big (a large file), GET /slow (answered once released), GET /other, PUT /up (a body kept
// in memory), with enough descriptors open that the limit a test sets leaves fewer for connections
// than the fewest the server ever counts on (16).
class CoreShedding : public coretest::ServerTest {
protected:
    void SetUp() override {
        const int fd = ::mkstemp(_big);
        ASSERT_NE(fd, -1);
        ASSERT_EQ(::ftruncate(fd, kBigSize), 0);
        ::close(fd);
        server->addGETHandlerForPathWithFile("/big", _big, false, 0, false);
        addGet("/slow",
               [this](const std::shared_ptr<WebServerRequest>&, WebServerCompletionBlock completion) {
                   std::lock_guard guard(_lock);
                   _pending = std::move(completion);
               });
        addGet("/other",
               [](const std::shared_ptr<WebServerRequest>&) { return coretest::textResponse("other"); });
        server->addHandlerForMethod("PUT", "/up", WebServerRequestClass<coretest::CollectingRequest>(),
                                    [this](const std::shared_ptr<WebServerRequest>&) {
                                        ++handlerCalls;
                                        return coretest::textResponse("stored");
                                    });
        ASSERT_TRUE(startServer());
        while (coretest::openDescriptorCount() < 24) {
            _padding.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            ASSERT_NE(_padding.back(), -1);
        }
    }
    void TearDown() override {
        releaseSlow();
        for (const int descriptor : _padding) {
            ::close(descriptor);
        }
        ::unlink(_big);
        ServerTest::TearDown();
    }
    bool slowRuns() {
        std::lock_guard guard(_lock);
        return static_cast<bool>(_pending);
    }
    void releaseSlow() {
        std::lock_guard guard(_lock);
        if (_pending) {
            std::exchange(_pending, nullptr)(coretest::textResponse("slow"));
        }
    }

private:
    char _big[32] = "/tmp/lanyard-shed-XXXXXX";
    std::vector<int> _padding;
    std::mutex _lock;
    WebServerCompletionBlock _pending;
};

} // namespace

// With no descriptor left, a newcomer from another address gets in only at the cost of a connection
// whose request has not begun (its client is answered 503: it may try again) or whose answer's
// head is out (its answer is cut): never of one whose handler runs (the newcomer is refused with
// 503 instead). A body that comes then is refused with 503 before anything of it is stored.
TEST_F(CoreShedding, WhatGivesWayWhenNoDescriptorIsLeft) {
    enum class Stage { HeadUnfinished, HandlerRuns, AnswerGoesOut, BodyComes };
    const struct {
        Stage stage;
        std::string sent; // by the first client, before descriptors run out
        int newcomer;     // the newcomer's status; 0: none comes
        int first;        // the first client's status
    } rows[] = {
        {Stage::HeadUnfinished, "GET /other HTTP/1.1\r\nHo", 200, 503},
        {Stage::HandlerRuns, "GET /slow HTTP/1.1\r\nHost: x\r\n\r\n", 503, 200},
        {Stage::AnswerGoesOut, "GET /big HTTP/1.1\r\nHost: x\r\n\r\n", 200, 200},
        {Stage::BodyComes, "PUT /up HTTP/1.1\r\nHo", 0, 503},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sent);
        coretest::RawClient first;
        ASSERT_TRUE(first.connect(AF_INET, port(), false, "127.0.0.20"));
        ASSERT_TRUE(first.send(row.sent));
        for (int i = 0;
             i < 500 && (server->activeConnections() < 1 || (row.stage == Stage::HandlerRuns && !slowRuns()));
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // Bytes of the body have come: the head of the answer is out.
        std::string firstReply = row.stage == Stage::AnswerGoesOut ? first.readUntil("\r\n\r\n") : "";
        const std::size_t bodyRead = row.stage == Stage::AnswerGoesOut ? readAtLeast(first, 1 << 20) : 0;
        {
            // Every descriptor for connections is in use, and some beyond.
            const coretest::DescriptorLimit limit(static_cast<rlim_t>(coretest::openDescriptorCount() + 28));
            ASSERT_TRUE(limit.set());
            if (row.newcomer != 0) {
                coretest::RawClient newcomer;
                ASSERT_TRUE(newcomer.connect(AF_INET, port(), false, "127.0.0.21"));
                ASSERT_TRUE(newcomer.send("GET /other HTTP/1.1\r\nHost: x\r\n\r\n"));
                EXPECT_EQ(coretest::parseReply(newcomer.readAll()).status, row.newcomer);
            } else {
                ASSERT_TRUE(first.send("st: x\r\nContent-Length: 4\r\n\r\ndata"));
                firstReply = first.readUntil("\r\n\r\n");
            }
        }
        releaseSlow();
        firstReply += first.readAll();
        EXPECT_EQ(coretest::parseReply(firstReply).status, row.first);
        if (row.stage == Stage::AnswerGoesOut) { // cut short
            EXPECT_LT(firstReply.size() + bodyRead, static_cast<std::size_t>(kBigSize));
        }
        first.close();
        ASSERT_TRUE(waitForIdle());
    }
    EXPECT_EQ(handlerCalls, 0); // the body refused was never stored
}
