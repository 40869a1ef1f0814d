#pragma once

#include "Data.h"

#include <optional>
#include <string>

struct sockaddr;

namespace platform {

// The numeric host text of a socket address ("127.0.0.1", "::1") and, with includePort, "%s:%s"
// with the numeric port. None when the address cannot be converted.
std::optional<std::string> stringFromSockAddr(const sockaddr* address, bool includePort);
// The same for address bytes as kept by connections (a sockaddr_in or sockaddr_in6).
std::optional<std::string> stringFromSockAddrData(const Data& address, bool includePort);

// The numeric address of the first entry of the named interface that is up and has an address of
// the family asked for (IPv6 or IPv4); none when there is none or the enumeration fails.
std::optional<std::string> interfaceAddress(const std::string& interfaceName, bool useIPv6);

} // namespace platform
