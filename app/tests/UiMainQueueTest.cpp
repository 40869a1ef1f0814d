#include "QtMainQueue.h"
#include "UiTestSupport.h"

#include <dispatch/MainQueue.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace lanyard {
namespace {

using platform::dispatch::MainQueue;

bool onMainThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

TEST(UiMainQueue, TheApplicationsQueueIsTheQtOne) {
    EXPECT_NE(std::dynamic_pointer_cast<QtMainQueue>(MainQueue::backend()), nullptr);
}

TEST(UiMainQueue, PostedBlocksRunLaterOnTheMainThreadInOrder) {
    std::vector<int> order;
    bool allOnMain = true;
    for (int i = 0; i < 50; ++i) {
        MainQueue::async([&, i] {
            order.push_back(i);
            allOnMain = allOnMain && onMainThread();
        });
    }
    EXPECT_TRUE(order.empty()) << "a posted block ran at once";
    ASSERT_TRUE(test::waitUntil([&] { return order.size() == 50; }));
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    EXPECT_TRUE(allOnMain);
}

TEST(UiMainQueue, BlocksPostedFromOtherThreadsRunOnTheMainThreadInTheirOrder) {
    std::mutex mutex;
    std::vector<std::vector<int>> seen(4);
    std::atomic<int> offMain{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                MainQueue::async([&, t, i] {
                    if (!onMainThread()) {
                        ++offMain;
                    }
                    std::lock_guard lock(mutex);
                    seen[static_cast<std::size_t>(t)].push_back(i);
                });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        for (const auto& list : seen) {
            if (list.size() != 100) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(offMain.load(), 0);
    for (const auto& list : seen) {
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(list[static_cast<std::size_t>(i)], i);
        }
    }
}

TEST(UiMainQueue, TimersFireOnceAfterTheirDelay) {
    QElapsedTimer clock;
    clock.start();
    qint64 firedAfter = -1;
    int fired = 0;
    MainQueue::startTimer(0.15, [&] {
        firedAfter = clock.elapsed();
        ++fired;
    });
    ASSERT_TRUE(test::waitUntil([&] { return fired > 0; }));
    EXPECT_GE(firedAfter, 145);
    QTest::qWait(200);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(std::dynamic_pointer_cast<QtMainQueue>(MainQueue::backend())->activeTimerCount(), 0u);
}

TEST(UiMainQueue, CancelledTimersNeverFire) {
    int fired = 0;
    const auto first = MainQueue::startTimer(0.05, [&] { ++fired; });
    MainQueue::cancelTimer(first);
    MainQueue::cancelTimer(first);
    MainQueue::cancelTimer(12345678);
    int second = 0;
    MainQueue::startTimer(0.1, [&] { ++second; });
    ASSERT_TRUE(test::waitUntil([&] { return second == 1; }));
    EXPECT_EQ(fired, 0);
}

TEST(UiMainQueue, TimersStartedAndCancelledOnOtherThreads) {
    std::atomic<int> fired{0};
    std::atomic<int> cancelledFired{0};
    std::atomic<bool> ranOnMain{true};
    std::thread worker([&] {
        MainQueue::startTimer(0.05, [&] {
            ranOnMain = ranOnMain && onMainThread();
            ++fired;
        });
        const auto cancelled = MainQueue::startTimer(0.05, [&] { ++cancelledFired; });
        MainQueue::cancelTimer(cancelled);
    });
    worker.join();
    ASSERT_TRUE(test::waitUntil([&] { return fired.load() == 1; }));
    QTest::qWait(150);
    EXPECT_EQ(cancelledFired.load(), 0);
    EXPECT_TRUE(ranOnMain.load());
}

TEST(UiMainQueue, ATimerCancelledFromAnotherThreadAfterItWasCreated) {
    std::atomic<int> fired{0};
    const auto id = MainQueue::startTimer(0.2, [&] { ++fired; });
    std::thread worker([id] { MainQueue::cancelTimer(id); });
    worker.join();
    QTest::qWait(350);
    EXPECT_EQ(fired.load(), 0);
}

TEST(UiMainQueue, DestroyingTheQueueDropsWhatIsPending) {
    int ran = 0;
    {
        QtMainQueue queue;
        queue.post([&] { ++ran; });
        queue.startTimer(0.0, [&] { ++ran; });
        EXPECT_EQ(queue.activeTimerCount(), 1u);
    }
    QTest::qWait(50);
    EXPECT_EQ(ran, 0);
}

} // namespace
} // namespace lanyard
