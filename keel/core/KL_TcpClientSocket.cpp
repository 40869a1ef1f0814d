// KL_TcpClientSocket: forwards to a KL_BsdTcpClientSocket.
#include "KL_TcpClientSocket.h"

#include "KL_BsdTcpClientSocket.h"

#include <sys/socket.h>

KL_TcpClientSocket::KL_TcpClientSocket(uint32_t flags)
    : KL_Socket(new KL_BsdTcpClientSocket(KL_BsdSocket::CreateDescriptor(SOCK_STREAM), flags)) {}
