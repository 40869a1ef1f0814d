// URL-encoded forms and the percent-unescaping of paths.
#include "WebServerFunctions.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)ParseURLEncodedForm(text);
    (void)UnescapeURLString(text);
    return 0;
}
