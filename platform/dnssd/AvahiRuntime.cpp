#include "AvahiRuntime.h"

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>

namespace platform {

AvahiRuntime& AvahiRuntime::shared() {
    // Never destroyed: the event thread may still be delivering when static objects go away.
    static AvahiRuntime* runtime = new AvahiRuntime();
    return *runtime;
}

void AvahiRuntime::onClientState(AvahiClient* /*client*/, int state, void* userdata) {
    if (state == AVAHI_CLIENT_FAILURE) {
        static_cast<AvahiRuntime*>(userdata)->_clientFailed = true;
    }
}

AvahiClient* AvahiRuntime::newClient(AvahiThreadedPoll* poll) {
    // No AVAHI_CLIENT_NO_FAIL: without a daemon this fails at once instead of waiting for one.
    int error = 0;
    _clientFailed = false;
    return avahi_client_new(
        avahi_threaded_poll_get(poll), static_cast<AvahiClientFlags>(0),
        [](AvahiClient* c, AvahiClientState s, void* u) { onClientState(c, s, u); }, this, &error);
}

bool AvahiRuntime::startEventLoop() {
    // Creating the client before the loop runs needs no lock, and a failed attempt leaves no
    // thread behind.
    AvahiThreadedPoll* poll = avahi_threaded_poll_new();
    if (poll == nullptr) {
        return false;
    }
    AvahiClient* client = newClient(poll);
    if (client == nullptr) {
        avahi_threaded_poll_free(poll);
        return false;
    }
    if (avahi_threaded_poll_start(poll) < 0) {
        avahi_client_free(client);
        avahi_threaded_poll_free(poll);
        return false;
    }
    _poll = poll;
    _client = client;
    ++_generation;
    return true;
}

bool AvahiRuntime::ensureClient() {
    if (_poll == nullptr) {
        return startEventLoop();
    }
    if (_client != nullptr && !_clientFailed) {
        return true;
    }
    avahi_threaded_poll_lock(_poll);
    if (_client != nullptr) {
        // Frees the entry groups and resolvers made on it as well.
        avahi_client_free(_client);
        _client = nullptr;
        ++_generation;
    }
    _client = newClient(_poll);
    if (_client != nullptr) {
        ++_generation;
    }
    avahi_threaded_poll_unlock(_poll);
    return _client != nullptr;
}

bool AvahiRuntime::run(const Work& work) {
    std::lock_guard<std::mutex> guard(_mutex);
    if (!ensureClient()) {
        return false;
    }
    avahi_threaded_poll_lock(_poll);
    const bool result = work(Context{_client, avahi_threaded_poll_get(_poll), _generation.load()});
    avahi_threaded_poll_unlock(_poll);
    return result;
}

void AvahiRuntime::runLocked(const std::function<void(const Context&)>& work) {
    std::lock_guard<std::mutex> guard(_mutex);
    if (_poll == nullptr) {
        return;
    }
    avahi_threaded_poll_lock(_poll);
    work(Context{_client, avahi_threaded_poll_get(_poll), _generation.load()});
    avahi_threaded_poll_unlock(_poll);
}

} // namespace platform
