#include "KL_CallbackSlot.h"

#include "KL_Check.h"

KL_SET_LOCAL_LOGGER("keel.callback");

KL_CallbackSlot::KL_CallbackSlot()
    : m_CallbackArgs(nullptr), m_Shutdown(false), m_Pending(0), m_Ack(0), m_Notifier(nullptr) {}

KL_Result KL_CallbackSlot::Send(void* args) {
    KL_AutoLock lock(m_WriteLock);
    if (m_Shutdown.load()) {
        return KL_ERROR_CALLBACK_HANDLER_SHUTDOWN;
    }
    m_CallbackArgs.store(args);
    m_Pending.SetValue(1);
    if (KL_CallbackNotifier* notifier = m_Notifier.load()) {
        notifier->Notify();
    }
    (void)m_Ack.WaitUntilEquals(1, KL_TIMEOUT_INFINITE);
    m_Ack.SetValue(0);
    m_CallbackArgs.store(nullptr);
    return m_Shutdown.load() ? KL_ERROR_CALLBACK_HANDLER_SHUTDOWN : KL_SUCCESS;
}

KL_Result KL_CallbackSlot::Receive(KL_CallbackReceiver* receiver, KL_Timeout timeout) {
    KL_CHECK_POINTER(receiver);
    KL_AutoLock lock(m_ReadLock);
    // Shut down is final: tested before anything else, so that a receiving loop learns of it
    // whether or not a call is pending.
    if (m_Shutdown.load()) {
        return KL_ERROR_CALLBACK_HANDLER_SHUTDOWN;
    }
    if (timeout != 0) {
        const KL_Result result = m_Pending.WaitUntilEquals(1, timeout);
        if (KL_FAILED(result)) {
            return result;
        }
    } else if (m_Pending.GetValue() == 0) {
        return KL_ERROR_CALLBACK_NOTHING_PENDING;
    }
    if (m_Shutdown.load()) {
        return KL_ERROR_CALLBACK_HANDLER_SHUTDOWN;
    }
    receiver->OnCallback(m_CallbackArgs.load());
    m_Pending.SetValue(0);
    m_Ack.SetValue(1);
    return KL_SUCCESS;
}

KL_Result KL_CallbackSlot::SetNotifier(KL_CallbackNotifier* notifier) {
    m_Notifier.store(notifier);
    return KL_SUCCESS;
}

KL_Result KL_CallbackSlot::Shutdown() {
    m_Shutdown.store(true);
    // Releases a sender blocked in Send.
    m_Ack.SetValue(1);
    // A receiver blocked in Receive holds the read lock: wake it (it sees the shutdown and
    // leaves) before taking the lock, or Shutdown would wait as long as that receiver does.
    m_Pending.SetValue(1);
    KL_AutoLock lock(m_ReadLock);
    m_Pending.SetValue(0);
    m_Ack.SetValue(1);
    return KL_SUCCESS;
}
