// KL_LogCustomHandler: hands each record to the process-wide callback set with
// KL_LogManager::SetCustomHandlerFunction; does nothing while none is set.
#pragma once

#include "KL_LogHandler.h"

class KL_LogCustomHandler : public KL_LogHandler {
public:
    void Log(const KL_LogRecord& record) override;
};
