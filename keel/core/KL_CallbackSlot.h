// Hands one call at a time from a sending thread to a receiving thread: Send blocks until a
// receiver has run the call (or the slot is shut down).
#pragma once

#include "KL_Mutex.h"
#include "KL_Result.h"
#include "KL_SharedVariable.h"
#include "KL_Types.h"

#include <atomic>

// Told when a call is posted (for example to wake the receiving thread's loop).
class KL_CallbackNotifier {
public:
    virtual ~KL_CallbackNotifier() = default;
    virtual void Notify() = 0;
};

// Runs a received call on the receiving thread.
class KL_CallbackReceiver {
public:
    virtual ~KL_CallbackReceiver() = default;
    virtual void OnCallback(void* args) = 0;
};

class KL_CallbackSlot {
public:
    KL_CallbackSlot();
    ~KL_CallbackSlot() = default;
    KL_CallbackSlot(const KL_CallbackSlot&) = delete;
    KL_CallbackSlot& operator=(const KL_CallbackSlot&) = delete;

    // Posts the call and waits until it was received: 0, or KL_ERROR_CALLBACK_HANDLER_SHUTDOWN
    // when the slot is (or meanwhile was) shut down.
    KL_Result Send(void* args);
    // Runs a posted call on `receiver`. With a time-out of 0 it does not wait:
    // KL_ERROR_CALLBACK_NOTHING_PENDING when nothing is posted; otherwise the wait's failure
    // (KL_ERROR_TIMEOUT) is returned. KL_ERROR_CALLBACK_HANDLER_SHUTDOWN after Shutdown.
    KL_Result Receive(KL_CallbackReceiver* receiver, KL_Timeout timeout = 0);
    // The notifier told by each Send (null: none); not owned.
    KL_Result SetNotifier(KL_CallbackNotifier* notifier);
    // For good: releases a blocked sender; every later Send and Receive is refused.
    KL_Result Shutdown();

private:
    std::atomic<void*> m_CallbackArgs;
    std::atomic<bool> m_Shutdown;
    KL_SharedVariable m_Pending;
    KL_SharedVariable m_Ack;
    KL_Mutex m_ReadLock;
    KL_Mutex m_WriteLock;
    std::atomic<KL_CallbackNotifier*> m_Notifier;
};
