// UP_ThreadTask: an abortable unit of work that runs on a thread of its own.
//
// Every worker of the framework (HTTP listen and connection tasks, SSDP tasks, the event task,
// the HTTP client task) derives from it and implements DoRun. A task is started alone or through
// a UP_TaskManager (which limits how many run at once and aborts them all on request). Every
// loop in DoRun tests IsAborting(0); DoAbort cancels whatever DoRun may be blocked in.
//
// Ownership: a task started with auto_destroy = true deletes itself (or its manager deletes it)
// when its body ends, and its thread is detached; the caller must not touch it after Start,
// even after a failed Start. Other tasks belong to their owner, who ends them with Stop(true)
// and deletes them, or calls Kill.
#pragma once

#include "KL_Result.h"
#include "KL_Runnable.h"
#include "KL_SharedVariable.h"
#include "KL_TimeStamp.h"
#include "KL_Types.h"

class KL_Thread;
class UP_TaskManager;

class UP_ThreadTask : public KL_Runnable {
public:
    UP_ThreadTask();
    // An owned task's destructor joins its thread (call Stop first so that DoRun returns).
    ~UP_ThreadTask() override;
    UP_ThreadTask(const UP_ThreadTask&) = delete;
    UP_ThreadTask& operator=(const UP_ThreadTask&) = delete;

    // The thread body: the delay, then DoInit and DoRun unless aborted, then removal from the
    // manager (and deletion of a self-destroying task).
    void Run() override;
    // Waits up to timeout milliseconds for an abort; true once one was asked.
    virtual bool IsAborting(KL_Timeout timeout);
    virtual void DoInit() {}
    virtual void DoAbort() {}
    virtual void DoRun() = 0;

    // Starts the task through the manager (null: alone) after the delay (null: none). Returns
    // once the thread has begun; KL_ERROR_INTERRUPTED when the manager is stopping.
    KL_Result Start(UP_TaskManager* task_manager = nullptr, const KL_TimeStamp* delay = nullptr,
                    bool auto_destroy = false);
    // Creates and starts the thread; returns when its body has begun.
    KL_Result StartThread();
    // Asks for an abort (and calls DoAbort); when blocking, waits for an owned task's thread.
    // A self-destroying task answers -1 without waiting: only its manager knows when it ends.
    // Call Stop on a self-destroying task only where it cannot be deleted meanwhile (under its
    // manager's lock, as StopAllTasks does).
    KL_Result Stop(bool blocking = true);
    // Stop(true), then deletes an owned task. Always 0.
    KL_Result Kill();

    UP_TaskManager* GetTaskManager() const { return m_TaskManager; }
    bool IsAutoDestroy() const { return m_AutoDestroy; }

protected:
    UP_TaskManager* m_TaskManager = nullptr;
    KL_SharedVariable m_Started;
    KL_SharedVariable m_Abort;
    KL_Thread* m_Thread = nullptr;
    bool m_AutoDestroy = false;
    KL_TimeStamp m_Delay;

private:
    void WaitForDelay();
};
