// What the keel and UPnP test programs share in main: running until SIGINT or SIGTERM, the port
// argument, and the failure line (the result code's name on standard error, exit status 1).
#pragma once

#include "KL_Result.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>

namespace tool {

// Call first in main: blocks SIGINT and SIGTERM in every thread (threads inherit the mask), so
// that only WaitForStopSignal takes them, and ignores SIGPIPE. A shell starts background jobs with
// SIGINT ignored, and an ignored signal never reaches sigwait: both go back to their default.
inline sigset_t BlockStopSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return signals;
}

// Returns once SIGINT or SIGTERM has come.
inline void WaitForStopSignal(const sigset_t& signals) {
    int signal_number = 0;
    sigwait(&signals, &signal_number);
}

// A decimal port, 0 to 65535.
inline bool ParsePort(const char* text, uint16_t& port) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

inline int Fail(KL_Result result) {
    std::fprintf(stderr, "%s\n", KL_GetResultText(result));
    return 1;
}

} // namespace tool
