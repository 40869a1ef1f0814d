// KL_NetworkInterface: the record of one network interface (name, hardware address, flags and
// IPv4 addresses), the host's enumeration and the filtered list of usable interfaces.
//
// Lists of interfaces hold pointers owned by the list's holder; KL_DeleteNetworkInterfaces
// deletes every record of such a list and empties it.
#pragma once

#include "KL_List.h"
#include "KL_MacAddress.h"
#include "KL_NetworkInterfaceAddress.h"
#include "KL_Result.h"
#include "KL_String.h"

#include <cstdint>

struct ifaddrs;

constexpr uint32_t KL_NETWORK_INTERFACE_FLAG_LOOPBACK = 0x01;
constexpr uint32_t KL_NETWORK_INTERFACE_FLAG_PROMISCUOUS = 0x02;
constexpr uint32_t KL_NETWORK_INTERFACE_FLAG_BROADCAST = 0x04;
constexpr uint32_t KL_NETWORK_INTERFACE_FLAG_MULTICAST = 0x08;
constexpr uint32_t KL_NETWORK_INTERFACE_FLAG_POINT_TO_POINT = 0x10;

class KL_NetworkInterface;
typedef KL_List<KL_NetworkInterface*> KL_NetworkInterfaceList;

class KL_NetworkInterface {
public:
    KL_NetworkInterface(const char* name, uint32_t flags);
    KL_NetworkInterface(const char* name, const KL_MacAddress& mac_address, uint32_t flags);
    virtual ~KL_NetworkInterface();

    KL_NetworkInterface(const KL_NetworkInterface&) = delete;
    KL_NetworkInterface& operator=(const KL_NetworkInterface&) = delete;

    // Appends a copy of the entry.
    KL_Result AddAddress(const KL_NetworkInterfaceAddress& address);
    KL_Result SetMacAddress(const KL_MacAddress& mac_address);

    const KL_String& GetName() const { return m_Name; }
    const KL_MacAddress& GetMacAddress() const { return m_MacAddress; }
    uint32_t GetFlags() const { return m_Flags; }
    const KL_List<KL_NetworkInterfaceAddress>& GetAddresses() const { return m_Addresses; }

    // Appends a record for every interface that is up and has an IPv4 or link-layer entry, in
    // the order of their first entry; IPv4 addresses and the hardware address are filled in.
    // Failure of the enumeration: -20700 - errno (errno below 100), else -22000 - errno.
    [[nodiscard]] static KL_Result GetNetworkInterfaces(KL_NetworkInterfaceList& interfaces);

    // The same from an interface address list as getifaddrs answers it.
    static KL_Result AddInterfaces(const struct ifaddrs* entries, KL_NetworkInterfaceList& interfaces);

private:
    KL_String m_Name;
    KL_MacAddress m_MacAddress;
    uint32_t m_Flags;
    KL_List<KL_NetworkInterfaceAddress> m_Addresses;
};

// Deletes every record of the list and empties it.
void KL_DeleteNetworkInterfaces(KL_NetworkInterfaceList& interfaces);

// The interfaces to announce and listen on: records with an address, the multicast flag and not
// point-to-point; loopback records only when include_loopback or loopback_only is asked, other
// records only when loopback_only is not asked and their first address is not 0.0.0.0. With
// loopback_only (the fallback of a host without a usable network) a loopback record needs no
// multicast flag.
// The kept records are appended to the list (which takes ownership); on an enumeration failure
// the list is unchanged.
[[nodiscard]] KL_Result KL_GetUsableNetworkInterfaces(KL_NetworkInterfaceList& interfaces,
                                                      bool include_loopback, bool loopback_only);

// The filter alone: moves the usable records of candidates to interfaces, deletes the others;
// candidates is empty afterwards.
void KL_FilterUsableNetworkInterfaces(KL_NetworkInterfaceList& candidates,
                                      KL_NetworkInterfaceList& interfaces, bool include_loopback,
                                      bool loopback_only);
