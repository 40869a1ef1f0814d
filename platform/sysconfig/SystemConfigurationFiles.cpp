#include "SystemConfigurationFiles.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <net/route.h>
#include <utility>
#include <vector>

namespace platform::sysconfig {

namespace {

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Removes shell quoting from a value: 'single', "double" (with backslash escapes) or bare text.
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

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> result;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const auto start = line.find_first_not_of(" \t\r", pos);
        if (start == std::string_view::npos) {
            break;
        }
        auto end = line.find_first_of(" \t\r", start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        result.push_back(line.substr(start, end - start));
        pos = end;
    }
    return result;
}

template <typename Visit> void forEachLine(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        visit(text.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
}

template <typename T> std::optional<T> parseNumber(std::string_view text, int base) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<std::string> prettyHostNameFromMachineInfo(std::string_view machineInfo) {
    static constexpr std::string_view kKey = "PRETTY_HOSTNAME=";
    std::optional<std::string> result;
    forEachLine(machineInfo, [&](std::string_view line) {
        line = trim(line);
        if (line.substr(0, kKey.size()) == kKey) {
            std::string value = unquote(trim(line.substr(kKey.size())));
            result = value.empty() ? std::nullopt : std::optional<std::string>(std::move(value));
        }
    });
    return result;
}

std::optional<std::string> defaultRouteInterface(std::string_view routeTable) {
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT.
    std::optional<std::string> best;
    std::uint64_t bestMetric = std::numeric_limits<std::uint64_t>::max();
    bool header = true;
    forEachLine(routeTable, [&](std::string_view line) {
        if (std::exchange(header, false)) {
            return;
        }
        const auto columns = fields(line);
        if (columns.size() < 8 || columns[1] != "00000000" || columns[7] != "00000000") {
            return;
        }
        const auto flags = parseNumber<unsigned>(columns[3], 16);
        const auto metric = parseNumber<std::uint64_t>(columns[6], 10);
        if (!flags || !metric || (*flags & RTF_UP) == 0) {
            return;
        }
        if (!best || *metric < bestMetric) {
            best = std::string(columns[0]);
            bestMetric = *metric;
        }
    });
    return best;
}

} // namespace platform::sysconfig
