// The request-head parser, fed the input in two pieces cut at its first byte's value.
#include "http/HttpRequestHead.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::HttpRequestHead head;
    const std::size_t cut = size == 0 ? 0 : data[0] % size;
    std::size_t consumed = 0;
    if (head.appendBytes(data, cut, &consumed) && !head.isHeaderComplete()) {
        head.appendBytes(data + cut, size - cut, &consumed);
    }
    if (head.isHeaderComplete()) {
        (void)head.url();
        (void)head.headers();
    }
    return 0;
}
