#include "GlobalQueue.h"

#include <algorithm>
#include <csignal>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <utility>

namespace platform::dispatch {

GlobalQueue& GlobalQueue::instance() {
    // Never destroyed: worker threads are detached and may outlive static destruction.
    static GlobalQueue* const queue = new GlobalQueue(
        "global-default",
        std::max<std::size_t>(4, 2 * static_cast<std::size_t>(std::thread::hardware_concurrency())));
    return *queue;
}

GlobalQueue& GlobalQueue::fileOperations() {
    static GlobalQueue* const queue = new GlobalQueue(
        "file-operations",
        std::max<std::size_t>(2, static_cast<std::size_t>(std::thread::hardware_concurrency()) / 2));
    return *queue;
}

GlobalQueue& GlobalQueue::longOperations() {
    static GlobalQueue* const queue = new GlobalQueue(
        "long-operations",
        std::max<std::size_t>(2, static_cast<std::size_t>(std::thread::hardware_concurrency()) / 2));
    return *queue;
}

GlobalQueue::GlobalQueue(std::string label, std::size_t maxThreads)
    : _label(std::move(label)), _maxThreads(maxThreads) {}

void GlobalQueue::async(Block block) {
    bool spawn = false;
    {
        std::lock_guard lock(_mutex);
        _blocks.push_back(std::move(block));
        // Threads still counted idle may already have been woken for earlier blocks; start a new one
        // whenever the waiting blocks outnumber the idle threads.
        if (_blocks.size() > _idle && _threads < _maxThreads) {
            ++_threads;
            spawn = true;
        }
    }
    _wake.notify_one();
    if (spawn) {
        startWorker();
    }
}

void GlobalQueue::sync(Block block) {
    block();
}

void GlobalQueue::startWorker() {
    try {
        std::thread([this] { workerLoop(); }).detach();
    } catch (const std::system_error&) {
        // Out of threads: the existing workers carry on with the queued blocks.
        std::lock_guard lock(_mutex);
        --_threads;
        if (_threads == 0) {
            throw;
        }
    }
}

namespace {

thread_local bool tWorker = false;

} // namespace

bool GlobalQueue::isWorkerThread() {
    return tWorker;
}

void GlobalQueue::workerLoop() {
    tWorker = true;
    sigset_t pipe;
    ::sigemptyset(&pipe);
    ::sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    std::unique_lock lock(_mutex);
    for (;;) {
        while (_blocks.empty()) {
            ++_idle;
            _wake.wait(lock);
            --_idle;
        }
        Block block = std::move(_blocks.front());
        _blocks.pop_front();
        lock.unlock();
        block();
        block = nullptr; // release what the block captured before taking the lock again
        lock.lock();
    }
}

} // namespace platform::dispatch
