// KL_BsdUdpMulticastSocket: a UDP socket that joins multicast groups; its own datagrams are
// looped back to it.
#pragma once

#include "KL_BsdUdpSocket.h"
#include "KL_UdpMulticastSocketInterface.h"

class KL_BsdUdpMulticastSocket : public KL_UdpMulticastSocketInterface, public KL_BsdUdpSocket {
public:
    KL_BsdUdpMulticastSocket(int fd, uint32_t flags);

    [[nodiscard]] KL_Result JoinGroup(const KL_IpAddress& group,
                                      const KL_IpAddress& interface_address = KL_IpAddress::Any) override;
    KL_Result LeaveGroup(const KL_IpAddress& group,
                         const KL_IpAddress& interface_address = KL_IpAddress::Any) override;
    KL_Result SetTimeToLive(uint8_t ttl) override;
    KL_Result SetInterface(const KL_IpAddress& interface_address) override;

private:
    KL_Result Membership(int option, const KL_IpAddress& group, const KL_IpAddress& interface_address);
};
