#include "DispatchTestSupport.h"
#include "dispatch/DispatchQueue.h"
#include "dispatch/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

using namespace platform::dispatch;
using dispatchtest::kTimeout;
using dispatchtest::secondsSince;

namespace {

// Drives the loop until `condition` holds or the time-out passes.
template <typename Condition> bool runUntil(RunLoop& loop, Condition condition) {
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (secondsSince(start) > kTimeout) {
            return false;
        }
        loop.runOnce(0.05);
    }
    return true;
}

} // namespace

TEST(RunLoop, RunsPostedBlocksInOrderAndTheirOwnPostsInTheNextPass) {
    RunLoop loop;
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(3); });
    });
    loop.post([&] { order.push_back(2); });
    EXPECT_TRUE(loop.runOnce(0));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(loop.runOnce(0));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(loop.runOnce(0));
}

TEST(RunLoop, RunOnceTimesOutWhenIdleUnlessWokenUp) {
    RunLoop loop;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop.runOnce(0));
    EXPECT_LT(secondsSince(start), 0.05);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop.runOnce(0.1));
    EXPECT_GE(secondsSince(start), 0.095);
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        loop.wakeUp();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop.runOnce(kTimeout));
    waker.join();
    EXPECT_LT(secondsSince(start), kTimeout / 2);
}

TEST(RunLoop, PostFromAnotherThreadWakesTheLoop) {
    RunLoop loop;
    std::atomic<bool> ran{false};
    std::thread::id where;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        loop.post([&] {
            where = std::this_thread::get_id();
            ran = true;
        });
    });
    const auto start = std::chrono::steady_clock::now();
    const bool didRun = loop.runOnce(kTimeout);
    poster.join();
    EXPECT_TRUE(didRun);
    EXPECT_TRUE(ran.load());
    EXPECT_EQ(where, std::this_thread::get_id());
    EXPECT_LT(secondsSince(start), kTimeout / 2);
}

TEST(RunLoop, TimerFiresWhenDueAndRunOnceWaitsForIt) {
    RunLoop loop;
    bool fired = false;
    const auto start = std::chrono::steady_clock::now();
    const TimerId id = loop.startTimer(0.05, [&] { fired = true; });
    EXPECT_NE(id, 0u);
    EXPECT_FALSE(loop.runOnce(0));
    EXPECT_TRUE(loop.runOnce(kTimeout)); // sleeps until the timer is due, not the whole time-out
    EXPECT_TRUE(fired);
    EXPECT_GE(secondsSince(start), 0.045);
    EXPECT_LT(secondsSince(start), kTimeout / 2);
    loop.cancelTimer(id); // already fired: nothing happens
}

TEST(RunLoop, CancelledTimerNeverFiresEvenWhenDueInTheSamePass) {
    RunLoop loop;
    bool fired = false;
    const TimerId id = loop.startTimer(0.02, [&] { fired = true; });
    loop.cancelTimer(id);
    loop.cancelTimer(id);
    loop.cancelTimer(987654321); // unknown: nothing happens
    EXPECT_FALSE(loop.runOnce(0.08));
    // A posted block cancels a timer that is already due when the pass starts.
    const TimerId due = loop.startTimer(0.0, [&] { fired = true; });
    loop.post([&] { loop.cancelTimer(due); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(loop.runOnce(0));
    EXPECT_FALSE(loop.runOnce(0));
    EXPECT_FALSE(fired);
}

TEST(RunLoop, TimersRunInDeadlineOrderAndIdsAreUnique) {
    RunLoop loop;
    std::vector<int> order;
    std::set<TimerId> ids;
    ids.insert(loop.startTimer(0.04, [&] { order.push_back(2); }));
    ids.insert(loop.startTimer(0.0, [&] { order.push_back(0); }));
    ids.insert(loop.startTimer(0.02, [&] { order.push_back(1); }));
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_TRUE(runUntil(loop, [&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

namespace {

// A back end that records what it was given instead of running it.
class RecordingBackend : public MainQueueBackend {
public:
    void post(Block block) override { posted.push_back(std::move(block)); }
    TimerId startTimer(double, Block block) override {
        timers.push_back(std::move(block));
        return timers.size();
    }
    void cancelTimer(TimerId id) override { cancelled.push_back(id); }

    std::vector<Block> posted;
    std::vector<Block> timers;
    std::vector<TimerId> cancelled;
};

} // namespace

TEST(MainQueue, DefaultsToTheSharedRunLoop) {
    EXPECT_EQ(MainQueue::backend(), RunLoop::shared());
    std::vector<std::thread::id> threads;
    std::atomic<int> posted{0};
    for (int i = 0; i < 8; ++i) {
        DispatchQueue::global().async([&] {
            MainQueue::async([&] { threads.push_back(std::this_thread::get_id()); });
            ++posted;
        });
    }
    ASSERT_TRUE(dispatchtest::eventually([&] { return posted.load() == 8; }));
    EXPECT_TRUE(runUntil(*RunLoop::shared(), [&] { return threads.size() == 8; }));
    for (const auto& id : threads) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
    bool timerRan = false;
    const TimerId cancelled = MainQueue::startTimer(0.0, [] { FAIL() << "cancelled main-queue timer ran"; });
    MainQueue::cancelTimer(cancelled);
    MainQueue::startTimer(0.01, [&] { timerRan = true; });
    EXPECT_TRUE(runUntil(*RunLoop::shared(), [&] { return timerRan; }));
}

TEST(MainQueue, UsesTheInstalledBackend) {
    auto backend = std::make_shared<RecordingBackend>();
    MainQueue::setBackend(backend);
    EXPECT_EQ(MainQueue::backend(), backend);
    int ran = 0;
    MainQueue::async([&] { ++ran; });
    const TimerId id = MainQueue::startTimer(1.0, [&] { ran += 10; });
    MainQueue::cancelTimer(id);
    MainQueue::setBackend(nullptr);
    EXPECT_EQ(MainQueue::backend(), RunLoop::shared());
    ASSERT_EQ(backend->posted.size(), 1u);
    ASSERT_EQ(backend->timers.size(), 1u);
    EXPECT_EQ(backend->cancelled, (std::vector<TimerId>{id}));
    backend->posted[0]();
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(RunLoop::shared()->runOnce(0)); // nothing went to the built-in loop
}
