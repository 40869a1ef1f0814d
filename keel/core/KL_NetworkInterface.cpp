// KL_NetworkInterface: interface records, enumeration through getifaddrs and the usable filter.
#include "KL_NetworkInterface.h"

#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>

KL_NetworkInterface::KL_NetworkInterface(const char* name, uint32_t flags) : m_Name(name), m_Flags(flags) {}

KL_NetworkInterface::KL_NetworkInterface(const char* name, const KL_MacAddress& mac_address, uint32_t flags)
    : m_Name(name), m_MacAddress(mac_address), m_Flags(flags) {}

KL_NetworkInterface::~KL_NetworkInterface() {
    m_Addresses.Clear();
}

KL_Result KL_NetworkInterface::AddAddress(const KL_NetworkInterfaceAddress& address) {
    m_Addresses.Add(address);
    return KL_SUCCESS;
}

KL_Result KL_NetworkInterface::SetMacAddress(const KL_MacAddress& mac_address) {
    m_MacAddress = mac_address;
    return KL_SUCCESS;
}

namespace {

uint32_t FlagsFromPlatform(unsigned int flags) {
    uint32_t result = 0;
    if (flags & IFF_LOOPBACK) {
        result |= KL_NETWORK_INTERFACE_FLAG_LOOPBACK;
    }
    if (flags & IFF_PROMISC) {
        result |= KL_NETWORK_INTERFACE_FLAG_PROMISCUOUS;
    }
    if (flags & IFF_BROADCAST) {
        result |= KL_NETWORK_INTERFACE_FLAG_BROADCAST;
    }
    if (flags & IFF_MULTICAST) {
        result |= KL_NETWORK_INTERFACE_FLAG_MULTICAST;
    }
    if (flags & IFF_POINTOPOINT) {
        result |= KL_NETWORK_INTERFACE_FLAG_POINT_TO_POINT;
    }
    return result;
}

uint32_t MacTypeFromHardwareType(unsigned short type) {
    switch (type) {
    case ARPHRD_ETHER:
        return KL_MacAddress::TYPE_ETHERNET;
    case ARPHRD_LOOPBACK:
        return KL_MacAddress::TYPE_LOOPBACK;
    case ARPHRD_PPP:
        return KL_MacAddress::TYPE_PPP;
    default:
        return KL_MacAddress::TYPE_UNKNOWN;
    }
}

KL_IpAddress AddressOf(const struct sockaddr* address, const KL_IpAddress& fallback) {
    if (address == nullptr || address->sa_family != AF_INET) {
        return fallback;
    }
    struct sockaddr_in in;
    std::memcpy(&in, address, sizeof in);
    return KL_IpAddress(ntohl(in.sin_addr.s_addr));
}

// The record of this name, appended when there is none yet.
KL_NetworkInterface* FindOrAdd(KL_NetworkInterfaceList& interfaces, const KL_String& name, uint32_t flags) {
    for (KL_NetworkInterface* record : interfaces) {
        if (record->GetName() == name) {
            return record;
        }
    }
    auto* record = new KL_NetworkInterface(name.GetChars(), flags);
    interfaces.Add(record);
    return record;
}

void AddEntry(KL_NetworkInterfaceList& interfaces, const struct ifaddrs& entry) {
    // A labelled address ("eth0:1") belongs to its interface ("eth0").
    const char* colon = std::strchr(entry.ifa_name, ':');
    KL_String name(entry.ifa_name, colon ? static_cast<KL_Size>(colon - entry.ifa_name)
                                         : static_cast<KL_Size>(std::strlen(entry.ifa_name)));
    KL_NetworkInterface* record = FindOrAdd(interfaces, name, FlagsFromPlatform(entry.ifa_flags));
    if (entry.ifa_addr->sa_family == AF_PACKET) {
        struct sockaddr_ll link;
        std::memcpy(&link, entry.ifa_addr, sizeof link);
        record->SetMacAddress(
            KL_MacAddress(MacTypeFromHardwareType(link.sll_hatype), link.sll_addr, link.sll_halen));
        return;
    }
    KL_NetworkInterfaceAddress address;
    address.m_PrimaryAddress = AddressOf(entry.ifa_addr, KL_IpAddress::Any);
    if (entry.ifa_flags & IFF_BROADCAST) {
        // getifaddrs puts the address itself where the address has no broadcast address.
        address.m_BroadcastAddress = AddressOf(entry.ifa_broadaddr, KL_IpAddress::Any);
        if (address.m_BroadcastAddress == address.m_PrimaryAddress) {
            address.m_BroadcastAddress = KL_IpAddress::Any;
        }
    }
    if (entry.ifa_flags & IFF_POINTOPOINT) {
        address.m_DestinationAddress = AddressOf(entry.ifa_dstaddr, KL_IpAddress::Any);
    }
    address.m_NetMask = AddressOf(entry.ifa_netmask, KL_IpAddress(255, 255, 255, 255));
    record->AddAddress(address);
}

} // namespace

KL_Result KL_NetworkInterface::AddInterfaces(const struct ifaddrs* entries,
                                             KL_NetworkInterfaceList& interfaces) {
    for (const struct ifaddrs* entry = entries; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_name == nullptr) {
            continue;
        }
        if (entry->ifa_addr->sa_family != AF_INET && entry->ifa_addr->sa_family != AF_PACKET) {
            continue;
        }
        if ((entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        AddEntry(interfaces, *entry);
    }
    return KL_SUCCESS;
}

KL_Result KL_NetworkInterface::GetNetworkInterfaces(KL_NetworkInterfaceList& interfaces) {
    struct ifaddrs* entries = nullptr;
    if (getifaddrs(&entries) != 0) {
        int e = errno;
        // Error numbers from 100 on would land on the HTTP family.
        return e < 100 ? -20700 - e : KL_ResultFromErrno(e);
    }
    KL_Result result = AddInterfaces(entries, interfaces);
    freeifaddrs(entries);
    return result;
}

void KL_DeleteNetworkInterfaces(KL_NetworkInterfaceList& interfaces) {
    for (KL_NetworkInterface* record : interfaces) {
        delete record;
    }
    interfaces.Clear();
}

namespace {

bool IsUsable(const KL_NetworkInterface& record, bool include_loopback, bool loopback_only) {
    if (record.GetAddresses().GetItemCount() == 0) {
        return false;
    }
    uint32_t flags = record.GetFlags();
    const bool loopback = (flags & KL_NETWORK_INTERFACE_FLAG_LOOPBACK) != 0;
    // The loopback fallback takes the loopback interface as it is: Linux's lo has no multicast
    // flag unless someone turns it on.
    const bool needs_multicast = !(loopback && loopback_only);
    if ((needs_multicast && (flags & KL_NETWORK_INTERFACE_FLAG_MULTICAST) == 0) ||
        (flags & KL_NETWORK_INTERFACE_FLAG_POINT_TO_POINT)) {
        return false;
    }
    if (loopback) {
        return include_loopback || loopback_only;
    }
    if (loopback_only) {
        return false;
    }
    return !(record.GetAddresses().GetFirstItem()->m_PrimaryAddress == KL_IpAddress::Any);
}

} // namespace

void KL_FilterUsableNetworkInterfaces(KL_NetworkInterfaceList& candidates,
                                      KL_NetworkInterfaceList& interfaces, bool include_loopback,
                                      bool loopback_only) {
    for (KL_NetworkInterface* record : candidates) {
        if (IsUsable(*record, include_loopback, loopback_only)) {
            interfaces.Add(record);
        } else {
            delete record;
        }
    }
    candidates.Clear();
}

KL_Result KL_GetUsableNetworkInterfaces(KL_NetworkInterfaceList& interfaces, bool include_loopback,
                                        bool loopback_only) {
    KL_NetworkInterfaceList candidates;
    KL_Result result = KL_NetworkInterface::GetNetworkInterfaces(candidates);
    if (KL_FAILED(result)) {
        KL_DeleteNetworkInterfaces(candidates);
        return result;
    }
    KL_FilterUsableNetworkInterfaces(candidates, interfaces, include_loopback, loopback_only);
    return KL_SUCCESS;
}
