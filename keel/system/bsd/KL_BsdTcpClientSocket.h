// KL_BsdTcpClientSocket: a TCP socket that connects, within a time-out or in two steps
// (Connect with time-out 0 answers KL_ERROR_WOULD_BLOCK, then WaitForConnection).
#pragma once

#include "KL_BsdSocket.h"

class KL_BsdTcpClientSocket : public KL_BsdSocket {
public:
    KL_BsdTcpClientSocket(int fd, uint32_t flags);

    [[nodiscard]] KL_Result Connect(const KL_SocketAddress& address, KL_Timeout timeout) override;
    [[nodiscard]] KL_Result WaitForConnection(KL_Timeout timeout) override;
};
