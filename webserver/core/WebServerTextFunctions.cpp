// Header-value truncation, charsets, the test for textual content, body descriptions, and the
// names an item may take.

#include "WebServerErrorResponse.h"
#include "WebServerFunctions.h"

#include "foundation/Charset.h"
#include "foundation/FileSystem.h"
#include "foundation/Text.h"

#include <algorithm>
#include <climits>

namespace {

bool isControlCharacter(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// The name as a message shows it: control characters, and every byte beyond ASCII of a name that
// is not UTF-8, written as %XX.
std::string printableName(const std::string& name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const bool isText = platform::isValidUTF8(name);
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (isControlCharacter(c) || (!isText && byte >= 0x80)) {
            shown += {'%', kHex[byte >> 4], kHex[byte & 15]};
        } else {
            shown.push_back(c);
        }
    }
    return shown;
}

constexpr const char* kDefaultEncoding = "UTF-8";

bool hasPrefix(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::string TruncateHeaderValue(const std::string& value) {
    const std::size_t semicolon = value.find(';');
    return semicolon == std::string::npos ? value : value.substr(0, semicolon);
}

TextEncoding StringEncodingFromCharset(const std::optional<std::string>& charset) {
    if (!charset) {
        return kDefaultEncoding;
    }
    // A charset token never holds a ";": "utf-8;" is what a value followed by another parameter
    // without a blank in between looks like.
    auto name = platform::canonicalCharsetName(TruncateHeaderValue(*charset));
    return name ? *name : kDefaultEncoding;
}

std::optional<std::string> StringFromData(const Data& data, const TextEncoding& encoding) {
    return platform::decodeToUTF8(data.data(), data.size(), encoding);
}

bool IsTextContentType(const std::string& type) {
    return hasPrefix(type, "text/") || hasPrefix(type, "application/json") ||
           hasPrefix(type, "application/xml");
}

std::string DescribeBodyData(const Data& data, const std::string& type) {
    if (IsTextContentType(type)) {
        const TextEncoding encoding = StringEncodingFromCharset(ExtractHeaderValueParameter(type, "charset"));
        if (auto text = StringFromData(data, encoding)) {
            return *text;
        }
    }
    return "<" + std::to_string(data.size()) + " bytes>";
}

std::shared_ptr<WebServerResponse> RefusedItemName(const std::string& name, std::string_view subject) {
    const char* fault = nullptr;
    if (name.size() > NAME_MAX) {
        return TooLongItemName(name, subject);
    }
    if (!platform::isValidUTF8(name)) {
        fault = " \"%@\" is not UTF-8 text";
    } else if (std::any_of(name.begin(), name.end(), isControlCharacter)) {
        fault = " \"%@\" holds a control character";
    } else {
        return nullptr;
    }
    return WebServerErrorResponse::responseWithClientError(400, std::string(subject) + fault,
                                                           {printableName(name)});
}

std::shared_ptr<WebServerResponse> RefusedPath(const std::string& path) {
    if (path.find('\0') == std::string::npos) {
        return nullptr;
    }
    return WebServerErrorResponse::responseWithClientError(400, "Path \"%@\" holds a control character",
                                                           {printableName(path)});
}

std::shared_ptr<WebServerResponse> RefusedItemPath(const std::string& path, std::string_view subject) {
    auto refusal = RefusedItemName(platform::FileSystem::lastPathComponent(path), subject);
    return refusal ? refusal : RefusedPath(path);
}

std::shared_ptr<WebServerResponse> TooLongItemName(const std::string& name, std::string_view subject) {
    return WebServerErrorResponse::responseWithClientError(400, std::string(subject) + " \"%@\" is too long",
                                                           {printableName(name)});
}
