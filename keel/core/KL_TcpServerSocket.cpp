// KL_TcpServerSocket: forwards to a KL_BsdTcpServerSocket.
#include "KL_TcpServerSocket.h"

#include "KL_BsdTcpServerSocket.h"

#include <sys/socket.h>

KL_TcpServerSocket::KL_TcpServerSocket(uint32_t flags)
    : KL_TcpServerSocket(new KL_BsdTcpServerSocket(KL_BsdSocket::CreateDescriptor(SOCK_STREAM), flags)) {}

KL_TcpServerSocket::KL_TcpServerSocket(KL_BsdTcpServerSocket* delegate)
    : KL_Socket(delegate), m_ServerDelegate(delegate) {}

KL_Result KL_TcpServerSocket::Listen(uint32_t max_clients) {
    return m_ServerDelegate->Listen(max_clients);
}

KL_Result KL_TcpServerSocket::WaitForNewClient(KL_Socket*& client, KL_Timeout timeout, uint32_t flags) {
    return m_ServerDelegate->WaitForNewClient(client, timeout, flags);
}
