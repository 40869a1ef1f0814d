// KL_UdpSocketInterface: datagrams, one KL_DataBuffer per datagram.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_Result.h"
#include "KL_SocketAddress.h"

class KL_UdpSocketInterface {
public:
    virtual ~KL_UdpSocketInterface() = default;

    // Sends the buffer's data as one datagram to the address, or on the connected socket when
    // the address is null.
    [[nodiscard]] virtual KL_Result Send(const KL_DataBuffer& packet,
                                         const KL_SocketAddress* address = nullptr) = 0;
    // Receives one datagram into the buffer's storage (its data size becomes the datagram's
    // size); the sender is stored when address is not null. A buffer of capacity 0 gives
    // KL_ERROR_INVALID_PARAMETERS.
    [[nodiscard]] virtual KL_Result Receive(KL_DataBuffer& packet, KL_SocketAddress* address = nullptr) = 0;
};
