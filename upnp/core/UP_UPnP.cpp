#include "UP_UPnP.h"

#include "KL_Check.h"
#include "KL_UdpMulticastSocket.h"
#include "UP_SsdpConstants.h"
#include "UP_SsdpListenTask.h"
#include "UP_TaskManager.h"
#include "UP_UPnPMessageHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.upnp");

KL_Result UP_SsdpInitMulticastIterator::operator()(const KL_IpAddress& address) const {
    KL_CHECK_POINTER(m_Socket);
    KL_IpAddress group;
    KL_CHECK(group.ResolveName(UP_SSDP_MULTICAST_ADDRESS));
    (void)m_Socket->LeaveGroup(group, address);
    return m_Socket->JoinGroup(group, address);
}

KL_Result UP_UPnP_DeviceStartIterator::operator()(const KL_Reference<UP_DeviceHost>& device_host) const {
    KL_CHECK_POINTER(device_host.AsPointer());
    device_host->SetBootIdValue(device_host->MakeNextBootId());
    device_host->SetNextBootIdValue(0);
    const KL_Result result = device_host->Start(m_ListenTask);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result, "(device_host->Start(m_ListenTask))");
    }
    return KL_SUCCESS;
}

KL_Result UP_UPnP_CtrlPointStartIterator::operator()(const UP_CtrlPointReference& ctrl_point) const {
    KL_CHECK_POINTER(ctrl_point.AsPointer());
    const KL_Result result = ctrl_point->Start(m_ListenTask);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result, "(ctrl_point->Start(m_ListenTask))");
    }
    return KL_SUCCESS;
}

UP_UPnP::UP_UPnP() = default;

UP_UPnP::~UP_UPnP() {
    if (IsStarted()) {
        (void)Stop();
    }
    KL_AutoLock lock(m_Lock);
    m_Devices.Clear();
    m_CtrlPoints.Clear();
    m_TaskManager.Release();
}

bool UP_UPnP::IsStarted() {
    KL_AutoLock lock(m_Lock);
    return m_Started;
}

KL_Result UP_UPnP::Start() {
    KL_LOG_INFO("Starting UPnP...");
    KL_AutoLock lock(m_Lock);
    if (m_Started) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, KL_ERROR_INVALID_STATE, "(((-20000-0) - 9))");
        return KL_ERROR_INVALID_STATE;
    }
    KL_List<KL_IpAddress> ips;
    (void)UP_UPnPMessageHelper::GetIPAddresses(ips, false);

    auto* socket = new KL_UdpMulticastSocket(KL_SOCKET_FLAG_CANCELLABLE);
    KL_Result result = socket->Bind(KL_SocketAddress(KL_IpAddress::Any, UP_SSDP_PORT), true);
    if (KL_FAILED(result)) {
        delete socket;
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result,
                            "(socket->Bind(KL_SocketAddress(KL_IpAddress::Any, 1900), true))");
        return result;
    }
    result = ips.ApplyUntil(UP_SsdpInitMulticastIterator(socket), KL_UntilResultNotEquals(KL_SUCCESS));
    if (KL_FAILED(result)) {
        delete socket;
        KL_LOG_CHECK_FAILED(
            KL_LOG_LEVEL_SEVERE, result,
            "(ips.ApplyUntil(UP_SsdpInitMulticastIterator(socket.AsPointer()), KL_UntilResultNotEquals(0)))");
        return result;
    }
    auto* listen_task = new UP_SsdpListenTask(socket);
    KL_Reference<UP_TaskManager> task_manager(new UP_TaskManager(0));
    // Owned by the engine, not self-destroying: Stop deletes it, which joins its thread, so the
    // socket is closed once Stop returns (a restart, or the process's exit, never races with it).
    result = task_manager->StartTask(listen_task, nullptr, false);
    if (KL_FAILED(result)) {
        delete listen_task;
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result, "(taskManager->StartTask(m_SsdpListenTask))");
        return result;
    }
    m_SsdpListenTask = listen_task;
    (void)m_CtrlPoints.Apply(UP_UPnP_CtrlPointStartIterator(m_SsdpListenTask));
    (void)m_Devices.Apply(UP_UPnP_DeviceStartIterator(m_SsdpListenTask));
    m_TaskManager = task_manager;
    m_Started = true;
    return KL_SUCCESS;
}

KL_Result UP_UPnP::Stop() {
    KL_AutoLock lock(m_Lock);
    if (!m_Started) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, KL_ERROR_INVALID_STATE, "(((-20000-0) - 9))");
        return KL_ERROR_INVALID_STATE;
    }
    KL_LOG_INFO("Stopping UPnP...");
    for (const UP_CtrlPointReference& ctrl_point : m_CtrlPoints) {
        (void)ctrl_point->Stop(m_SsdpListenTask);
    }
    for (const KL_Reference<UP_DeviceHost>& device : m_Devices) {
        if (device->IsStarted()) {
            (void)device->Stop(m_SsdpListenTask);
        }
    }
    (void)m_TaskManager->StopAllTasks();
    delete m_SsdpListenTask;
    m_SsdpListenTask = nullptr;
    m_TaskManager.Release();
    m_Started = false;
    return KL_SUCCESS;
}

KL_Result UP_UPnP::AddDevice(const KL_Reference<UP_DeviceHost>& device) {
    KL_CHECK_POINTER(device.AsPointer());
    KL_AutoLock lock(m_Lock);
    if (m_IgnoreLocalUUIDs) {
        for (const UP_CtrlPointReference& ctrl_point : m_CtrlPoints) {
            (void)ctrl_point->IgnoreUUID(device->GetUUID().GetChars());
        }
    }
    if (m_Started) {
        KL_LOG_INFO("Starting Device...");
        device->SetBootIdValue(device->MakeNextBootId());
        device->SetNextBootIdValue(0);
        const KL_Result result = device->Start(m_SsdpListenTask);
        if (KL_FAILED(result)) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result, "(device->Start(m_SsdpListenTask))");
            return result;
        }
    }
    return m_Devices.Add(device);
}

KL_Result UP_UPnP::RemoveDevice(const KL_Reference<UP_DeviceHost>& device) {
    KL_AutoLock lock(m_Lock);
    auto entry = m_Devices.Find([&](const KL_Reference<UP_DeviceHost>& listed) { return listed == device; });
    if (!entry) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    if (m_Started && device->IsStarted()) {
        (void)device->Stop(m_SsdpListenTask);
    }
    (void)m_Devices.Erase(entry);
    return KL_SUCCESS;
}

KL_Result UP_UPnP::AddCtrlPoint(const UP_CtrlPointReference& ctrl_point) {
    KL_CHECK_POINTER(ctrl_point.AsPointer());
    KL_AutoLock lock(m_Lock);
    if (m_IgnoreLocalUUIDs) {
        for (const KL_Reference<UP_DeviceHost>& device : m_Devices) {
            (void)ctrl_point->IgnoreUUID(device->GetUUID().GetChars());
        }
    }
    if (m_Started) {
        KL_LOG_INFO("Starting Ctrlpoint...");
        const KL_Result result = ctrl_point->Start(m_SsdpListenTask);
        if (KL_FAILED(result)) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result, "(ctrl_point->Start(m_SsdpListenTask))");
            return result;
        }
    }
    return m_CtrlPoints.Add(ctrl_point);
}

KL_Result UP_UPnP::RemoveCtrlPoint(const UP_CtrlPointReference& ctrl_point) {
    KL_AutoLock lock(m_Lock);
    auto entry = m_CtrlPoints.Find([&](const UP_CtrlPointReference& listed) { return listed == ctrl_point; });
    if (!entry) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    if (m_Started) {
        (void)ctrl_point->Stop(m_SsdpListenTask);
    }
    (void)m_CtrlPoints.Erase(entry);
    return KL_SUCCESS;
}
