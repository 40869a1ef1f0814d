// UP_HttpConnectionSlots: the connections of one UP_HttpServer, by peer address, and what each of
// them is doing, so that the listen task shares the connection slots fairly among peers and
// never has to wait:
//   - a peer holds at most m_MaxConnectionsPerPeer; beyond that its new connection takes the
//     place of one of its own that can be freed, or is refused;
//   - when every slot is taken, a newcomer takes the place of a connection of the peer that
//     holds the most (of the peers holding more than its own): first one with no request under
//     way (waiting for one, or part way through its head or body), then one whose answer has
//     made no progress for m_StallTimeout. A newcomer whose own peer holds the most is refused,
//     and so is one for which nothing can be freed; so a peer holding fewer than the others
//     always gets in, and a request being worked on or an answer being read is never cut.
// A connection closed to make room is cancelled at once and its task ends by itself; at most
// kMaxEnding of them may still be ending. The server's task manager has that many places beyond
// the slots, so a new connection's task never waits for an old one to end.
//
//   if (!slots.Admit(client)) { answer 503 without waiting; delete client; }
//   slots.WatchProgress();  // the listen task, about twice a second: which answers move
//
// An answer's progress is what its peer has acknowledged (TCP_INFO), not what the kernel took;
// an answer with nothing sent waiting for its peer counts as moving.
// Thread-safe: one lock guards the list. A listed socket is cancelled (or its TCP_INFO read)
// only under that lock, and a connection task leaves (under it) before its socket is deleted.
#pragma once

#include "KL_IpAddress.h"
#include "KL_Mutex.h"
#include "KL_Types.h"
#include "UP_HttpServerLimits.h"

#include <chrono>
#include <cstdint>
#include <vector>

class KL_Socket;

class UP_HttpConnectionSlots {
public:
    // Connections closed to make room whose tasks may still be ending.
    static constexpr KL_Cardinal kMaxEnding = 32;

    // What a connection is doing.
    enum class Phase {
        Idle,      // waiting for a request
        Receiving, // part way through a request's head or body
        Working,   // its request is being answered (the handler runs)
        Answering, // writing its answer
    };

    // capacity: connection tasks that can run at once besides the ending ones (0: no bound,
    // nothing is ever closed to make room).
    explicit UP_HttpConnectionSlots(KL_Cardinal capacity);
    UP_HttpConnectionSlots(const UP_HttpConnectionSlots&) = delete;
    UP_HttpConnectionSlots& operator=(const UP_HttpConnectionSlots&) = delete;

    void SetLimits(const UP_HttpServerLimits& limits);
    UP_HttpServerLimits GetLimits();

    // Lists the connection (idle), closing another one to make room when needed (see above);
    // false (refused, not listed) when it may not have a slot now. Never waits.
    [[nodiscard]] bool Admit(KL_Socket* socket);
    // Takes the connection off the list (nothing when it is not listed).
    void Leave(KL_Socket* socket);
    // Notes what the connection does now. False when it was closed to make room (it then ends).
    bool SetPhase(KL_Socket* socket, Phase phase);
    // Notes which answers made progress since the last look.
    void WatchProgress();

    KL_Cardinal GetCount();

private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        KL_Socket* m_Socket;
        uint32_t m_Peer;
        Phase m_Phase;
        bool m_Closed;
        // Start of the phase; while answering, the last time its answer was seen to progress.
        Clock::time_point m_Since;
        // While answering: the bytes its peer had acknowledged at the last look.
        uint64_t m_Acknowledged;
    };

    Connection* Find(KL_Socket* socket);
    // The connection of the peer that may be closed for a newcomer, or null.
    Connection* Freeable(uint32_t peer, Clock::time_point now);
    // For a newcomer of a peer holding own connections when every slot is taken: a freeable
    // connection of the peer holding the most (of those holding more than own), or null.
    Connection* FreeableForNewcomer(uint32_t peer, KL_Cardinal own, Clock::time_point now);
    // Looks at an answering connection's progress.
    static void Watch(Connection& connection, Clock::time_point now);
    // Cancels a listed connection's socket; its task ends and leaves.
    static void Close(Connection& connection);

    KL_Mutex m_Lock;
    UP_HttpServerLimits m_Limits;
    KL_Cardinal m_Capacity;
    std::vector<Connection> m_Connections;
};
