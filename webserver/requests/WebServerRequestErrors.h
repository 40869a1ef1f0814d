#pragma once

#include "WebServerTypes.h"

#include <string>

// Errors that the request-body classes report; the connection answers them with 500, except a body
// too large to keep in memory, or one that decodes to too much, which gets 413.

inline constexpr const char* kWebServerRequestErrorDomain = "WebServerErrorDomain";

// Memory for the body could not be had.
inline Error WebServerAllocationError() {
    return Error::make(kWebServerRequestErrorDomain, -1, "Failed allocating memory");
}

// A body (or one of its parts) would exceed what the request keeps in memory.
inline constexpr long long kWebServerBodyTooLargeCode = 413;

inline Error WebServerBodyTooLargeError(const std::string& what) {
    return Error::make(kWebServerRequestErrorDomain, kWebServerBodyTooLargeCode,
                       what + " exceeds the size kept in memory");
}

// A coded body whose decoded bytes grow beyond what its encoded size allows (a compression bomb).
inline Error WebServerBodyExpansionError() {
    return Error::make(kWebServerRequestErrorDomain, kWebServerBodyTooLargeCode,
                       "Decoded body exceeds 64 times its encoded size plus 16 MiB");
}

inline bool IsWebServerBodyTooLargeError(const Error& error) {
    return error.domain == kWebServerRequestErrorDomain && error.code == kWebServerBodyTooLargeCode;
}
