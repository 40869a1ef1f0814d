// UP_CtrlPoint: what the engine asks of a control point: to start and stop on the engine's SSDP
// listen task, and to ignore the UUIDs of the devices this process hosts. The running system has
// none; the engine keeps the list for those who add one.
#pragma once

#include "KL_Reference.h"
#include "KL_Result.h"

class UP_SsdpListenTask;

class UP_CtrlPoint {
public:
    virtual ~UP_CtrlPoint() = default;
    virtual KL_Result Start(UP_SsdpListenTask* listen_task) = 0;
    virtual KL_Result Stop(UP_SsdpListenTask* listen_task) = 0;
    virtual KL_Result IgnoreUUID(const char* uuid) = 0;
};

typedef KL_Reference<UP_CtrlPoint> UP_CtrlPointReference;
