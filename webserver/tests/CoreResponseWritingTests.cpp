// Writing responses: body readers that fail or lose their client, and many clients at once.

#include "CoreTestSupport.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

using coretest::get;
using coretest::HttpReply;

namespace {

// A body of `size` bytes of "x" in 64 KiB pieces; fails to open or to read the Nth piece on request.
class FaultyResponse : public WebServerResponse {
public:
    struct Record {
        std::atomic<int> opens{0};
        std::atomic<int> closes{0};
        std::atomic<int> reads{0};
    };

    FaultyResponse(std::shared_ptr<Record> record, std::size_t size, bool failOpen, int failOnRead)
        : _record(std::move(record)), _remaining(size), _failOpen(failOpen), _failOnRead(failOnRead) {
        setContentType("application/octet-stream");
        setContentLength(size);
    }
    bool open(Error* error) override {
        ++_record->opens;
        if (_failOpen) {
            platform::setError(error, Error::make("TestDomain", 1, "cannot open"));
        }
        return !_failOpen;
    }
    std::optional<Data> readData(Error* error) override {
        if (++_record->reads == _failOnRead) {
            platform::setError(error, Error::make("TestDomain", 2, "cannot read"));
            return std::nullopt;
        }
        const std::size_t take = std::min<std::size_t>(_remaining, 64 * 1024);
        _remaining -= take;
        return Data(take, 'x');
    }
    void close() override { ++_record->closes; }

private:
    std::shared_ptr<Record> _record;
    std::size_t _remaining;
    bool _failOpen;
    int _failOnRead;
};

class CoreResponseWriting : public coretest::ServerTest {
protected:
    void addFaulty(const std::string& path, std::size_t size, bool failOpen, int failOnRead) {
        addGet(path, [this, size, failOpen, failOnRead](const std::shared_ptr<WebServerRequest>&) {
            return std::make_shared<FaultyResponse>(record, size, failOpen, failOnRead);
        });
    }
    std::shared_ptr<FaultyResponse::Record> record = std::make_shared<FaultyResponse::Record>();
};

} // namespace

TEST_F(CoreResponseWriting, BodyThatCannotBeOpenedGives500) {
    addFaulty("/f", 10, true, 0);
    ASSERT_TRUE(startServer());
    HttpReply reply = get(port(), "/f");
    EXPECT_EQ(reply.status, 500);
    EXPECT_TRUE(reply.body.empty());
    EXPECT_EQ(record->reads, 0);
}

TEST_F(CoreResponseWriting, ReadFailureEndsTheBodyAndClosesIt) {
    addFaulty("/f", 1 << 20, false, 3);
    ASSERT_TRUE(startServer());
    HttpReply reply = get(port(), "/f");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(*reply.header("Content-Length"), std::to_string(1 << 20));
    EXPECT_EQ(reply.body.size(), 2u * 64 * 1024); // the two pieces read before the failure
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(record->opens, 1);
    EXPECT_EQ(record->closes, 1);
}

TEST_F(CoreResponseWriting, ClientLeavingMidBodyClosesTheBody) {
    addFaulty("/big", 64u << 20, false, 0);
    ASSERT_TRUE(startServer());
    {
        coretest::RawClient client;
        ASSERT_TRUE(client.connect(AF_INET, port()));
        ASSERT_TRUE(client.send("GET /big HTTP/1.1\r\n\r\n"));
        EXPECT_FALSE(client.readUntil("xxxx").empty());
    } // closed with most of the body unsent
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(record->closes, 1);
    EXPECT_LT(record->reads, 1024); // stopped reading long before the end
}

TEST_F(CoreResponseWriting, HeadRequestDoesNotOpenTheBody) {
    addFaulty("/f", 1000, false, 0);
    ASSERT_TRUE(startServer());
    HttpReply reply = coretest::exchange(port(), "HEAD /f HTTP/1.1\r\n\r\n");
    EXPECT_EQ(*reply.header("Content-Length"), "1000");
    EXPECT_TRUE(reply.body.empty());
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(record->opens, 0);
    EXPECT_EQ(record->closes, 0);
}

TEST_F(CoreResponseWriting, ManyClientsAtOnce) {
    coretest::addEchoHandler(*server, &handlerCalls);
    ASSERT_TRUE(startServer({{WebServerOption_MaxPendingConnections, 64LL}}));
    std::atomic<int> correct{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 24; ++i) {
        clients.emplace_back([this, i, &correct] {
            for (int round = 0; round < 4; ++round) {
                const std::string body(static_cast<std::size_t>(1000 * i + round),
                                       static_cast<char>('a' + i));
                const std::string path = "/c" + std::to_string(i) + "r" + std::to_string(round);
                HttpReply reply = coretest::exchange(
                    port(), "POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\n\r\n" + body);
                correct += reply.status == 200 && reply.body == "POST " + path + "\n" + body;
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    EXPECT_EQ(correct, 24 * 4);
    EXPECT_EQ(handlerCalls, 24 * 4);
    EXPECT_TRUE(waitForIdle());
    EXPECT_EQ(server->activeConnections(), 0);
}

// A client that sends its next request as the answer begins, then reads slowly through a small
// window, gets the whole answer and the end of the stream: the close that follows the answer never
// resets the connection (ECONNRESET) under what the server had not sent yet.
TEST_F(CoreResponseWriting, PipelinedRequestNeverCutsTheAnswer) {
    constexpr std::size_t kSize = 2 << 20;
    addFaulty("/big", kSize, false, 0);
    ASSERT_TRUE(startServer());
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    const int window = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    timeval timeout{static_cast<time_t>(coretest::kSocketTimeout), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /big HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    char buffer[4096];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0); // the answer has begun
    ASSERT_GT(n, 0);
    std::string received(buffer, static_cast<std::size_t>(n));
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the answer fills the window
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
        received.append(buffer, static_cast<std::size_t>(n));
    }
    const int error = n < 0 ? errno : 0;
    ::close(fd);
    EXPECT_EQ(n, 0) << std::strerror(error);
    const HttpReply reply = coretest::parseReply(received);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.size(), kSize);
}
