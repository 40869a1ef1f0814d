// UP_HttpConnectionSlots: the connections of one UP_HttpServer, by peer address, and what each of
// them is doing, so that the listen task can make room for a newcomer when every slot is taken
// without ever waiting. Which connection gives way is decided by UP_HttpSlotRules on a snapshot
// of the list; this class keeps the list, samples the answers' progress and carries out what the
// rules chose, through a UP_HttpSocketProbe (the system's, or a test's fake).
//
//   std::vector<Newcomer> pass = ...;  // the held newcomers in turn
//   slots.Offer(pass);       // one snapshot for all: each admitted, or held (and one told to end)
//   slots.WatchProgress();   // the listen task, about twice a second: how fast answers move
//   if (slots.EndsAfterAnswer(socket)) { the answer carries "Connection: close" }
//
// An answer's progress (and a drain's, after the last answer) is what its peer has acknowledged
// (TCP_INFO), not what the kernel took; one with nothing waiting for its peer counts as moving.
// An idle connection is looked at (FIONREAD) for a request that has already arrived when every
// slot is taken, once a pass. A connection closed to make room is cancelled at once and its task
// ends by itself (one INFO line says why); at most kMaxEnding of them may still be ending. The
// server's task manager has that many places beyond the slots, so a new connection's task never
// waits for an old one to end. An address that lost a connection to make room (other than a
// kept-alive one waiting for its next request) is barred from making room at others' cost for
// twice the grace, which damps a chain of returns closing each other. A newcomer that gets no
// room tells one kept-alive connection to end after its answer, once. Thread-safe: one lock
// guards the list. A listed socket is cancelled (or its TCP_INFO read) only under that lock, and
// a connection task leaves (under it) before its socket is deleted.
#pragma once

#include "KL_Mutex.h"
#include "KL_Types.h"
#include "UP_HttpServerLimits.h"
#include "UP_HttpSlotRules.h"
#include "UP_HttpSocketProbe.h"

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

    // A newcomer offered a slot.
    struct Newcomer {
        KL_Socket* m_Socket = nullptr;
        uint32_t m_Peer = 0;     // its address (PeerOf)
        int64_t m_Waited = 0;    // ms since it was held (0: it just came)
        bool m_Told = false;     // it has told a connection to end after its answer (in and out)
        bool m_Admitted = false; // out: listed
    };

    // capacity: connection tasks that can run at once besides the ending ones (0: no bound,
    // nothing is ever closed to make room). probe: null for the system's (not owned).
    explicit UP_HttpConnectionSlots(KL_Cardinal capacity, UP_HttpSocketProbe* probe = nullptr);
    UP_HttpConnectionSlots(const UP_HttpConnectionSlots&) = delete;
    UP_HttpConnectionSlots& operator=(const UP_HttpConnectionSlots&) = delete;

    void SetLimits(const UP_HttpServerLimits& limits);
    UP_HttpServerLimits GetLimits();

    // Offers the newcomers a slot in turn, on one snapshot: each is listed (idle), a cheaper
    // connection closed to make room when needed, or not (m_Admitted false); one not listed that
    // has not told a connection to end after its answer tells one if it may. Never waits.
    void Offer(std::vector<Newcomer>& newcomers);
    // Offer for one.
    [[nodiscard]] bool Admit(Newcomer& newcomer);
    // Takes the connection off the list (nothing when it is not listed).
    void Leave(KL_Socket* socket);
    // Notes what the connection does now. False when it was closed to make room (it then ends).
    bool SetPhase(KL_Socket* socket, Phase phase);
    // Samples how much of each answer (and drain) its peer has acknowledged.
    void WatchProgress();
    // Whether the connection, starting or ending an answer, is to end after it (told to make room).
    bool EndsAfterAnswer(KL_Socket* socket);
    // Whether the connection was closed to make room.
    bool IsClosed(KL_Socket* socket);

    KL_Cardinal GetCount();
    // Whether a slot is free (a newcomer would be admitted without closing anything).
    bool HasRoom();
    // How many answers have been written to their end (a sign that the server is serving).
    uint64_t GetAnswered();
    // The address a connection is counted under.
    uint32_t PeerOf(KL_Socket* socket) { return m_Probe.PeerOf(socket); }

private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        KL_Socket* m_Socket = nullptr;
        uint32_t m_Peer = 0;
        Phase m_Phase = Phase::Idle;
        bool m_Closed = false;
        bool m_Used = false;        // it has sent a request
        bool m_Yielding = false;    // told to end after its answer
        Clock::time_point m_Since;  // in its phase
        Clock::time_point m_Listed; // admitted
        // While answering or draining: acknowledged bytes sampled about twice a second.
        UP_HttpAnswerProgress m_Progress;
    };

    // The open connections as the rules see them, and where each is in m_Connections.
    struct Snapshot {
        std::vector<UP_HttpSlotView> m_Open;
        std::vector<size_t> m_Index;
        bool m_Looked = false; // idle ones looked at for a request that has come
    };

    Connection* Find(KL_Socket* socket);
    UP_HttpSlotView View(const Connection& connection, Clock::time_point now) const;
    void TakeSample(Connection& connection, Clock::time_point now) const;
    // Under the lock: one newcomer of a pass.
    void OfferOne(Newcomer& newcomer, const UP_HttpSlotRules& rules, Snapshot& snapshot,
                  Clock::time_point now);
    // Under the lock: closes the connection at position i of the snapshot to make room.
    void Close(Snapshot& snapshot, size_t i, UP_HttpSlotRules::Cost cost, uint32_t peer,
               const UP_HttpSlotRules& rules, Clock::time_point now);
    // Under the lock: whether an idle connection is not done yet: its next request has come, or
    // its last answer still waits for its peer.
    bool IsUnfinished(KL_Socket* socket);
    // Under the lock: whether the address may not make room at others' cost now.
    bool IsBarred(uint32_t peer, Clock::time_point now);

    KL_Mutex m_Lock;
    UP_HttpSocketProbe& m_Probe;
    UP_HttpServerLimits m_Limits;
    KL_Cardinal m_Capacity;
    std::vector<Connection> m_Connections;
    std::vector<std::pair<uint32_t, Clock::time_point>> m_Barred; // address, until
    uint64_t m_Answered = 0;
};
