// KL_BsdSocket: the socket operations common to every kind over a shared descriptor record
// (KL_BsdSocketFd): binding, the local and remote addresses, the streams, the time-outs and
// cancellation. Connect and WaitForConnection are left to the kinds that connect.
#pragma once

#include "KL_BsdSocketFd.h"
#include "KL_Mutex.h"
#include "KL_SocketInterface.h"

struct sockaddr_in;

class KL_BsdSocket : public KL_SocketInterface {
public:
    // Takes ownership of the descriptor (which may be -1 after a failed socket call).
    KL_BsdSocket(int fd, uint32_t flags);
    ~KL_BsdSocket() override = default;

    KL_BsdSocket(const KL_BsdSocket&) = delete;
    KL_BsdSocket& operator=(const KL_BsdSocket&) = delete;

    // A new AF_INET descriptor of the type (SOCK_STREAM or SOCK_DGRAM), closed on exec; -1 on
    // failure.
    static int CreateDescriptor(int type);

    [[nodiscard]] KL_Result Bind(const KL_SocketAddress& address, bool reuse = false) override;
    [[nodiscard]] KL_Result Connect(const KL_SocketAddress& address, KL_Timeout timeout) override;
    [[nodiscard]] KL_Result WaitForConnection(KL_Timeout timeout) override;
    [[nodiscard]] KL_Result GetInputStream(KL_InputStreamReference& stream) override;
    [[nodiscard]] KL_Result GetOutputStream(KL_OutputStreamReference& stream) override;
    KL_Result GetInfo(KL_SocketInfo& info) override;
    KL_Result SetReadTimeout(KL_Timeout timeout) override;
    KL_Result SetWriteTimeout(KL_Timeout timeout) override;
    KL_Result Cancel(bool shutdown = true) override;
    KL_Result SetNoDelay(bool on) override;
    KL_Result SetQuickAck(bool on) override;
    int GetDescriptor() override { return Fd().GetFd(); }

    static void ToSockAddr(const KL_SocketAddress& address, struct sockaddr_in& out);
    static KL_SocketAddress FromSockAddr(const struct sockaddr_in& in);

protected:
    KL_BsdSocketFd& Fd() { return *m_SocketFdReference.AsPointer(); }
    // Sets an integer socket option; a failure only logs "setsockopt NAME failed (errno)".
    void SetOption(int level, int option, int value, const char* name);
    // Re-reads the local and remote addresses; KL_ERROR_INVALID_STATE without a descriptor.
    KL_Result RefreshInfo();

    KL_BsdSocketFdReference m_SocketFdReference;
    KL_Mutex m_InfoLock; // GetInfo may run beside a connect on another thread
    KL_SocketInfo m_Info;
};
