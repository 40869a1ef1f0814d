#include "UP_TaskManager.h"

#include "KL_Check.h"
#include "KL_System.h"
#include "UP_ThreadTask.h"

KL_SET_LOCAL_LOGGER("upnp.core.threadtasks");

namespace {

// A full manager makes AddTask wait for a token in steps of this length, re-checking the
// stopping flag (and letting ending tasks take the lock) between steps.
constexpr KL_Timeout kTokenPushMillis = 20;
// Pause between two such steps, so that the lock does not go straight back to the waiting adder.
constexpr int64_t kTokenRetryPauseMillis = 1;
// How long an ending task waits to hand its token back.
constexpr KL_Timeout kTokenPopMillis = 100;
// Pause between the rounds of StopAllTasks.
constexpr int64_t kStopRoundMillis = 50;

// The queue holds tokens, never dereferenced.
int g_Token = 0;

void DeleteIfAutoDestroy(UP_ThreadTask* task) {
    if (task->IsAutoDestroy()) {
        delete task;
    }
}

} // namespace

UP_TaskManager::UP_TaskManager(KL_Cardinal max_tasks) : m_MaxTasks(max_tasks) {}

UP_TaskManager::~UP_TaskManager() {
    (void)StopAllTasks();
    delete m_Queue;
}

KL_Result UP_TaskManager::StartTask(UP_ThreadTask* task, const KL_TimeStamp* delay, bool auto_destroy) {
    KL_CHECK_POINTER_SEVERE(task);
    return task->Start(this, delay, auto_destroy);
}

KL_Result UP_TaskManager::TakeToken() {
    if (m_Stopping) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, KL_ERROR_INTERRUPTED, "(((-20000-0) - 20))");
        return KL_ERROR_INTERRUPTED;
    }
    if (m_MaxTasks == 0) {
        return KL_SUCCESS;
    }
    if (m_Queue == nullptr) {
        m_Queue = new KL_Queue<int>(m_MaxTasks);
    }
    const KL_Result pushed = m_Queue->Push(&g_Token, kTokenPushMillis);
    if (KL_FAILED(pushed) && pushed != KL_ERROR_TIMEOUT) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, pushed, "(result)");
    }
    return pushed;
}

KL_Result UP_TaskManager::AddTask(UP_ThreadTask* task) {
    for (;;) {
        KL_Result result = KL_SUCCESS;
        bool token_taken = false;
        {
            KL_AutoLock lock(m_TasksLock);
            result = TakeToken();
            if (KL_SUCCEEDED(result)) {
                token_taken = true;
                // Still locked: the task cannot remove (or delete) itself before it is listed.
                result = task->StartThread();
                if (KL_SUCCEEDED(result)) {
                    ++m_RunningTasks;
                    KL_LOG_FINER("[TaskManager 0x%08x] %d/%d running tasks",
                                 static_cast<unsigned int>(reinterpret_cast<uintptr_t>(this)), m_RunningTasks,
                                 static_cast<int>(m_MaxTasks));
                    (void)m_Tasks.Add(task);
                    return KL_SUCCESS;
                }
            }
        }
        if (token_taken) {
            // The thread did not start: hand the token back (and delete a self-destroying task).
            (void)RemoveTask(task);
            return result;
        }
        if (result != KL_ERROR_TIMEOUT) {
            DeleteIfAutoDestroy(task);
            return result;
        }
        // Full: let an ending task take the lock and hand its token back before trying again.
        (void)KL_System::Sleep(KL_TimeStamp::FromMillis(kTokenRetryPauseMillis));
    }
}

KL_Result UP_TaskManager::RemoveTask(UP_ThreadTask* task) {
    m_TasksLock.Lock();
    if (m_Queue != nullptr) {
        int* token = nullptr;
        const KL_Result popped = m_Queue->Pop(token, kTokenPopMillis);
        if (KL_FAILED(popped)) {
            KL_LOG_WARNING("Failed to pop task from queue %d", static_cast<int>(popped));
        }
    }
    // A task whose thread never started was not counted.
    if (KL_SUCCEEDED(m_Tasks.Remove(task))) {
        --m_RunningTasks;
    }
    KL_LOG_FINER("[TaskManager 0x%08x] %d/%d running tasks",
                 static_cast<unsigned int>(reinterpret_cast<uintptr_t>(this)), m_RunningTasks,
                 static_cast<int>(m_MaxTasks));
    const bool auto_destroy = task->IsAutoDestroy();
    if (auto_destroy) {
        ++m_EndingTasks;
    }
    m_TasksLock.Unlock();
    if (auto_destroy) {
        // Deleted outside the lock (a destructor may take locks of its own), but counted until it
        // is gone, so StopAllTasks does not return while the destructor still runs.
        delete task;
        KL_AutoLock lock(m_TasksLock);
        --m_EndingTasks;
    }
    return KL_SUCCESS;
}

KL_Result UP_TaskManager::StopAllTasks() {
    for (;;) {
        {
            KL_AutoLock lock(m_TasksLock);
            m_Stopping = true;
            if (m_Queue != nullptr) {
                int* token = nullptr;
                while (KL_SUCCEEDED(m_Queue->Pop(token, 0))) {
                }
                delete m_Queue;
                m_Queue = nullptr;
            }
        }
        KL_Size count = 0;
        {
            // Under the lock no listed task can remove (and delete) itself, so Stop is safe on
            // self-destroying tasks too.
            KL_AutoLock lock(m_TasksLock);
            for (UP_ThreadTask* task : m_Tasks) {
                if (!task->IsAborting(0)) {
                    (void)task->Stop(false);
                }
            }
            count = m_Tasks.GetItemCount() + m_EndingTasks;
        }
        if (count == 0) {
            return KL_SUCCESS;
        }
        (void)KL_System::Sleep(KL_TimeStamp::FromMillis(kStopRoundMillis));
    }
}

KL_Result UP_TaskManager::Reset() {
    KL_AutoLock lock(m_TasksLock);
    m_Stopping = false;
    return KL_SUCCESS;
}

KL_Cardinal UP_TaskManager::GetTaskCount() {
    KL_AutoLock lock(m_TasksLock);
    return m_Tasks.GetItemCount();
}

bool UP_TaskManager::IsStopping() {
    KL_AutoLock lock(m_TasksLock);
    return m_Stopping;
}
