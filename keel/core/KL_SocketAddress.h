// KL_SocketAddress: an IPv4 address and a port.
#pragma once

#include "KL_IpAddress.h"
#include "KL_String.h"

#include <cstdint>

class KL_SocketAddress {
public:
    constexpr KL_SocketAddress() : m_IpAddress(), m_Port(0) {}
    constexpr KL_SocketAddress(const KL_IpAddress& address, uint32_t port)
        : m_IpAddress(address), m_Port(port) {}

    // "192.168.1.5:8080"
    KL_String ToString() const;

    bool operator==(const KL_SocketAddress& other) const {
        return m_IpAddress == other.m_IpAddress && m_Port == other.m_Port;
    }
    bool operator!=(const KL_SocketAddress& other) const { return !(*this == other); }

    KL_IpAddress m_IpAddress;
    uint32_t m_Port; // 0..65535
};
