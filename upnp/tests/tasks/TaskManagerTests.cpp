#include "KL_SharedVariable.h"
#include "KL_System.h"
#include "KL_Thread.h"
#include "UP_TaskManager.h"
#include "UP_ThreadTask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {

// What the tasks of a test report back.
struct Probe {
    std::atomic<int> inits{0};
    std::atomic<int> runs{0};
    std::atomic<int> ended{0};
    std::atomic<int> deleted{0};
};

// Works until aborted, or until `release` (when given) turns 1, or for `steps` short waits
// (when not 0).
class TestTask : public UP_ThreadTask {
public:
    explicit TestTask(Probe& probe, KL_SharedVariable* release = nullptr, int steps = 0)
        : m_Probe(probe), m_Release(release), m_Steps(steps) {}
    ~TestTask() override { ++m_Probe.deleted; }

    void DoInit() override { ++m_Probe.inits; }
    void DoRun() override {
        ++m_Probe.runs;
        for (int step = 0; m_Steps == 0 || step < m_Steps; ++step) {
            if (m_Release != nullptr ? m_Release->GetValue() == 1 : IsAborting(5)) {
                break;
            }
            if (m_Release != nullptr) {
                (void)m_Release->WaitUntilEquals(1, 5);
            }
        }
        ++m_Probe.ended;
    }
    // The thread of an owned task, joined within the time-out.
    KL_Result WaitForThread(KL_Timeout timeout) {
        return m_Thread != nullptr ? m_Thread->Wait(timeout) : KL_FAILURE;
    }

private:
    Probe& m_Probe;
    KL_SharedVariable* m_Release;
    int m_Steps;
};

// Polls the condition for up to 30 s.
bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 3000; ++i) {
        if (condition()) {
            return true;
        }
        (void)KL_System::Sleep(KL_TimeStamp::FromMillis(10));
    }
    return condition();
}

} // namespace

TEST(TaskManager, NullTaskIsRefused) {
    UP_TaskManager manager;
    EXPECT_EQ(KL_ERROR_INVALID_PARAMETERS, manager.StartTask(nullptr));
}

TEST(TaskManager, WithoutLimitStartNeverBlocks) {
    Probe probe;
    UP_TaskManager manager(0);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(KL_SUCCESS, manager.StartTask(new TestTask(probe)));
    }
    EXPECT_EQ(20u, manager.GetTaskCount());
    EXPECT_EQ(KL_SUCCESS, manager.StopAllTasks());
    EXPECT_TRUE(Eventually([&] { return probe.deleted == 20; }));
}

TEST(TaskManager, StartBeyondLimitWaitsForATaskToEnd) {
    Probe probe;
    KL_SharedVariable release_first(0);
    KL_SharedVariable release_others(0);
    UP_TaskManager manager(2);
    ASSERT_EQ(KL_SUCCESS, manager.StartTask(new TestTask(probe, &release_first)));
    ASSERT_EQ(KL_SUCCESS, manager.StartTask(new TestTask(probe, &release_others)));

    std::atomic<int> ended_when_started{-1};
    KL_Result third = KL_FAILURE;
    std::thread starter([&] {
        third = manager.StartTask(new TestTask(probe, &release_others));
        ended_when_started = probe.ended.load();
    });
    (void)KL_System::Sleep(KL_TimeStamp::FromMillis(100));
    release_first.SetValue(1);
    starter.join();
    EXPECT_EQ(KL_SUCCESS, third);
    EXPECT_GE(ended_when_started, 1);

    release_others.SetValue(1);
    EXPECT_EQ(KL_SUCCESS, manager.StopAllTasks());
    EXPECT_TRUE(Eventually([&] { return probe.deleted == 3; }));
}

TEST(TaskManager, StartOnStoppingManagerIsInterruptedAndDeletesTheTask) {
    Probe running;
    Probe waiting;
    UP_TaskManager manager(1);
    ASSERT_EQ(KL_SUCCESS, manager.StartTask(new TestTask(running)));

    KL_Result blocked = KL_SUCCESS;
    std::thread starter([&] { blocked = manager.StartTask(new TestTask(waiting)); });
    (void)KL_System::Sleep(KL_TimeStamp::FromMillis(100));
    EXPECT_EQ(KL_SUCCESS, manager.StopAllTasks());
    starter.join();
    EXPECT_EQ(KL_ERROR_INTERRUPTED, blocked);
    EXPECT_EQ(1, waiting.deleted);
    EXPECT_EQ(0, waiting.runs);

    // Stopping stays until Reset.
    EXPECT_EQ(KL_ERROR_INTERRUPTED, manager.StartTask(new TestTask(waiting)));
    EXPECT_EQ(2, waiting.deleted);
    EXPECT_TRUE(Eventually([&] { return running.deleted == 1; }));
}

TEST(TaskManager, StopAllTasksOnEmptyManagerLeavesItStopping) {
    UP_TaskManager manager(3);
    EXPECT_EQ(KL_SUCCESS, manager.StopAllTasks());
    EXPECT_TRUE(manager.IsStopping());
    EXPECT_EQ(KL_SUCCESS, manager.Reset());
    EXPECT_FALSE(manager.IsStopping());
}

// Owners free what their tasks use once StopAllTasks returns: a self-destroying task's destructor
// must have finished by then, not merely its work.
TEST(TaskManager, StopAllTasksWaitsForTheDestructorsOfEndingTasks) {
    struct SlowToDelete : TestTask {
        SlowToDelete(Probe& probe, std::atomic<int>& gone) : TestTask(probe), m_Gone(gone) {}
        ~SlowToDelete() override {
            (void)KL_System::Sleep(KL_TimeStamp::FromMillis(150));
            ++m_Gone;
        }
        std::atomic<int>& m_Gone;
    };
    Probe probe;
    std::atomic<int> gone{0};
    UP_TaskManager manager;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(KL_SUCCESS, manager.StartTask(new SlowToDelete(probe, gone)));
    }
    EXPECT_EQ(KL_SUCCESS, manager.StopAllTasks());
    EXPECT_EQ(3, gone.load());
}

TEST(ThreadTask, AbortDuringDelaySkipsTheWork) {
    Probe probe;
    TestTask task(probe);
    // Far longer than the bound below: only an early end of the delay can meet it.
    const KL_TimeStamp delay = KL_TimeStamp::FromSeconds(600);
    ASSERT_EQ(KL_SUCCESS, task.Start(nullptr, &delay, false));
    EXPECT_EQ(KL_SUCCESS, task.Stop(false));
    EXPECT_EQ(KL_SUCCESS, task.WaitForThread(30000));
    EXPECT_EQ(0, probe.inits);
    EXPECT_EQ(0, probe.runs);
}

TEST(ThreadTask, ShortDelayThenWork) {
    Probe probe;
    TestTask task(probe);
    const KL_TimeStamp delay = KL_TimeStamp::FromMillis(50);
    ASSERT_EQ(KL_SUCCESS, task.Start(nullptr, &delay, false));
    ASSERT_TRUE(Eventually([&] { return probe.runs == 1; }));
    EXPECT_EQ(KL_SUCCESS, task.Stop(true));
    EXPECT_EQ(1, probe.inits);
    EXPECT_EQ(1, probe.ended);
}

TEST(ThreadTask, BlockingStopOfSelfDestroyingTaskFailsAtOnce) {
    Probe probe;
    KL_SharedVariable release(0);
    TestTask* task = new TestTask(probe, &release);
    ASSERT_EQ(KL_SUCCESS, task->Start(nullptr, nullptr, true));
    // Once in DoRun the task runs until released, so it cannot be gone yet, and a wait would
    // never end. (Before DoRun an abort would make it end, and delete itself, at once.)
    ASSERT_TRUE(Eventually([&] { return probe.runs == 1; }));
    EXPECT_EQ(KL_FAILURE, task->Stop(true));
    release.SetValue(1);
    EXPECT_TRUE(Eventually([&] { return probe.deleted == 1; }));
}

TEST(ThreadTask, BlockingStopOfOwnedTaskWaitsForItsThread) {
    Probe probe;
    TestTask* task = new TestTask(probe);
    ASSERT_EQ(KL_SUCCESS, task->Start());
    ASSERT_TRUE(Eventually([&] { return probe.runs == 1; }));
    EXPECT_EQ(KL_SUCCESS, task->Stop(true));
    EXPECT_EQ(1, probe.ended);
    EXPECT_EQ(KL_SUCCESS, task->Kill());
    EXPECT_EQ(1, probe.deleted);
}

TEST(TaskManager, StartStopChurn) {
    for (int cycle = 0; cycle < 20; ++cycle) {
        Probe probe;
        const bool limited = cycle % 2 == 1;
        {
            UP_TaskManager manager(limited ? 8 : 0);
            for (int i = 0; i < 50; ++i) {
                // Limited: short tasks that end by themselves; unlimited: tasks that wait for the abort.
                ASSERT_EQ(KL_SUCCESS,
                          manager.StartTask(new TestTask(probe, nullptr, limited ? 1 + i % 3 : 0)));
            }
        } // the destructor stops every task
        ASSERT_TRUE(Eventually([&] { return probe.deleted == 50; })) << "cycle " << cycle;
        EXPECT_EQ(probe.inits, probe.runs);
    }
}

TEST(ThreadTask, SelfDestroyingTaskThatEndsAtOnceIsNotTouchedAfterward) {
    Probe probe;
    KL_SharedVariable released(1);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(KL_SUCCESS, (new TestTask(probe, &released))->Start(nullptr, nullptr, true));
    }
    EXPECT_TRUE(Eventually([&] { return probe.deleted == 200; }));
}
