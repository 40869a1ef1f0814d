// The "Authorization" header's scheme and parameters.
#include "WebServerFunctions.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)ParseAuthorizationHeader(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
