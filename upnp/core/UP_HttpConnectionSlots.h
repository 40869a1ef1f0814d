// UP_HttpConnectionSlots: the connections of one UP_HttpServer, by peer address, and which of
// them wait idle for a request. The listen task admits each accepted connection: a peer holds at
// most m_MaxConnectionsPerPeer; beyond that its new connection takes the place of its own one
// idle longest, or is refused when none of its connections is idle. When every connection slot
// is taken, the connection idle longest (of any peer) is closed so that the new one gets its
// slot. Connection tasks leave when they end and say when they wait for a request.
//
//   if (!slots.Admit(client)) { delete client; }   // refused at once
//   while (!slots.MakeRoom()) { wait a little }      // before the start that would wait
//
// Thread-safe: one lock guards the list. A listed socket is cancelled only under that lock, and a
// connection task leaves (under it) before its socket is deleted.
#pragma once

#include "KL_IpAddress.h"
#include "KL_Mutex.h"
#include "KL_Types.h"
#include "UP_HttpServerLimits.h"

#include <chrono>
#include <vector>

class KL_Socket;

class UP_HttpConnectionSlots {
public:
    // capacity: connection tasks that can run at once (0: no bound, nothing is ever closed).
    explicit UP_HttpConnectionSlots(KL_Cardinal capacity);
    UP_HttpConnectionSlots(const UP_HttpConnectionSlots&) = delete;
    UP_HttpConnectionSlots& operator=(const UP_HttpConnectionSlots&) = delete;

    void SetLimits(const UP_HttpServerLimits& limits);
    UP_HttpServerLimits GetLimits();

    // Lists the connection (busy). When its peer already holds as many as it may, the peer's
    // connection idle longest is closed for it; false (refused) when none of them is idle.
    [[nodiscard]] bool Admit(KL_Socket* socket);
    // Takes the connection off the list (nothing when it is not listed).
    void Leave(KL_Socket* socket);
    // Marks the connection as waiting for a request (idle) or busy with one. False when the
    // connection was closed to make room (it then ends).
    bool SetIdle(KL_Socket* socket, bool idle);
    // When more connections are listed than run at once: closes (cancels) the one idle longest.
    // True when there is room now (or soon, once a closed one has ended); false when every
    // connection is busy.
    bool MakeRoom();

    KL_Cardinal GetCount();

private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        KL_Socket* m_Socket;
        uint32_t m_Peer;
        bool m_Idle;
        bool m_Closed;
        Clock::time_point m_IdleSince;
    };

    Connection* Find(KL_Socket* socket);
    // Cancels a listed connection's socket; its task ends and leaves.
    static void Close(Connection& connection);

    KL_Mutex m_Lock;
    UP_HttpServerLimits m_Limits;
    KL_Cardinal m_Capacity;
    std::vector<Connection> m_Connections;
};
