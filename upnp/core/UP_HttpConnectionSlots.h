// UP_HttpConnectionSlots: the connections of one UP_HttpServer, by peer address, and what each of
// them is doing, so that the listen task can make room for a newcomer when every slot is taken
// without ever waiting. Which connection gives way is decided by UP_HttpSlotRules on a snapshot
// of the list; this class keeps the list, samples the answers' progress and closes what the
// rules chose.
//
//   if (!slots.Admit(client, waited, waiting)) { the listen task holds the client a moment }
//   slots.WatchProgress();  // the listen task, about twice a second: how fast answers move
//   if (slots.EndsAfterAnswer(socket)) { the answer carries "Connection: close" }
//
// An answer's progress is what its peer has acknowledged (TCP_INFO), not what the kernel took;
// an answer with nothing waiting for its peer counts as moving. An idle connection is looked at
// (FIONREAD) for a request that has already arrived when every slot is taken. A connection
// closed to make room is cancelled at once and its task ends by itself (one INFO line says
// why); at most kMaxEnding of them may still be ending. The server's task manager has that many places beyond
// the slots, so a new connection's task never waits for an old one to end. An address that lost a connection
// to make room (other than a kept-alive one waiting for its next request) is barred from making room at
// others' cost for twice the grace, which damps a chain of returns closing each other. Thread-safe: one lock
// guards the list. A listed socket is cancelled (or its TCP_INFO read) only under that lock, and a connection
// task leaves (under it) before its socket is deleted.
#pragma once

#include "KL_Mutex.h"
#include "KL_Types.h"
#include "UP_HttpServerLimits.h"
#include "UP_HttpSlotRules.h"

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

class KL_Socket;

class UP_HttpConnectionSlots {
public:
    // Connections closed to make room whose tasks may still be ending.
    static constexpr KL_Cardinal kMaxEnding = 32;
    using Phase = UP_HttpSlotPhase;

    // capacity: connection tasks that can run at once besides the ending ones (0: no bound,
    // nothing is ever closed to make room).
    explicit UP_HttpConnectionSlots(KL_Cardinal capacity);
    UP_HttpConnectionSlots(const UP_HttpConnectionSlots&) = delete;
    UP_HttpConnectionSlots& operator=(const UP_HttpConnectionSlots&) = delete;

    void SetLimits(const UP_HttpServerLimits& limits);
    UP_HttpServerLimits GetLimits();

    // Lists the connection (idle), closing a cheaper one to make room when needed; false (not
    // listed) when no room can be made now: then kept-alive connections are told to end after
    // their answers, one for each newcomer waiting. waited_ms: how long this newcomer has been
    // held; waiting: how many newcomers are held in all (0 when it is not held). Never waits.
    [[nodiscard]] bool Admit(KL_Socket* socket, int64_t waited_ms = 0, KL_Cardinal waiting = 0);
    // Takes the connection off the list (nothing when it is not listed).
    void Leave(KL_Socket* socket);
    // Notes what the connection does now. False when it was closed to make room (it then ends).
    bool SetPhase(KL_Socket* socket, Phase phase);
    // Samples how much of each answer its peer has acknowledged.
    void WatchProgress();
    // Whether the connection, starting an answer, is to end after it (told to make room).
    bool EndsAfterAnswer(KL_Socket* socket);
    // Whether the connection was closed to make room.
    bool IsClosed(KL_Socket* socket);

    KL_Cardinal GetCount();
    // How many answers have been written to their end (a sign that the server is serving).
    uint64_t GetAnswered();
    // The open connections of an address.
    KL_Cardinal GetHeld(uint32_t peer);
    // The address a connection is counted under.
    static uint32_t PeerOf(KL_Socket* socket);

private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        KL_Socket* m_Socket = nullptr;
        uint32_t m_Peer = 0;
        Phase m_Phase = Phase::Idle;
        bool m_Closed = false;
        bool m_Used = false;     // it has sent a request
        bool m_Yielding = false; // told to end after its answer
        Clock::time_point m_Since;
        // While answering: acknowledged bytes sampled about twice a second.
        UP_HttpAnswerProgress m_Progress;
    };

    Connection* Find(KL_Socket* socket);
    UP_HttpSlotView View(const Connection& connection, Clock::time_point now) const;
    void TakeSample(Connection& connection, Clock::time_point now) const;
    // Under the lock: whether the address may not make room at others' cost now.
    bool IsBarred(uint32_t peer, Clock::time_point now);

    KL_Mutex m_Lock;
    UP_HttpServerLimits m_Limits;
    KL_Cardinal m_Capacity;
    std::vector<Connection> m_Connections;
    std::vector<std::pair<uint32_t, Clock::time_point>> m_Barred; // address, until
    uint64_t m_Answered = 0;
};
