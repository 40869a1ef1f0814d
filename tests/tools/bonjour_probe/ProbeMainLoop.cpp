#include "ProbeMainLoop.h"

#include "dispatch/MainQueue.h"

#include <chrono>
#include <thread>

using platform::dispatch::RunLoop;

namespace {

std::thread::id gMainThread;
bool gInsideMainLoop = false;

void runOnceMarked(double seconds) {
    gInsideMainLoop = true;
    RunLoop::shared()->runOnce(seconds);
    gInsideMainLoop = false;
}

} // namespace

void markMainThread() {
    gMainThread = std::this_thread::get_id();
}

bool onMainThread() {
    return std::this_thread::get_id() == gMainThread;
}

bool insideMainLoop() {
    return onMainThread() && gInsideMainLoop;
}

bool runMainLoopUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return done();
        }
        const double left = std::chrono::duration<double>(deadline - now).count();
        runOnceMarked(left < 0.1 ? left : 0.1);
    }
    return true;
}

void drainMainLoop(double seconds) {
    runMainLoopUntil([] { return false; }, seconds);
}
