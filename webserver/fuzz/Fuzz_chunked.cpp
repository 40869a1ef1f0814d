// The chunked body parser, fed the input in pieces of a size taken from its first byte.
#include "WebServerChunkedBodyParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WebServerChunkedBodyParser parser;
    const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 64;
    std::size_t delivered = 0;
    const auto sink = [&delivered](const std::uint8_t*, std::size_t length) {
        delivered += length;
        return true;
    };
    for (std::size_t offset = 0; offset < size; offset += piece) {
        const std::size_t length = offset + piece > size ? size - offset : piece;
        if (parser.feed(data + offset, length, sink) != WebServerChunkedBodyParser::Status::NeedMore) {
            break;
        }
    }
    return 0;
}
