#include "Error.h"

#include <cstring>

namespace platform {

Error Error::posix(int errorNumber) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be the buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return Error{kPOSIXErrorDomain, errorNumber, text ? text : "Unknown error"};
}

Error Error::make(std::string domain, long long code, std::string description) {
    return Error{std::move(domain), code, std::move(description)};
}

} // namespace platform
