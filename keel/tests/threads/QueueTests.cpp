#include "KL_AtomicVariable.h"
#include "KL_PosixQueue.h"
#include "KL_Queue.h"
#include "KL_System.h"
#include "KL_Thread.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

class QueueThread : public KL_Thread {
public:
    explicit QueueThread(std::function<void()> function) : m_Function(std::move(function)) {}
    ~QueueThread() override { (void)Wait(); }
    void Run() override { m_Function(); }

private:
    std::function<void()> m_Function;
};

// Polls until `count` threads are blocked in the queue (each blocking call has its own bound).
bool WaitForBlocked(KL_PosixQueue& queue, KL_Size count) {
    for (int i = 0; i < 1000; ++i) {
        if (queue.GetWaitingCount() == count) {
            return true;
        }
        KL_System::Sleep(KL_TimeStamp::FromMillis(10));
    }
    return false;
}

} // namespace

TEST(Queue, EmptyAndFullWithoutWaiting) {
    KL_Queue<int> queue(1);
    int a = 1, b = 2;
    int* out = &b;
    EXPECT_EQ(queue.Pop(out, 0), KL_ERROR_LIST_EMPTY);
    EXPECT_EQ(out, &b); // left as it was
    EXPECT_EQ(queue.Peek(out, 0), KL_ERROR_LIST_EMPTY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(queue.Pop(out, 100), KL_ERROR_TIMEOUT);
    EXPECT_EQ(queue.Peek(out, 100), KL_ERROR_TIMEOUT);

    ASSERT_EQ(queue.Push(&a, 0), KL_SUCCESS);
    EXPECT_EQ(queue.Push(&b, 0), KL_ERROR_TIMEOUT);
    EXPECT_EQ(queue.Push(&b, 100), KL_ERROR_TIMEOUT);
    EXPECT_EQ(queue.Peek(out, 0), KL_SUCCESS);
    EXPECT_EQ(out, &a);
    out = nullptr;
    EXPECT_EQ(queue.Pop(out, 0), KL_SUCCESS);
    EXPECT_EQ(out, &a);
}

TEST(Queue, FirstInFirstOutUnbounded) {
    KL_Queue<int> queue;
    int items[100];
    for (int& item : items) {
        ASSERT_EQ(queue.Push(&item, 0), KL_SUCCESS);
    }
    for (int& item : items) {
        int* out = nullptr;
        ASSERT_EQ(queue.Pop(out), KL_SUCCESS);
        EXPECT_EQ(out, &item);
    }
}

TEST(Queue, BlockedPushIsReleasedByAPop) {
    KL_PosixQueue queue(1);
    int a = 1, b = 2;
    ASSERT_EQ(queue.Push(&a, 0), KL_SUCCESS);
    KL_Result pushed = KL_FAILURE;
    QueueThread pusher([&] { pushed = queue.Push(&b, KL_TIMEOUT_INFINITE); });
    ASSERT_EQ(pusher.Start(), KL_SUCCESS);
    ASSERT_TRUE(WaitForBlocked(queue, 1));
    void* out = nullptr;
    ASSERT_EQ(queue.Pop(out, KL_TIMEOUT_INFINITE), KL_SUCCESS);
    EXPECT_EQ(out, &a);
    ASSERT_EQ(pusher.Wait(), KL_SUCCESS);
    EXPECT_EQ(pushed, KL_SUCCESS);
    ASSERT_EQ(queue.Pop(out, 0), KL_SUCCESS);
    EXPECT_EQ(out, &b);
}

TEST(Queue, DestructionReleasesBlockedPushersAndPoppers) {
    auto* full = new KL_PosixQueue(1);
    auto* empty = new KL_PosixQueue(1);
    int item = 0;
    ASSERT_EQ(full->Push(&item, 0), KL_SUCCESS);
    KL_AtomicVariable interrupted;
    std::vector<std::unique_ptr<QueueThread>> threads;
    for (int i = 0; i < 3; ++i) {
        threads.push_back(std::make_unique<QueueThread>([&] {
            if (full->Push(&item, KL_TIMEOUT_INFINITE) == KL_ERROR_INTERRUPTED) {
                interrupted.Increment();
            }
        }));
        threads.push_back(std::make_unique<QueueThread>([&, i] {
            void* out = nullptr;
            const KL_Result result = i == 0 ? empty->Peek(out, KL_TIMEOUT_INFINITE) : empty->Pop(out, 60000);
            if (result == KL_ERROR_INTERRUPTED) {
                interrupted.Increment();
            }
        }));
    }
    for (auto& thread : threads) {
        ASSERT_EQ(thread->Start(), KL_SUCCESS);
    }
    ASSERT_TRUE(WaitForBlocked(*full, 3));
    ASSERT_TRUE(WaitForBlocked(*empty, 3));
    delete full;
    delete empty;
    // The destructors returned only after every blocked thread had left.
    EXPECT_EQ(interrupted.GetValue(), 6);
    threads.clear();
}

TEST(Queue, ManyProducersAndConsumers) {
    constexpr int kProducers = 4, kConsumers = 3, kPerProducer = 2000;
    static int values[kProducers * kPerProducer];
    KL_Queue<int> queue(8);
    KL_AtomicVariable sum, taken;
    std::vector<std::unique_ptr<QueueThread>> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.push_back(std::make_unique<QueueThread>([&, p] {
            for (int n = 0; n < kPerProducer; ++n) {
                int* value = &values[p * kPerProducer + n];
                *value = 1 + n % 7;
                EXPECT_EQ(queue.Push(value, 60000), KL_SUCCESS);
            }
        }));
    }
    for (int c = 0; c < kConsumers; ++c) {
        threads.push_back(std::make_unique<QueueThread>([&] {
            int* value = nullptr;
            while (taken.Increment() <= kProducers * kPerProducer) {
                ASSERT_EQ(queue.Pop(value, 60000), KL_SUCCESS);
                for (int k = 0; k < *value; ++k) {
                    sum.Increment();
                }
            }
        }));
    }
    for (auto& thread : threads) {
        ASSERT_EQ(thread->Start(), KL_SUCCESS);
    }
    threads.clear();
    int expected = 0;
    for (int n = 0; n < kPerProducer; ++n) {
        expected += 1 + n % 7;
    }
    EXPECT_EQ(sum.GetValue(), expected * kProducers);
    int* rest = nullptr;
    EXPECT_EQ(queue.Pop(rest, 0), KL_ERROR_LIST_EMPTY);
}
