#include "KL_LogConsoleHandler.h"

#include "KL_LogFormat.h"

#include <cstdio>

void KL_LogConsoleHandler::Log(const KL_LogRecord& record) {
    KL_String line;
    (void)line.Reserve(4096);
    KL_LogFormatLine(record, m_Filter, m_UseColors, line);
    if ((m_Outputs & KL_LOG_CONSOLE_OUTPUT_STDERR) != 0) {
        // The line without its CR LF, ended the way the terminal expects.
        std::fwrite(line.GetChars(), 1, line.GetLength() - 2, stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    if ((m_Outputs & KL_LOG_CONSOLE_OUTPUT_STDOUT) != 0) {
        std::fwrite(line.GetChars(), 1, line.GetLength(), stdout);
        std::fflush(stdout);
    }
}
