// UP_ServiceEventTask: the task that publishes a service's changes. Made with the service's first
// subscriber and started (self-destroying) on the device host's task manager; every 100 ms it
// runs one publication pass (UP_Service::NotifyChanged) until the manager stops it.
#pragma once

#include "UP_ThreadTask.h"

class UP_Service;

class UP_ServiceEventTask : public UP_ThreadTask {
public:
    // service: not owned; outlives the task (the host stops its tasks before clearing services).
    explicit UP_ServiceEventTask(UP_Service* service) : m_Service(service) {}
    ~UP_ServiceEventTask() override;

    void DoRun() override;

private:
    UP_Service* m_Service;
};
