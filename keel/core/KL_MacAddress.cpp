// KL_MacAddress: storing and printing a hardware address.
#include "KL_MacAddress.h"

#include <cstring>

KL_Result KL_MacAddress::SetAddress(uint32_t type, const uint8_t* bytes, uint32_t length) {
    m_Type = type;
    m_Length = length > MAX_LENGTH ? MAX_LENGTH : length;
    if (bytes == nullptr) {
        m_Length = 0;
    }
    std::memset(m_Address, 0, sizeof m_Address);
    if (m_Length > 0) {
        std::memcpy(m_Address, bytes, m_Length);
    }
    return KL_SUCCESS;
}

KL_String KL_MacAddress::ToString() const {
    static const char digits[] = "0123456789abcdef";
    char text[MAX_LENGTH * 3 + 1];
    size_t used = 0;
    for (uint32_t i = 0; i < m_Length; ++i) {
        if (i > 0) {
            text[used++] = ':';
        }
        text[used++] = digits[m_Address[i] >> 4];
        text[used++] = digits[m_Address[i] & 0x0F];
    }
    text[used] = '\0';
    return KL_String(text);
}
