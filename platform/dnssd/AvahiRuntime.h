#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

struct AvahiClient;
struct AvahiPoll;
struct AvahiThreadedPoll;

namespace platform {

// The process's one connection to the Avahi daemon: a threaded poll (its own event thread) and a
// client on it, both made at first use and kept for the life of the process. When the daemon
// cannot be reached the client is not made and every use fails at once; the next use tries again.
// A client that lost the daemon is replaced at the next use; `generation` counts the clients, so
// that objects made on a replaced client (freed with it) are not freed twice.
class AvahiRuntime {
public:
    struct Context {
        AvahiClient* client;
        const AvahiPoll* poll;
        std::uint64_t generation;
    };
    using Work = std::function<bool(const Context&)>;

    static AvahiRuntime& shared();

    // Runs `work` with the event loop locked and a connected client. False when there is no
    // client, else what `work` returned. Never call from the event thread.
    bool run(const Work& work);
    // Runs `work` with the event loop locked when the event loop exists (the client may be gone);
    // nothing otherwise. Never call from the event thread.
    void runLocked(const std::function<void(const Context&)>& work);
    // The current client's generation (stable while the event loop is locked).
    std::uint64_t generation() const { return _generation.load(); }

    AvahiRuntime(const AvahiRuntime&) = delete;
    AvahiRuntime& operator=(const AvahiRuntime&) = delete;

private:
    AvahiRuntime() = default;
    ~AvahiRuntime() = default;

    bool ensureClient();
    bool startEventLoop();
    AvahiClient* newClient(AvahiThreadedPoll* poll);
    static void onClientState(AvahiClient* client, int state, void* userdata);

    std::mutex _mutex; // serialises callers; the event thread never takes it
    AvahiThreadedPoll* _poll = nullptr;
    AvahiClient* _client = nullptr;
    std::atomic<bool> _clientFailed{false};
    std::atomic<std::uint64_t> _generation{0};
};

} // namespace platform
