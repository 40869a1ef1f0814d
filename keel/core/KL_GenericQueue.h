// A bounded blocking queue of opaque item pointers (the queue never owns what they point to).
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"

class KL_GenericQueue {
public:
    virtual ~KL_GenericQueue() = default;
    // Appends at the tail; on a full queue waits for room: KL_ERROR_TIMEOUT when none came in
    // time (at once with a time-out of 0), KL_ERROR_INTERRUPTED when the queue is destroyed.
    virtual KL_Result Push(void* item, KL_Timeout timeout) = 0;
    // Takes the head item. A time-out of 0 never waits: KL_ERROR_LIST_EMPTY on an empty queue.
    // Otherwise KL_ERROR_TIMEOUT or KL_ERROR_INTERRUPTED as for Push.
    virtual KL_Result Pop(void*& item, KL_Timeout timeout) = 0;
    // As Pop, but the item stays in the queue; on every failure `item` is null.
    virtual KL_Result Peek(void*& item, KL_Timeout timeout) = 0;

    // A new queue holding at most maxItems items (0: unbounded). The caller owns it.
    static KL_GenericQueue* CreateInstance(KL_Size maxItems);
};
