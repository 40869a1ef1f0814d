// The deadlines of a connection: the idle time-out of each socket operation, the whole head's
// time-out and the body's minimum rate.

#include "WebServerConnection.h"

#include "dispatch/DispatchTimer.h"
#include "dispatch/GlobalQueue.h"

#include <sys/socket.h>

#include <chrono>

// A client that sends nothing while its request is read (or reads nothing while the answer is
// written) for the idle time-out loses its connection: the socket is shut down, which ends the
// pending operation with a failure. Operations only note when they start and end; one watchdog
// timer per connection checks them, made when an operation first has to wait, so no timer is
// made and cancelled per read or write.
void WebServerConnection::_beginIO() {
    if (_settings->idleTimeout <= 0) {
        return;
    }
    _ioStarted.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    _ioPending.store(true, std::memory_order_release);
}

// After an operation was started: one that did not complete at once may wait, and from then on the
// connection has its watchdog (a request served without waiting never makes a timer).
void WebServerConnection::_watchIdle() {
    if (_settings->idleTimeout > 0 && _ioPending.load(std::memory_order_acquire) &&
        !_watchdogArmed.exchange(true)) {
        _armWatchdog(_settings->idleTimeout);
    }
}

void WebServerConnection::_noteProgress() {
    _ioStarted.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
}

void WebServerConnection::_endIO() {
    _ioPending.store(false, std::memory_order_release);
}

void WebServerConnection::_armWatchdog(double seconds) {
    std::weak_ptr<WebServerConnection> weak = weak_from_this();
    auto timer = platform::dispatch::DispatchTimer::after(platform::dispatch::GlobalQueue::instance(),
                                                          seconds, [weak] {
                                                              if (auto self = weak.lock()) {
                                                                  self->_checkIdle();
                                                              }
                                                          });
    std::lock_guard lock(_watchdogMutex);
    _watchdog = std::move(timer);
}

void WebServerConnection::_checkIdle() {
    const double idle = _settings->idleTimeout;
    if (!_ioPending.load(std::memory_order_acquire)) {
        _armWatchdog(idle);
        return;
    }
    const auto started = std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(_ioStarted.load(std::memory_order_relaxed)));
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (waited < idle) {
        _armWatchdog(idle - waited);
    } else {
        _shutDownSocket();
    }
}

// Before its answer has begun, only reading stops: the pending read ends, and the connection
// answers 503 itself (its client may try again). Once the answer's head is out, the whole socket.
bool WebServerConnection::shutDown() {
    auto state = ShedState::Open;
    if (_shedState.compare_exchange_strong(state, ShedState::ShutDown)) {
        if (_socket != -1) {
            ::shutdown(_socket, SHUT_RD);
        }
        return true;
    }
    if (state != ShedState::Answering || !_shedState.compare_exchange_strong(state, ShedState::ShutDown)) {
        return false;
    }
    _shutDownSocket();
    return true;
}

bool WebServerConnection::_beginCarryingOut() {
    auto state = ShedState::Open;
    return _shedState.compare_exchange_strong(state, ShedState::CarryingOut) ||
           state == ShedState::CarryingOut;
}

void WebServerConnection::_endCarryingOut() {
    auto state = ShedState::CarryingOut;
    _shedState.compare_exchange_strong(state, ShedState::Answering);
}

void WebServerConnection::_shutDownSocket() {
    if (_socket != -1) {
        ::shutdown(_socket, SHUT_RDWR); // the pending operation ends with a failure
    }
}

void WebServerConnection::_armPhaseTimer(double seconds, std::function<void()> check) {
    std::weak_ptr<WebServerConnection> weak = weak_from_this();
    auto timer = platform::dispatch::DispatchTimer::after(platform::dispatch::GlobalQueue::instance(),
                                                          seconds, [weak, check = std::move(check)] {
                                                              if (auto self = weak.lock()) {
                                                                  check();
                                                              }
                                                          });
    std::lock_guard lock(_watchdogMutex);
    if (_phaseTimer) {
        _phaseTimer->cancel();
    }
    _phaseTimer = std::move(timer);
}

// A head that trickles in (a byte now and then, each within the idle time-out) still has to be
// complete within the head time-out of its first byte.
void WebServerConnection::_startHeadDeadline() {
    if (_settings->headTimeout <= 0) {
        return;
    }
    _armPhaseTimer(_settings->headTimeout, [this] {
        if (!_headComplete.load()) {
            _shutDownSocket();
        }
    });
}

// A body has to keep a minimum pace: checked once per interval while it is read. Started when the
// body first has to be read from the socket (a body that came with its head makes no timer).
void WebServerConnection::_startBodyRateCheck() {
    if (_readingBody.exchange(true)) {
        return;
    }
    if (_settings->minimumBodyRate <= 0 || _settings->bodyRateInterval <= 0) {
        return;
    }
    const std::uint64_t now = _bodyBytesRead.load();
    _armPhaseTimer(_settings->bodyRateInterval, [this, now] { _checkBodyRate(now); });
}

void WebServerConnection::_checkBodyRate(std::uint64_t bytesAtLastCheck) {
    if (!_readingBody.load()) {
        return;
    }
    const std::uint64_t now = _bodyBytesRead.load();
    if (static_cast<double>(now - bytesAtLastCheck) <
        _settings->minimumBodyRate * _settings->bodyRateInterval) {
        _shutDownSocket();
        return;
    }
    _armPhaseTimer(_settings->bodyRateInterval, [this, now] { _checkBodyRate(now); });
}
