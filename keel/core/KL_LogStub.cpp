// Stand-in for the log manager's side of the logging interface: no logger exists for any name,
// so nothing is formatted or written. The log manager fills these three functions in (and this
// file goes away when it does).
#include "KL_Log.h"

KL_Logger* KL_LogGetLogger(const char* /*name*/) {
    return nullptr;
}

int KL_LogGetLevel(const KL_Logger* /*logger*/) {
    return KL_LOG_LEVEL_OFF;
}

void KL_LogWriteV(KL_Logger* /*logger*/, int /*level*/, const char* /*file*/, unsigned int /*line*/,
                  const char* /*function*/, const char* /*format*/, va_list /*args*/) {}
