// The multipart parser with the boundary "B", fed the input in pieces; parts go to the system's
// temporary folder and are removed with the lists.
#include "WebServerMIMEStreamParser.h"
#include "WebServerMultiPart.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WebServerMultiPartArgumentList arguments;
    WebServerMultiPartFileList files;
    {
        auto parser = WebServerMIMEStreamParser::create("B", std::nullopt, arguments, files);
        const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 97;
        for (std::size_t offset = 0; parser && offset < size; offset += piece) {
            const std::size_t length = offset + piece > size ? size - offset : piece;
            if (!parser->appendBytes(data + offset, length)) {
                break;
            }
        }
    }
    return 0;
}
