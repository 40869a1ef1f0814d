// Something whose blocking work may be asked to stop.
#pragma once

#include "KL_Result.h"

class KL_Interruptible {
public:
    virtual ~KL_Interruptible() = default;
    virtual KL_Result Interrupt() = 0;
};
