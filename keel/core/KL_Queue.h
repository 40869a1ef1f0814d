// A typed bounded blocking queue of pointers to T; the queue does not own the items.
// Destroying it releases every thread blocked in it with KL_ERROR_INTERRUPTED and returns once
// they have all left; no new call may start once destruction has begun.
#pragma once

#include "KL_GenericQueue.h"

template <class T> class KL_Queue {
public:
    // maxItems 0: unbounded.
    explicit KL_Queue(KL_Size maxItems = 0) : m_Queue(KL_GenericQueue::CreateInstance(maxItems)) {}
    ~KL_Queue() { delete m_Queue; }
    KL_Queue(const KL_Queue&) = delete;
    KL_Queue& operator=(const KL_Queue&) = delete;

    KL_Result Push(T* item, KL_Timeout timeout = KL_TIMEOUT_INFINITE) {
        return m_Queue->Push(const_cast<void*>(static_cast<const void*>(item)), timeout);
    }
    // `item` is set on success and left as it was on failure.
    KL_Result Pop(T*& item, KL_Timeout timeout = KL_TIMEOUT_INFINITE) {
        void* taken = nullptr;
        const KL_Result result = m_Queue->Pop(taken, timeout);
        if (KL_SUCCEEDED(result)) {
            item = static_cast<T*>(taken);
        }
        return result;
    }
    // `item` is null on every failure.
    KL_Result Peek(T*& item, KL_Timeout timeout = KL_TIMEOUT_INFINITE) {
        void* head = nullptr;
        const KL_Result result = m_Queue->Peek(head, timeout);
        item = KL_SUCCEEDED(result) ? static_cast<T*>(head) : nullptr;
        return result;
    }

private:
    KL_GenericQueue* m_Queue;
};
