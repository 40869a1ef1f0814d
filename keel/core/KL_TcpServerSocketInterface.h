// KL_TcpServerSocketInterface: listening and accepting.
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"

#include <cstdint>

class KL_Socket;

class KL_TcpServerSocketInterface {
public:
    virtual ~KL_TcpServerSocketInterface() = default;

    [[nodiscard]] virtual KL_Result Listen(uint32_t max_clients) = 0;
    // Waits for a connection (listening with a backlog of 20 first when Listen was not called)
    // and hands out a new socket for it, owned by the caller; client is null on failure.
    [[nodiscard]] virtual KL_Result WaitForNewClient(KL_Socket*& client, KL_Timeout timeout,
                                                     uint32_t flags) = 0;
};
