#include "KL_HttpRequestContext.h"

KL_HttpRequestContext::KL_HttpRequestContext(const KL_SocketAddress* local_address,
                                             const KL_SocketAddress* remote_address) {
    if (local_address != nullptr) {
        m_LocalAddress = *local_address;
    }
    if (remote_address != nullptr) {
        m_RemoteAddress = *remote_address;
    }
}
