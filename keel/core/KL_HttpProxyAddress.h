// KL_HttpProxyAddress: where a proxy listens; an empty host name means no proxy.
#pragma once

#include "KL_String.h"

#include <cstdint>

class KL_HttpProxyAddress {
public:
    KL_HttpProxyAddress() = default;
    KL_HttpProxyAddress(const char* host_name, uint16_t port) : m_HostName(host_name), m_Port(port) {}

    const KL_String& GetHostName() const { return m_HostName; }
    uint16_t GetPort() const { return m_Port; }
    void SetHostName(const char* host_name) { m_HostName = host_name; }
    void SetPort(uint16_t port) { m_Port = port; }

private:
    KL_String m_HostName;
    uint16_t m_Port = 0;
};
