#include "KL_SharedVariable.h"
#include "KL_System.h"
#include "KL_Thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Runs until its gate opens, then marks itself finished.
class GatedRunnable : public KL_Runnable {
public:
    void Run() override {
        (void)m_Gate.WaitUntilEquals(1, 10000);
        m_Finished.store(true);
    }
    KL_SharedVariable m_Gate;
    std::atomic<bool> m_Finished{false};
};

// A detached thread: tells when Run ends and when (and on which thread) it is deleted.
class SelfDeletingThread : public KL_Thread {
public:
    SelfDeletingThread(KL_SharedVariable& deleted, std::atomic<bool>& onOwnThread)
        : KL_Thread(true), m_Deleted(deleted), m_OnOwnThread(onOwnThread) {}
    ~SelfDeletingThread() override {
        m_OnOwnThread.store(pthread_equal(pthread_self(), m_RunThread.load()) != 0);
        m_Deleted.SetValue(1);
    }
    void Run() override {
        m_RunThread.store(pthread_self());
        (void)m_Gate.WaitUntilEquals(1, 10000);
    }
    KL_SharedVariable m_Gate;

private:
    KL_SharedVariable& m_Deleted;
    std::atomic<bool>& m_OnOwnThread;
    std::atomic<pthread_t> m_RunThread{0};
};

} // namespace

TEST(Thread, WaitWithoutAThreadToJoinFails) {
    KL_Thread unstarted;
    EXPECT_EQ(unstarted.Wait(), KL_FAILURE);
    EXPECT_EQ(unstarted.Wait(100), KL_FAILURE);

    KL_SharedVariable deleted;
    std::atomic<bool> onOwnThread{false};
    auto* detached = new SelfDeletingThread(deleted, onOwnThread);
    ASSERT_EQ(detached->Start(), KL_SUCCESS);
    // Still inside Run (held by its gate), so the object is alive.
    EXPECT_EQ(detached->Wait(), KL_FAILURE);
    detached->m_Gate.SetValue(1);
    EXPECT_EQ(deleted.WaitUntilEquals(1, 10000), KL_SUCCESS);
}

TEST(Thread, TimedWaitThenJoin) {
    GatedRunnable body;
    KL_Thread thread(&body);
    ASSERT_EQ(thread.Start(), KL_SUCCESS);
    EXPECT_EQ(thread.Wait(0), KL_FAILURE);
    EXPECT_EQ(thread.Wait(100), KL_FAILURE);
    body.m_Gate.SetValue(1);
    EXPECT_EQ(thread.Wait(), KL_SUCCESS);
    EXPECT_TRUE(body.m_Finished.load());
    EXPECT_EQ(thread.Wait(), KL_SUCCESS);
    EXPECT_EQ(thread.Wait(0), KL_SUCCESS);
}

TEST(Thread, DeletingAJoinableThreadWaitsForItsBody) {
    GatedRunnable body;
    auto* thread = new KL_Thread(&body);
    ASSERT_EQ(thread->Start(), KL_SUCCESS);
    struct Opener : KL_Runnable {
        explicit Opener(GatedRunnable& b) : m_Body(b) {}
        void Run() override {
            KL_System::Sleep(KL_TimeStamp::FromMillis(50));
            m_Body.m_Gate.SetValue(1);
        }
        GatedRunnable& m_Body;
    } openerBody(body);
    KL_Thread gateOpener(&openerBody);
    ASSERT_EQ(gateOpener.Start(), KL_SUCCESS);
    delete thread;
    EXPECT_TRUE(body.m_Finished.load());

    delete new KL_Thread(); // never started: returns at once
}

TEST(Thread, DetachedThreadDeletesItselfOnItsOwnThread) {
    KL_SharedVariable deleted;
    std::atomic<bool> onOwnThread{false};
    auto* thread = new SelfDeletingThread(deleted, onOwnThread);
    thread->m_Gate.SetValue(1);
    ASSERT_EQ(thread->Start(), KL_SUCCESS);
    ASSERT_EQ(deleted.WaitUntilEquals(1, 10000), KL_SUCCESS);
    EXPECT_TRUE(onOwnThread.load());
}

TEST(Thread, RunsItsOwnRunOrATarget) {
    struct Counting : KL_Thread {
        void Run() override { m_Runs.fetch_add(1); }
        std::atomic<int> m_Runs{0};
    } own;
    ASSERT_EQ(own.Start(), KL_SUCCESS);
    ASSERT_EQ(own.Wait(), KL_SUCCESS);
    // Started again after a join: runs again.
    ASSERT_EQ(own.Start(), KL_SUCCESS);
    ASSERT_EQ(own.Wait(), KL_SUCCESS);
    EXPECT_EQ(own.m_Runs.load(), 2);
}

TEST(Thread, InterruptIsNotImplemented) {
    KL_Thread thread;
    EXPECT_EQ(thread.Interrupt(), KL_ERROR_NOT_IMPLEMENTED);
    KL_Interruptible& side = thread;
    EXPECT_EQ(side.Interrupt(), KL_ERROR_NOT_IMPLEMENTED);
}

TEST(Thread, Priorities) {
    GatedRunnable body;
    KL_Thread thread(&body);
    int32_t priority = -7;
    EXPECT_EQ(thread.SetPriority(0), KL_FAILURE);
    EXPECT_EQ(thread.GetPriority(priority), KL_FAILURE);
    ASSERT_EQ(thread.Start(), KL_SUCCESS);
    EXPECT_EQ(thread.GetPriority(priority), KL_SUCCESS);
    EXPECT_EQ(priority, 0);
    EXPECT_EQ(thread.SetPriority(0), KL_SUCCESS);
    // Under SCHED_OTHER only priority 0 exists.
    EXPECT_EQ(thread.SetPriority(5), KL_ResultFromErrno(EINVAL));
    body.m_Gate.SetValue(1);
    EXPECT_EQ(thread.Wait(), KL_SUCCESS);

    EXPECT_EQ(KL_Thread::GetCurrentThreadPriority(priority), KL_SUCCESS);
    EXPECT_EQ(priority, 0);
    EXPECT_EQ(KL_Thread::SetCurrentThreadPriority(0), KL_SUCCESS);
    EXPECT_EQ(KL_Thread::SetThreadPriority(KL_Thread::GetCurrentThreadId(), 5), -22022);
    EXPECT_NE(pthread_equal(KL_Thread::GetCurrentThreadId(), pthread_self()), 0);
}
