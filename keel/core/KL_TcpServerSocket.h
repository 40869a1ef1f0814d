// KL_TcpServerSocket: the front of a listening TCP socket (an AF_INET stream socket made at
// construction).
#pragma once

#include "KL_Socket.h"
#include "KL_TcpServerSocketInterface.h"

class KL_BsdTcpServerSocket;

class KL_TcpServerSocket : public KL_Socket, public KL_TcpServerSocketInterface {
public:
    explicit KL_TcpServerSocket(uint32_t flags);

    [[nodiscard]] KL_Result Listen(uint32_t max_clients) override;
    [[nodiscard]] KL_Result WaitForNewClient(KL_Socket*& client, KL_Timeout timeout, uint32_t flags) override;

private:
    explicit KL_TcpServerSocket(KL_BsdTcpServerSocket* delegate);

    KL_TcpServerSocketInterface* m_ServerDelegate; // the same object as m_Delegate
};
