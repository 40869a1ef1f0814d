// UP_UPnP: the engine that runs device hosts (and control points) on one shared SSDP socket.
// Start binds 0.0.0.0:1900 (with reuse), joins 239.255.255.250 on every local IPv4 address,
// starts the SSDP listen task and every device host; Stop undoes it in order. Devices added while
// started start at once; those added while stopped start with the next Start.
//
//   UP_UPnP upnp;
//   upnp.AddDevice(KL_Reference<UP_DeviceHost>(new MyDevice(...)));
//   KL_CHECK(upnp.Start());
//   ...
//   upnp.Stop();      // byebye sent, socket closed
//
// One lock serialises every operation, including the device starts and stops and the wait for
// the listen task; no task takes it. Interfaces that come up after Start are not joined.
#pragma once

#include "KL_IpAddress.h"
#include "KL_List.h"
#include "KL_Mutex.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "UP_CtrlPoint.h"
#include "UP_DeviceHost.h"

class KL_UdpMulticastSocket;
class UP_SsdpListenTask;
class UP_TaskManager;

class UP_UPnP {
public:
    UP_UPnP();
    // Stops a started engine, then releases devices and control points.
    ~UP_UPnP();
    UP_UPnP(const UP_UPnP&) = delete;
    UP_UPnP& operator=(const UP_UPnP&) = delete;

    // KL_ERROR_INVALID_STATE when started; else 0 or the failing step's code (bind, join, listen
    // task). A device host that fails to start is logged and skipped (see IsStarted on it).
    [[nodiscard]] KL_Result Start();
    // KL_ERROR_INVALID_STATE when stopped.
    KL_Result Stop();
    bool IsStarted();

    // Started: the device starts at once, and a failure leaves it unlisted.
    KL_Result AddDevice(const KL_Reference<UP_DeviceHost>& device);
    // KL_ERROR_NO_SUCH_ITEM when not listed.
    KL_Result RemoveDevice(const KL_Reference<UP_DeviceHost>& device);
    KL_Result AddCtrlPoint(const UP_CtrlPointReference& ctrl_point);
    KL_Result RemoveCtrlPoint(const UP_CtrlPointReference& ctrl_point);

private:
    KL_Mutex m_Lock;
    KL_List<KL_Reference<UP_DeviceHost>> m_Devices;
    KL_List<UP_CtrlPointReference> m_CtrlPoints;
    KL_Reference<UP_TaskManager> m_TaskManager;
    bool m_Started = false;
    // Owned while started (deleted by Stop once its manager has stopped it).
    UP_SsdpListenTask* m_SsdpListenTask = nullptr;
    bool m_IgnoreLocalUUIDs = true;
};

// Leaves and joins the SSDP group on one local address; the failed join stops the walk.
class UP_SsdpInitMulticastIterator {
public:
    explicit UP_SsdpInitMulticastIterator(KL_UdpMulticastSocket* socket) : m_Socket(socket) {}
    KL_Result operator()(const KL_IpAddress& address) const;

private:
    KL_UdpMulticastSocket* m_Socket;
};

// Gives a device host a new boot id and starts it on the listen task; a failure is logged only.
class UP_UPnP_DeviceStartIterator {
public:
    explicit UP_UPnP_DeviceStartIterator(UP_SsdpListenTask* listen_task) : m_ListenTask(listen_task) {}
    KL_Result operator()(const KL_Reference<UP_DeviceHost>& device_host) const;

private:
    UP_SsdpListenTask* m_ListenTask;
};

// Starts a control point on the listen task; a failure is logged only.
class UP_UPnP_CtrlPointStartIterator {
public:
    explicit UP_UPnP_CtrlPointStartIterator(UP_SsdpListenTask* listen_task) : m_ListenTask(listen_task) {}
    KL_Result operator()(const UP_CtrlPointReference& ctrl_point) const;

private:
    UP_SsdpListenTask* m_ListenTask;
};
