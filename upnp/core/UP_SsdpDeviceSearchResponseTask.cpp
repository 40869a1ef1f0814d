#include "UP_SsdpDeviceSearchResponseTask.h"

#include "KL_Check.h"
#include "UP_SsdpAnswerRate.h"
#include "UP_SsdpDeviceSearchResponseInterfaceIterator.h"
#include "UP_UPnPMessageHelper.h"

#include <algorithm>

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

namespace {

// Answers taken at once, so that an abort is seen between batches.
constexpr KL_Size kBatch = 64;
// The longest sleep without a due answer (an abort wakes it sooner).
constexpr int64_t kIdleMillis = 60000;

} // namespace

void UP_SsdpDeviceSearchResponseTask::DoRun() {
    while (!IsAborting(0)) {
        BeforeTake();
        const int64_t now = UP_SsdpAnswerRate::Now();
        const KL_List<UP_SsdpPendingSearches::Answer> due = m_Pending->TakeDue(now, kBatch);
        // TakeDue clears the wake-up of an abort that came since the check above: look again, or
        // the wait below would sleep through the Stop.
        if (IsAborting(0)) {
            break;
        }
        if (!due.IsEmpty()) {
            SendDue(due);
            continue;
        }
        const int64_t next = m_Pending->NextDue();
        const int64_t wait = next < 0 ? kIdleMillis : std::clamp<int64_t>(next - now, 1, kIdleMillis);
        m_Pending->WaitForWork(static_cast<KL_Timeout>(wait));
    }
}

void UP_SsdpDeviceSearchResponseTask::DoAbort() {
    m_Pending->Wake();
}

void UP_SsdpDeviceSearchResponseTask::SendDue(const KL_List<UP_SsdpPendingSearches::Answer>& due) {
    KL_NetworkInterfaceList if_list;
    KL_Result result = UP_UPnPMessageHelper::GetNetworkInterfaces(if_list, true);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result,
                            "(UP_UPnPMessageHelper::GetNetworkInterfaces(if_list, true))");
    } else {
        for (const UP_SsdpPendingSearches::Answer& answer : due) {
            if (IsAborting(0)) {
                break;
            }
            SendAnswer(m_Device, m_Rate, if_list, answer);
        }
    }
    KL_DeleteNetworkInterfaces(if_list);
}

void UP_SsdpDeviceSearchResponseTask::SendAnswer(UP_DeviceHost* device, UP_SsdpAnswerRate* rate,
                                                 const KL_NetworkInterfaceList& if_list,
                                                 const UP_SsdpPendingSearches::Answer& answer) {
    for (uint32_t port : answer.m_Ports) {
        const KL_SocketAddress searcher(answer.m_Host, port);
        for (KL_NetworkInterface* iface : if_list) {
            (void)UP_SsdpDeviceSearchResponseInterfaceIterator(device, searcher, answer.m_ST.GetChars(),
                                                               rate)(iface);
        }
    }
}
