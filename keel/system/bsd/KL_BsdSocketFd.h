// KL_BsdSocketFd: a non-blocking socket descriptor shared (through a thread-safe reference) by a
// socket and its streams, with the read and write time-outs, the byte position, and the
// cancellation state: a local datagram socket pair whose first end Cancel writes and whose
// second end every wait watches.
//
// Waits use poll(), so descriptors above FD_SETSIZE are fine, and go on across signals. A record
// without a descriptor (a failed socket()) never waits: each operation fails with the error of
// its own call.
#pragma once

#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_Types.h"

#include <atomic>
#include <cstdint>

class KL_BsdSocketFd {
public:
    // Takes ownership of the descriptor; switches it to non-blocking; with cancellable, makes
    // the cancel pair (on failure the record stays usable, not cancellable).
    KL_BsdSocketFd(int fd, bool cancellable);
    virtual ~KL_BsdSocketFd();

    KL_BsdSocketFd(const KL_BsdSocketFd&) = delete;
    KL_BsdSocketFd& operator=(const KL_BsdSocketFd&) = delete;

    // Errno of a socket call as a result code (by name; -22000 - e for the others).
    static KL_Result MapError(int e);

    // Waits until the descriptor is readable or writable (as asked) within the time-out
    // (KL_TIMEOUT_INFINITE: no limit; 0: poll once, KL_ERROR_WOULD_BLOCK when not ready).
    // With connect_check, a pending socket error (SO_ERROR) is the result. KL_ERROR_TIMEOUT on
    // expiry, KL_ERROR_CANCELLED once the record was cancelled.
    [[nodiscard]] KL_Result Wait(bool readable, bool writable, bool connect_check, KL_Timeout timeout);

    // Marks the record cancelled for good, shuts the socket down when asked, and wakes every
    // wait through the cancel pair; 0.
    KL_Result Cancel(bool shutdown);

    int GetFd() const { return m_SocketFd; }
    bool IsValid() const { return m_SocketFd >= 0; }
    bool IsCancelled() const { return m_Cancelled.load(std::memory_order_acquire); }
    bool IsCancellable() const { return m_Cancellable; }

    KL_Timeout GetReadTimeout() const { return m_ReadTimeout.load(std::memory_order_relaxed); }
    KL_Timeout GetWriteTimeout() const { return m_WriteTimeout.load(std::memory_order_relaxed); }
    void SetReadTimeout(KL_Timeout timeout) { m_ReadTimeout.store(timeout, std::memory_order_relaxed); }
    void SetWriteTimeout(KL_Timeout timeout) { m_WriteTimeout.store(timeout, std::memory_order_relaxed); }

    // TCP_NODELAY as SetNoDelay left it: while on, a Flush has nothing to do.
    bool IsNoDelay() const { return m_NoDelay.load(std::memory_order_relaxed); }
    void SetNoDelay(bool on) { m_NoDelay.store(on, std::memory_order_relaxed); }
    // Whether every read re-arms TCP_QUICKACK (ReadDone).
    bool IsQuickAck() const { return m_QuickAck.load(std::memory_order_relaxed); }
    void SetQuickAck(bool on) { m_QuickAck.store(on, std::memory_order_relaxed); }
    // Called after every read that returned bytes: re-arms TCP_QUICKACK when asked (the kernel
    // drops it again on its own), which also sends an acknowledgement still pending.
    void ReadDone();

    uint64_t GetPosition() const { return m_Position.load(std::memory_order_relaxed); }
    void AddToPosition(uint64_t count) { m_Position.fetch_add(count, std::memory_order_relaxed); }

private:
    int Poll(bool readable, bool writable, KL_Timeout timeout, short& events);
    KL_Result SocketError(KL_Result if_none);

    int m_SocketFd;
    std::atomic<KL_Timeout> m_ReadTimeout{KL_TIMEOUT_INFINITE};
    std::atomic<KL_Timeout> m_WriteTimeout{KL_TIMEOUT_INFINITE};
    std::atomic<uint64_t> m_Position{0};
    std::atomic<bool> m_Cancelled{false};
    std::atomic<bool> m_NoDelay{false};
    std::atomic<bool> m_QuickAck{false};
    bool m_Cancellable;
    int m_CancelFds[2] = {-1, -1};
};

using KL_BsdSocketFdReference = KL_Reference<KL_BsdSocketFd>;
