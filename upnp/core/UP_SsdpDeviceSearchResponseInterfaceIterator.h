// UP_SsdpDeviceSearchResponseInterfaceIterator: sends one M-SEARCH answer on one network interface,
// when the system routes the answer to the searcher through that interface and the searcher
// lies in the interface's subnet: every matching target once (the answer task sends the repeat),
// from a socket connected to the searcher, which may not send to a broadcast address, and only
// while the searcher's answer rate allows.
#pragma once

#include "KL_NetworkInterface.h"
#include "KL_Result.h"
#include "KL_SocketAddress.h"
#include "KL_String.h"

class UP_DeviceHost;
class UP_SsdpAnswerRate;

class UP_SsdpDeviceSearchResponseInterfaceIterator {
public:
    UP_SsdpDeviceSearchResponseInterfaceIterator(UP_DeviceHost* device, const KL_SocketAddress& remote_addr,
                                                 const char* st, UP_SsdpAnswerRate* rate = nullptr)
        : m_Device(device), m_RemoteAddr(remote_addr), m_ST(st), m_Rate(rate) {}

    // 0 when nothing is to be sent on this interface; else 0 or the failure.
    KL_Result operator()(KL_NetworkInterface* const& iface) const;

    // True when the address lies in the subnet of one of the interface's addresses (127.0.0.0/8
    // on a loopback interface).
    static bool IsInSubnet(const KL_NetworkInterface& iface, const KL_IpAddress& address);
    // True when the address lies in the subnet of one of the interfaces.
    static bool IsInSubnet(const KL_NetworkInterfaceList& interfaces, const KL_IpAddress& address);
    // True when a searcher at the address may be answered: it lies in the subnet of one of the
    // interfaces and is a single host there, not 0.0.0.0/8, a multicast or broadcast address, nor
    // the network or broadcast address of an interface's subnet (a forged source would turn the
    // answer into a broadcast). The host's own addresses are answered like any other host's: a
    // control point on this computer searches from them, and the kernel drops a datagram from
    // the wire that claims one of them as its source.
    static bool IsAnswerableSender(const KL_NetworkInterfaceList& interfaces, const KL_IpAddress& address);

private:
    UP_DeviceHost* m_Device;
    KL_SocketAddress m_RemoteAddr;
    KL_String m_ST;
    UP_SsdpAnswerRate* m_Rate;
};
