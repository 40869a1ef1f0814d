// Threads: a KL_Thread runs a KL_Runnable (itself, or another object) on a POSIX thread.
//
// A joinable thread is waited for by its owner; deleting a started joinable KL_Thread blocks
// until its body has returned. A subclass that overrides Run() must Wait() in its own destructor,
// since the body may still be using the subclass's members. A detached thread must live on the
// heap: its body deletes the KL_Thread once Run() has returned, and its owner must not touch it
// after a successful Start().
#pragma once

#include "KL_Interruptible.h"
#include "KL_Result.h"
#include "KL_Runnable.h"
#include "KL_Types.h"

#include <cstdint>
#include <pthread.h>

using KL_ThreadId = pthread_t;

class KL_ThreadInterface : public KL_Runnable, public KL_Interruptible {
public:
    ~KL_ThreadInterface() override = default;
    void Run() override = 0;
    // 0, or -22000 - e when the platform refuses the thread.
    virtual KL_Result Start() = 0;
    // Joins the thread: 0 once joined; -1 when never started, detached, not finished within a
    // finite time-out (the thread stays joinable), or when the join fails.
    virtual KL_Result Wait(KL_Timeout timeout = KL_TIMEOUT_INFINITE) = 0;
    // The scheduling priority under the thread's current policy; -1 before Start.
    virtual KL_Result SetPriority(int32_t priority) = 0;
    virtual KL_Result GetPriority(int32_t& priority) = 0;
};

class KL_Thread : public KL_ThreadInterface {
public:
    // The thread runs this object's own Run() (a subclass overrides it).
    explicit KL_Thread(bool detached = false);
    // The thread runs target->Run(); the target is not owned.
    explicit KL_Thread(KL_Runnable* target, bool detached = false);
    ~KL_Thread() override;
    KL_Thread(const KL_Thread&) = delete;
    KL_Thread& operator=(const KL_Thread&) = delete;

    void Run() override {}
    KL_Result Start() override;
    KL_Result Wait(KL_Timeout timeout = KL_TIMEOUT_INFINITE) override;
    KL_Result SetPriority(int32_t priority) override;
    KL_Result GetPriority(int32_t& priority) override;
    // Always KL_ERROR_NOT_IMPLEMENTED.
    KL_Result Interrupt() override;

    static KL_ThreadId GetCurrentThreadId();
    // The priority operations on any thread handle, and on the calling thread.
    static KL_Result SetThreadPriority(KL_ThreadId thread, int32_t priority);
    static KL_Result GetThreadPriority(KL_ThreadId thread, int32_t& priority);
    static KL_Result SetCurrentThreadPriority(int32_t priority);
    static KL_Result GetCurrentThreadPriority(int32_t& priority);

private:
    KL_ThreadInterface* m_Delegate;
};
