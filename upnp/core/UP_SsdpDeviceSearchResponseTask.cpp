#include "UP_SsdpDeviceSearchResponseTask.h"

#include "KL_Check.h"
#include "UP_DeviceHost.h"
#include "UP_SsdpDeviceSearchResponseInterfaceIterator.h"
#include "UP_UPnPMessageHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

void UP_SsdpDeviceSearchResponseTask::DoRun() {
    KL_NetworkInterfaceList if_list;
    KL_Result result = UP_UPnPMessageHelper::GetNetworkInterfaces(if_list, true);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result,
                            "(UP_UPnPMessageHelper::GetNetworkInterfaces(if_list, true))");
    } else {
        (void)if_list.Apply(
            UP_SsdpDeviceSearchResponseInterfaceIterator(m_Device, m_RemoteAddr, m_ST.GetChars(), this));
    }
    KL_DeleteNetworkInterfaces(if_list);
    if (m_Device != nullptr) {
        m_Device->OnSearchResponseTaskDone(m_RemoteAddr, m_ST);
    }
}
