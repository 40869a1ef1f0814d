// Starting and stopping, ports and address families, and the delegate's notifications.

#include "CoreTestSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

using coretest::get;
using Clock = std::chrono::steady_clock;

namespace {

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// A listening socket on a loopback address with a port chosen by the system.
class Listener {
public:
    explicit Listener(int family) {
        _fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int yes = 1;
        sockaddr_storage storage{};
        socklen_t length;
        if (family == AF_INET6) {
            ::setsockopt(_fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
            auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
            address->sin6_family = AF_INET6;
            address->sin6_addr = in6addr_loopback;
            length = sizeof *address;
        } else {
            auto* address = reinterpret_cast<sockaddr_in*>(&storage);
            address->sin_family = AF_INET;
            address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *address;
        }
        if (::bind(_fd, reinterpret_cast<sockaddr*>(&storage), length) == 0 && ::listen(_fd, 4) == 0 &&
            ::getsockname(_fd, reinterpret_cast<sockaddr*>(&storage), &length) == 0) {
            _port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
        }
    }
    ~Listener() { ::close(_fd); }
    std::uint16_t port() const { return _port; }

private:
    int _fd;
    std::uint16_t _port = 0;
};

// Records the notifications with the time each last arrived (main queue only).
class RecordingDelegate : public WebServerDelegate {
public:
    void webServerDidStart(WebServer&) override { record("start"); }
    void webServerDidConnect(WebServer&) override { record("connect"); }
    void webServerDidDisconnect(WebServer&) override { record("disconnect"); }
    void webServerDidStop(WebServer&) override { record("stop"); }
    long count(const std::string& name) const { return std::count(names.begin(), names.end(), name); }

    std::vector<std::string> names;
    std::map<std::string, Clock::time_point> last;

private:
    void record(const std::string& name) {
        names.push_back(name);
        last[name] = Clock::now();
    }
};

class CoreServerLifecycle : public coretest::ServerTest {
protected:
    void SetUp() override { coretest::addEchoHandler(*server, &handlerCalls); }

    // Runs the main queue until `done` holds or `seconds` pass; returns `done()`.
    template <class Predicate> bool runMainQueueUntil(Predicate done, double seconds) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (!done() && Clock::now() < end) {
            coretest::runMainQueue(0.02);
        }
        return done();
    }

    RecordingDelegate delegate;
};

} // namespace

TEST_F(CoreServerLifecycle, PortInUseFailsWithPosixErrorAndLeavesNoSocket) {
    ASSERT_TRUE(startServer()); // warm up the dispatch machinery so that its descriptors exist
    EXPECT_EQ(get(port(), "/warm").status, 200);
    server->stop();
    ASSERT_TRUE(waitForIdle());
    // With ::1 taken, the IPv4 socket bound first must be closed again.
    for (const int family : {AF_INET, AF_INET6}) {
        if (family == AF_INET6 && !coretest::ipv6LoopbackAvailable()) {
            continue;
        }
        SCOPED_TRACE(family == AF_INET ? "127.0.0.1 taken" : "::1 taken");
        Listener taken(family);
        ASSERT_NE(taken.port(), 0);
        const std::size_t before = openDescriptors();
        Error error;
        EXPECT_FALSE(server->startWithOptions({{WebServerOption_Port, static_cast<long long>(taken.port())},
                                               {WebServerOption_BindToLocalhost, true}},
                                              &error));
        EXPECT_EQ(error.domain, platform::kPOSIXErrorDomain);
        EXPECT_EQ(error.code, EADDRINUSE);
        EXPECT_EQ(error.description, std::strerror(EADDRINUSE));
        EXPECT_FALSE(server->isRunning());
        EXPECT_EQ(server->port(), 0u);
        EXPECT_EQ(openDescriptors(), before);
    }
}

TEST_F(CoreServerLifecycle, StartingTwiceFailsAndChangesNothing) {
    ASSERT_TRUE(startServer());
    const auto firstPort = server->port();
    Error error;
    EXPECT_FALSE(server->startWithOptions({}, &error));
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(server->port(), firstPort);
    EXPECT_EQ(get(port(), "/still").status, 200);
}

TEST_F(CoreServerLifecycle, TwentyStartStopCycles) {
    ASSERT_TRUE(startServer());
    server->stop();
    ASSERT_TRUE(waitForIdle());
    const std::size_t before = openDescriptors();
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_TRUE(startServer()) << cycle;
        const std::uint16_t used = port();
        EXPECT_TRUE(server->isRunning());
        EXPECT_EQ(get(used, "/cycle").body, "GET /cycle\n");
        server->stop();
        EXPECT_FALSE(server->isRunning());
        EXPECT_EQ(server->port(), 0u);
        coretest::RawClient refused;
        EXPECT_FALSE(refused.connect(AF_INET, used)) << "still listening after stop, cycle " << cycle;
        server->stop(); // stopping a stopped server does nothing
    }
    ASSERT_TRUE(waitForIdle());
    coretest::runMainQueue(0);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(handlerCalls, 20);
}

TEST_F(CoreServerLifecycle, PortZeroServesBothFamiliesOnOnePort) {
    if (!coretest::ipv6LoopbackAvailable()) {
        GTEST_SKIP() << "::1 is not available";
    }
    addGet("/where", [](const std::shared_ptr<WebServerRequest>& request) {
        return coretest::textResponse(request->localAddressString().value_or("?"));
    });
    ASSERT_TRUE(startServer());
    ASSERT_NE(port(), 0);
    const std::string number = std::to_string(port());
    EXPECT_EQ(get(port(), "/where", "", AF_INET).body, "127.0.0.1:" + number);
    EXPECT_EQ(get(port(), "/where", "", AF_INET6).body, "::1:" + number);
}

TEST_F(CoreServerLifecycle, ServerURLWithLocalhost) {
    EXPECT_FALSE(server->serverURL());
    ASSERT_TRUE(startServer());
    const std::string number = std::to_string(port());
    ASSERT_TRUE(server->serverURL());
    EXPECT_EQ(server->serverURL()->absoluteString(), "http://localhost:" + number);
    EXPECT_EQ(server->serverURLString(), std::optional<std::string>("localhost:" + number));
    EXPECT_FALSE(server->bonjourServerURL());
    EXPECT_FALSE(server->bonjourName());
    server->stop();
    EXPECT_FALSE(server->serverURL());
}

TEST_F(CoreServerLifecycle, BurstOfConnectionsGivesOneConnectAndOneDisconnect) {
    server->setDelegate(&delegate);
    ASSERT_TRUE(startServer({{WebServerOption_ConnectedStateCoalescingInterval, 1.0}}));
    ASSERT_TRUE(runMainQueueUntil([this] { return delegate.count("start") == 1; }, 5));
    std::atomic<bool> burstDone{false};
    Clock::time_point lastClose;
    std::thread burst([this, &burstDone, &lastClose] {
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(get(port(), "/burst").status, 200);
        }
        lastClose = Clock::now();
        burstDone = true;
    });
    runMainQueueUntil([&burstDone] { return burstDone.load(); }, 10);
    burst.join();
    ASSERT_TRUE(runMainQueueUntil([this] { return delegate.count("disconnect") > 0; }, 5));
    coretest::runMainQueue(0.3); // nothing else may follow
    EXPECT_EQ(delegate.names, (std::vector<std::string>{"start", "connect", "disconnect"}));
    const auto delay = delegate.last["disconnect"] - lastClose;
    EXPECT_GT(delay, std::chrono::milliseconds(700));
    EXPECT_LT(delay, std::chrono::milliseconds(2500));
}

TEST_F(CoreServerLifecycle, StopWhileTheDisconnectTimerIsPending) {
    server->setDelegate(&delegate);
    ASSERT_TRUE(startServer({{WebServerOption_ConnectedStateCoalescingInterval, 5.0}}));
    EXPECT_EQ(get(port(), "/once").status, 200);
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(runMainQueueUntil([this] { return server->disconnectTimerPending(); }, 5));
    EXPECT_EQ(delegate.count("disconnect"), 0);
    const auto stopped = Clock::now();
    server->stop();
    ASSERT_TRUE(runMainQueueUntil([this] { return delegate.count("stop") == 1; }, 5));
    EXPECT_EQ(delegate.names, (std::vector<std::string>{"start", "connect", "disconnect", "stop"}));
    EXPECT_LT(delegate.last["disconnect"] - stopped, std::chrono::seconds(2));
    EXPECT_FALSE(server->disconnectTimerPending());
}

TEST_F(CoreServerLifecycle, StopLetsOpenConnectionsFinish) {
    std::atomic<bool> entered{false};
    addGet("/slow", [&entered](const std::shared_ptr<WebServerRequest>&) {
        entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return coretest::textResponse("finished");
    });
    ASSERT_TRUE(startServer());
    const std::uint16_t used = port();
    std::string body;
    std::thread client([used, &body] { body = get(used, "/slow").body; });
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!entered && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    server->stop();
    coretest::RawClient late;
    EXPECT_FALSE(late.connect(AF_INET, used));
    client.join();
    EXPECT_EQ(body, "finished");
}

TEST(CoreServerRelease, ReleasingARunningServerStopsIt) {
    auto server = std::make_shared<WebServer>();
    Error error;
    ASSERT_TRUE(server->startWithOptions({{WebServerOption_BindToLocalhost, true}}, &error));
    const auto used = static_cast<std::uint16_t>(server->port());
    std::weak_ptr<WebServer> weak = server;
    server.reset();
    coretest::runMainQueue(0); // the start notification holds the server until it has run
    EXPECT_TRUE(weak.expired());
    coretest::RawClient client;
    EXPECT_FALSE(client.connect(AF_INET, used));
}
