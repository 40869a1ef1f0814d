// KL_SocketInfo: the local and remote socket addresses of a socket.
#pragma once

#include "KL_SocketAddress.h"

class KL_SocketInfo {
public:
    KL_SocketAddress local_address;
    KL_SocketAddress remote_address;
};
