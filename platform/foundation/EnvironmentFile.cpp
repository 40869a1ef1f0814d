#include "EnvironmentFile.h"

namespace platform {

namespace {

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Shell quoting removed: '...' literally, "..." with backslash escapes, bare text with escapes.
std::string unquote(std::string_view value) {
    std::string result;
    char quote = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (quote != 0 && c == quote) {
            quote = 0;
        } else if (c == '\\' && quote != '\'' && i + 1 < value.size()) {
            result.push_back(value[++i]);
        } else {
            result.push_back(c);
        }
    }
    return result;
}

bool isKey(std::string_view key) {
    if (key.empty()) {
        return false;
    }
    for (char c : key) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) {
            return false;
        }
    }
    return true;
}

} // namespace

std::map<std::string, std::string> parseEnvironmentFile(std::string_view text) {
    std::map<std::string, std::string> fields;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || !isKey(line.substr(0, equals))) {
            continue;
        }
        fields[std::string(line.substr(0, equals))] = unquote(trim(line.substr(equals + 1)));
    }
    return fields;
}

} // namespace platform
