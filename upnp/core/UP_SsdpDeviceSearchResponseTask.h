// UP_SsdpDeviceSearchResponseTask: answers one accepted M-SEARCH on every usable interface
// (loopback included), then ends; the device host's task manager deletes it.
#pragma once

#include "KL_SocketAddress.h"
#include "KL_String.h"
#include "UP_ThreadTask.h"

#include <cstdint>

class UP_DeviceHost;

class UP_SsdpDeviceSearchResponseTask : public UP_ThreadTask {
public:
    // pending: the device host's id of the pending answer (the ports of the searching host to
    // answer are taken from it when the task runs).
    UP_SsdpDeviceSearchResponseTask(UP_DeviceHost* device, const KL_SocketAddress& remote_addr,
                                    const char* st, uint64_t pending)
        : m_Device(device), m_RemoteAddr(remote_addr), m_ST(st), m_Pending(pending) {}

    // Tells the device host when it is done, so that the host can count pending answers.
    void DoRun() override;

private:
    UP_DeviceHost* m_Device;
    KL_SocketAddress m_RemoteAddr;
    KL_String m_ST;
    uint64_t m_Pending;
};
