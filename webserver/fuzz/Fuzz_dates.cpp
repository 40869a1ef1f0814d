// RFC 822 (and the other HTTP forms) and ISO 8601 dates, and formatting what was parsed.
#include "WebServerFunctions.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto date = ParseRFC822Date(text)) {
        (void)FormatRFC822Date(*date);
    }
    if (const auto date = ParseHTTPDate(text)) {
        (void)FormatRFC822Date(*date);
    }
    if (const auto date = ParseISO8601Date(text)) {
        (void)FormatISO8601Date(*date);
    }
    return 0;
}
