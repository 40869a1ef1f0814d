// KL_UdpSocket: forwards to a KL_BsdUdpSocket.
#include "KL_UdpSocket.h"

#include "KL_BsdUdpSocket.h"

#include <sys/socket.h>

KL_UdpSocket::KL_UdpSocket(uint32_t flags)
    : KL_UdpSocket(new KL_BsdUdpSocket(KL_BsdSocket::CreateDescriptor(SOCK_DGRAM), flags)) {}

KL_UdpSocket::KL_UdpSocket(KL_BsdUdpSocket* delegate) : KL_Socket(delegate), m_UdpDelegate(delegate) {}

KL_Result KL_UdpSocket::Send(const KL_DataBuffer& packet, const KL_SocketAddress* address) {
    return m_UdpDelegate->Send(packet, address);
}

KL_Result KL_UdpSocket::Receive(KL_DataBuffer& packet, KL_SocketAddress* address) {
    return m_UdpDelegate->Receive(packet, address);
}
