// KL_IpAddress: an IPv4 address (four bytes in network order), its dotted-quad text and name
// resolution.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"

#include <cstdint>

class KL_IpAddress {
public:
    // 0.0.0.0; constant-initialised, so other static objects may use it.
    static const KL_IpAddress Any;

    constexpr KL_IpAddress() : m_Address{0, 0, 0, 0} {}
    // From a host-order integer: the most significant byte is the first dotted component.
    constexpr explicit KL_IpAddress(uint32_t address)
        : m_Address{static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                    static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)} {}
    constexpr KL_IpAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d) : m_Address{a, b, c, d} {}

    // Dotted quad; KL_ERROR_INVALID_PARAMETERS for null, KL_ERROR_INVALID_SYNTAX for bad text.
    // The address is 0.0.0.0 after a failure.
    KL_Result Parse(const char* text);
    KL_Result Parse(const KL_String& text) { return Parse(text.GetChars()); }

    // A dotted quad, else the first IPv4 answer of the system resolver; KL_ERROR_HOST_UNKNOWN
    // otherwise. The time-out is accepted and not used: the resolver's own time-outs apply.
    [[nodiscard]] KL_Result ResolveName(const char* name, KL_Timeout timeout = KL_TIMEOUT_INFINITE);
    [[nodiscard]] KL_Result ResolveName(const KL_String& name, KL_Timeout timeout = KL_TIMEOUT_INFINITE) {
        return ResolveName(name.GetChars(), timeout);
    }

    uint32_t AsLong() const;
    const uint8_t* AsBytes() const { return m_Address; }
    KL_Result Set(uint32_t address);
    KL_Result Set(const uint8_t* bytes);

    KL_String ToString() const;

    bool operator==(const KL_IpAddress& other) const;
    bool operator!=(const KL_IpAddress& other) const { return !(*this == other); }

private:
    uint8_t m_Address[4];
};
