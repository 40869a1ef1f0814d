#pragma once

#include <optional>
#include <string>

namespace platform {

// Facts of this computer, as the system's configuration holds them.
struct SystemConfiguration {
    // The computer's user-visible name: the pretty host name (hostnamectl), else the host name.
    static std::optional<std::string> computerName();
    // The local host name: the host name's first label, as published over multicast DNS (without
    // ".local").
    static std::optional<std::string> localHostName();
    // The interface of the IPv4 default route (from /proc/net/route), none when there is none.
    static std::optional<std::string> primaryInterface();
    // The interface name that stands for the loopback interface.
    static constexpr const char* kLoopbackInterface = "lo";
};

} // namespace platform
