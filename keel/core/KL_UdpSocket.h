// KL_UdpSocket: the front of a UDP socket (an AF_INET datagram socket made at construction).
#pragma once

#include "KL_Socket.h"
#include "KL_UdpSocketInterface.h"

class KL_BsdUdpSocket;

class KL_UdpSocket : public KL_Socket, public KL_UdpSocketInterface {
public:
    explicit KL_UdpSocket(uint32_t flags);

    [[nodiscard]] KL_Result Send(const KL_DataBuffer& packet,
                                 const KL_SocketAddress* address = nullptr) override;
    [[nodiscard]] KL_Result Receive(KL_DataBuffer& packet, KL_SocketAddress* address = nullptr) override;

protected:
    // Takes ownership of the delegate.
    explicit KL_UdpSocket(KL_BsdUdpSocket* delegate);

    KL_UdpSocketInterface* m_UdpDelegate; // the same object as m_Delegate
};
