#include "DispatchTestSupport.h"
#include "dispatch/DispatchGroup.h"
#include "dispatch/DispatchQueue.h"
#include "dispatch/DispatchTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace platform::dispatch;
using dispatchtest::kTimeout;
using dispatchtest::secondsSince;

TEST(DispatchTimer, FiresOnceAfterTheDelayWithOrWithoutItsHandle) {
    DispatchSemaphore fired;
    std::atomic<int> count{0};
    const auto start = std::chrono::steady_clock::now();
    auto timer = DispatchTimer::after(DispatchQueue::global(), 0.05, [&] {
        ++count;
        fired.signal();
    });
    DispatchTimer::after(DispatchQueue::global(), 0.01, [&] { fired.signal(); }); // handle dropped
    ASSERT_TRUE(fired.waitFor(kTimeout));
    ASSERT_TRUE(fired.waitFor(kTimeout));
    EXPECT_GE(secondsSince(start), 0.045);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(count.load(), 1);
    timer->cancel(); // after firing: nothing happens
    EXPECT_EQ(count.load(), 1);
}

TEST(DispatchTimer, CancelPreventsFiringAndReleasesTheBlockAtOnce) {
    auto ran = std::make_shared<std::atomic<bool>>(false);
    auto captured = std::make_shared<int>(7);
    std::weak_ptr<int> watch = captured;
    auto timer = DispatchTimer::after(DispatchQueue::global(), 0.05, [ran, captured] { *ran = true; });
    captured.reset();
    EXPECT_FALSE(watch.expired());
    timer->cancel();
    EXPECT_TRUE(watch.expired());
    timer->cancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(ran->load());
}

TEST(DispatchTimer, TimersFireInDeadlineOrder) {
    auto queue = DispatchQueue::createSerial("test.timers");
    std::vector<int> order; // touched on the serial queue only
    DispatchGroup group;
    const double delays[] = {0.09, 0.03, 0.06, 0.0};
    std::vector<std::shared_ptr<DispatchTimer>> timers;
    for (int i = 0; i < 4; ++i) {
        group.enter();
        timers.push_back(DispatchTimer::after(*queue, delays[i], [&, i] {
            order.push_back(i);
            group.leave();
        }));
    }
    ASSERT_TRUE(group.waitFor(kTimeout));
    std::vector<int> seen;
    queue->sync([&] { seen = order; });
    EXPECT_EQ(seen, (std::vector<int>{3, 1, 2, 0}));
}

TEST(DispatchTimer, CancelFromTheTargetQueueWinsOverAPendingFire) {
    // The timer's queue is blocked while the timer comes due; a cancel that runs before the timer's
    // block gets its turn must still prevent it.
    auto queue = DispatchQueue::createSerial("test.cancel-race");
    auto ran = std::make_shared<std::atomic<bool>>(false);
    auto timer = DispatchTimer::after(*queue, 0.03, [ran] { *ran = true; });
    queue->sync([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        timer->cancel();
    });
    DispatchSemaphore drained;
    queue->async([&] { drained.signal(); });
    ASSERT_TRUE(drained.waitFor(kTimeout));
    EXPECT_FALSE(ran->load());
}

TEST(DispatchTimer, ReleasedSerialQueueDropsTheBlock) {
    auto ran = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<DispatchTimer> timer;
    {
        auto queue = DispatchQueue::createSerial("test.gone");
        timer = DispatchTimer::after(*queue, 0.02, [ran] { *ran = true; });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(ran->load());
}
