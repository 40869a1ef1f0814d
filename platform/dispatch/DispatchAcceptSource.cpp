#include "DispatchReactor.h"
#include "DispatchSocket.h"
#include "GlobalQueue.h"

#include <cstdint>
#include <fcntl.h>
#include <mutex>

namespace platform::dispatch {

namespace {

// The accept source behind DispatchAcceptSource::create. Each arming of the reactor watch yields at
// most one event; the source re-arms only after the event handler returned, so event handlers never
// overlap and the cancel handler can wait for the last of them. Locks are taken in the order source,
// then reactor. Readiness may be spurious: the event handler accepts until the queue is empty.
class AcceptSource final : public DispatchAcceptSource, public std::enable_shared_from_this<AcceptSource> {
public:
    AcceptSource(int fd, std::function<void()> eventHandler, std::function<void()> cancelHandler)
        : _fd(fd), _eventHandler(std::move(eventHandler)), _cancelHandler(std::move(cancelHandler)) {}

    void resume() override {
        std::lock_guard lock(_mutex);
        if (_resumed || _cancelled) {
            return;
        }
        _resumed = true;
        // The event handler must never block in accept when a waiting connection went away.
        const int flags = ::fcntl(_fd, F_GETFL);
        if (flags >= 0 && (flags & O_NONBLOCK) == 0) {
            ::fcntl(_fd, F_SETFL, flags | O_NONBLOCK);
        }
        armLocked();
    }

    void cancel() override {
        std::lock_guard lock(_mutex);
        if (_cancelled) {
            return;
        }
        _cancelled = true;
        DispatchReactor::instance().unwatch(_fd, DispatchReactor::Direction::Read, _token);
        _token = 0;
        if (!_inFlight) {
            finishLocked();
        }
    }

private:
    void armLocked() {
        const std::uint64_t arming = ++_arming;
        int error = 0;
        // The watch holds the source, so a resumed source lives until it is cancelled.
        _token = DispatchReactor::instance().watch(
            _fd, DispatchReactor::Direction::Read,
            [self = shared_from_this(), arming] { self->fire(arming); }, error);
    }

    // On the global queue.
    void fire(std::uint64_t arming) {
        {
            std::lock_guard lock(_mutex);
            if (_cancelled || arming != _arming) {
                return;
            }
            _inFlight = true;
            _token = 0; // the watch ended when it reported the event
        }
        if (_eventHandler) {
            _eventHandler();
        }
        std::lock_guard lock(_mutex);
        _inFlight = false;
        if (_cancelled) {
            finishLocked();
        } else {
            armLocked();
        }
    }

    // Runs the cancel handler once; the watch is gone and no event handler runs.
    void finishLocked() {
        GlobalQueue::instance().async(
            [eventHandler = std::move(_eventHandler), cancelHandler = std::move(_cancelHandler)] {
                if (cancelHandler) {
                    cancelHandler();
                }
            });
    }

    const int _fd;
    std::function<void()> _eventHandler;
    std::function<void()> _cancelHandler;
    std::mutex _mutex;
    bool _resumed = false;
    bool _cancelled = false;
    bool _inFlight = false;
    std::uint64_t _arming = 0;
    DispatchReactor::Token _token = 0;
};

} // namespace

std::shared_ptr<DispatchAcceptSource> DispatchAcceptSource::create(int listeningSocket,
                                                                   std::function<void()> eventHandler,
                                                                   std::function<void()> cancelHandler) {
    return std::make_shared<AcceptSource>(listeningSocket, std::move(eventHandler), std::move(cancelHandler));
}

} // namespace platform::dispatch
