#pragma once

#include "foundation/CaseInsensitive.h"
#include "foundation/Url.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Incremental parser of an HTTP/1.x request head: the request line and the header fields up to the
// blank line. Bytes may arrive in any slices; the parser refuses a malformed head and a head longer
// than its limit.
class HttpRequestHead {
public:
    static constexpr std::size_t kDefaultMaximumSize = 64 * 1024;

    explicit HttpRequestHead(std::size_t maximumSize = kDefaultMaximumSize);

    // Feeds bytes. Returns false when the head is refused (malformed request line or header line,
    // an unsupported version, or more bytes than the maximum size before the blank line); once
    // refused it stays refused. Bytes after the blank line are not consumed: `consumed` (when
    // given) receives how many of these bytes belong to the head.
    bool appendBytes(const std::uint8_t* bytes, std::size_t length, std::size_t* consumed = nullptr);
    bool isHeaderComplete() const { return _complete; }
    bool isRefused() const { return _refused; }

    // The method as sent (case kept).
    const std::string& method() const { return _method; }
    // The request target as sent (still escaped): "/path?query", an absolute URL, "*".
    const std::string& requestTarget() const { return _target; }
    // "HTTP/1.1" or "HTTP/1.0".
    const std::string& version() const { return _version; }
    // The header fields; names are looked up without regard to case; repeated fields are joined
    // with ", ". Leading and trailing white space of values is removed.
    const HeaderDictionary& headers() const { return _headers; }
    // The request URL: the target resolved against the Host header (none for a target that is not
    // a URL, such as "*").
    std::optional<Url> url() const;

private:
    bool parseLine(const std::string& line);
    bool parseRequestLine(const std::string& line);
    bool refuse();

    std::size_t _maximumSize;
    std::size_t _size = 0;
    std::string _line;
    bool _sawRequestLine = false;
    bool _complete = false;
    bool _refused = false;
    std::string _method;
    std::string _target;
    std::string _version;
    HeaderDictionary _headers;
};

} // namespace platform
