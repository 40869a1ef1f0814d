#include "SystemConfigurationFiles.h"

#include "foundation/EnvironmentFile.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <net/route.h>
#include <utility>
#include <vector>

namespace platform::sysconfig {

namespace {

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
    const auto fields = parseEnvironmentFile(machineInfo);
    const auto found = fields.find("PRETTY_HOSTNAME");
    if (found == fields.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second;
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
