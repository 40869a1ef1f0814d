#include "QtMainQueue.h"
#include "UiTestSupport.h"

#include <dispatch/MainQueue.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(UiMainQueue, BlocksPostedFromAnyThreadRunLaterOnTheMainThreadInTheirOrder) {
    ASSERT_NE(std::dynamic_pointer_cast<QtMainQueue>(MainQueue::backend()), nullptr);
    constexpr int kThreads = 4; // and the main thread, as the last list
    std::mutex mutex;
    std::vector<std::vector<int>> seen(kThreads + 1);
    std::atomic<int> offMain{0};
    auto postAll = [&](std::size_t list) {
        for (int i = 0; i < 100; ++i) {
            MainQueue::async([&, list, i] {
                if (!onMainThread()) {
                    ++offMain;
                }
                std::lock_guard lock(mutex);
                seen[list].push_back(i);
            });
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back(postAll, t);
    }
    postAll(kThreads);
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(seen[kThreads].empty()) << "a block posted on the main thread ran at once";
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        return std::all_of(seen.begin(), seen.end(), [](const auto& list) { return list.size() == 100; });
    }));
    EXPECT_EQ(offMain.load(), 0);
    for (const auto& list : seen) {
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(list[static_cast<std::size_t>(i)], i);
        }
    }
}

TEST(UiMainQueue, TimersFireOnceAfterTheirDelayUnlessCancelled) {
    QElapsedTimer clock;
    clock.start();
    qint64 firedAfter = -1;
    int fired = 0;
    int cancelledFired = 0;
    const auto cancelled = MainQueue::startTimer(0.05, [&] { ++cancelledFired; });
    MainQueue::cancelTimer(cancelled);
    MainQueue::cancelTimer(cancelled);
    MainQueue::cancelTimer(12345678);
    MainQueue::startTimer(0.15, [&] {
        firedAfter = clock.elapsed();
        ++fired;
    });
    ASSERT_TRUE(test::waitUntil([&] { return fired > 0; }));
    EXPECT_GE(firedAfter, 145);
    QTest::qWait(200);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(cancelledFired, 0);
    EXPECT_EQ(std::dynamic_pointer_cast<QtMainQueue>(MainQueue::backend())->activeTimerCount(), 0u);
}

TEST(UiMainQueue, TimersStartedAndCancelledOnOtherThreads) {
    std::atomic<int> fired{0};
    std::atomic<int> cancelledFired{0};
    std::atomic<bool> ranOnMain{true};
    const auto fromMain = MainQueue::startTimer(0.2, [&] { ++cancelledFired; });
    std::thread worker([&] {
        MainQueue::cancelTimer(fromMain); // made on the main thread
        MainQueue::startTimer(0.05, [&] {
            ranOnMain = ranOnMain && onMainThread();
            ++fired;
        });
        const auto cancelled = MainQueue::startTimer(0.05, [&] { ++cancelledFired; });
        MainQueue::cancelTimer(cancelled);
    });
    worker.join();
    ASSERT_TRUE(test::waitUntil([&] { return fired.load() == 1; }));
    QTest::qWait(300);
    EXPECT_EQ(cancelledFired.load(), 0);
    EXPECT_TRUE(ranOnMain.load());
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
