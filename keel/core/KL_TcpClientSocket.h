// KL_TcpClientSocket: the front of a TCP client socket (an AF_INET stream socket made at
// construction).
#pragma once

#include "KL_Socket.h"

class KL_TcpClientSocket : public KL_Socket {
public:
    explicit KL_TcpClientSocket(uint32_t flags);
};
