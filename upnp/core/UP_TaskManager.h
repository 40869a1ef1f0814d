// UP_TaskManager: owns running tasks, bounds how many run at once, aborts them all on request
// and deletes the ones that destroy themselves.
//
// With a maximum N > 0 a token queue of N places bounds the running tasks: a Start beyond N waits
// (in 20 ms steps, re-checking the stopping flag) until a running task ends. StopAllTasks makes
// the manager stopping for good (every later Start answers KL_ERROR_INTERRUPTED) and returns once
// every task has ended; owners that restart make a new manager.
#pragma once

#include "KL_List.h"
#include "KL_Mutex.h"
#include "KL_Queue.h"
#include "KL_Result.h"
#include "KL_TimeStamp.h"
#include "KL_Types.h"

#include <cstdint>

class UP_ThreadTask;

class UP_TaskManager {
public:
    // max_tasks 0: no limit.
    explicit UP_TaskManager(KL_Cardinal max_tasks = 0);
    // Stops every task first.
    virtual ~UP_TaskManager();
    UP_TaskManager(const UP_TaskManager&) = delete;
    UP_TaskManager& operator=(const UP_TaskManager&) = delete;

    // The task's Start with this manager; a null task is KL_ERROR_INVALID_PARAMETERS.
    virtual KL_Result StartTask(UP_ThreadTask* task, const KL_TimeStamp* delay = nullptr,
                                bool auto_destroy = true);

    // Called by a task's Start only.
    KL_Result AddTask(UP_ThreadTask* task);
    // Called by a task's thread body when it ends (deletes a self-destroying task). Always 0.
    KL_Result RemoveTask(UP_ThreadTask* task);
    // Aborts every task and returns 0 once none is left; the manager stays stopping.
    KL_Result StopAllTasks();
    // Clears the stopping flag.
    KL_Result Reset();

    KL_Cardinal GetMaxTasks() const { return m_MaxTasks; }
    // The number of listed tasks (for tests and diagnostics).
    KL_Cardinal GetTaskCount();
    bool IsStopping();

private:
    // Under m_TasksLock: KL_ERROR_INTERRUPTED when stopping, KL_ERROR_TIMEOUT while every place
    // is taken (the caller lets go of the lock and tries again), else the push's result.
    KL_Result TakeToken();

    KL_List<UP_ThreadTask*> m_Tasks;
    KL_Mutex m_TasksLock;
    KL_Queue<int>* m_Queue = nullptr;
    KL_Cardinal m_MaxTasks;
    int32_t m_RunningTasks = 0;
    // Self-destroying tasks taken off the list whose destructor still runs: StopAllTasks waits
    // for them too, so nothing a task's destructor uses may go away before it has finished.
    KL_Cardinal m_EndingTasks = 0;
    bool m_Stopping = false;
};
