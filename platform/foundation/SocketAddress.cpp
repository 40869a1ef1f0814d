#include "SocketAddress.h"

#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

namespace {

socklen_t addressLength(int family) {
    switch (family) {
    case AF_INET:
        return sizeof(sockaddr_in);
    case AF_INET6:
        return sizeof(sockaddr_in6);
    default:
        return 0;
    }
}

} // namespace

std::optional<std::string> stringFromSockAddr(const sockaddr* address, bool includePort) {
    if (address == nullptr) {
        return std::nullopt;
    }
    const socklen_t length = addressLength(address->sa_family);
    if (length == 0) {
        return std::nullopt;
    }
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(address, length, host, sizeof(host), service, sizeof(service),
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return std::nullopt;
    }
    std::string result(host);
    if (includePort) {
        result += ':';
        result += service;
    }
    return result;
}

std::optional<std::string> stringFromSockAddrData(const Data& address, bool includePort) {
    // Copied into storage of the right alignment: the bytes come from anywhere.
    sockaddr_storage storage{};
    if (address.size() < sizeof(sa_family_t) || address.size() > sizeof(storage)) {
        return std::nullopt;
    }
    std::memcpy(&storage, address.data(), address.size());
    const socklen_t length = addressLength(storage.ss_family);
    if (length == 0 || address.size() < length) {
        return std::nullopt;
    }
    return stringFromSockAddr(reinterpret_cast<const sockaddr*>(&storage), includePort);
}

std::optional<std::string> interfaceAddress(const std::string& interfaceName, bool useIPv6) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    const int family = useIPv6 ? AF_INET6 : AF_INET;
    std::optional<std::string> result;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != family) {
            continue;
        }
        if ((entry->ifa_flags & IFF_UP) == 0 || interfaceName != entry->ifa_name) {
            continue;
        }
        result = stringFromSockAddr(entry->ifa_addr, false);
        break;
    }
    freeifaddrs(list);
    return result;
}

} // namespace platform
