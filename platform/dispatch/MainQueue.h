#pragma once

#include "DispatchQueue.h"

#include <cstdint>
#include <memory>

namespace platform::dispatch {

using TimerId = std::uint64_t;

// What runs the main queue: the built-in run loop (tests, tools) or the application's event loop.
class MainQueueBackend {
public:
    virtual ~MainQueueBackend() = default;
    // Runs the block later on the main thread, in the order of posting.
    virtual void post(Block block) = 0;
    // Runs the block once on the main thread after `seconds`; the id cancels it.
    virtual TimerId startTimer(double seconds, Block block) = 0;
    // Cancels a timer that has not fired yet; otherwise nothing.
    virtual void cancelTimer(TimerId id) = 0;
};

// The main queue of the process. Without an installed back end it is the built-in run loop.
class MainQueue {
public:
    static void setBackend(std::shared_ptr<MainQueueBackend> backend);
    static std::shared_ptr<MainQueueBackend> backend();
    static void async(Block block);
    static TimerId startTimer(double seconds, Block block);
    static void cancelTimer(TimerId id);
};

// The built-in back end: a run loop that a thread drives by calling runOnce.
class RunLoop : public MainQueueBackend {
public:
    // The process's run loop (the default main queue back end).
    static std::shared_ptr<RunLoop> shared();

    void post(Block block) override;
    TimerId startTimer(double seconds, Block block) override;
    void cancelTimer(TimerId id) override;

    // Waits at most `maxSeconds` for a posted block or a due timer, runs what is ready (every
    // posted block queued so far and every due timer) and returns true when it ran anything.
    // With 0 it only runs what is ready.
    bool runOnce(double maxSeconds);
    // Wakes a thread waiting in runOnce.
    void wakeUp();

    RunLoop();
    ~RunLoop() override;

private:
    struct State;
    std::unique_ptr<State> _state;
};

} // namespace platform::dispatch
