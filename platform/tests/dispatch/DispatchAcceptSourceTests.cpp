#include "DispatchTestSupport.h"
#include "dispatch/DispatchGroup.h"
#include "dispatch/DispatchSocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform::dispatch;
using dispatchtest::kTimeout;
using dispatchtest::ScopedFd;

namespace {

// A listening socket with an accept source whose handlers record what happened.
struct AcceptProbe {
    std::uint16_t port = 0;
    int listener = -1;
    std::atomic<int> accepted{0};
    std::atomic<int> failedAccepts{0};
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<int> cancels{0};
    std::atomic<bool> cancelledWhileInside{false};
    DispatchSemaphore acceptedOne;
    DispatchSemaphore cancelled;
    std::function<void()> duringEvent; // optional extra work inside the event handler
    std::shared_ptr<DispatchAcceptSource> source;

    static std::shared_ptr<AcceptProbe> make() {
        auto probe = std::make_shared<AcceptProbe>();
        probe->listener = dispatchtest::listenOnLoopback(probe->port);
        auto* raw = probe.get(); // the probe outlives its source's handlers in every test
        probe->source = DispatchAcceptSource::create(
            probe->listener, [raw] { raw->onEvent(); }, [raw] { raw->onCancel(); });
        return probe;
    }

    void onEvent() {
        if (inside.fetch_add(1) != 0) {
            overlapped = true;
        }
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            ++accepted;
            acceptedOne.signal();
        } else {
            ++failedAccepts;
        }
        if (duringEvent) {
            duringEvent();
        }
        inside.fetch_sub(1);
    }

    void onCancel() {
        if (inside.load() != 0) {
            cancelledWhileInside = true;
        }
        ++cancels;
        ::close(listener);
        cancelled.signal();
    }
};

} // namespace

TEST(DispatchAcceptSource, StaysQuietUntilResumedThenAcceptsEveryConnection) {
    auto probe = AcceptProbe::make();
    ASSERT_GE(probe->listener, 0);
    constexpr int kClients = 12;
    std::vector<std::unique_ptr<ScopedFd>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<ScopedFd>(dispatchtest::connectToLoopback(probe->port)));
        ASSERT_GE(clients.back()->get(), 0);
    }
    EXPECT_FALSE(probe->acceptedOne.waitFor(0.05));
    probe->source->resume();
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(probe->acceptedOne.waitFor(kTimeout));
    }
    probe->source->cancel();
    ASSERT_TRUE(probe->cancelled.waitFor(kTimeout));
    EXPECT_EQ(probe->accepted.load(), kClients);
    EXPECT_EQ(probe->failedAccepts.load(), 0); // no event without a waiting connection
    EXPECT_FALSE(probe->overlapped.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(probe->cancels.load(), 1);
}

TEST(DispatchAcceptSource, NoEventsAfterCancelWhetherResumedOrNot) {
    for (const bool resumeFirst : {false, true}) {
        SCOPED_TRACE(resumeFirst ? "resumed, then cancelled" : "cancelled before resume");
        auto probe = AcceptProbe::make();
        ASSERT_GE(probe->listener, 0);
        // Keep the listener open after the cancel so a late connection could still be noticed.
        ScopedFd keepOpen(::dup(probe->listener));
        ASSERT_GE(keepOpen.get(), 0);
        if (resumeFirst) {
            probe->source->resume();
        }
        probe->source->cancel();
        ASSERT_TRUE(probe->cancelled.waitFor(kTimeout));
        probe->source->resume(); // too late: nothing happens
        probe->source->cancel();
        ScopedFd client(dispatchtest::connectToLoopback(probe->port));
        ASSERT_GE(client.get(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(probe->accepted.load() + probe->failedAccepts.load(), 0);
        EXPECT_EQ(probe->cancels.load(), 1);
    }
}

TEST(DispatchAcceptSource, CancelWaitsForTheRunningEventHandler) {
    auto probe = AcceptProbe::make();
    ASSERT_GE(probe->listener, 0);
    DispatchSemaphore entered;
    DispatchSemaphore release;
    probe->duringEvent = [&] {
        entered.signal();
        release.waitFor(kTimeout);
    };
    probe->source->resume();
    ScopedFd client(dispatchtest::connectToLoopback(probe->port));
    ASSERT_GE(client.get(), 0);
    ASSERT_TRUE(entered.waitFor(kTimeout));
    probe->source->cancel();
    EXPECT_FALSE(probe->cancelled.waitFor(0.1)); // the handler is still running
    release.signal();
    ASSERT_TRUE(probe->cancelled.waitFor(kTimeout));
    EXPECT_FALSE(probe->cancelledWhileInside.load());
    EXPECT_EQ(probe->cancels.load(), 1);
}

TEST(DispatchAcceptSource, CreateAndCancelChurn) {
    for (int round = 0; round < 20; ++round) {
        auto probe = AcceptProbe::make();
        ASSERT_GE(probe->listener, 0);
        probe->source->resume();
        ScopedFd client(dispatchtest::connectToLoopback(probe->port));
        ASSERT_GE(client.get(), 0);
        ASSERT_TRUE(probe->acceptedOne.waitFor(kTimeout)) << "round " << round;
        if (round % 2 == 0) {
            // A second connection races with the cancel.
            ScopedFd racer(dispatchtest::connectToLoopback(probe->port));
        }
        probe->source->cancel();
        ASSERT_TRUE(probe->cancelled.waitFor(kTimeout)) << "round " << round;
        EXPECT_FALSE(probe->cancelledWhileInside.load());
        std::weak_ptr<DispatchAcceptSource> weak = probe->source;
        probe->source.reset();
        // Once cancelled, nothing keeps the source alive.
        EXPECT_TRUE(dispatchtest::eventually([&] { return weak.expired(); })) << "round " << round;
    }
}
