// KL_LogNullHandler: ignores every record.
#pragma once

#include "KL_LogHandler.h"

class KL_LogNullHandler : public KL_LogHandler {
public:
    void Log(const KL_LogRecord& /*record*/) override {}
};
