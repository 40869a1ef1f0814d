#include "KL_PosixQueue.h"

#include "KL_Log.h"
#include "KL_PosixClock.h"

#include <cerrno>

KL_SET_LOCAL_LOGGER("keel.queue.posix");

namespace {
// How long the destructor sleeps between looks at the blocked threads.
constexpr KL_Timeout kAbortPollMillis = 20;
} // namespace

KL_GenericQueue* KL_GenericQueue::CreateInstance(KL_Size maxItems) {
    KL_LOG_FINER("queue max_items = %ld", static_cast<long>(maxItems));
    return new KL_PosixQueue(maxItems);
}

KL_PosixQueue::KL_PosixQueue(KL_Size maxItems)
    : m_MaxItems(maxItems), m_PushersWaitingCount(0), m_PoppersWaitingCount(0), m_Aborting(false) {
    pthread_mutex_init(&m_Mutex, nullptr);
    KL_PosixInitCondition(&m_CanPushCondition);
    KL_PosixInitCondition(&m_CanPopCondition);
}

KL_PosixQueue::~KL_PosixQueue() {
    Abort();
    pthread_cond_destroy(&m_CanPopCondition);
    pthread_cond_destroy(&m_CanPushCondition);
    pthread_mutex_destroy(&m_Mutex);
    m_Items.Clear();
}

KL_Result KL_PosixQueue::Enter(KL_Timeout timeout, struct timespec& deadline) {
    if (timeout != KL_TIMEOUT_INFINITE && KL_FAILED(KL_PosixComputeDeadline(timeout, deadline))) {
        return KL_FAILURE;
    }
    return pthread_mutex_lock(&m_Mutex) == 0 ? KL_SUCCESS : KL_FAILURE;
}

KL_Result KL_PosixQueue::Push(void* item, KL_Timeout timeout) {
    struct timespec deadline = {};
    if (KL_FAILED(Enter(timeout, deadline))) {
        return KL_FAILURE;
    }
    const struct timespec* until = timeout == KL_TIMEOUT_INFINITE ? nullptr : &deadline;
    while (m_MaxItems != 0 && m_Items.GetItemCount() >= m_MaxItems) {
        ++m_PushersWaitingCount;
        const int error = KL_PosixConditionWait(&m_CanPushCondition, &m_Mutex, until);
        --m_PushersWaitingCount;
        if (error == ETIMEDOUT || m_Aborting) {
            pthread_mutex_unlock(&m_Mutex);
            return error == ETIMEDOUT ? KL_ERROR_TIMEOUT : KL_ERROR_INTERRUPTED;
        }
    }
    const KL_Result result = m_Items.Add(item);
    if (KL_SUCCEEDED(result) && m_PoppersWaitingCount != 0) {
        pthread_cond_broadcast(&m_CanPopCondition);
    }
    pthread_mutex_unlock(&m_Mutex);
    return result;
}

KL_Result KL_PosixQueue::WaitForItem(KL_Timeout timeout, const struct timespec& deadline) {
    if (timeout == 0) {
        return m_Items.IsEmpty() ? KL_ERROR_LIST_EMPTY : KL_SUCCESS;
    }
    const struct timespec* until = timeout == KL_TIMEOUT_INFINITE ? nullptr : &deadline;
    while (m_Items.IsEmpty()) {
        ++m_PoppersWaitingCount;
        const int error = KL_PosixConditionWait(&m_CanPopCondition, &m_Mutex, until);
        --m_PoppersWaitingCount;
        if (error == ETIMEDOUT) {
            return KL_ERROR_TIMEOUT;
        }
        if (m_Aborting) {
            return KL_ERROR_INTERRUPTED;
        }
    }
    return KL_SUCCESS;
}

KL_Result KL_PosixQueue::Take(void*& item, KL_Timeout timeout, bool remove) {
    struct timespec deadline = {};
    if (KL_FAILED(Enter(timeout, deadline))) {
        return KL_FAILURE;
    }
    KL_Result result = WaitForItem(timeout, deadline);
    if (KL_SUCCEEDED(result)) {
        if (remove) {
            result = m_Items.PopHead(item);
            if (m_MaxItems != 0 && m_PushersWaitingCount != 0) {
                pthread_cond_broadcast(&m_CanPushCondition);
            }
        } else {
            item = *m_Items.GetFirstItem();
        }
    }
    pthread_mutex_unlock(&m_Mutex);
    return result;
}

KL_Result KL_PosixQueue::Pop(void*& item, KL_Timeout timeout) {
    return Take(item, timeout, true);
}

KL_Result KL_PosixQueue::Peek(void*& item, KL_Timeout timeout) {
    const KL_Result result = Take(item, timeout, false);
    if (KL_FAILED(result)) {
        item = nullptr;
    }
    return result;
}

KL_Size KL_PosixQueue::GetWaitingCount() {
    pthread_mutex_lock(&m_Mutex);
    const KL_Size count = m_PushersWaitingCount + m_PoppersWaitingCount;
    pthread_mutex_unlock(&m_Mutex);
    return count;
}

void KL_PosixQueue::Abort() {
    pthread_mutex_lock(&m_Mutex);
    m_Aborting = true;
    while (m_PushersWaitingCount != 0 || m_PoppersWaitingCount != 0) {
        // Broadcast on every round, so that a thread that began to wait after the first round
        // is released too instead of keeping the destructor waiting for ever.
        pthread_cond_broadcast(&m_CanPushCondition);
        pthread_cond_broadcast(&m_CanPopCondition);
        struct timespec deadline = {};
        if (KL_FAILED(KL_PosixComputeDeadline(kAbortPollMillis, deadline))) {
            break;
        }
        // Nothing signals this condition to the destructor: the wait only lets the others run.
        (void)KL_PosixConditionWait(&m_CanPushCondition, &m_Mutex, &deadline);
    }
    pthread_mutex_unlock(&m_Mutex);
}
