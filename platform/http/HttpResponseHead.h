#pragma once

#include "foundation/Data.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The head of an HTTP/1.1 response: status line and header fields in insertion order.
class HttpResponseHead {
public:
    explicit HttpResponseHead(int statusCode);

    int statusCode() const { return _statusCode; }
    // Sets a header: the value of a field of the same name (compared without regard to case) is
    // replaced in place (the name keeps its first spelling), otherwise the field is appended. CR,
    // LF and the other control characters of the value (the tab excepted) are replaced by spaces;
    // characters of the name that may not appear in a field name (control characters, spaces,
    // ":", ...) are replaced by "-". An empty name is ignored.
    void setHeader(std::string_view name, std::string_view value);
    // The value of a field, or nullptr.
    const std::string* header(std::string_view name) const;
    const std::vector<std::pair<std::string, std::string>>& headers() const { return _headers; }

    // "HTTP/1.1 <status> <reason>\r\n", each "Name: value\r\n", then "\r\n".
    Data serialize() const;

    // The standard reason phrase of a status ("OK", "Multi-Status", ...); "Unknown" for others.
    static const char* reasonPhrase(int statusCode);

private:
    int _statusCode;
    std::vector<std::pair<std::string, std::string>> _headers;
};

} // namespace platform
