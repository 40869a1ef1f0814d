#include "WebServerFunctions.h"

#include "foundation/Text.h"

#include "foundation/Digest.h"
#include "foundation/SocketAddress.h"
#include "sysconfig/SystemConfiguration.h"

#include <charconv>
#include <memory>

namespace {

// Reads from `pos` up to (not including) `stop` or the end; advances pos. Empty when nothing was read.
std::string scanUpTo(const std::string& text, std::size_t& pos, char stop) {
    const std::size_t end = text.find(stop, pos);
    const std::size_t last = end == std::string::npos ? text.size() : end;
    std::string result = text.substr(pos, last - pos);
    pos = last;
    return result;
}

void replacePlus(std::string& text) {
    for (char& c : text) {
        if (c == '+') {
            c = ' ';
        }
    }
}

// Decimal digits only, within 64 bits; none for empty text.
std::optional<std::uint64_t> decimal(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.front() < '0' || text.front() > '9' || error != std::errc() ||
        end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

WebServerRange ParseByteRange(std::string_view value) {
    const std::string normalized = NormalizeHeaderValue(std::string(value));
    std::string_view set(normalized);
    if (set.substr(0, 6) != "bytes=") {
        return {};
    }
    set = TrimOptionalWhitespace(set.substr(6));
    const std::size_t dash = set.find('-');
    if (dash == std::string_view::npos) {
        return {};
    }
    const std::string_view firstText = set.substr(0, dash);
    const std::string_view lastText = set.substr(dash + 1);
    const auto first = decimal(firstText);
    const auto last = decimal(lastText);
    if (first && last && *last >= *first && *last != kWebServerNotFound) {
        return {*first, *last - *first + 1};
    }
    if (first && lastText.empty() && *first != kWebServerNotFound) {
        return {*first, kWebServerNotFound}; // from FIRST to the end
    }
    if (firstText.empty() && last && *last >= 1) {
        return {kWebServerNotFound, *last}; // the last LAST bytes
    }
    return {};
}

void InitializeServerFunctions() {
    // Dates are formatted and parsed without shared state (WebServerDates.cpp), the MIME table is
    // built on first use: nothing is left to prepare.
}

std::string NormalizeHeaderValue(const std::string& value) {
    const std::size_t semicolon = value.find(';');
    if (semicolon == std::string::npos) {
        return platform::asciiLowercase(value);
    }
    return platform::asciiLowercase(std::string_view(value).substr(0, semicolon)) + value.substr(semicolon);
}

std::optional<std::string> NormalizeHeaderValue(const std::optional<std::string>& value) {
    if (!value) {
        return std::nullopt;
    }
    return NormalizeHeaderValue(*value);
}

std::optional<std::string> ExtractHeaderValueParameter(const std::string& value, const std::string& name) {
    const std::string needle = platform::asciiLowercase(name + "=");
    const std::string lowered = platform::asciiLowercase(value);
    const std::size_t at = lowered.find(needle);
    if (at == std::string::npos || at == 0) {
        return std::nullopt;
    }
    std::size_t pos = at + needle.size();
    std::string result;
    if (pos < value.size() && value[pos] == '"') {
        ++pos;
        result = scanUpTo(value, pos, '"');
    } else {
        std::size_t end = pos;
        while (end < value.size() && value[end] != ' ' && value[end] != '\t' && value[end] != '\r' &&
               value[end] != '\n') {
            ++end;
        }
        result = value.substr(pos, end - pos);
    }
    if (result.empty()) {
        return std::nullopt;
    }
    return result;
}

std::optional<std::string> UnescapeURLString(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = platform::hexDigitValue(text[i + 1]);
        const int low = platform::hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        result.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (!platform::isValidUTF8(result)) {
        return std::nullopt;
    }
    return result;
}

QueryDictionary ParseURLEncodedForm(const std::string& text) {
    QueryDictionary parameters;
    std::size_t pos = 0;
    std::string key = scanUpTo(text, pos, '=');
    if (key.empty()) {
        return parameters;
    }
    while (pos < text.size()) {
        ++pos; // the "="
        std::string value = scanUpTo(text, pos, '&');
        replacePlus(key);
        replacePlus(value);
        auto unescapedKey = UnescapeURLString(key);
        auto unescapedValue = UnescapeURLString(value);
        if (unescapedKey && unescapedValue) {
            parameters[*unescapedKey] = *unescapedValue;
        }
        if (pos >= text.size()) {
            break;
        }
        ++pos; // the "&"
        key = scanUpTo(text, pos, '=');
        if (key.empty()) {
            break;
        }
    }
    return parameters;
}

std::optional<std::string> StringFromSockAddr(const sockaddr* address, bool includePort) {
    return platform::stringFromSockAddr(address, includePort);
}

std::optional<std::string> PrimaryIPAddress(bool useIPv6) {
    auto name = platform::SystemConfiguration::primaryInterface();
    return platform::interfaceAddress(name ? *name : platform::SystemConfiguration::kLoopbackInterface,
                                      useIPv6);
}

std::string StringWithFormat(std::string_view format, std::initializer_list<std::string_view> arguments) {
    std::string result;
    auto next = arguments.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '@') {
            if (next != arguments.end()) {
                result.append(*next++);
            }
            ++i;
        } else {
            result.push_back(format[i]);
        }
    }
    return result;
}

std::string MD5HexOfFormat(std::string_view format, std::initializer_list<std::string_view> arguments) {
    return platform::md5Hex(StringWithFormat(format, arguments));
}

const std::string* HeaderValue(const HeaderDictionary& headers, std::string_view name) {
    auto it = headers.find(name);
    return it == headers.end() ? nullptr : &it->second;
}
