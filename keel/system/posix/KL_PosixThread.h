// The thread delegate over pthreads.
#pragma once

#include "KL_SharedVariable.h"
#include "KL_Thread.h"

#include <atomic>
#include <pthread.h>

class KL_PosixThread : public KL_ThreadInterface {
public:
    // `delegator` is the front that owns this delegate; `target` is what the thread runs.
    KL_PosixThread(KL_Thread* delegator, KL_Runnable* target, bool detached);
    ~KL_PosixThread() override;
    KL_PosixThread(const KL_PosixThread&) = delete;
    KL_PosixThread& operator=(const KL_PosixThread&) = delete;

    void Run() override;
    KL_Result Start() override;
    KL_Result Wait(KL_Timeout timeout = KL_TIMEOUT_INFINITE) override;
    KL_Result SetPriority(int32_t priority) override;
    KL_Result GetPriority(int32_t& priority) override;
    KL_Result Interrupt() override;

    static KL_ThreadId GetCurrentThreadId();
    static KL_Result SetThreadPriority(KL_ThreadId thread, int32_t priority);
    static KL_Result GetThreadPriority(KL_ThreadId thread, int32_t& priority);

private:
    static void* EntryPoint(void* argument);
    void Body();

    KL_Thread* m_Delegator;
    KL_Runnable* m_Target;
    const bool m_Detached;
    // Written by Start (joinable) and by the body itself (same value); read by any thread.
    std::atomic<pthread_t> m_ThreadId;
    bool m_Joined;
    pthread_mutex_t m_JoinLock;
    KL_SharedVariable m_Done;
};
