// Clients that hold the server's connection slots (idle, trickling a head or a body, reading
// nothing of an answer), one peer with many connections, a kept-alive connection that keeps
// asking, an idle kept-alive connection, and failing accepts: a real client is still answered.
// A newcomer never closes a connection before the refusal it is writing is out. Short limits come
// through SetLimits.
#include "HttpTestSupport.h"
#include "KL_Socket.h"
#include "KL_TcpServerSocket.h"
#include "ScriptedSocket.h"
#include "UP_HttpConnectionSlots.h"
#include "UP_HttpListenTask.h"
#include "UP_HttpSocketProbe.h"
#include "UP_TaskManager.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <netinet/tcp.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace http_test;

namespace {

// True when the server closes the connection (end of stream or reset) within 5 s.
bool ClosedByServer(int fd) {
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false; // nothing within 5 s
        }
    }
}

// A GET from the local address answered 200 within the time; an attempt refused (503 or a
// close) while room is made is tried again.
bool ServedWithin(const char* local, uint16_t port, std::chrono::milliseconds time) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + time;
    const std::string request = Get("/echo");
    for (auto left = time; left.count() > 0;
         left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())) {
        const int fd = ConnectFrom(local, port, false, int(left.count()));
        if (fd < 0) {
            continue;
        }
        timeval tv{long(left.count() / 1000), long(left.count() % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char status[12] = {};
        const bool served =
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()) &&
            ::recv(fd, status, sizeof status, MSG_WAITALL) == ssize_t(sizeof status) &&
            std::string(status, sizeof status) == "HTTP/1.1 200";
        ::close(fd);
        if (served) {
            return Clock::now() <= deadline;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Limits short enough for a test; the wait for a request stays long, so that only the room
// made for new connections can free an idle one.
const UP_HttpServerLimits kShortLimits = [] {
    UP_HttpServerLimits limits;
    limits.m_IdleTimeout = 60000;
    limits.m_HeadDeadline = 500;
    limits.m_BodyDeadline = 500;
    limits.m_WriteTimeout = 500;
    limits.m_MaxConnectionsPerPeer = 0;
    limits.m_RoomGrace = 200;
    limits.m_RateWindow = 1000;
    limits.m_PauseLimit = 300;
    limits.m_RoomWait = 500;
    return limits;
}();

// Connections of several peers (127.0.1.1, 127.0.1.2, ...) that hold more of the server's
// slots than it has, the way a hostile host does, kept up by a thread of their own until the
// flood goes (15 s at most).
class Flood {
public:
    enum class Shape {
        TricklingHeads,      // always part way through a head: one byte every 100 ms
        NonReadingDownloads, // a large file asked for, nothing of it read
        ReconnectingIdle,    // nothing sent; reopened as soon as the server closes it
    };
    Flood(Shape shape, uint16_t port, int peers, int per_peer)
        : m_Shape(shape), m_Port(port), m_PerPeer(per_peer), m_Fds(size_t(peers * per_peer), -1) {
        for (size_t i = 0; i < m_Fds.size(); ++i) {
            Connect(i);
        }
        m_Thread = std::thread([this] { Run(); });
    }
    ~Flood() {
        m_Done = true;
        m_Thread.join();
        for (int fd : m_Fds) {
            ::close(fd);
        }
    }

private:
    void Connect(size_t i) {
        const std::string address = "127.0.1." + std::to_string(1 + i / size_t(m_PerPeer));
        const bool reconnecting = m_Shape == Shape::ReconnectingIdle; // many at once, as many hosts
        m_Fds[i] = ConnectFrom(address.c_str(), m_Port, m_Shape == Shape::NonReadingDownloads,
                               reconnecting ? 0 : 1000);
        const std::string first = m_Shape == Shape::TricklingHeads ? "GET /echo HTTP/1.1\r\nX-Slow: "
                                  : m_Shape == Shape::NonReadingDownloads
                                      ? "GET /files/big.bin HTTP/1.1\r\n\r\n"
                                      : "";
        if (m_Fds[i] >= 0 && !first.empty()) {
            (void)::send(m_Fds[i], first.data(), first.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }
    void Run() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!m_Done && std::chrono::steady_clock::now() < end) {
            for (size_t i = 0; i < m_Fds.size(); ++i) {
                if (m_Shape == Shape::TricklingHeads) {
                    (void)::send(m_Fds[i], "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                } else if (m_Shape == Shape::ReconnectingIdle) {
                    char c;
                    if (m_Fds[i] < 0 || ::recv(m_Fds[i], &c, 1, MSG_DONTWAIT) >= 0 ||
                        (errno != EAGAIN && errno != EWOULDBLOCK)) {
                        ::close(m_Fds[i]);
                        Connect(i);
                    }
                }
            }
            const bool reconnecting = m_Shape == Shape::ReconnectingIdle;
            std::this_thread::sleep_for(std::chrono::milliseconds(reconnecting ? 2 : 100));
        }
    }

    Shape m_Shape;
    uint16_t m_Port;
    int m_PerPeer;
    std::vector<int> m_Fds;
    std::atomic<bool> m_Done{false};
    std::thread m_Thread;
};

class ConnectionLimitTest : public ServerFixture {
protected:
    void SetUp() override {
        char dir_template[] = "/tmp/upnp-slots-XXXXXX";
        ASSERT_NE(::mkdtemp(dir_template), nullptr);
        m_Dir = dir_template;
        // Much more than the socket buffers of a small window hold; sparse, so it costs nothing.
        int fd = ::open((m_Dir + "/big.bin").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 64 * 1024 * 1024), 0);
        ::close(fd);
    }
    void TearDown() override {
        CloseHolders();
        ServerFixture::TearDown();
        int removed = std::system(("rm -rf " + m_Dir).c_str());
        (void)removed;
    }
    void CloseHolders() {
        for (int fd : m_Holders) {
            ::close(fd);
        }
        m_Holders.clear();
    }
    void Hold(int count, const std::string& first_bytes, bool small_window = false) {
        for (int i = 0; i < count; ++i) {
            int fd = ConnectFrom("127.0.0.1", m_Port, small_window);
            ASSERT_GE(fd, 0);
            m_Holders.push_back(fd);
            if (!first_bytes.empty()) {
                ASSERT_EQ(::send(fd, first_bytes.data(), first_bytes.size(), MSG_NOSIGNAL),
                          ssize_t(first_bytes.size()));
            }
        }
    }

    std::string m_Dir;
    std::vector<int> m_Holders;
};

} // namespace

// 99 connections of one peer take every slot the server has; a real GET of another peer after
// them is answered within 3 s.
TEST_F(ConnectionLimitTest, SlotHoldersDoNotKeepARealClientWaiting) {
    struct Row {
        const char* name;
        std::string first_bytes; // then one byte more every 200 ms when trickling
        bool trickle;
        bool small_window;
    } rows[] = {
        {"idle", "", false, false},
        {"trickling head", "GET /echo HTTP/1.1\r\nX-Slow: ", true, false},
        {"trickling body", "POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\nx", true, false},
        {"not reading", "GET /files/big.bin HTTP/1.1\r\n\r\n", false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CloseHolders();
        StartServer(m_Dir, &kShortLimits);
        ASSERT_NO_FATAL_FAILURE(Hold(99, row.first_bytes, row.small_window));
        std::atomic<bool> done{false};
        std::thread trickler([&] {
            for (int round = 0; row.trickle && !done && round < 40; ++round) {
                for (int fd : m_Holders) {
                    (void)::send(fd, "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
        EXPECT_TRUE(ServedWithin("127.0.0.2", m_Port, std::chrono::seconds(3)));
        done = true;
        trickler.join();
    }
}

// More connections than the server has slots, held by peers on several addresses in each of the
// ways a hostile host holds them: a real client on another address is served within 3 s all the
// same (from a peer that holds the most, the server frees a connection with no request under way,
// or one whose answer stalls; it never waits for room).
TEST_F(ConnectionLimitTest, SlotsAreSharedFairlyAmongPeers) {
    struct Row {
        const char* name;
        Flood::Shape shape;
        int peers;
        int per_peer; // also the bound of a peer
        KL_Cardinal max_clients;
    } rows[] = {
        {"trickling heads", Flood::Shape::TricklingHeads, 4, 8, 25},
        {"non-reading downloads", Flood::Shape::NonReadingDownloads, 4, 8, 25},
        // As many as fill the accept queue of a server that would wait for room.
        {"reconnecting idle", Flood::Shape::ReconnectingIdle, 20, 16, 100},
    };
    UP_HttpServerLimits limits;
    limits.m_IdleTimeout = 60000;
    limits.m_HeadDeadline = 5000; // longer than the check: no head is given up meanwhile
    limits.m_WriteTimeout = 60000;
    limits.m_RoomGrace = 300;
    limits.m_PauseLimit = 300;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        limits.m_MaxConnectionsPerPeer = KL_Cardinal(row.per_peer);
        StartServer(m_Dir, &limits, row.max_clients);
        Flood flood(row.shape, m_Port, row.peers, row.per_peer);
        for (int request = 0; request < 3; ++request) {
            EXPECT_TRUE(ServedWithin("127.0.0.200", m_Port, std::chrono::seconds(3)));
        }
    }
}

// Answers read faster than the floor are never cut to make room, however many newcomers ask for
// one: they wait, then are answered 503.
TEST_F(ConnectionLimitTest, StreamsBeingReadAreNeverCut) {
    UP_HttpServerLimits limits;
    limits.m_RoomGrace = 200; // answers are judged from 400 ms on
    limits.m_RateWindow = 1000;
    limits.m_PauseLimit = 1000;
    StartServer(m_Dir, &limits, 9); // 8 slots
    std::vector<int> readers;
    for (int i = 0; i < 8; ++i) {
        readers.push_back(ConnectFrom("127.0.2.1", m_Port, true));
        ASSERT_GE(readers.back(), 0);
        m_Holders.push_back(readers.back());
        const std::string request = Get("/files/big.bin");
        ASSERT_EQ(::send(readers.back(), request.data(), request.size(), MSG_NOSIGNAL),
                  ssize_t(request.size()));
        ASSERT_TRUE(Answered(readers.back()));
    }
    std::atomic<bool> done{false};
    std::atomic<int> cut{0};
    std::thread reading([&] { // slowly: 2 KiB from each every 20 ms
        char buffer[2048];
        while (!done) {
            for (int& fd : readers) {
                const ssize_t n = fd < 0 ? 1 : ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                    ++cut;
                    fd = -1; // closed with m_Holders
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    while (std::chrono::steady_clock::now() < end) {
        EXPECT_FALSE(ServedWithin("127.0.2.2", m_Port, std::chrono::milliseconds(100)));
    }
    done = true;
    reading.join();
    EXPECT_EQ(cut.load(), 0);
}

// Room first: while slots are free, one peer gets every connection it opens at once and keeps
// them (a TV's thumbnail grid). When every slot is taken, what a peer holds beyond its share of
// 16 gives way to another peer's newcomer, answers too.
TEST_F(ConnectionLimitTest, RoomFirstThenAShareOfSixteen) {
    UP_HttpServerLimits limits = kShortLimits;
    limits.m_MaxConnectionsPerPeer = 16;
    limits.m_WriteTimeout = 60000;
    limits.m_RoomGrace = 60000; // nothing is cheap to close, no answer is judged
    limits.m_PauseLimit = 0;
    StartServer(m_Dir, &limits);
    ASSERT_NO_FATAL_FAILURE(Hold(30, ""));
    const std::string request = Get("/echo");
    for (int fd : m_Holders) {
        ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    }
    for (int fd : m_Holders) {
        EXPECT_TRUE(Answered(fd));
    }

    CloseHolders();
    StartServer(m_Dir, &limits, 21); // 20 slots
    // Busy: each is sent an answer that it does not read.
    ASSERT_NO_FATAL_FAILURE(Hold(20, "GET /files/big.bin HTTP/1.1\r\n\r\n", true));
    for (int fd : m_Holders) {
        ASSERT_TRUE(Answered(fd));
    }
    EXPECT_TRUE(ServedWithin("127.0.0.2", m_Port, std::chrono::seconds(3)));
}

// A newcomer waits and nothing may be closed: a kept-alive connection of the peer holding the
// most ends after the answer it is on, though it asks again at once ("Connection: close"), and
// the newcomer gets its slot.
TEST_F(ConnectionLimitTest, KeptAliveConnectionGivesWayBetweenRequests) {
    UP_HttpServerLimits limits = kShortLimits;
    limits.m_RoomGrace = 60000; // nothing may be closed
    limits.m_RoomWait = 5000;
    limits.m_Turn = 0;
    StartServer(m_Dir, &limits, 3); // 2 slots
    RawClient polling(m_Port, 5);
    ASSERT_TRUE(polling.Send(Get("/echo")));
    const Answer first = polling.Read();
    ASSERT_EQ(first.status, 200);
    EXPECT_FALSE(first.Has("connection"));
    ASSERT_NO_FATAL_FAILURE(Hold(1, "")); // the other slot, never used
    const int newcomer = ConnectFrom("127.0.0.2", m_Port);
    ASSERT_GE(newcomer, 0);
    m_Holders.push_back(newcomer);
    const std::string request = Get("/echo");
    ASSERT_EQ(::send(newcomer, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // it is held
    ASSERT_TRUE(polling.Send(request));
    const Answer last = polling.Read();
    EXPECT_EQ(last.status, 200);
    EXPECT_EQ(last.Get("connection"), "close");
    EXPECT_EQ(polling.Read().status, 0); // the server ended the connection
    EXPECT_TRUE(Answered(newcomer));
}

// A connection that drains a refused request (while its client keeps sending) gives way to a
// newcomer at once, long before its drain would end.
TEST_F(ConnectionLimitTest, RefusedRequestGivesWayAtOnce) {
    StartServer(m_Dir, &kShortLimits, 2); // 1 slot
    ASSERT_NO_FATAL_FAILURE(Hold(1, "POST /echo HTTP/1.1\r\nContent-Length: x\r\n\r\n"));
    char status[12] = {};
    ASSERT_EQ(::recv(m_Holders[0], status, sizeof status, MSG_WAITALL), ssize_t(sizeof status));
    ASSERT_EQ(std::string(status, sizeof status), "HTTP/1.1 400");
    std::atomic<bool> done{false};
    std::thread sending([&] {
        for (int i = 0; !done && i < 30; ++i) {
            (void)::send(m_Holders[0], "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    EXPECT_TRUE(ServedWithin("127.0.0.2", m_Port, std::chrono::milliseconds(1000)));
    done = true;
    sending.join();
}

// A refused request counts as draining (the first to give way) only once its 400 is written: a
// newcomer that comes while it is written never closes the connection ahead of it.
TEST(RefusalTest, NewcomerNeverClosesARefusalBeingWritten) {
    // Nothing sent waits for its peer: a drain would give way at once.
    class AllAcknowledged : public UP_HttpSocketProbe {
    public:
        uint32_t PeerOf(KL_Socket*) override { return 0; }
        bool HasUnread(KL_Socket*) override { return false; }
        bool GetAcknowledged(KL_Socket*, uint64_t& bytes, bool& waiting) override {
            bytes = 0;
            waiting = false;
            return true;
        }
        void Cancel(KL_Socket*) override {}
    };
    class Refusing : public UP_HttpServerTask {
    public:
        Refusing(KL_HttpRequestHandler& handler, KL_Socket* socket, UP_HttpConnectionSlots& slots,
                 KL_Socket& newcomer)
            : UP_HttpServerTask(&handler, socket, false, &slots), m_Newcomer(newcomer) {}
        KL_Result Write(KL_HttpResponse& response, bool& keep_alive, bool headers_only) override {
            UP_HttpConnectionSlots::Newcomer newcomer;
            newcomer.m_Socket = &m_Newcomer;
            newcomer.m_Peer = 2;
            (void)m_Slots->Admit(newcomer);
            m_ClosedFirst = m_ClosedFirst || m_Slots->IsClosed(m_Socket);
            return UP_HttpServerTask::Write(response, keep_alive, headers_only);
        }
        KL_Socket& m_Newcomer;
        bool m_ClosedFirst = false;
    };
    AllAcknowledged probe;
    UP_HttpConnectionSlots slots(1, &probe);
    UP_HttpServerLimits limits = kShortLimits;
    limits.m_RoomGrace = 60000; // nothing but a drain gives way
    slots.SetLimits(limits);
    auto state = std::make_shared<upnp_test::ScriptedConnection>();
    state->input = "POST /echo HTTP/1.1\r\nContent-Length: x\r\n\r\n";
    KL_Socket newcomer(
        new upnp_test::ScriptedSocketDelegate(std::make_shared<upnp_test::ScriptedConnection>()));
    UP_HttpConnectionSlots::Newcomer refused;
    refused.m_Socket = new KL_Socket(new upnp_test::ScriptedSocketDelegate(state));
    refused.m_Peer = 1;
    ASSERT_TRUE(slots.Admit(refused));
    TestHandler handler;
    {
        Refusing task(handler, refused.m_Socket, slots, newcomer);
        task.DoRun();
        EXPECT_FALSE(task.m_ClosedFirst);
    }
    EXPECT_EQ(state->output.rfind("HTTP/1.1 400", 0), 0u);
    slots.Leave(&newcomer);
}

// A kept-alive connection that sends no further request is closed after the idle time-out.
TEST_F(ConnectionLimitTest, IdleKeptAliveConnectionIsClosed) {
    UP_HttpServerLimits limits = kShortLimits;
    limits.m_IdleTimeout = 200;
    StartServer(m_Dir, &limits);
    int fd = ConnectFrom("127.0.0.1", m_Port);
    ASSERT_GE(fd, 0);
    m_Holders.push_back(fd);
    const std::string request = Get("/echo");
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    EXPECT_TRUE(ClosedByServer(fd)); // after the answer, which ClosedByServer reads past
}

namespace {

// A listening socket whose first accepts fail as a full descriptor table, a lack of memory or a
// connection aborted before it was taken would make them fail.
class FailingServerSocket : public KL_TcpServerSocket {
public:
    FailingServerSocket() : KL_TcpServerSocket(KL_SOCKET_FLAG_CANCELLABLE) {}
    KL_Result WaitForNewClient(KL_Socket*& client, KL_Timeout timeout, uint32_t flags) override {
        client = nullptr;
        if (m_Failures < std::size(kFailures)) {
            return kFailures[m_Failures++];
        }
        return KL_TcpServerSocket::WaitForNewClient(client, timeout, flags);
    }
    static constexpr KL_Result kFailures[] = {
        KL_ResultFromErrno(EMFILE), KL_ResultFromErrno(ENFILE),  KL_ResultFromErrno(ENOBUFS),
        KL_ResultFromErrno(ENOMEM), KL_ERROR_CONNECTION_ABORTED,
    };
    size_t m_Failures = 0;
};

} // namespace

TEST(ListenTaskTest, KeepsAcceptingAfterFailedAccepts) {
    TestHandler handler;
    FailingServerSocket socket;
    ASSERT_EQ(socket.Bind(KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), 0)), KL_SUCCESS);
    ASSERT_EQ(socket.Listen(20), KL_SUCCESS);
    KL_SocketInfo info;
    ASSERT_EQ(socket.GetInfo(info), KL_SUCCESS);
    UP_TaskManager manager(10);
    ASSERT_EQ(manager.StartTask(new UP_HttpListenTask(&handler, &socket, false), nullptr, true), KL_SUCCESS);
    RawClient client(uint16_t(info.local_address.m_Port), 10);
    EXPECT_EQ(client.Exchange(Get("/echo")).status, 200);
    EXPECT_EQ(socket.m_Failures, std::size(FailingServerSocket::kFailures));
    EXPECT_EQ(manager.StopAllTasks(), KL_SUCCESS);
}
