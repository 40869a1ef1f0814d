#pragma once

#include "WebServerTypes.h"

#include <string>

// Errors that the request-body classes report; the connection answers every one of them with 500.

inline constexpr const char* kWebServerRequestErrorDomain = "WebServerErrorDomain";

// Memory for the body could not be had.
inline Error WebServerAllocationError() {
    return Error::make(kWebServerRequestErrorDomain, -1, "Failed allocating memory");
}

// A body (or one of its parts) would exceed what the request keeps in memory.
inline Error WebServerBodyTooLargeError(const std::string& what) {
    return Error::make(kWebServerRequestErrorDomain, -1, what + " exceeds the size kept in memory");
}
