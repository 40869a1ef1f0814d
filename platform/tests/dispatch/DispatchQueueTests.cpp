#include "DispatchTestSupport.h"
#include "dispatch/DispatchGroup.h"
#include "dispatch/DispatchQueue.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace platform::dispatch;
using dispatchtest::kTimeout;

TEST(DispatchQueue, SerialRunsAsyncBlocksInOrderAndOutlivesItsLastReference) {
    std::vector<int> seen; // touched only by the queue's blocks
    DispatchSemaphore done;
    constexpr int kCount = 2000;
    {
        auto queue = DispatchQueue::createSerial("test.order");
        for (int i = 0; i < kCount; ++i) {
            queue->async([&seen, i] { seen.push_back(i); });
        }
        queue->async([&done] { done.signal(); });
    } // the last reference goes while blocks are still queued
    ASSERT_TRUE(done.waitFor(kTimeout));
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(seen[i], i);
    }
}

TEST(DispatchQueue, SerialIsExclusiveUnderContention) {
    auto queue = DispatchQueue::createSerial("test.contention");
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    long counter = 0; // deliberately not atomic: the queue is the only guard
    DispatchGroup group;
    constexpr int kWorkers = 32;
    constexpr int kRounds = 200;
    for (int w = 0; w < kWorkers; ++w) {
        group.enter();
        DispatchQueue::global().async([&, w] {
            for (int r = 0; r < kRounds; ++r) {
                auto block = [&] {
                    if (inside.fetch_add(1) != 0) {
                        overlapped = true;
                    }
                    ++counter;
                    inside.fetch_sub(1);
                };
                if ((w + r) % 2 == 0) {
                    queue->sync(block);
                } else {
                    group.enter();
                    queue->async([&, block] {
                        block();
                        group.leave();
                    });
                }
            }
            group.leave();
        });
    }
    ASSERT_TRUE(group.waitFor(kTimeout));
    long final = 0;
    queue->sync([&] { final = counter; });
    EXPECT_EQ(final, kWorkers * kRounds);
    EXPECT_FALSE(overlapped);
}

TEST(DispatchQueue, SyncReturnsAfterItsBlockAndEarlierBlocksRan) {
    auto queue = DispatchQueue::createSerial("test.sync");
    std::atomic<bool> earlierDone{false};
    queue->async([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        earlierDone = true;
    });
    bool sawEarlier = false;
    bool ran = false;
    queue->sync([&] {
        sawEarlier = earlierDone.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ran = true;
    });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(sawEarlier);
}

TEST(DispatchQueue, ASyncBlockRunByTheQueuesOwnerHandsItsExceptionToItsCaller) {
    auto queue = DispatchQueue::createSerial("test.sync.throw");
    DispatchSemaphore started;
    queue->async([&] {
        started.signal();
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the pool owns the queue
    });
    ASSERT_TRUE(started.waitFor(kTimeout));
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("refused"); }), std::runtime_error);
    bool ran = false;
    queue->sync([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(DispatchQueue, SyncFromEveryPoolThreadDoesNotDeadlock) {
    // More callers than the pool has threads, all blocking in sync while async work is queued: sync
    // must never depend on a free pool thread.
    auto queue = DispatchQueue::createSerial("test.saturate");
    long counter = 0;
    DispatchGroup group;
    constexpr int kCallers = 200;
    for (int i = 0; i < kCallers; ++i) {
        group.enter();
        queue->async([&] { ++counter; });
        DispatchQueue::global().async([&] {
            queue->sync([&] {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                ++counter;
            });
            group.leave();
        });
    }
    ASSERT_TRUE(group.waitFor(kTimeout));
    long final = 0;
    queue->sync([&] { final = counter; });
    EXPECT_EQ(final, 2 * kCallers);
}

TEST(DispatchQueue, GlobalRunsAsyncBlocksConcurrentlyAndSyncOnTheCallersThread) {
    // Four blocks that each wait for all four to have started can only finish on four threads.
    constexpr int kParallel = 4;
    std::atomic<int> started{0};
    DispatchGroup group;
    std::atomic<bool> allMet{true};
    for (int i = 0; i < kParallel; ++i) {
        group.enter();
        DispatchQueue::global().async([&] {
            ++started;
            if (!dispatchtest::eventually([&] { return started.load() == kParallel; }, kTimeout)) {
                allMet = false;
            }
            group.leave();
        });
    }
    ASSERT_TRUE(group.waitFor(2 * kTimeout));
    EXPECT_TRUE(allMet);
    std::thread::id where;
    DispatchQueue::global().sync([&] { where = std::this_thread::get_id(); });
    EXPECT_EQ(where, std::this_thread::get_id());
}
