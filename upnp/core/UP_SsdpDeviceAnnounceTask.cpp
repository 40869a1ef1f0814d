#include "UP_SsdpDeviceAnnounceTask.h"

#include "KL_Check.h"
#include "UP_DeviceHost.h"
#include "UP_SsdpAnnounceInterfaceIterator.h"
#include "UP_UPnPMessageHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

namespace {

constexpr int64_t kByeByePauseMillis = 200;
constexpr int64_t kShortLeaseSeconds = 22;

} // namespace

KL_TimeStamp UP_SsdpDeviceAnnounceTask::ComputeInterval(const KL_TimeStamp& lease) {
    const int64_t seconds = lease.ToSeconds();
    if (seconds <= 0) {
        return KL_TimeStamp::FromSeconds(30);
    }
    if (seconds < kShortLeaseSeconds) {
        // L/2 - 10 would be 0 or negative here: a flood of rounds, or a wait of weeks.
        return KL_TimeStamp::FromSeconds(seconds / 2 > 0 ? seconds / 2 : 1);
    }
    return KL_TimeStamp::FromSeconds(seconds / 2 - 10);
}

void UP_SsdpDeviceAnnounceTask::AnnounceOnAll(const KL_NetworkInterfaceList& interfaces, int type) {
    if (m_ExtraBroadcast) {
        (void)interfaces.Apply(UP_SsdpAnnounceInterfaceIterator(m_Device, type, true, this));
    }
    (void)interfaces.Apply(UP_SsdpAnnounceInterfaceIterator(m_Device, type, false, this));
}

void UP_SsdpDeviceAnnounceTask::DoRun() {
    while (!IsAborting(0)) {
        KL_NetworkInterfaceList if_list;
        KL_Result result = UP_UPnPMessageHelper::GetNetworkInterfaces(if_list, false);
        if (KL_FAILED(result)) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, result,
                                "(UP_UPnPMessageHelper::GetNetworkInterfaces(if_list, false))");
        } else {
            if (m_IsByeByeFirst) {
                m_IsByeByeFirst = false;
                AnnounceOnAll(if_list, UP_SSDP_ANNOUNCE_BYEBYE);
                if (IsAborting(kByeByePauseMillis)) {
                    KL_DeleteNetworkInterfaces(if_list);
                    return;
                }
            }
            AnnounceOnAll(if_list, UP_SSDP_ANNOUNCE_ALIVE);
        }
        KL_DeleteNetworkInterfaces(if_list);
        if (IsAborting(m_Repeat.ToTimeoutMillis())) {
            return;
        }
    }
}
