#include "UP_ServiceEventTask.h"

#include "UP_Service.h"

UP_ServiceEventTask::~UP_ServiceEventTask() = default;

void UP_ServiceEventTask::DoRun() {
    while (!IsAborting(100)) {
        if (m_Service != nullptr) {
            (void)m_Service->NotifyChanged();
        }
    }
}
