// KL_HttpRequestContext: the two ends of the connection a request came in on.
#pragma once

#include "KL_SocketAddress.h"

class KL_HttpRequestContext {
public:
    // A null address stays the default one (any address, port 0).
    explicit KL_HttpRequestContext(const KL_SocketAddress* local_address = nullptr,
                                   const KL_SocketAddress* remote_address = nullptr);

    const KL_SocketAddress& GetLocalAddress() const { return m_LocalAddress; }
    const KL_SocketAddress& GetRemoteAddress() const { return m_RemoteAddress; }
    void SetLocalAddress(const KL_SocketAddress& address) { m_LocalAddress = address; }
    void SetRemoteAddress(const KL_SocketAddress& address) { m_RemoteAddress = address; }

private:
    KL_SocketAddress m_LocalAddress;
    KL_SocketAddress m_RemoteAddress;
};
