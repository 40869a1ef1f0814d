// The variadic entry point of the logging interface.
#include "KL_Log.h"

void KL_LogWrite(KL_Logger* logger, int level, const char* file, unsigned int line, const char* function,
                 const char* format, ...) {
    va_list args;
    va_start(args, format);
    KL_LogWriteV(logger, level, file, line, function, format, args);
    va_end(args);
}
