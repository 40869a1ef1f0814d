// KL_Socket: the front of a connected (or accepted) socket; owns its delegate and forwards every
// operation to it. The UDP, multicast, TCP client and TCP server fronts derive from it.
#pragma once

#include "KL_Reference.h"
#include "KL_SocketInterface.h"

class KL_Socket : public KL_SocketInterface {
public:
    // Takes ownership of the delegate (an accepted socket, for instance).
    explicit KL_Socket(KL_SocketInterface* delegate);
    ~KL_Socket() override;

    KL_Socket(const KL_Socket&) = delete;
    KL_Socket& operator=(const KL_Socket&) = delete;

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
    int GetDescriptor() override;

protected:
    KL_SocketInterface* m_Delegate;
};

typedef KL_Reference<KL_Socket> KL_SocketReference;
