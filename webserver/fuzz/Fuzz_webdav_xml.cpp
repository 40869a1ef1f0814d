// The WebDAV request bodies: PROPFIND and LOCK, and the escaping of what a LOCK answer echoes.
#include "WebDAVXml.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Data body(data, data + size);
    (void)WebDAVParsePropfindBody(body, [](const std::string&) {});
    if (const auto info = WebDAVParseLockInfo(body)) {
        (void)WebDAVEscapeXML(info->owner);
    }
    (void)WebDAVEscapeXML(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
