#include "UP_HttpConnectionSlots.h"

#include "KL_Log.h"
#include "KL_Socket.h"
#include "KL_SocketInfo.h"

KL_SET_LOCAL_LOGGER("upnp.core.http");

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
    if (m_Limits.m_MaxConnectionsPerPeer != 0) {
        KL_Cardinal held = 0;
        Connection* idle = nullptr;
        for (Connection& connection : m_Connections) {
            if (connection.m_Peer != peer || connection.m_Closed) {
                continue;
            }
            ++held;
            if (connection.m_Idle && (idle == nullptr || connection.m_IdleSince < idle->m_IdleSince)) {
                idle = &connection;
            }
        }
        if (held >= m_Limits.m_MaxConnectionsPerPeer) {
            if (idle == nullptr) {
                KL_LOG_WARNING("refused a connection from %s: it holds %u busy ones already",
                               info.remote_address.m_IpAddress.ToString().GetChars(),
                               static_cast<unsigned>(held));
                return false;
            }
            // The peer's new connection takes the place of its own one idle longest.
            Close(*idle);
        }
    }
    m_Connections.push_back(Connection{socket, peer, false, false, Clock::now()});
    return true;
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

bool UP_HttpConnectionSlots::SetIdle(KL_Socket* socket, bool idle) {
    KL_AutoLock lock(m_Lock);
    Connection* connection = Find(socket);
    if (connection == nullptr) {
        return true;
    }
    connection->m_Idle = idle;
    if (idle) {
        connection->m_IdleSince = Clock::now();
    }
    return !connection->m_Closed;
}

bool UP_HttpConnectionSlots::MakeRoom() {
    KL_AutoLock lock(m_Lock);
    KL_Cardinal open = 0;
    Connection* longest = nullptr;
    for (Connection& connection : m_Connections) {
        if (connection.m_Closed) {
            continue; // ends soon; its slot is as good as free
        }
        ++open;
        if (connection.m_Idle && (longest == nullptr || connection.m_IdleSince < longest->m_IdleSince)) {
            longest = &connection;
        }
    }
    if (m_Capacity == 0 || open <= m_Capacity) {
        return true;
    }
    if (longest == nullptr) {
        return false;
    }
    KL_LOG_FINE("every connection slot is taken: closing an idle connection");
    Close(*longest);
    return true;
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
