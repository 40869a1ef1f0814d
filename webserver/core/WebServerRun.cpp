#include "WebServer.h"

#include "dispatch/MainQueue.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

using platform::dispatch::MainQueue;

// ---- Running until a signal ----

namespace {

std::atomic<bool> gRunning{false};

extern "C" void handleStopSignal(int) {
    gRunning = false;
    const char newline = '\n';
    [[maybe_unused]] ssize_t written = ::write(STDOUT_FILENO, &newline, 1);
}

} // namespace

bool WebServer::runWithOptions(const ServerOptions& options, Error* error) {
    gRunning = true;
    struct sigaction action {};
    action.sa_handler = handleStopSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction previousTerm {};
    struct sigaction previousInt {};
    if (::sigaction(SIGTERM, &action, &previousTerm) != 0) {
        return false;
    }
    if (::sigaction(SIGINT, &action, &previousInt) != 0) {
        ::sigaction(SIGTERM, &previousTerm, nullptr);
        return false;
    }
    auto runLoop = std::dynamic_pointer_cast<platform::dispatch::RunLoop>(MainQueue::backend());
    bool success = false;
    if (startWithOptions(options, error)) {
        while (gRunning) {
            if (runLoop) {
                runLoop->runOnce(1.0);
            } else {
                ::usleep(100 * 1000);
            }
        }
        stop();
        success = true;
    }
    if (runLoop) {
        while (runLoop->runOnce(0)) {
        }
    }
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
    return success;
}
