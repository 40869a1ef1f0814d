// UP_SsdpDeviceSearchResponseTask: the one thread of a device host that sends its M-SEARCH answers.
// It lives from the host's Start to its Stop (the host's task manager ends and deletes it): it
// sleeps until the next pending answer is due (or one was queued), then sends every due answer to
// each of its ports on every usable interface (loopback included), under the answer rate.
#pragma once

#include "KL_NetworkInterface.h"
#include "UP_SsdpPendingSearches.h"
#include "UP_ThreadTask.h"

class UP_DeviceHost;
class UP_SsdpAnswerRate;

class UP_SsdpDeviceSearchResponseTask : public UP_ThreadTask {
public:
    // Neither is owned; both outlive the task (members of the device host).
    UP_SsdpDeviceSearchResponseTask(UP_DeviceHost* device, UP_SsdpPendingSearches* pending,
                                    UP_SsdpAnswerRate* rate)
        : m_Device(device), m_Pending(pending), m_Rate(rate) {}

    void DoRun() override;
    void DoAbort() override;

    // Sends one answer (one round) to each port on every interface of the list.
    static void SendAnswer(UP_DeviceHost* device, UP_SsdpAnswerRate* rate,
                           const KL_NetworkInterfaceList& if_list,
                           const UP_SsdpPendingSearches::Answer& answer);

protected:
    // Called on each turn of the loop between its abort check and its TakeDue; does nothing. A
    // test lands an abort there.
    virtual void BeforeTake() {}

private:
    void SendDue(const KL_List<UP_SsdpPendingSearches::Answer>& due);

    UP_DeviceHost* m_Device;
    UP_SsdpPendingSearches* m_Pending;
    UP_SsdpAnswerRate* m_Rate;
};
