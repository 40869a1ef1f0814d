#include "UP_HttpConnectionSlots.h"

#include "KL_Log.h"
#include "KL_Socket.h"
#include "KL_SocketInfo.h"

#include <algorithm>
#include <cstddef>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <utility>

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

bool UP_HttpConnectionSlots::Admit(KL_Socket* socket) {
    KL_SocketInfo info;
    (void)socket->GetInfo(info);
    const uint32_t peer = info.remote_address.m_IpAddress.AsLong();
    KL_AutoLock lock(m_Lock);
    const Clock::time_point now = Clock::now();
    KL_Cardinal open = 0;
    KL_Cardinal ending = 0;
    KL_Cardinal own = 0;
    for (const Connection& connection : m_Connections) {
        if (connection.m_Closed) {
            ++ending;
        } else {
            ++open;
            own += connection.m_Peer == peer ? 1 : 0;
        }
    }
    Connection* room = nullptr;
    if (m_Limits.m_MaxConnectionsPerPeer != 0 && own >= m_Limits.m_MaxConnectionsPerPeer) {
        room = Freeable(peer, now); // the peer's new connection takes the place of its own
    } else if (m_Capacity != 0 && open >= m_Capacity) {
        room = FreeableForNewcomer(peer, own, now);
    } else {
        m_Connections.push_back(Connection{socket, peer, Phase::Idle, false, now, 0});
        return true;
    }
    if (room == nullptr || ending >= kMaxEnding) {
        KL_LOG_FINE("refused a connection from %s: it holds %u, %u open, %u ending",
                    info.remote_address.m_IpAddress.ToString().GetChars(), static_cast<unsigned>(own),
                    static_cast<unsigned>(open), static_cast<unsigned>(ending));
        return false;
    }
    KL_LOG_FINE("closing a connection to make room for one from %s",
                info.remote_address.m_IpAddress.ToString().GetChars());
    Close(*room);
    m_Connections.push_back(Connection{socket, peer, Phase::Idle, false, now, 0});
    return true;
}

UP_HttpConnectionSlots::Connection* UP_HttpConnectionSlots::Freeable(uint32_t peer, Clock::time_point now) {
    Connection* best = nullptr;
    int best_rank = 0;
    for (Connection& connection : m_Connections) {
        if (connection.m_Peer != peer || connection.m_Closed) {
            continue;
        }
        // No request under way first, then an answer that stalls; never a request being worked
        // on or an answer that moves.
        int rank = 0;
        if (connection.m_Phase == Phase::Receiving) {
            rank = 1;
        } else if (connection.m_Phase == Phase::Answering) {
            Watch(connection, now);
            if (m_Limits.m_StallTimeout == 0 ||
                now - connection.m_Since < std::chrono::milliseconds(m_Limits.m_StallTimeout)) {
                continue;
            }
            rank = 2;
        } else if (connection.m_Phase == Phase::Working) {
            continue;
        }
        if (best == nullptr || rank < best_rank ||
            (rank == best_rank && connection.m_Since < best->m_Since)) {
            best = &connection;
            best_rank = rank;
        }
    }
    return best;
}

UP_HttpConnectionSlots::Connection*
UP_HttpConnectionSlots::FreeableForNewcomer(uint32_t peer, KL_Cardinal own, Clock::time_point now) {
    std::vector<std::pair<KL_Cardinal, uint32_t>> held; // (connections, peer), peers other than its own
    for (const Connection& connection : m_Connections) {
        if (connection.m_Closed || connection.m_Peer == peer) {
            continue;
        }
        auto it = std::find_if(held.begin(), held.end(),
                               [&](const auto& entry) { return entry.second == connection.m_Peer; });
        if (it == held.end()) {
            held.emplace_back(1, connection.m_Peer);
        } else {
            ++it->first;
        }
    }
    std::sort(held.begin(), held.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [count, other] : held) {
        if (count <= own) {
            break; // its own peer holds the most of those left
        }
        if (Connection* connection = Freeable(other, now)) {
            return connection;
        }
    }
    return nullptr;
}

void UP_HttpConnectionSlots::Leave(KL_Socket* socket) {
    KL_AutoLock lock(m_Lock);
    for (auto it = m_Connections.begin(); it != m_Connections.end(); ++it) {
        if (it->m_Socket == socket) {
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
        connection->m_Phase = phase;
        connection->m_Since = Clock::now();
        connection->m_Acknowledged = 0;
        bool waiting = false;
        if (phase == Phase::Answering) {
            (void)GetAcknowledged(socket, connection->m_Acknowledged, waiting);
        }
    }
    return !connection->m_Closed;
}

void UP_HttpConnectionSlots::WatchProgress() {
    KL_AutoLock lock(m_Lock);
    const Clock::time_point now = Clock::now();
    for (Connection& connection : m_Connections) {
        if (connection.m_Phase == Phase::Answering && !connection.m_Closed) {
            Watch(connection, now);
        }
    }
}

void UP_HttpConnectionSlots::Watch(Connection& connection, Clock::time_point now) {
    uint64_t acknowledged = 0;
    bool waiting = false;
    // Where progress cannot be seen, the answer counts as moving; so does one that has nothing
    // waiting for its peer (the server itself is slow to make the rest).
    if (!GetAcknowledged(connection.m_Socket, acknowledged, waiting) || !waiting ||
        acknowledged != connection.m_Acknowledged) {
        connection.m_Acknowledged = acknowledged;
        connection.m_Since = now;
    }
}

void UP_HttpConnectionSlots::Close(Connection& connection) {
    connection.m_Closed = true;
    (void)connection.m_Socket->Cancel(true);
}

KL_Cardinal UP_HttpConnectionSlots::GetCount() {
    KL_AutoLock lock(m_Lock);
    return static_cast<KL_Cardinal>(m_Connections.size());
}

UP_HttpConnectionSlots::Connection* UP_HttpConnectionSlots::Find(KL_Socket* socket) {
    for (Connection& connection : m_Connections) {
        if (connection.m_Socket == socket) {
            return &connection;
        }
    }
    return nullptr;
}
