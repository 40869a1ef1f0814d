// KL_BsdTcpServerSocket: a listening TCP socket that hands out a KL_Socket per accepted client.
#pragma once

#include "KL_BsdSocket.h"
#include "KL_TcpServerSocketInterface.h"

class KL_BsdTcpServerSocket : public KL_TcpServerSocketInterface, public KL_BsdSocket {
public:
    KL_BsdTcpServerSocket(int fd, uint32_t flags);

    [[nodiscard]] KL_Result Listen(uint32_t max_clients) override;
    [[nodiscard]] KL_Result WaitForNewClient(KL_Socket*& client, KL_Timeout timeout, uint32_t flags) override;
    // A listening socket has no streams: KL_ERROR_NOT_IMPLEMENTED with a null reference.
    [[nodiscard]] KL_Result GetInputStream(KL_InputStreamReference& stream) override;
    [[nodiscard]] KL_Result GetOutputStream(KL_OutputStreamReference& stream) override;

private:
    uint32_t m_ListenMax = 0;
};
