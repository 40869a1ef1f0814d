#include "UP_HttpListenTask.h"

#include "KL_Log.h"
#include "KL_Socket.h"
#include "KL_TcpServerSocket.h"
#include "UP_HttpConnectionSlots.h"
#include "UP_HttpServerSocketTask.h"
#include "UP_HttpServerTask.h"
#include "UP_HttpSocketProbe.h"
#include "UP_TaskManager.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
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
constexpr char kBusy[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                         "Connection: close\r\nServer: " UP_HTTP_SERVER_HEADER "\r\n\r\n";
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
    if (m_Slots == nullptr) {
        StartConnection(client);
        return;
    }
    const Clock::time_point now = Clock::now();
    // Slots freed since the last pass go to those waiting first (a burst of returns would
    // otherwise fill the list while slots stand free).
    if (!m_Held.empty() && m_Slots->HasRoom()) {
        ServeHeld(now);
    }
    UP_HttpWaiterView view;
    view.m_Peer = m_Slots->PeerOf(client);
    const std::vector<UP_HttpWaiterView> waiters = Snapshot(now);
    const UP_HttpWaitingList list(m_Slots->GetLimits());
    std::vector<bool> leaving(m_Held.size(), false);
    UP_HttpConnectionSlots::Newcomer newcomer;
    newcomer.m_Socket = client;
    newcomer.m_Peer = view.m_Peer;
    bool hold = false;
    bool refuse = false;
    for (const UP_HttpWaitingList::Step& step : list.Arrive(waiters, view)) {
        if (step.m_Index == m_Held.size()) {
            // Offered a slot when nobody waits (held when none is made), else held behind them;
            // refused when it would pass the list's bounds.
            refuse = step.m_Fate == UP_HttpWaitingList::Fate::Refuse;
            hold = step.m_Fate == UP_HttpWaitingList::Fate::Hold || (!refuse && !m_Slots->Admit(newcomer));
            continue;
        }
        leaving[step.m_Index] = true;
        KL_Socket* held = m_Held[step.m_Index].m_Client;
        if (step.m_Fate == UP_HttpWaitingList::Fate::Drop) {
            KL_LOG_FINE("dropped a held connection: its client has gone");
            delete held;
        } else {
            KL_LOG_FINE("refused a held connection to hold a newer one (%zu held)", m_Held.size());
            Refuse(held);
        }
    }
    std::vector<Held> staying;
    for (size_t i = 0; i < m_Held.size(); ++i) {
        if (!leaving[i]) {
            staying.push_back(m_Held[i]);
        }
    }
    m_Held = std::move(staying);
    if (refuse) {
        KL_LOG_FINE("refused a newcomer: its address waits beyond its share of the list");
        Refuse(client);
    } else if (hold) {
        m_Held.push_back(Held{client, view.m_Peer, now, newcomer.m_Told});
    } else {
        StartConnection(client);
    }
}

std::vector<UP_HttpWaiterView> UP_HttpListenTask::Snapshot(Clock::time_point now) const {
    std::vector<UP_HttpWaiterView> waiters(m_Held.size());
    std::vector<pollfd> polled(m_Held.size());
    for (size_t i = 0; i < m_Held.size(); ++i) {
        waiters[i].m_Peer = m_Held[i].m_Peer;
        waiters[i].m_Waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - m_Held[i].m_Since).count();
        polled[i] = pollfd{m_Held[i].m_Client->GetDescriptor(), POLLRDHUP, 0};
    }
    // A client that has ended its side (closed, or reset) without a request has given up: an HTTP
    // client ends its side only when it is done. One that ended it after sending its request
    // waits for the answer.
    if (!polled.empty() && ::poll(polled.data(), polled.size(), 0) > 0) {
        for (size_t i = 0; i < polled.size(); ++i) {
            const short events = polled[i].revents;
            waiters[i].m_Gone =
                (events & (POLLHUP | POLLERR | POLLNVAL)) != 0 ||
                ((events & POLLRDHUP) != 0 && !UP_HttpSocketProbe::System().HasUnread(m_Held[i].m_Client));
        }
    }
    return waiters;
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
    const uint64_t answered = m_Slots->GetAnswered();
    if (answered != m_Answered) {
        m_Answered = answered;
        m_LastAnswered = now;
    }
    const int64_t since_answer =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - m_LastAnswered).count();
    const std::vector<UP_HttpWaiterView> waiters = Snapshot(now);
    const UP_HttpWaitingList list(m_Slots->GetLimits());
    const std::vector<UP_HttpWaitingList::Step> steps = list.Pass(waiters, since_answer);
    std::vector<Held> held;
    held.swap(m_Held);
    std::vector<UP_HttpConnectionSlots::Newcomer> offered;
    std::vector<const UP_HttpWaitingList::Step*> offered_steps;
    for (const UP_HttpWaitingList::Step& step : steps) {
        const Held& waiter = held[step.m_Index];
        if (step.m_Fate == UP_HttpWaitingList::Fate::Drop) {
            KL_LOG_FINE("dropped a held connection after %lld ms: its client has gone",
                        static_cast<long long>(waiters[step.m_Index].m_Waited));
            delete waiter.m_Client;
            continue;
        }
        UP_HttpConnectionSlots::Newcomer newcomer;
        newcomer.m_Socket = waiter.m_Client;
        newcomer.m_Peer = waiter.m_Peer;
        newcomer.m_Waited = waiters[step.m_Index].m_Waited;
        newcomer.m_Told = waiter.m_Told;
        offered.push_back(newcomer);
        offered_steps.push_back(&step);
    }
    m_Slots->Offer(offered);
    for (size_t i = 0; i < offered.size(); ++i) {
        Held waiter = held[offered_steps[i]->m_Index];
        if (offered[i].m_Admitted) {
            StartConnection(waiter.m_Client);
        } else if (offered_steps[i]->m_Fate == UP_HttpWaitingList::Fate::Last) {
            KL_LOG_FINE("refused a held connection after %lld ms without room",
                        static_cast<long long>(offered[i].m_Waited));
            Refuse(waiter.m_Client);
        } else {
            waiter.m_Told = offered[i].m_Told;
            m_Held.push_back(waiter);
        }
    }
}

// A connection that gets no slot is told so. The answer fits an empty socket buffer, so it is
// written without waiting (what a full one did not take, on the next passes); then this side is
// shut down, and the client's request read and dropped for a moment, since closing a socket with
// unread bytes sends a reset that may overtake the answer.
void UP_HttpListenTask::Refuse(KL_Socket* client) {
    const int fd = client->GetDescriptor();
    if (fd < 0 || m_Draining.size() >= kMaxDraining) {
        KL_LOG_FINE("refused a connection at once: %zu refused ones draining", m_Draining.size());
        if (fd >= 0) {
            (void)::send(fd, kBusy, sizeof(kBusy) - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        delete client;
        return;
    }
    m_Draining.push_back(Draining{client, Clock::now() + kDrainTime, 0});
    Drain(Clock::now());
}

void UP_HttpListenTask::Drain(Clock::time_point now) {
    auto done = [&](Draining& draining) {
        const int fd = draining.m_Client->GetDescriptor();
        if (fd < 0) {
            return true;
        }
        if (draining.m_Written < sizeof(kBusy) - 1) {
            const ssize_t n = ::send(fd, kBusy + draining.m_Written, sizeof(kBusy) - 1 - draining.m_Written,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return true; // it reset
            }
            draining.m_Written += n > 0 ? size_t(n) : 0;
            if (draining.m_Written == sizeof(kBusy) - 1) {
                (void)::shutdown(fd, SHUT_WR);
            }
        }
        char buffer[4096];
        for (size_t total = 0; total < kDrainPerPass;) {
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
        return now >= draining.m_Until;
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
