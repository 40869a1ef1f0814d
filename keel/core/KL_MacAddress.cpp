// KL_MacAddress: storing and printing a hardware address.
#include "KL_MacAddress.h"

#include "KL_Utils.h"

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
    return KL_HexString(m_Address, m_Length, ":");
}
