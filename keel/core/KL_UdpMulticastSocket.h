// KL_UdpMulticastSocket: the front of a multicast UDP socket (own datagrams are looped back).
#pragma once

#include "KL_UdpMulticastSocketInterface.h"
#include "KL_UdpSocket.h"

class KL_BsdUdpMulticastSocket;

class KL_UdpMulticastSocket : public KL_UdpSocket, public KL_UdpMulticastSocketInterface {
public:
    explicit KL_UdpMulticastSocket(uint32_t flags);

    [[nodiscard]] KL_Result JoinGroup(const KL_IpAddress& group,
                                      const KL_IpAddress& interface_address = KL_IpAddress::Any) override;
    KL_Result LeaveGroup(const KL_IpAddress& group,
                         const KL_IpAddress& interface_address = KL_IpAddress::Any) override;
    KL_Result SetTimeToLive(uint8_t ttl) override;
    KL_Result SetInterface(const KL_IpAddress& interface_address) override;

private:
    explicit KL_UdpMulticastSocket(KL_BsdUdpMulticastSocket* delegate);

    KL_UdpMulticastSocketInterface* m_MulticastDelegate; // the same object as m_Delegate
};
