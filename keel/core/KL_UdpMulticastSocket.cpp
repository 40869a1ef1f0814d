// KL_UdpMulticastSocket: forwards to a KL_BsdUdpMulticastSocket.
#include "KL_UdpMulticastSocket.h"

#include "KL_BsdUdpMulticastSocket.h"

#include <sys/socket.h>

KL_UdpMulticastSocket::KL_UdpMulticastSocket(uint32_t flags)
    : KL_UdpMulticastSocket(new KL_BsdUdpMulticastSocket(KL_BsdSocket::CreateDescriptor(SOCK_DGRAM), flags)) {
}

KL_UdpMulticastSocket::KL_UdpMulticastSocket(KL_BsdUdpMulticastSocket* delegate)
    : KL_UdpSocket(delegate), m_MulticastDelegate(delegate) {}

KL_Result KL_UdpMulticastSocket::JoinGroup(const KL_IpAddress& group, const KL_IpAddress& interface_address) {
    return m_MulticastDelegate->JoinGroup(group, interface_address);
}

KL_Result KL_UdpMulticastSocket::LeaveGroup(const KL_IpAddress& group,
                                            const KL_IpAddress& interface_address) {
    return m_MulticastDelegate->LeaveGroup(group, interface_address);
}

KL_Result KL_UdpMulticastSocket::SetTimeToLive(uint8_t ttl) {
    return m_MulticastDelegate->SetTimeToLive(ttl);
}

KL_Result KL_UdpMulticastSocket::SetInterface(const KL_IpAddress& interface_address) {
    return m_MulticastDelegate->SetInterface(interface_address);
}
