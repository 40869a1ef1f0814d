#include "MainQueue.h"

#include <mutex>

namespace platform::dispatch {

namespace {

struct InstalledBackend {
    std::mutex mutex;
    std::shared_ptr<MainQueueBackend> backend;
};

InstalledBackend& installed() {
    // Never destroyed, so blocks may still be posted while static objects are being destroyed.
    static InstalledBackend* const state = new InstalledBackend();
    return *state;
}

} // namespace

void MainQueue::setBackend(std::shared_ptr<MainQueueBackend> backend) {
    auto& state = installed();
    std::lock_guard lock(state.mutex);
    state.backend.swap(backend);
    // The previous back end is released after the lock, when `backend` goes out of scope.
}

std::shared_ptr<MainQueueBackend> MainQueue::backend() {
    {
        auto& state = installed();
        std::lock_guard lock(state.mutex);
        if (state.backend) {
            return state.backend;
        }
    }
    return RunLoop::shared();
}

void MainQueue::async(Block block) {
    backend()->post(std::move(block));
}

TimerId MainQueue::startTimer(double seconds, Block block) {
    return backend()->startTimer(seconds, std::move(block));
}

void MainQueue::cancelTimer(TimerId id) {
    backend()->cancelTimer(id);
}

} // namespace platform::dispatch
