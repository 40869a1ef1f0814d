// The process's log output: one line per message on standard error, only when that is a terminal.

#include "WebServer.h"

#include <unistd.h>

#include <cstdio>

void WebServer::logMessage(int level, const std::string& message) {
    static constexpr const char* kLevelNames[] = {"DEBUG",   "VERBOSE", "INFO",
                                                  "WARNING", "ERROR",   "EXCEPTION"};
    static const bool isTerminal = ::isatty(STDERR_FILENO) == 1;
    if (!isTerminal || level < 0 || level > 5) {
        return;
    }
    std::fprintf(stderr, "[%s] %s\n", kLevelNames[level], message.c_str());
}
