// KL_BsdUdpSocket: a UDP socket (broadcast allowed unless made with KL_SOCKET_FLAG_NO_BROADCAST);
// each Send is one datagram.
#pragma once

#include "KL_BsdSocket.h"
#include "KL_UdpSocketInterface.h"

class KL_BsdUdpSocket : public KL_UdpSocketInterface, public KL_BsdSocket {
public:
    KL_BsdUdpSocket(int fd, uint32_t flags);

    [[nodiscard]] KL_Result Bind(const KL_SocketAddress& address, bool reuse = false) override;
    // Connects the datagram socket (the time-out is not used).
    [[nodiscard]] KL_Result Connect(const KL_SocketAddress& address, KL_Timeout timeout) override;
    [[nodiscard]] KL_Result Send(const KL_DataBuffer& packet,
                                 const KL_SocketAddress* address = nullptr) override;
    [[nodiscard]] KL_Result Receive(KL_DataBuffer& packet, KL_SocketAddress* address = nullptr) override;
};
