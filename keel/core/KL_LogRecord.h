// KL_LogRecord: one line as the handlers receive it. The texts point into the logger and the
// message buffer of the Log call: a record lives only while it is being dispatched.
#pragma once

#include "KL_TimeStamp.h"

#include <cstdint>

class KL_LogRecord {
public:
    const char* m_LoggerName = "";
    int m_Level = 0;
    const char* m_Message = "";
    KL_TimeStamp m_TimeStamp;
    const char* m_SourceFile = "";
    unsigned int m_SourceLine = 0;
    const char* m_SourceFunction = "";
    uint64_t m_ThreadId = 0;
};
