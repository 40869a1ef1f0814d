#include "DispatchTimer.h"

#include "SerialQueue.h"
#include "TimerThread.h"

#include <mutex>

namespace platform::dispatch {

namespace {

// The timer behind DispatchTimer::after. The block runs only if the timer is still pending when the
// block reaches the front of its queue, so a cancel made before it started always wins.
class OneShotTimer final : public DispatchTimer, public std::enable_shared_from_this<OneShotTimer> {
public:
    OneShotTimer(DispatchQueue& queue, Block block) : _queue(&queue), _block(std::move(block)) {
        // A serial queue may be released before the timer fires: hold it weakly and drop the block
        // then. The global queue lives forever.
        if (auto* serial = dynamic_cast<SerialQueue*>(&queue)) {
            _serial = serial->weak_from_this();
            _queue = nullptr;
        }
    }

    void start(double seconds) {
        const auto id = TimerThread::instance().schedule(deadlineAfter(seconds),
                                                         [self = shared_from_this()] { self->fire(); });
        std::lock_guard lock(_mutex);
        _id = id;
    }

    void cancel() override {
        Block dropped;
        TimerThread::Id id = 0;
        {
            std::lock_guard lock(_mutex);
            if (_state != State::Pending) {
                return;
            }
            _state = State::Cancelled;
            dropped = std::move(_block);
            id = _id;
        }
        if (id != 0) {
            TimerThread::instance().unschedule(id);
        }
    }

private:
    enum class State { Pending, Cancelled, Fired };

    // On the timer thread: hands the block to its queue.
    void fire() {
        {
            std::lock_guard lock(_mutex);
            if (_state != State::Pending) {
                return;
            }
        }
        auto run = [self = shared_from_this()] { self->run(); };
        if (_queue != nullptr) {
            _queue->async(std::move(run));
        } else if (auto serial = _serial.lock()) {
            serial->async(std::move(run));
        }
    }

    // On the target queue.
    void run() {
        Block block;
        {
            std::lock_guard lock(_mutex);
            if (_state != State::Pending) {
                return;
            }
            _state = State::Fired;
            block = std::move(_block);
        }
        block();
    }

    DispatchQueue* _queue;
    std::weak_ptr<SerialQueue> _serial;
    std::mutex _mutex;
    Block _block;
    State _state = State::Pending;
    TimerThread::Id _id = 0;
};

} // namespace

std::shared_ptr<DispatchTimer> DispatchTimer::after(DispatchQueue& queue, double seconds, Block block) {
    auto timer = std::make_shared<OneShotTimer>(queue, std::move(block));
    timer->start(seconds);
    return timer;
}

} // namespace platform::dispatch
