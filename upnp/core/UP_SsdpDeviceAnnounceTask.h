// UP_SsdpDeviceAnnounceTask: announces a device host on every usable interface, round after round
// until aborted: first (once, when asked) a byebye round, then alive rounds at the interval.
#pragma once

#include "KL_NetworkInterface.h"
#include "KL_TimeStamp.h"
#include "UP_ThreadTask.h"

class UP_DeviceHost;

class UP_SsdpDeviceAnnounceTask : public UP_ThreadTask {
public:
    UP_SsdpDeviceAnnounceTask(UP_DeviceHost* device, const KL_TimeStamp& repeat, bool is_byebye_first,
                              bool extra_broadcast)
        : m_Device(device), m_Repeat(repeat), m_IsByeByeFirst(is_byebye_first),
          m_ExtraBroadcast(extra_broadcast) {}

    void DoRun() override;

    // The interval between alive rounds for a lease of L whole seconds: L/2 - 10 s, but L/2 (at
    // least 1 s) below 22 s, where that would be zero or negative; 30 s for no lease.
    static KL_TimeStamp ComputeInterval(const KL_TimeStamp& lease);

private:
    // One announcement of the kind on every interface: the broadcast pass first when asked.
    void AnnounceOnAll(const KL_NetworkInterfaceList& interfaces, int type);

    UP_DeviceHost* m_Device;
    KL_TimeStamp m_Repeat;
    bool m_IsByeByeFirst;
    bool m_ExtraBroadcast;
};
