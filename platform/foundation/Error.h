#pragma once

#include <string>

namespace platform {

// A failure as the web side and the application report it: a domain, a code within it and a
// human-readable description.
struct Error {
    std::string domain;
    long long code = 0;
    std::string description;

    // An error of the POSIX domain: the code is the error number, the description strerror's text.
    static Error posix(int errorNumber);
    // Any other domain.
    static Error make(std::string domain, long long code, std::string description);

    bool operator==(const Error&) const = default;
};

inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";

// Stores `value` into `*out` when the caller asked for the error (out may be null).
inline void setError(Error* out, Error value) {
    if (out) {
        *out = std::move(value);
    }
}

} // namespace platform
