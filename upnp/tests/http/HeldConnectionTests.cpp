// A newcomer for which no room can be made at once waits a moment instead of being refused, and
// a refusal arrives as a 503 followed by an orderly end, not a reset.
#include "HttpTestSupport.h"
#include "UP_HttpWaitingList.h"

#include <fcntl.h>
#include <string>
#include <thread>

using namespace http_test;

namespace {

// Nothing that is listed may give way (every grace is long).
UP_HttpServerLimits NothingGivesWay(KL_Timeout room_wait) {
    UP_HttpServerLimits limits;
    limits.m_IdleTimeout = 60000;
    limits.m_RoomGrace = 60000;
    limits.m_PauseLimit = 0;
    limits.m_RoomWait = room_wait;
    return limits;
}

// Reads up to the end of the connection (5 s at most): what came, and whether it ended with an
// orderly end rather than a reset or a time-out.
std::string ReadToEnd(int fd, bool& orderly) {
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string received;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            orderly = n == 0;
            return received;
        }
        received.append(buffer, size_t(n));
    }
}

// Sends all of bytes in one call; false when the connection refuses them.
bool Send(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

class HeldConnectionTest : public ServerFixture {
protected:
    void TearDown() override {
        for (int fd : m_Fds) {
            ::close(fd);
        }
        ServerFixture::TearDown();
    }
    int Open(const char* local) {
        const int fd = ConnectFrom(local, m_Port);
        m_Fds.push_back(fd);
        return fd;
    }
    // A server with one slot, taken by a connection that never gives way, and a newcomer that
    // waits room_wait for it (-1 when something fails).
    int NewcomerBehindTheOneSlot(KL_Timeout room_wait) {
        const UP_HttpServerLimits limits = NothingGivesWay(room_wait);
        StartServer("", &limits, 2);
        return Open("127.0.0.1") < 0 ? -1 : Open("127.0.0.1");
    }
    std::vector<int> m_Fds;
};

} // namespace

// A burst of one client beyond the slots: every slot is held by a connection of its that may not
// give way yet; one of them goes while the newcomer waits, and the newcomer is served, also when
// it ended its side once its request was sent.
TEST_F(HeldConnectionTest, NewcomerWaitsForAFreedSlot) {
    for (const bool half_closed : {false, true}) {
        SCOPED_TRACE(half_closed ? "half-closed" : "open");
        const UP_HttpServerLimits limits = NothingGivesWay(5000);
        StartServer("", &limits, 3); // 2 slots
        const int first = Open("127.0.0.1");
        ASSERT_GE(first, 0);
        ASSERT_GE(Open("127.0.0.1"), 0);
        const int newcomer = Open("127.0.0.1");
        ASSERT_GE(newcomer, 0);
        const std::string request = Get("/echo");
        ASSERT_TRUE(Send(newcomer, request));
        if (half_closed) {
            ::shutdown(newcomer, SHUT_WR);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // it is held
        ::shutdown(first, SHUT_RDWR);                                // its slot frees
        EXPECT_TRUE(Answered(newcomer));
    }
}

// The one slot is taken by an answer its client does not read yet; a newcomer tells it to end,
// after the head went out: it ends once that answer is written, whole, and the newcomer is served.
TEST_F(HeldConnectionTest, AConnectionToldToEndWhileItAnswersEndsAfterThatAnswer) {
    char dir_template[] = "/tmp/upnp-held-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    const std::string file = dir + "/one.bin";
    const int out = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(out, 0);
    ASSERT_EQ(::ftruncate(out, 1024 * 1024), 0);
    ::close(out);
    UP_HttpServerLimits limits = NothingGivesWay(5000);
    limits.m_Turn = 0;            // but it may be told to end after its answer
    StartServer(dir, &limits, 2); // 1 slot
    const int reader = ConnectFrom("127.0.0.1", m_Port, true);
    ASSERT_GE(reader, 0);
    m_Fds.push_back(reader);
    ASSERT_TRUE(Send(reader, Get("/files/one.bin")));
    char status[12];
    ASSERT_EQ(::recv(reader, status, sizeof status, MSG_PEEK | MSG_WAITALL), ssize_t(sizeof status));
    const int newcomer = Open("127.0.0.2");
    ASSERT_GE(newcomer, 0);
    ASSERT_TRUE(Send(newcomer, Get("/echo")));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // held: it told the reader to end
    bool orderly = false;
    const std::string answer = ReadToEnd(reader, orderly);
    EXPECT_TRUE(orderly);
    const size_t head = answer.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_EQ(answer.size() - head - 4, size_t(1024 * 1024));
    EXPECT_TRUE(Answered(newcomer));
    ::unlink(file.c_str());
    ::rmdir(dir.c_str());
}

// No slot frees within the wait: the newcomer, which sent a request with a body, reads the 503 and
// then the end of the connection.
TEST_F(HeldConnectionTest, RefusalIsReadNotReset) {
    const int newcomer = NewcomerBehindTheOneSlot(200);
    ASSERT_GE(newcomer, 0);
    const std::string body(100000, 'x');
    const std::string request =
        "POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    timeval tv{5, 0};
    ::setsockopt(newcomer, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    (void)::send(newcomer, request.data(), request.size(), MSG_NOSIGNAL);
    bool orderly = false;
    const std::string answer = ReadToEnd(newcomer, orderly);
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 503");
    EXPECT_TRUE(orderly);
}

// One address has as many newcomers waiting as it may: the next one is answered 503 at once
// rather than after the wait, and those that came first keep their places.
TEST_F(HeldConnectionTest, NewestBeyondAnAddressShareIsRefusedAtOnce) {
    const UP_HttpServerLimits limits = NothingGivesWay(20000);
    StartServer("", &limits, 2); // 1 slot
    ASSERT_GE(Open("127.0.0.1"), 0);
    for (size_t i = 0; i < UP_HttpWaitingList::kMaxHeldPerPeer; ++i) {
        ASSERT_GE(Open("127.0.0.1"), 0);
    }
    const int newest = Open("127.0.0.1");
    ASSERT_GE(newest, 0);
    bool orderly = false;
    EXPECT_EQ(ReadToEnd(newest, orderly).substr(0, 12), "HTTP/1.1 503");
}

// The one slot is held by a kept-alive client whose requests keep being answered: the newcomer
// waits past the room wait (the server is busy, not held) and is served once that client's
// connection ends after an answer (told to give way) or the client goes.
TEST_F(HeldConnectionTest, NewcomerWaitsOnWhileAnswersFinish) {
    const UP_HttpServerLimits limits = NothingGivesWay(300);
    StartServer("", &limits, 2); // 1 slot
    const int busy = Open("127.0.0.1");
    ASSERT_GE(busy, 0);
    const std::string request = Get("/echo");
    ASSERT_TRUE(Send(busy, request));
    ASSERT_TRUE(Answered(busy));
    const int newcomer = Open("127.0.0.1");
    ASSERT_GE(newcomer, 0);
    ASSERT_TRUE(Send(newcomer, request));
    for (int i = 0; i < 10; ++i) { // a request every 100 ms for 1 s
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        char drain[4096];
        (void)::recv(busy, drain, sizeof drain, MSG_DONTWAIT);
        if (!Send(busy, request)) {
            break; // its connection gave way
        }
    }
    ::shutdown(busy, SHUT_RDWR);
    EXPECT_TRUE(Answered(newcomer));
}

// A held newcomer whose client gives up before its request is dropped, never admitted: the
// kept-alive connection that could give way to it once its grace is over keeps its slot.
TEST_F(HeldConnectionTest, GoneWaiterIsNeverAdmitted) {
    UP_HttpServerLimits limits = NothingGivesWay(10000);
    limits.m_RoomGrace = 500;
    StartServer("", &limits, 2); // 1 slot
    const int kept = Open("127.0.0.2");
    ASSERT_GE(kept, 0);
    const std::string request = Get("/echo");
    ASSERT_TRUE(Send(kept, request));
    ASSERT_TRUE(Answered(kept));
    const int gone = ConnectFrom("127.0.0.3", m_Port);
    ASSERT_GE(gone, 0);
    ::close(gone);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000)); // past the grace
    char rest[4096];
    (void)::recv(kept, rest, sizeof rest, MSG_DONTWAIT); // the rest of the first answer
    ASSERT_TRUE(Send(kept, request));
    EXPECT_TRUE(Answered(kept));
}

// A refused client that sends its request in pieces, 100 ms apart, reads the 503 and the end of
// the answer while it still sends, and meets no reset while the server drains: the server ends
// its side at once and reads what comes, in passes, until the drain is over.
TEST_F(HeldConnectionTest, RefusedClientSendingInPiecesIsNeverReset) {
    const int newcomer = NewcomerBehindTheOneSlot(200);
    ASSERT_GE(newcomer, 0);
    const std::string piece(1000, 'x');
    const std::string head = "POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 3000\r\n\r\n";
    ASSERT_TRUE(Send(newcomer, head));
    timeval tv{5, 0};
    ::setsockopt(newcomer, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char status[12];
    ASSERT_EQ(::recv(newcomer, status, sizeof status, MSG_PEEK | MSG_WAITALL), ssize_t(sizeof status));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(Send(newcomer, piece));
    bool orderly = false;
    EXPECT_EQ(ReadToEnd(newcomer, orderly).substr(0, 12), "HTTP/1.1 503");
    EXPECT_TRUE(orderly);
    for (int i = 0; i < 2; ++i) { // the rest of the body, after the end of the answer
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(Send(newcomer, piece)) << std::strerror(errno);
    }
    // A client that never stops sending is closed once the drain is over (5 s at most here).
    bool closed = false;
    for (int i = 0; i < 50 && !closed; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        closed = ::send(newcomer, piece.data(), piece.size(), MSG_NOSIGNAL) < 0;
    }
    EXPECT_TRUE(closed);
}
