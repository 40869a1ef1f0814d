#include "UP_HttpConnectionSlots.h"

#include "KL_Log.h"

#include <algorithm>
#include <cstddef>

KL_SET_LOCAL_LOGGER("upnp.core.http");

namespace {

int64_t Millis(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

bool HasProgress(UP_HttpSlotPhase phase) {
    return phase == UP_HttpSlotPhase::Answering || phase == UP_HttpSlotPhase::Draining;
}

} // namespace

UP_HttpConnectionSlots::UP_HttpConnectionSlots(KL_Cardinal capacity, UP_HttpSocketProbe* probe)
    : m_Probe(probe != nullptr ? *probe : UP_HttpSocketProbe::System()), m_Capacity(capacity) {}

void UP_HttpConnectionSlots::SetLimits(const UP_HttpServerLimits& limits) {
    KL_AutoLock lock(m_Lock);
    m_Limits = limits;
}

UP_HttpServerLimits UP_HttpConnectionSlots::GetLimits() {
    KL_AutoLock lock(m_Lock);
    return m_Limits;
}

bool UP_HttpConnectionSlots::Admit(Newcomer& newcomer) {
    std::vector<Newcomer> one{newcomer};
    Offer(one);
    newcomer = one.front();
    return newcomer.m_Admitted;
}

void UP_HttpConnectionSlots::Offer(std::vector<Newcomer>& newcomers) {
    KL_AutoLock lock(m_Lock);
    const Clock::time_point now = Clock::now();
    Snapshot snapshot;
    for (size_t i = 0; i < m_Connections.size(); ++i) {
        if (!m_Connections[i].m_Closed) {
            snapshot.m_Open.push_back(View(m_Connections[i], now));
            snapshot.m_Index.push_back(i);
        }
    }
    const UP_HttpSlotRules rules(m_Limits, m_Capacity);
    for (size_t i = 0; i < newcomers.size(); ++i) {
        Newcomer& newcomer = newcomers[i];
        newcomer.m_Admitted = false;
        // Only an idle connection past its grace could give way as idle: is it done? Not while its
        // next request has come, nor while its last answer is still on its way to the peer: a
        // client that pipelines sends its next request once it reads that answer's head, and a
        // close before then would turn that request into a reset that cuts the answer.
        if (!snapshot.m_Looked && m_Capacity != 0 && snapshot.m_Open.size() >= m_Capacity) {
            snapshot.m_Looked = true;
            for (size_t j = 0; j < snapshot.m_Open.size(); ++j) {
                UP_HttpSlotView& view = snapshot.m_Open[j];
                view.m_RequestWaiting = view.m_Phase == Phase::Idle &&
                                        view.m_InPhase >= int64_t(m_Limits.m_RoomGrace) &&
                                        IsUnfinished(m_Connections[snapshot.m_Index[j]].m_Socket);
            }
        }
        const bool barred = IsBarred(newcomer.m_Peer, now);
        UP_HttpSlotRules::Cost cost = UP_HttpSlotRules::Cost::Kept;
        const int room = rules.MakeRoom(snapshot.m_Open, newcomer.m_Peer, barred, newcomer.m_Waited, &cost);
        const KL_Cardinal ending = KL_Cardinal(m_Connections.size() - snapshot.m_Open.size());
        if (room == UP_HttpSlotRules::kWait || (room >= 0 && ending >= kMaxEnding)) {
            for (size_t j : rules.Yields(snapshot.m_Open, newcomer.m_Peer, barred, newcomer.m_Told ? 0 : 1)) {
                KL_LOG_FINE("a connection is to end after its answer to make room for a newcomer");
                m_Connections[snapshot.m_Index[j]].m_Yielding = true;
                snapshot.m_Open[j].m_Yielding = true;
                newcomer.m_Told = true;
            }
            continue;
        }
        if (room >= 0) {
            Close(snapshot, size_t(room), cost, newcomer.m_Peer, rules, now);
        }
        Connection connection;
        connection.m_Socket = newcomer.m_Socket;
        connection.m_Peer = newcomer.m_Peer;
        connection.m_Since = now;
        connection.m_Listed = now;
        m_Connections.push_back(std::move(connection));
        snapshot.m_Open.push_back(View(m_Connections.back(), now));
        snapshot.m_Index.push_back(m_Connections.size() - 1);
        newcomer.m_Admitted = true;
    }
}

void UP_HttpConnectionSlots::Close(Snapshot& snapshot, size_t i, UP_HttpSlotRules::Cost cost, uint32_t peer,
                                   const UP_HttpSlotRules& rules, Clock::time_point now) {
    Connection& victim = m_Connections[snapshot.m_Index[i]];
    KL_LOG_INFO("closing a connection (%s, %lld ms) to make room for a newcomer",
                UP_HttpSlotRules::Name(cost), static_cast<long long>(snapshot.m_Open[i].m_InPhase));
    const int64_t bar = rules.BarFor(cost, victim.m_Peer == peer);
    if (bar > 0) {
        m_Barred.emplace_back(victim.m_Peer, now + std::chrono::milliseconds(bar));
    }
    victim.m_Closed = true;
    m_Probe.Cancel(victim.m_Socket);
    snapshot.m_Open.erase(snapshot.m_Open.begin() + std::ptrdiff_t(i));
    snapshot.m_Index.erase(snapshot.m_Index.begin() + std::ptrdiff_t(i));
}

bool UP_HttpConnectionSlots::IsUnfinished(KL_Socket* socket) {
    uint64_t acknowledged = 0;
    bool waiting = false;
    return m_Probe.HasUnread(socket) || (m_Probe.GetAcknowledged(socket, acknowledged, waiting) && waiting);
}

bool UP_HttpConnectionSlots::IsBarred(uint32_t peer, Clock::time_point now) {
    m_Barred.erase(std::remove_if(m_Barred.begin(), m_Barred.end(),
                                  [&](const auto& entry) { return entry.second <= now; }),
                   m_Barred.end());
    return std::any_of(m_Barred.begin(), m_Barred.end(),
                       [&](const auto& entry) { return entry.first == peer; });
}

UP_HttpSlotView UP_HttpConnectionSlots::View(const Connection& connection, Clock::time_point now) const {
    UP_HttpSlotView view;
    view.m_Peer = connection.m_Peer;
    view.m_Phase = connection.m_Phase;
    view.m_Used = connection.m_Used;
    view.m_Yielding = connection.m_Yielding;
    view.m_InPhase = Millis(now - connection.m_Since);
    view.m_Listed = Millis(now - connection.m_Listed);
    if (HasProgress(view.m_Phase)) {
        connection.m_Progress.Fill(view);
    }
    return view;
}

void UP_HttpConnectionSlots::TakeSample(Connection& connection, Clock::time_point now) const {
    uint64_t acknowledged = 0;
    bool waiting = false;
    if (m_Probe.GetAcknowledged(connection.m_Socket, acknowledged, waiting)) {
        connection.m_Progress.Add(Millis(now.time_since_epoch()), acknowledged, waiting,
                                  int64_t(m_Limits.m_RateWindow));
    } else {
        connection.m_Progress.AddUnknown();
    }
}

void UP_HttpConnectionSlots::Leave(KL_Socket* socket) {
    KL_AutoLock lock(m_Lock);
    for (auto it = m_Connections.begin(); it != m_Connections.end(); ++it) {
        if (it->m_Socket == socket) {
            m_Answered += it->m_Phase == Phase::Answering && !it->m_Closed ? 1 : 0;
            m_Connections.erase(it);
            return;
        }
    }
}

bool UP_HttpConnectionSlots::SetPhase(KL_Socket* socket, Phase phase) {
    KL_AutoLock lock(m_Lock);
    Connection* connection = Find(socket);
    if (connection == nullptr) {
        return true;
    }
    if (connection->m_Phase != phase) {
        const Clock::time_point now = Clock::now();
        m_Answered += connection->m_Phase == Phase::Answering ? 1 : 0;
        connection->m_Phase = phase;
        connection->m_Since = now;
        connection->m_Used = connection->m_Used || phase != Phase::Idle;
        connection->m_Progress.Clear();
        if (HasProgress(phase)) {
            TakeSample(*connection, now);
        }
    }
    return !connection->m_Closed;
}

void UP_HttpConnectionSlots::WatchProgress() {
    KL_AutoLock lock(m_Lock);
    const Clock::time_point now = Clock::now();
    for (Connection& connection : m_Connections) {
        if (HasProgress(connection.m_Phase) && !connection.m_Closed) {
            TakeSample(connection, now);
        }
    }
}

bool UP_HttpConnectionSlots::EndsAfterAnswer(KL_Socket* socket) {
    KL_AutoLock lock(m_Lock);
    const Connection* connection = Find(socket);
    return connection != nullptr && connection->m_Yielding;
}

bool UP_HttpConnectionSlots::IsClosed(KL_Socket* socket) {
    KL_AutoLock lock(m_Lock);
    const Connection* connection = Find(socket);
    return connection != nullptr && connection->m_Closed;
}

KL_Cardinal UP_HttpConnectionSlots::GetCount() {
    KL_AutoLock lock(m_Lock);
    return static_cast<KL_Cardinal>(m_Connections.size());
}

bool UP_HttpConnectionSlots::HasRoom() {
    KL_AutoLock lock(m_Lock);
    const auto open = std::count_if(m_Connections.begin(), m_Connections.end(),
                                    [](const Connection& connection) { return !connection.m_Closed; });
    return m_Capacity == 0 || KL_Cardinal(open) < m_Capacity;
}

uint64_t UP_HttpConnectionSlots::GetAnswered() {
    KL_AutoLock lock(m_Lock);
    return m_Answered;
}

UP_HttpConnectionSlots::Connection* UP_HttpConnectionSlots::Find(KL_Socket* socket) {
    for (Connection& connection : m_Connections) {
        if (connection.m_Socket == socket) {
            return &connection;
        }
    }
    return nullptr;
}
