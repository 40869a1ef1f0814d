#pragma once

#include "DispatchQueue.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

namespace platform::dispatch {

// The process-wide concurrent queue: a pool of worker threads created on demand up to a limit and
// kept for the life of the process. The single instance is deliberately never destroyed, so blocks
// may still be added while static objects are being destroyed at exit.
class GlobalQueue final : public DispatchQueue {
public:
    static GlobalQueue& instance();
    // A second, smaller pool for the writes of the file routes (a PUT's rename, an upload's placing,
    // a rename, a removal, MKCOL), so that they never occupy the workers every connection needs.
    static GlobalQueue& fileOperations();
    // A third pool for long work (copies, the copy of a move across file systems, recursive
    // removals), so that however many run, the quick writes above never queue behind them.
    static GlobalQueue& longOperations();

    void async(Block block) override;
    // Runs the block on the caller's thread (the queue is concurrent).
    void sync(Block block) override;
    const std::string& label() const override { return _label; }

    std::size_t maxThreads() const { return _maxThreads; }

    // Whether the calling thread is a worker of one of the pools. Workers never take SIGPIPE (it is
    // blocked in them): a write to a closed peer fails with EPIPE, whatever call made it.
    static bool isWorkerThread();

private:
    GlobalQueue(std::string label, std::size_t maxThreads);
    void startWorker();
    void workerLoop();

    const std::string _label;
    const std::size_t _maxThreads;
    std::mutex _mutex;
    std::condition_variable _wake;
    std::deque<Block> _blocks;
    std::size_t _threads = 0;
    std::size_t _idle = 0;
};

} // namespace platform::dispatch
