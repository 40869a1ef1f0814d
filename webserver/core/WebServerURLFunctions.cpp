// MIME types of file extensions and URL escaping.

#include "WebServerFunctions.h"

#include "foundation/CaseInsensitive.h"
#include "foundation/MimeTypes.h"

#include <map>

namespace {

// The server's own choices, asked before the system's table.
const std::map<std::string, std::string>& overrideTable() {
    static const std::map<std::string, std::string> table = {{"css", "text/css"}};
    return table;
}

// Characters that RFC 2396 lets stand as they are in a URL, less ":@/?&=+" (which separate the
// parts of a URL and of a query). "%" and "#" are escaped too, so that any text round-trips
// through UnescapeURLString.
bool isLeftAsIs(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '-':
    case '_':
    case '.':
    case '!':
    case '~':
    case '*':
    case '\'':
    case '(':
    case ')':
    case ';':
    case '$':
    case ',':
        return true;
    default:
        return false;
    }
}

} // namespace

std::string MimeTypeForExtension(const std::string& extension) {
    static const std::string kDefault = "application/octet-stream";
    if (extension.empty()) {
        return kDefault;
    }
    const std::string lowered = platform::asciiLowercase(extension);
    const auto& overrides = overrideTable();
    if (auto it = overrides.find(lowered); it != overrides.end()) {
        return it->second;
    }
    return platform::mimeTypeForExtension(lowered).value_or(kDefault);
}

std::string EscapeURLString(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isLeftAsIs(c)) {
            result.push_back(ch);
        } else {
            result.push_back('%');
            result.push_back(kHex[c >> 4]);
            result.push_back(kHex[c & 0x0F]);
        }
    }
    return result;
}
