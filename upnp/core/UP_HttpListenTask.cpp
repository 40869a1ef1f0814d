#include "UP_HttpListenTask.h"

#include "KL_Log.h"
#include "KL_Socket.h"
#include "KL_TcpServerSocket.h"
#include "UP_HttpConnectionSlots.h"
#include "UP_HttpServerSocketTask.h"
#include "UP_HttpServerTask.h"
#include "UP_TaskManager.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("upnp.core.http");

namespace {
// The accept's wait when nobody is held or drained; also how often the progress of answers is
// sampled (UP_HttpConnectionSlots::WatchProgress).
constexpr KL_Timeout kAcceptWait = 500;
// After a failed accept (the cause, such as a full descriptor table, may last a while).
constexpr KL_Timeout kAcceptFailurePause = 100;
// What one pass reads of one refused client.
constexpr size_t kDrainPerPass = 64 * 1024;
} // namespace

UP_HttpListenTask::UP_HttpListenTask(KL_HttpRequestHandler* handler, KL_TcpServerSocket* socket,
                                     bool owns_socket, UP_HttpConnectionSlots* slots)
    : m_Handler(handler), m_Socket(socket), m_OwnsSocket(owns_socket), m_Slots(slots) {}

UP_HttpListenTask::~UP_HttpListenTask() {
    for (const Held& held : m_Held) {
        delete held.m_Client;
    }
    for (const Draining& draining : m_Draining) {
        delete draining.m_Client;
    }
    if (m_OwnsSocket) {
        delete m_Socket;
    }
}

void UP_HttpListenTask::DoAbort() {
    if (m_Socket != nullptr) {
        m_Socket->Cancel();
    }
}

void UP_HttpListenTask::DoRun() {
    if (m_Socket == nullptr) {
        KL_LOG_FATAL("@@@ NULL pointer parameter");
        return;
    }
    Clock::time_point next_watch = Clock::now();
    while (!IsAborting(0)) {
        KL_Socket* client = nullptr;
        const bool busy = !m_Held.empty() || !m_Draining.empty();
        const KL_Timeout wait = busy ? KL_Timeout(kRecheck.count()) : kAcceptWait;
        KL_Result result = m_Socket->WaitForNewClient(client, wait, KL_SOCKET_FLAG_CANCELLABLE);
        const Clock::time_point now = Clock::now();
        if (m_Slots != nullptr && now >= next_watch) {
            m_Slots->WatchProgress();
            next_watch = now + std::chrono::milliseconds(kAcceptWait);
        }
        if (result == KL_ERROR_CANCELLED) {
            KL_LOG_WARNING("UP_HttpListenTask exiting with %d (%s)", result, KL_GetResultText(result));
            return;
        }
        if (KL_FAILED(result) && result != KL_ERROR_TIMEOUT && result != KL_ERROR_WOULD_BLOCK) {
            KL_LOG_WARNING("UP_HttpListenTask: accepting failed with %d (%s), trying again", result,
                           KL_GetResultText(result));
            (void)IsAborting(kAcceptFailurePause);
        }
        if (KL_SUCCEEDED(result) && client != nullptr) {
            Serve(client);
        }
        if (now - m_LastRecheck >= kRecheck) {
            m_LastRecheck = now;
            ServeHeld(now);
            Drain(now);
        }
    }
}

void UP_HttpListenTask::Serve(KL_Socket* client) {
    if (m_Slots == nullptr || (m_Held.empty() && m_Slots->Admit(client))) {
        StartConnection(client);
        return;
    }
    // Held behind those already waiting, who come first. With no place left, the one waiting
    // longest of the address waiting with the most (its own, at its bound) is refused for it.
    const uint32_t peer = UP_HttpConnectionSlots::PeerOf(client);
    auto waiting = [&](uint32_t address) {
        return size_t(std::count_if(m_Held.begin(), m_Held.end(),
                                    [&](const Held& held) { return held.m_Peer == address; }));
    };
    if (m_Held.size() >= kMaxHeld || waiting(peer) >= kMaxHeldPerPeer) {
        uint32_t most = peer;
        if (waiting(peer) < kMaxHeldPerPeer) {
            std::vector<uint32_t> peers;
            for (const Held& held : m_Held) {
                peers.push_back(held.m_Peer);
            }
            std::sort(peers.begin(), peers.end());
            size_t longest = 0;
            for (auto it = peers.begin(); it != peers.end();) {
                const auto run = std::upper_bound(it, peers.end(), *it);
                if (size_t(run - it) > longest) {
                    longest = size_t(run - it);
                    most = *it;
                }
                it = run;
            }
        }
        // Within one address the list keeps the one waiting longest first.
        auto oldest =
            std::find_if(m_Held.begin(), m_Held.end(), [&](const Held& held) { return held.m_Peer == most; });
        Refuse(oldest->m_Client);
        m_Held.erase(oldest);
    }
    m_Held.push_back(Held{client, peer, Clock::now()});
}

void UP_HttpListenTask::StartConnection(KL_Socket* client) {
    UP_HttpServerTask* task = new UP_HttpServerTask(m_Handler, client, false, m_Slots);
    if (m_TaskManager != nullptr) {
        // Without slots, waits while every place of the manager is taken; with them there is
        // always a place. A self-destroying task that cannot start is deleted.
        (void)m_TaskManager->StartTask(task, nullptr, true);
    } else {
        (void)task->Start(nullptr, nullptr, true);
    }
}

void UP_HttpListenTask::ServeHeld(Clock::time_point now) {
    if (m_Held.empty()) {
        return;
    }
    const auto room_wait = std::chrono::milliseconds(m_Slots->GetLimits().m_RoomWait);
    const uint64_t answered = m_Slots->GetAnswered();
    if (answered != m_Answered) {
        m_Answered = answered;
        m_LastAnswered = now;
    }
    // Slots held by a busy server come free as its clients finish; held ones give no sign.
    const bool serving = now - m_LastAnswered < room_wait;
    std::vector<std::pair<KL_Cardinal, Held>> order;
    order.reserve(m_Held.size());
    for (const Held& held : m_Held) {
        order.emplace_back(m_Slots->GetHeld(held.m_Peer), held);
    }
    std::stable_sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
        return UP_HttpSlotRules::ComesFirst(a.first, (now - a.second.m_Since).count(), b.first,
                                            (now - b.second.m_Since).count());
    });
    m_Held.clear();
    for (const auto& [count, held] : order) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - held.m_Since);
        if (m_Slots->Admit(held.m_Client, waited.count(), KL_Cardinal(order.size()))) {
            StartConnection(held.m_Client);
        } else if (now - held.m_Since >=
                   (serving ? std::chrono::milliseconds(kMaxWhileServing) : room_wait)) {
            Refuse(held.m_Client);
        } else {
            m_Held.push_back(held);
        }
    }
}

// A connection that gets no slot is told so. The answer fits an empty socket buffer, so it is
// written without waiting; then the client's request is read and dropped for a moment, since
// closing a socket with unread bytes sends a reset that may overtake the answer.
void UP_HttpListenTask::Refuse(KL_Socket* client) {
    static const char kBusy[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                                "Connection: close\r\nServer: " UP_HTTP_SERVER_HEADER "\r\n\r\n";
    const int fd = client->GetDescriptor();
    if (fd < 0 || m_Draining.size() >= kMaxDraining) {
        KL_LOG_FINE("refused a connection at once: %zu refused ones draining", m_Draining.size());
        if (fd >= 0) {
            (void)::send(fd, kBusy, sizeof(kBusy) - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        delete client;
        return;
    }
    (void)::send(fd, kBusy, sizeof(kBusy) - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    (void)::shutdown(fd, SHUT_WR);
    m_Draining.push_back(Draining{client, Clock::now() + kDrainTime});
    Drain(Clock::now());
}

void UP_HttpListenTask::Drain(Clock::time_point now) {
    auto done = [&](const Draining& draining) {
        const int fd = draining.m_Client->GetDescriptor();
        char buffer[4096];
        for (size_t total = 0; fd >= 0 && total < kDrainPerPass;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                total += size_t(n);
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                return true; // its end, or a reset
            }
            break;
        }
        return fd < 0 || now >= draining.m_Until;
    };
    for (auto it = m_Draining.begin(); it != m_Draining.end();) {
        if (done(*it)) {
            delete it->m_Client;
            it = m_Draining.erase(it);
        } else {
            ++it;
        }
    }
}
