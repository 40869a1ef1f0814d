#pragma once

// JSON values (nlohmann-json) and two non-throwing helpers around its parser and serialiser.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using Json = nlohmann::json;

// The deepest nesting of arrays and objects that parseJson accepts: deeper texts would cost far
// more memory than their size suggests.
inline constexpr std::size_t kJsonMaxDepth = 512;

namespace detail {

// True when the arrays and objects of a JSON text nest at most `maxDepth` deep (brackets inside
// strings do not count). Malformed texts are left to the parser.
inline bool jsonNestsAtMost(std::string_view text, std::size_t maxDepth) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) {
                return false;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

} // namespace detail

// Parses an RFC 8259 text (any value at the top level); none when it is not valid JSON or nests
// deeper than kJsonMaxDepth.
inline std::optional<Json> parseJson(std::string_view text) {
    if (!detail::jsonNestsAtMost(text, kJsonMaxDepth)) {
        return std::nullopt;
    }
    Json value = Json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

// Compact UTF-8 serialisation; none when a text of the value is not valid UTF-8.
inline std::optional<std::string> serializeJson(const Json& value) {
    try {
        return value.dump();
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

} // namespace platform
