// KL_SocketAddress: its "address:port" text.
#include "KL_SocketAddress.h"

#include <cstdio>

KL_String KL_SocketAddress::ToString() const {
    const uint8_t* b = m_IpAddress.AsBytes();
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", b[0], b[1], b[2], b[3],
                  static_cast<unsigned>(m_Port & 0xFFFF));
    return KL_String(text);
}
