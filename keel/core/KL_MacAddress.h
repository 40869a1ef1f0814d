// KL_MacAddress: the hardware address of a network interface (at most 8 bytes) and its type.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"

#include <cstdint>

class KL_MacAddress {
public:
    enum : uint32_t {
        TYPE_UNKNOWN = 0,
        TYPE_LOOPBACK = 1,
        TYPE_ETHERNET = 2,
        TYPE_PPP = 3,
    };
    static constexpr uint32_t MAX_LENGTH = 8;

    KL_MacAddress() = default;
    KL_MacAddress(uint32_t type, const uint8_t* bytes, uint32_t length) { SetAddress(type, bytes, length); }

    // Keeps the type and the first (at most 8) bytes.
    KL_Result SetAddress(uint32_t type, const uint8_t* bytes, uint32_t length);

    // Lower-case hexadecimal pairs joined by ":" ("00:1c:42:a3:5f:01"); empty for length 0.
    KL_String ToString() const;

    uint32_t m_Type = TYPE_UNKNOWN;
    uint8_t m_Address[MAX_LENGTH] = {};
    uint32_t m_Length = 0;
};
