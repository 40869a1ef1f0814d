#include "KL_AtomicVariable.h"
#include "KL_CallbackSlot.h"
#include "KL_PosixClock.h"
#include "KL_SharedVariable.h"
#include "KL_System.h"
#include "KL_Thread.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

// Runs a function on a joinable KL_Thread.
class FunctionThread : public KL_Thread {
public:
    template <class F> explicit FunctionThread(F function) : m_Function(std::move(function)) {}
    ~FunctionThread() override { (void)Wait(); }
    void Run() override { m_Function(); }

private:
    std::function<void()> m_Function;
};

} // namespace

TEST(SharedVariable, WaitsWithoutWaiting) {
    struct Case {
        bool until;
        int32_t value;
        KL_Timeout timeout;
        KL_Result expected;
    };
    const Case cases[] = {
        {true, 3, 0, KL_SUCCESS},
        {true, 4, 0, KL_ERROR_TIMEOUT},
        {true, 4, 100, KL_ERROR_TIMEOUT},
        {false, 4, 0, KL_SUCCESS},
        {false, 3, 0, KL_ERROR_TIMEOUT},
        {false, 3, 100, KL_ERROR_TIMEOUT},
        {true, 3, KL_TIMEOUT_INFINITE, KL_SUCCESS},
        {false, 4, KL_TIMEOUT_INFINITE, KL_SUCCESS},
    };
    KL_SharedVariable variable(3);
    for (const Case& c : cases) {
        const KL_Result result = c.until ? variable.WaitUntilEquals(c.value, c.timeout)
                                         : variable.WaitWhileEquals(c.value, c.timeout);
        EXPECT_EQ(result, c.expected) << c.until << " " << c.value << " " << c.timeout;
    }
    EXPECT_EQ(variable.GetValue(), 3);
}

TEST(SharedVariable, SetValueWakesEveryWaiter) {
    KL_SharedVariable variable;
    KL_AtomicVariable woken;
    std::vector<std::unique_ptr<FunctionThread>> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.push_back(std::make_unique<FunctionThread>([&] {
            if (variable.WaitUntilEquals(1) == KL_SUCCESS) {
                woken.Increment();
            }
        }));
        ASSERT_EQ(waiters.back()->Start(), KL_SUCCESS);
    }
    variable.SetValue(1);
    waiters.clear();
    EXPECT_EQ(woken.GetValue(), 4);
}

TEST(SharedVariable, DeadlineHoursAheadIsExact) {
    const KL_Timeout timeouts[] = {5 * 3600 * 1000, 0xFFFFFFFEu, 1999};
    for (KL_Timeout timeout : timeouts) {
        struct timespec before, deadline, after;
        clock_gettime(CLOCK_MONOTONIC, &before);
        ASSERT_EQ(KL_PosixComputeDeadline(timeout, deadline), KL_SUCCESS);
        clock_gettime(CLOCK_MONOTONIC, &after);
        const auto ns = [](const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; };
        EXPECT_GE(ns(deadline) - ns(before), int64_t(timeout) * 1000000) << timeout;
        EXPECT_LE(ns(deadline) - ns(after), int64_t(timeout) * 1000000) << timeout;
        EXPECT_LT(deadline.tv_nsec, 1000000000);
    }
}

TEST(AtomicVariable, CountsFromManyThreads) {
    KL_AtomicVariable fresh;
    EXPECT_EQ(fresh.Increment(), 1);
    EXPECT_EQ(fresh.Decrement(), 0);

    KL_AtomicVariable counter(10);
    {
        std::vector<std::unique_ptr<FunctionThread>> threads;
        for (int i = 0; i < 4; ++i) {
            threads.push_back(std::make_unique<FunctionThread>([&] {
                for (int n = 0; n < 1000; ++n) {
                    counter.Increment();
                }
            }));
            ASSERT_EQ(threads.back()->Start(), KL_SUCCESS);
        }
    }
    EXPECT_EQ(counter.GetValue(), 4010);
    EXPECT_EQ(counter.SetValue(-3), KL_SUCCESS);
    EXPECT_EQ(counter.Decrement(), -4);
}

namespace {

class RecordingReceiver : public KL_CallbackReceiver {
public:
    void OnCallback(void* args) override { m_Args.push_back(args); }
    std::vector<void*> m_Args;
};

class CountingNotifier : public KL_CallbackNotifier {
public:
    void Notify() override { m_Posted.SetValue(m_Posted.GetValue() + 1); }
    KL_SharedVariable m_Posted;
};

} // namespace

TEST(CallbackSlot, HandsACallToTheReceiver) {
    KL_CallbackSlot slot;
    RecordingReceiver receiver;
    CountingNotifier notifier;
    EXPECT_EQ(slot.Receive(&receiver), KL_ERROR_CALLBACK_NOTHING_PENDING);
    EXPECT_EQ(slot.Receive(&receiver, 50), KL_ERROR_TIMEOUT);
    EXPECT_EQ(slot.SetNotifier(&notifier), KL_SUCCESS);

    int payload = 7;
    KL_Result sent = KL_FAILURE;
    {
        FunctionThread sender([&] { sent = slot.Send(&payload); });
        ASSERT_EQ(sender.Start(), KL_SUCCESS);
        ASSERT_EQ(slot.Receive(&receiver, 10000), KL_SUCCESS);
    }
    EXPECT_EQ(sent, KL_SUCCESS);
    EXPECT_EQ(notifier.m_Posted.GetValue(), 1);
    ASSERT_EQ(receiver.m_Args.size(), 1u);
    EXPECT_EQ(receiver.m_Args[0], &payload);
    EXPECT_EQ(slot.Receive(&receiver), KL_ERROR_CALLBACK_NOTHING_PENDING);
}

TEST(CallbackSlot, ShutdownReleasesABlockedSender) {
    KL_CallbackSlot slot;
    CountingNotifier notifier;
    slot.SetNotifier(&notifier);
    KL_Result sent = KL_FAILURE;
    {
        FunctionThread sender([&] { sent = slot.Send(nullptr); });
        ASSERT_EQ(sender.Start(), KL_SUCCESS);
        ASSERT_EQ(notifier.m_Posted.WaitUntilEquals(1, 10000), KL_SUCCESS);
        EXPECT_EQ(slot.Shutdown(), KL_SUCCESS);
    }
    EXPECT_EQ(sent, KL_ERROR_CALLBACK_HANDLER_SHUTDOWN);

    RecordingReceiver receiver;
    EXPECT_EQ(slot.Send(nullptr), KL_ERROR_CALLBACK_HANDLER_SHUTDOWN);
    EXPECT_EQ(slot.Receive(&receiver), KL_ERROR_CALLBACK_HANDLER_SHUTDOWN);
    EXPECT_EQ(slot.Receive(&receiver, 10), KL_ERROR_CALLBACK_HANDLER_SHUTDOWN);
    EXPECT_TRUE(receiver.m_Args.empty());
}

TEST(CallbackSlot, ShutdownReleasesABlockedReceiver) {
    KL_CallbackSlot slot;
    RecordingReceiver receiver;
    KL_Result received = KL_FAILURE;
    FunctionThread receiving([&] { received = slot.Receive(&receiver, KL_TIMEOUT_INFINITE); });
    ASSERT_EQ(receiving.Start(), KL_SUCCESS);
    KL_System::Sleep(KL_TimeStamp::FromMillis(50)); // most likely blocked by now; refused either way
    EXPECT_EQ(slot.Shutdown(), KL_SUCCESS);
    ASSERT_EQ(receiving.Wait(), KL_SUCCESS);
    EXPECT_EQ(received, KL_ERROR_CALLBACK_HANDLER_SHUTDOWN);
    EXPECT_TRUE(receiver.m_Args.empty());
}
