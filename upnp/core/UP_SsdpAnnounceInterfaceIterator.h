// UP_SsdpAnnounceInterfaceIterator: sends one announcement (byebye, alive or update) of a device
// host on one network interface: to the SSDP group through a multicast socket whose outgoing
// interface is the interface's address, or to the interface's broadcast address. Each
// announcement goes out twice (alive: 200 ms apart).
#pragma once

#include "KL_Result.h"

class KL_NetworkInterface;
class UP_DeviceHost;
class UP_ThreadTask;

// Announcement kinds, as UP_DeviceHost::Announce takes them.
enum UP_SsdpAnnounceType {
    UP_SSDP_ANNOUNCE_BYEBYE = 0,
    UP_SSDP_ANNOUNCE_ALIVE = 1,
    UP_SSDP_ANNOUNCE_UPDATE = 2
};

class UP_SsdpAnnounceInterfaceIterator {
public:
    // task (optional): the pause between the two rounds ends early when it is aborted.
    UP_SsdpAnnounceInterfaceIterator(UP_DeviceHost* device, int type, bool broadcast,
                                     UP_ThreadTask* task = nullptr)
        : m_Device(device), m_Type(type), m_Broadcast(broadcast), m_Task(task) {}

    // -1 for an interface that cannot carry it (no address, 0.0.0.0, no multicast nor loopback
    // flag, no broadcast flag when broadcasting); else 0 or the first failure.
    KL_Result operator()(KL_NetworkInterface* const& iface) const;

private:
    UP_DeviceHost* m_Device;
    int m_Type;
    bool m_Broadcast;
    UP_ThreadTask* m_Task;
};
