#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::sysconfig {

// The PRETTY_HOSTNAME value of an /etc/machine-info text (shell-style KEY=VALUE lines, the value
// optionally quoted); none when absent or empty.
std::optional<std::string> prettyHostNameFromMachineInfo(std::string_view machineInfo);

// The interface of the IPv4 default route in a /proc/net/route text: among the routes that are up
// with destination and mask 0.0.0.0, the one with the lowest metric (the first on a tie); none
// when there is none.
std::optional<std::string> defaultRouteInterface(std::string_view routeTable);

} // namespace platform::sysconfig
