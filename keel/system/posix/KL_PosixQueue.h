// The blocking queue over a POSIX mutex and two conditions on the monotonic clock.
#pragma once

#include "KL_GenericQueue.h"
#include "KL_List.h"

#include <pthread.h>
#include <time.h>

class KL_PosixQueue : public KL_GenericQueue {
public:
    explicit KL_PosixQueue(KL_Size maxItems);
    // Aborts: releases every blocked pusher and popper with KL_ERROR_INTERRUPTED and returns
    // once all have left. Frees the list nodes, not the items.
    ~KL_PosixQueue() override;
    KL_PosixQueue(const KL_PosixQueue&) = delete;
    KL_PosixQueue& operator=(const KL_PosixQueue&) = delete;

    KL_Result Push(void* item, KL_Timeout timeout) override;
    KL_Result Pop(void*& item, KL_Timeout timeout) override;
    KL_Result Peek(void*& item, KL_Timeout timeout) override;

    // How many threads are blocked in Push and Pop/Peek right now.
    KL_Size GetWaitingCount();

private:
    // Deadline (when finite) and lock; -1 when either fails.
    KL_Result Enter(KL_Timeout timeout, struct timespec& deadline);
    // Waits until the queue holds an item; called and returning with the mutex held.
    KL_Result WaitForItem(KL_Timeout timeout, const struct timespec& deadline);
    KL_Result Take(void*& item, KL_Timeout timeout, bool remove);
    void Abort();

    KL_Size m_MaxItems;
    pthread_mutex_t m_Mutex;
    pthread_cond_t m_CanPushCondition;
    pthread_cond_t m_CanPopCondition;
    KL_Size m_PushersWaitingCount;
    KL_Size m_PoppersWaitingCount;
    KL_List<void*> m_Items;
    bool m_Aborting;
};
