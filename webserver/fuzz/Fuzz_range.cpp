// The Range header (and the other headers a request reads at construction).
#include "WebServerRequest.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const auto url = Url::parse("http://localhost/");
    HeaderDictionary headers;
    headers.emplace("Range", value);
    headers.emplace("Content-Length", value);
    headers.emplace("If-Modified-Since", value);
    WebServerRequest request("GET", *url, headers, "/", QueryDictionary{});
    (void)request.byteRange();
    return 0;
}
