#include "DispatchTestSupport.h"
#include "dispatch/DispatchGroup.h"
#include "dispatch/DispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace platform::dispatch;
using dispatchtest::kTimeout;
using dispatchtest::secondsSince;

TEST(DispatchGroup, WaitReturnsAfterEveryLeave) {
    DispatchGroup group;
    EXPECT_TRUE(group.waitFor(0)); // empty: no wait
    std::atomic<int> finished{0};
    constexpr int kTasks = 16;
    for (int i = 0; i < kTasks; ++i) {
        group.enter();
        DispatchQueue::global().async([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ++finished;
            group.leave();
        });
    }
    ASSERT_TRUE(group.waitFor(kTimeout));
    EXPECT_EQ(finished.load(), kTasks);
    group.wait(); // still balanced: returns at once
}

TEST(DispatchGroup, WaitsWhileWorkIsOutstandingAndWakesOnLastLeave) {
    DispatchGroup group;
    group.enter();
    group.enter();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(group.waitFor(0.05));
    EXPECT_GE(secondsSince(start), 0.045);
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        group.wait();
        returned = true;
    });
    group.leave();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(returned.load());
    group.leave();
    EXPECT_TRUE(dispatchtest::eventually([&] { return returned.load(); }));
    waiter.join();
    EXPECT_TRUE(group.waitFor(0));
}

TEST(DispatchSemaphore, CountsSignalsAndWakesAWaiterOnAnotherThread) {
    DispatchSemaphore semaphore(2);
    EXPECT_TRUE(semaphore.waitFor(0));
    EXPECT_TRUE(semaphore.waitFor(0));
    EXPECT_FALSE(semaphore.waitFor(0));
    semaphore.signal();
    semaphore.signal();
    semaphore.wait();
    EXPECT_TRUE(semaphore.waitFor(0));
    EXPECT_FALSE(semaphore.waitFor(0.02));
    DispatchQueue::global().async([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        semaphore.signal();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(semaphore.waitFor(kTimeout));
    EXPECT_GE(secondsSince(start), 0.015);
}

TEST(DispatchSemaphore, BoundsConcurrency) {
    // Used as a lock with three permits: never more than three holders at once.
    DispatchSemaphore permits(3);
    std::atomic<int> holders{0};
    std::atomic<int> most{0};
    DispatchGroup group;
    for (int i = 0; i < 40; ++i) {
        group.enter();
        DispatchQueue::global().async([&] {
            ASSERT_TRUE(permits.waitFor(kTimeout));
            const int now = ++holders;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            --holders;
            permits.signal();
            group.leave();
        });
    }
    ASSERT_TRUE(group.waitFor(kTimeout));
    EXPECT_LE(most.load(), 3);
    EXPECT_GE(most.load(), 1);
}
