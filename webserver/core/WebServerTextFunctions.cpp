// Header-value truncation, charsets, the test for textual content and body descriptions.

#include "WebServerFunctions.h"

#include "foundation/Charset.h"

namespace {

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
