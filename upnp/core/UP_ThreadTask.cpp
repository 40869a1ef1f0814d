#include "UP_ThreadTask.h"

#include "KL_Check.h"
#include "KL_Mutex.h"
#include "KL_System.h"
#include "KL_Thread.h"
#include "UP_TaskManager.h"

KL_SET_LOCAL_LOGGER("upnp.core.threadtasks");

namespace {

// A delay longer than this is waited in abortable steps; a shorter one is slept in one piece.
constexpr int64_t kSteppedDelayNanos = 100 * KL_TimeStamp::NANOS_PER_MILLI;
constexpr KL_Timeout kDelayStepMillis = 100;

// Held by whoever starts a self-destroying task without a manager, from the thread's creation
// until its body has begun; the body takes it before deleting the task. So the starter never
// waits on a task that is already gone (a manager's own lock plays this part for its tasks).
KL_Mutex& UnmanagedStartLock() {
    static KL_Mutex lock;
    return lock;
}

} // namespace

UP_ThreadTask::UP_ThreadTask() : m_Started(0), m_Abort(0) {}

UP_ThreadTask::~UP_ThreadTask() {
    // A detached thread deletes its own front once Run has returned, so a self-destroying task
    // (deleted from inside Run) must leave it alone. An owned task's thread is joined here.
    if (!m_AutoDestroy) {
        delete m_Thread;
    }
    m_Thread = nullptr;
}

KL_Result UP_ThreadTask::Start(UP_TaskManager* task_manager, const KL_TimeStamp* delay, bool auto_destroy) {
    m_Abort.SetValue(0);
    m_AutoDestroy = auto_destroy;
    m_Delay = delay != nullptr ? *delay : KL_TimeStamp();
    m_TaskManager = task_manager;

    if (task_manager != nullptr) {
        // The manager deletes a self-destroying task it refuses: nothing of it is touched after.
        KL_CHECK_SEVERE(m_TaskManager->AddTask(this));
        return KL_SUCCESS;
    }

    KL_Result result;
    if (auto_destroy) {
        KL_AutoLock lock(UnmanagedStartLock());
        result = StartThread();
    } else {
        result = StartThread();
    }
    if (KL_FAILED(result) && auto_destroy) {
        delete this;
    }
    return result;
}

KL_Result UP_ThreadTask::StartThread() {
    m_Started.SetValue(0);
    // A task restarted after its thread ended gets a fresh thread (joining the old one).
    if (!m_AutoDestroy) {
        delete m_Thread;
    }
    m_Thread = new KL_Thread(this, m_AutoDestroy);
    const KL_Result result = m_Thread->Start();
    if (KL_FAILED(result)) {
        if (m_AutoDestroy) {
            delete m_Thread;
            m_Thread = nullptr;
        }
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, result, "(result)");
        return result;
    }
    return m_Started.WaitUntilEquals(1);
}

void UP_ThreadTask::Run() {
    m_Started.SetValue(1);
    WaitForDelay();
    if (!IsAborting(0)) {
        DoInit();
        DoRun();
    }
    // Nothing of this object may be used below: either call may delete it.
    if (m_TaskManager != nullptr) {
        (void)m_TaskManager->RemoveTask(this);
    } else if (m_AutoDestroy) {
        { KL_AutoLock lock(UnmanagedStartLock()); }
        delete this;
    }
}

void UP_ThreadTask::WaitForDelay() {
    const int64_t delay = m_Delay.ToNanos();
    if (delay > kSteppedDelayNanos) {
        KL_TimeStamp start;
        if (KL_FAILED(KL_System::GetCurrentTimeStamp(start))) {
            return;
        }
        const KL_TimeStamp end = start + m_Delay;
        for (;;) {
            KL_TimeStamp now;
            if (KL_FAILED(KL_System::GetCurrentTimeStamp(now)) || now >= end) {
                return;
            }
            if (IsAborting(kDelayStepMillis)) {
                return;
            }
        }
    }
    if (delay > 0) {
        (void)KL_System::Sleep(m_Delay);
    }
}

bool UP_ThreadTask::IsAborting(KL_Timeout timeout) {
    if (timeout == 0) {
        return m_Abort.GetValue() == 1;
    }
    (void)m_Abort.WaitUntilEquals(1, timeout);
    return m_Abort.GetValue() == 1;
}

KL_Result UP_ThreadTask::Stop(bool blocking) {
    // Read first: a self-destroying task may be deleted by its own thread once it sees the abort.
    const bool auto_destroy = m_AutoDestroy;
    KL_Thread* thread = m_Thread;

    m_Abort.SetValue(1);
    DoAbort();

    if (!blocking || thread == nullptr) {
        return KL_SUCCESS;
    }
    if (auto_destroy) {
        return KL_FAILURE;
    }
    return thread->Wait();
}

KL_Result UP_ThreadTask::Kill() {
    const bool auto_destroy = m_AutoDestroy;
    (void)Stop(true);
    if (!auto_destroy) {
        delete this;
    }
    return KL_SUCCESS;
}
