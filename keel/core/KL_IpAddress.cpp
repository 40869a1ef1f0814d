// KL_IpAddress: dotted-quad parsing and printing, name resolution through the system resolver.
#include "KL_IpAddress.h"

#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

constinit const KL_IpAddress KL_IpAddress::Any;

KL_Result KL_IpAddress::Parse(const char* text) {
    Set(0u);
    if (text == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    uint8_t parts[4];
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (*p != '.') {
                return KL_ERROR_INVALID_SYNTAX;
            }
            ++p;
        }
        if (*p < '0' || *p > '9') {
            return KL_ERROR_INVALID_SYNTAX;
        }
        uint32_t value = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + static_cast<uint32_t>(*p - '0');
            if (value > 255) {
                return KL_ERROR_INVALID_SYNTAX;
            }
            ++p;
        }
        parts[part] = static_cast<uint8_t>(value);
    }
    if (*p != '\0') {
        return KL_ERROR_INVALID_SYNTAX;
    }
    return Set(parts);
}

KL_Result KL_IpAddress::ResolveName(const char* name, KL_Timeout /*timeout*/) {
    if (name == nullptr || name[0] == '\0') {
        return KL_ERROR_HOST_UNKNOWN;
    }
    if (Parse(name) == KL_SUCCESS) {
        return KL_SUCCESS;
    }
    struct addrinfo* answers = nullptr;
    if (getaddrinfo(name, nullptr, nullptr, &answers) != 0) {
        return KL_ERROR_HOST_UNKNOWN;
    }
    KL_Result result = KL_ERROR_HOST_UNKNOWN;
    for (const struct addrinfo* a = answers; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen == sizeof(struct sockaddr_in) &&
            (a->ai_protocol == 0 || a->ai_protocol == IPPROTO_TCP)) {
            const auto* in = reinterpret_cast<const struct sockaddr_in*>(a->ai_addr);
            std::memcpy(m_Address, &in->sin_addr.s_addr, 4);
            result = KL_SUCCESS;
            break;
        }
    }
    freeaddrinfo(answers);
    return result;
}

uint32_t KL_IpAddress::AsLong() const {
    return (static_cast<uint32_t>(m_Address[0]) << 24) | (static_cast<uint32_t>(m_Address[1]) << 16) |
           (static_cast<uint32_t>(m_Address[2]) << 8) | m_Address[3];
}

KL_Result KL_IpAddress::Set(uint32_t address) {
    *this = KL_IpAddress(address);
    return KL_SUCCESS;
}

KL_Result KL_IpAddress::Set(const uint8_t* bytes) {
    std::memcpy(m_Address, bytes, 4);
    return KL_SUCCESS;
}

KL_String KL_IpAddress::ToString() const {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", m_Address[0], m_Address[1], m_Address[2], m_Address[3]);
    return KL_String(text);
}

bool KL_IpAddress::operator==(const KL_IpAddress& other) const {
    return std::memcmp(m_Address, other.m_Address, 4) == 0;
}
