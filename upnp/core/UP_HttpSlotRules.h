// UP_HttpSlotRules: what a UP_HttpServer does with its connection slots when a newcomer arrives,
// decided on a snapshot of what each listed connection is doing (no sockets, no clock:
// UP_HttpConnectionSlots makes the snapshot and does what is decided).
//
// Room first: while any slot is free, every newcomer is admitted at once. When every slot is
// taken, a connection is valued by what it does. Cheapest first:
//   0. the drain after an answer that ends the connection, once nothing it sent waits for its
//      peer (at once; while some of its answer is unacknowledged it is judged as that answer);
//   1. idle, never having sent a request; 2. idle between requests (kept alive), both only once
//      idle for m_RoomGrace, so that a control point between two requests keeps its connection
//      (one whose next request has already arrived is not idle);
//   3. part way through a request's head or body for m_RoomGrace;
//   4. an answer that makes no progress: nothing acknowledged for m_PauseLimit while some of it
//      waits (a film paused on a busy server), or, for an address holding more than m_FairShare,
//      for m_RoomGrace;
//   5. an answer its peer acknowledges more slowly than m_RateFloor over the last m_RateWindow,
//      judged once older than twice m_RoomGrace (within the fair share a pause it is in is left
//      out: a viewer who paused a moment is judged by how it read before);
//   6. any other connection of an address holding more than m_MaxConnectionsPerPeer (its share),
//      but a request being worked on.
// A request being worked on, an answer moving at m_RateFloor or more, and an answer with nothing
// waiting for its peer (the server itself is slow to make it) never give way otherwise. An answer
// gives way only to a newcomer that has waited m_AnswerWait (a burst's own connections finish
// first), but then whatever else is in the slots: the one that has acknowledged nothing for the
// longest, else the slowest. The drain goes first, then what an address holds beyond its share,
// then the rest; within each the cheapest, then the connection of the address holding the most,
// then the one longest in that state (answers: the longest paused, the slowest).
//
// Who may take room: a newcomer may free any connection of its own address that gives way, and
// a cheap one (0 to 3) or one beyond a share of any address; an answer only of an address
// holding more than its own, or as many when its own holds fewer than m_FairShare. An address
// at its share frees only its own, and so does one barred for a while (it lost a connection to
// make room, BarFor): so a closed connection's return does not close another at once.
//
// When nothing may be freed now, a kept-alive connection that has had its turn (m_Turn) is told
// to end after the answer it is on (Yields; each newcomer tells one): not an answer under way if
// it can be helped, of the
// address holding the most that the newcomer may take an answer from, so that a connection that
// keeps polling still gives way. One already told frees nothing until its answer ends, so it
// counts for nothing here.
//
//   UP_HttpSlotRules rules(limits, 99);
//   const int room = rules.MakeRoom(snapshot, peer, barred, waited);  // kAdmit, kWait or an index
#pragma once

#include "KL_Types.h"
#include "UP_HttpServerLimits.h"

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

// What a connection is doing.
enum class UP_HttpSlotPhase {
    Idle,      // waiting for a request
    Receiving, // part way through a request's head or body
    Working,   // its request is being answered (the handler runs)
    Answering, // writing its answer
    Draining,  // its last answer is out: reading and dropping what the client still sends
};

// A listed connection as the rules see it; times in milliseconds up to now.
struct UP_HttpSlotView {
    uint32_t m_Peer = 0;
    UP_HttpSlotPhase m_Phase = UP_HttpSlotPhase::Idle;
    bool m_Used = false;           // it has sent a request
    bool m_RequestWaiting = false; // idle, but its next request has come (or its last answer is on its way)
    bool m_Yielding = false;       // told to end after the answer it is on
    int64_t m_InPhase = 0;         // since its phase began
    int64_t m_Listed = 0;          // since it was admitted
    // Answering and draining only: whether bytes of the answer wait for the peer, since when the peer has
    // acknowledged nothing (0: it just did), and what it acknowledged over the last
    // m_RateWindow (over the whole answer when younger). See UP_HttpAnswerProgress.
    bool m_Waiting = false;
    int64_t m_Paused = 0;
    uint64_t m_Acknowledged = 0;
};

// The progress of one answer, from samples of what its peer has acknowledged (times in ms).
class UP_HttpAnswerProgress {
public:
    void Clear();
    // A sample: the bytes the peer has acknowledged in all, and whether any it was sent waits
    // for that. window: how far back the acknowledged bytes are counted.
    void Add(int64_t time, uint64_t acknowledged, bool waiting, int64_t window);
    // Progress cannot be seen: the answer counts as moving (nothing waiting).
    void AddUnknown() { m_Waiting = false; }
    // The answer's fields of a view as of the last sample (none before the first).
    void Fill(UP_HttpSlotView& view) const;

private:
    std::deque<std::pair<int64_t, uint64_t>> m_Samples; // time, acknowledged
    int64_t m_Progress = 0;                             // when the acknowledged bytes last grew
    bool m_Waiting = false;
};

class UP_HttpSlotRules {
public:
    enum class Cost { Draining, Unused, Idle, Receiving, PausedAnswer, SlowAnswer, BeyondShare, Kept };
    static constexpr int kAdmit = -1; // a slot is free
    static constexpr int kWait = -2;  // nothing may be freed now

    // capacity: slots (0: no bound).
    UP_HttpSlotRules(const UP_HttpServerLimits& limits, KL_Cardinal capacity);

    // What closing the connection costs; holder: what its address holds; beyond: that is more than
    // its share (and it is not the newcomer's). age: how long it has been in that state (answers:
    // paused, or how slow).
    Cost Classify(const UP_HttpSlotView& connection, KL_Cardinal holder, bool beyond, int64_t& age) const;
    // For a newcomer of peer that has waited waited ms: kAdmit, kWait, or the index in open of
    // the connection to close (cost: what closing it costs). barred: its address may not make
    // room at others' cost now.
    int MakeRoom(const std::vector<UP_HttpSlotView>& open, uint32_t peer, bool barred, int64_t waited = 0,
                 Cost* cost = nullptr) const;
    // When MakeRoom answers kWait: the indexes in open of at most wanted connections to tell to
    // end after the answer they are on (those told already are not told again).
    std::vector<size_t> Yields(const std::vector<UP_HttpSlotView>& open, uint32_t peer, bool barred,
                               KL_Cardinal wanted = 1) const;
    // For how long (ms, 0: not) an address that lost a connection of that cost to make room for
    // a newcomer (own: of the same address) may not make room at others' cost.
    int64_t BarFor(Cost cost, bool own) const;
    static const char* Name(Cost cost);

private:
    Cost ClassifyAnswer(const UP_HttpSlotView& connection, KL_Cardinal holder, int64_t& age) const;
    // Whether a newcomer of an address holding own (at its share: at_max) may take from a
    // connection of an address holding holder: an answer (answer) or a cheaper one.
    bool MayTake(bool answer, KL_Cardinal holder, KL_Cardinal own, bool same, bool barred, bool at_max) const;
    // Whether such a newcomer may tell the connection to end after its answer.
    bool MayTellToEnd(const UP_HttpSlotView& connection, KL_Cardinal holder, KL_Cardinal own, bool same,
                      bool barred, bool at_max) const;
    bool IsFull(const std::vector<UP_HttpSlotView>& open) const;

    UP_HttpServerLimits m_Limits;
    KL_Cardinal m_Capacity;
};
