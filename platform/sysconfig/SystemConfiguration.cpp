#include "SystemConfiguration.h"

#include "SystemConfigurationFiles.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace platform {

namespace {

std::optional<std::string> readFile(const char* path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

std::optional<std::string> hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}

} // namespace

std::optional<std::string> SystemConfiguration::computerName() {
    if (const auto machineInfo = readFile("/etc/machine-info")) {
        if (auto pretty = sysconfig::prettyHostNameFromMachineInfo(*machineInfo)) {
            return pretty;
        }
    }
    return hostName();
}

std::optional<std::string> SystemConfiguration::localHostName() {
    auto name = hostName();
    if (!name) {
        return std::nullopt;
    }
    name->erase(std::min(name->find('.'), name->size()));
    if (name->empty()) {
        return std::nullopt;
    }
    return name;
}

std::optional<std::string> SystemConfiguration::primaryInterface() {
    const auto routes = readFile("/proc/net/route");
    if (!routes) {
        return std::nullopt;
    }
    return sysconfig::defaultRouteInterface(*routes);
}

} // namespace platform
