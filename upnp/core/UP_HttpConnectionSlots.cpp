#include "UP_HttpConnectionSlots.h"

#include "KL_Log.h"
#include "KL_Socket.h"
#include "KL_SocketInfo.h"

#include <algorithm>
#include <cstddef>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("upnp.core.http");

namespace {

// The bytes of what the connection sent that its peer has acknowledged, and whether anything it
// sent waits for that; false when unknown.
bool GetAcknowledged(KL_Socket* socket, uint64_t& bytes, bool& waiting) {
    const int fd = socket->GetDescriptor();
    tcp_info info{};
    socklen_t length = sizeof info;
    if (fd < 0 || ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_notsent_bytes) + sizeof info.tcpi_notsent_bytes) {
        return false;
    }
    bytes = info.tcpi_bytes_acked;
    waiting = info.tcpi_unacked != 0 || info.tcpi_notsent_bytes != 0;
    return true;
}

// Whether bytes of a request have arrived that the connection has not read yet.
bool HasUnread(KL_Socket* socket) {
    int unread = 0;
    const int fd = socket->GetDescriptor();
    return fd >= 0 && ::ioctl(fd, FIONREAD, &unread) == 0 && unread > 0;
}

int64_t Millis(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

} // namespace

UP_HttpConnectionSlots::UP_HttpConnectionSlots(KL_Cardinal capacity) : m_Capacity(capacity) {}

void UP_HttpConnectionSlots::SetLimits(const UP_HttpServerLimits& limits) {
    KL_AutoLock lock(m_Lock);
    m_Limits = limits;
}

UP_HttpServerLimits UP_HttpConnectionSlots::GetLimits() {
    KL_AutoLock lock(m_Lock);
    return m_Limits;
}

uint32_t UP_HttpConnectionSlots::PeerOf(KL_Socket* socket) {
    KL_SocketInfo info;
    (void)socket->GetInfo(info);
    return info.remote_address.m_IpAddress.AsLong();
}

bool UP_HttpConnectionSlots::Admit(KL_Socket* socket, int64_t waited_ms, KL_Cardinal waiting) {
    const uint32_t peer = PeerOf(socket);
    KL_AutoLock lock(m_Lock);
    const Clock::time_point now = Clock::now();
    std::vector<UP_HttpSlotView> open;
    std::vector<size_t> index; // of each open one in m_Connections
    for (size_t i = 0; i < m_Connections.size(); ++i) {
        if (!m_Connections[i].m_Closed) {
            open.push_back(View(m_Connections[i], now));
            index.push_back(i);
        }
    }
    // Only an idle connection past its grace could give way as idle: has its request come?
    if (m_Capacity != 0 && open.size() >= m_Capacity) {
        for (size_t i = 0; i < open.size(); ++i) {
            open[i].m_RequestWaiting = open[i].m_Phase == Phase::Idle &&
                                       open[i].m_InPhase >= int64_t(m_Limits.m_RoomGrace) &&
                                       HasUnread(m_Connections[index[i]].m_Socket);
        }
    }
    const UP_HttpSlotRules rules(m_Limits, m_Capacity);
    const bool barred = IsBarred(peer, now);
    UP_HttpSlotRules::Cost cost = UP_HttpSlotRules::Cost::Kept;
    const int room = rules.MakeRoom(open, peer, barred, waited_ms, &cost);
    if (room == UP_HttpSlotRules::kWait || (room >= 0 && m_Connections.size() - open.size() >= kMaxEnding)) {
        for (size_t i : rules.Yields(open, peer, barred, waiting)) {
            KL_LOG_FINE("a connection is to end after its answer to make room for a newcomer");
            m_Connections[index[i]].m_Yielding = true;
        }
        return false;
    }
    if (room >= 0) {
        Connection& victim = m_Connections[index[size_t(room)]];
        KL_LOG_INFO("closing a connection (%s, %lld ms) to make room for a newcomer",
                    UP_HttpSlotRules::Name(cost), static_cast<long long>(open[size_t(room)].m_InPhase));
        const int64_t bar = rules.BarFor(cost, victim.m_Peer == peer);
        if (bar > 0) {
            m_Barred.emplace_back(victim.m_Peer, now + std::chrono::milliseconds(bar));
        }
        victim.m_Closed = true;
        (void)victim.m_Socket->Cancel(true);
    }
    Connection connection;
    connection.m_Socket = socket;
    connection.m_Peer = peer;
    connection.m_Since = now;
    m_Connections.push_back(std::move(connection));
    return true;
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
    if (view.m_Phase == Phase::Answering) {
        connection.m_Progress.Fill(view, Millis(now.time_since_epoch()));
    }
    return view;
}

void UP_HttpConnectionSlots::TakeSample(Connection& connection, Clock::time_point now) const {
    uint64_t acknowledged = 0;
    bool waiting = false;
    if (GetAcknowledged(connection.m_Socket, acknowledged, waiting)) {
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
        if (phase == Phase::Answering) {
            TakeSample(*connection, now);
        }
    }
    return !connection->m_Closed;
}

void UP_HttpConnectionSlots::WatchProgress() {
    KL_AutoLock lock(m_Lock);
    const Clock::time_point now = Clock::now();
    for (Connection& connection : m_Connections) {
        if (connection.m_Phase == Phase::Answering && !connection.m_Closed) {
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

uint64_t UP_HttpConnectionSlots::GetAnswered() {
    KL_AutoLock lock(m_Lock);
    return m_Answered;
}

KL_Cardinal UP_HttpConnectionSlots::GetHeld(uint32_t peer) {
    KL_AutoLock lock(m_Lock);
    return static_cast<KL_Cardinal>(
        std::count_if(m_Connections.begin(), m_Connections.end(),
                      [&](const Connection& c) { return !c.m_Closed && c.m_Peer == peer; }));
}

UP_HttpConnectionSlots::Connection* UP_HttpConnectionSlots::Find(KL_Socket* socket) {
    for (Connection& connection : m_Connections) {
        if (connection.m_Socket == socket) {
            return &connection;
        }
    }
    return nullptr;
}
