// KL_BsdUdpMulticastSocket: group membership, time-to-live and the outgoing interface.
#include "KL_BsdUdpMulticastSocket.h"

#include "KL_Log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("keel.socket.bsd");

KL_BsdUdpMulticastSocket::KL_BsdUdpMulticastSocket(int fd, uint32_t flags) : KL_BsdUdpSocket(fd, flags) {
    const unsigned char loop = 1;
    if (setsockopt(Fd().GetFd(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
        KL_LOG_WARNING("setsockopt IP_MULTICAST_LOOP failed (%d)", errno);
    }
}

KL_Result KL_BsdUdpMulticastSocket::Membership(int option, const KL_IpAddress& group,
                                               const KL_IpAddress& interface_address) {
    struct ip_mreq request;
    request.imr_multiaddr.s_addr = htonl(group.AsLong());
    request.imr_interface.s_addr = htonl(interface_address.AsLong());
    if (setsockopt(Fd().GetFd(), IPPROTO_IP, option, &request, sizeof request) != 0) {
        int e = errno;
        KL_LOG_FINE("setsockopt error %d", e);
        return KL_BsdSocketFd::MapError(e);
    }
    return KL_SUCCESS;
}

KL_Result KL_BsdUdpMulticastSocket::JoinGroup(const KL_IpAddress& group,
                                              const KL_IpAddress& interface_address) {
    KL_LOG_FINE("joining multicast addr %s group %s", interface_address.ToString().GetChars(),
                group.ToString().GetChars());
    return Membership(IP_ADD_MEMBERSHIP, group, interface_address);
}

KL_Result KL_BsdUdpMulticastSocket::LeaveGroup(const KL_IpAddress& group,
                                               const KL_IpAddress& interface_address) {
    KL_LOG_FINE("leaving multicast addr %s group %s", interface_address.ToString().GetChars(),
                group.ToString().GetChars());
    return Membership(IP_DROP_MEMBERSHIP, group, interface_address);
}

KL_Result KL_BsdUdpMulticastSocket::SetTimeToLive(uint8_t ttl) {
    KL_LOG_FINE("setting multicast TTL to %d", ttl);
    if (setsockopt(Fd().GetFd(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
        int e = errno;
        KL_LOG_FINE("setsockopt error %d", e);
        return KL_BsdSocketFd::MapError(e);
    }
    return KL_SUCCESS;
}

KL_Result KL_BsdUdpMulticastSocket::SetInterface(const KL_IpAddress& interface_address) {
    KL_LOG_FINE("setting multicast interface %s", interface_address.ToString().GetChars());
    struct in_addr address;
    address.s_addr = htonl(interface_address.AsLong());
    if (setsockopt(Fd().GetFd(), IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) != 0) {
        int e = errno;
        KL_LOG_FINE("setsockopt error %d", e);
        return KL_BsdSocketFd::MapError(e);
    }
    return KL_SUCCESS;
}
