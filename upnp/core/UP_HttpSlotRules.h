// UP_HttpSlotRules: which connection a UP_HttpServer closes to make room for a newcomer when every
// slot is taken, decided on a snapshot of what each listed connection is doing (no sockets, no
// clock: UP_HttpConnectionSlots makes the snapshot and does what is decided).
//
// A connection is valued by what it does. Cheapest first:
//   1. idle, never having sent a request; 2. idle between requests (kept alive), both only once
//      idle for m_RoomGrace, so that a control point between two requests keeps its connection;
//   3. part way through a request's head or body for m_RoomGrace;
//   4. an answer its peer acknowledges more slowly than m_RateFloor over the last m_RateWindow
//      (a pause it is in left out), judged once older than twice m_RoomGrace;
//   5. an answer of which nothing was acknowledged for m_PauseLimit while some of it waits.
// A request being worked on, an answer moving at m_RateFloor or more, and an answer with nothing
// waiting for its peer (the server itself is slow to make it) never give way. Among equally
// cheap ones the connection of the address that holds the most goes first, then the one longest
// in that state.
//
// Who may take room: a newcomer may free any cheap connection of its own address, and an idle or
// receiving one of any address; an answer only of an address holding more than its own, or as
// many when its own holds fewer than m_FairShare. An address at m_MaxConnectionsPerPeer frees
// only its own. An address barred for a while (it lost a connection to make room) frees only its
// own: so a closed connection's return does not close another at once, and so on.
//
//   UP_HttpSlotRules rules(limits, 99);
//   const int room = rules.MakeRoom(snapshot, peer, barred);  // kAdmit, kWait or an index
#pragma once

#include "KL_Types.h"
#include "UP_HttpServerLimits.h"

#include <cstdint>
#include <vector>

// What a connection is doing.
enum class UP_HttpSlotPhase {
    Idle,      // waiting for a request
    Receiving, // part way through a request's head or body
    Working,   // its request is being answered (the handler runs)
    Answering, // writing its answer
};

// A listed connection as the rules see it; times in milliseconds up to now.
struct UP_HttpSlotView {
    uint32_t m_Peer = 0;
    UP_HttpSlotPhase m_Phase = UP_HttpSlotPhase::Idle;
    bool m_Used = false;   // it has sent a request
    int64_t m_InPhase = 0; // since its phase began
    // Answering only: whether bytes of the answer wait for the peer, since when the peer has
    // acknowledged nothing (0: it just did), and what it acknowledged over the last
    // m_RateWindow (over the whole answer when younger).
    bool m_Waiting = false;
    int64_t m_Paused = 0;
    uint64_t m_Acknowledged = 0;
};

class UP_HttpSlotRules {
public:
    enum class Cost { Unused, Idle, Receiving, SlowAnswer, PausedAnswer, Kept };
    static constexpr int kAdmit = -1; // a slot is free
    static constexpr int kWait = -2;  // nothing may be freed now

    // capacity: slots (0: no bound).
    UP_HttpSlotRules(const UP_HttpServerLimits& limits, KL_Cardinal capacity);

    // What closing the connection costs; age: how long it has been in that state.
    Cost Classify(const UP_HttpSlotView& connection, int64_t& age) const;
    // For a newcomer of peer: kAdmit, kWait, or the index in open of the connection to close.
    // barred: its address may not make room at others' cost now.
    int MakeRoom(const std::vector<UP_HttpSlotView>& open, uint32_t peer, bool barred) const;
    // Whether losing the connection bars its address from making room for a while.
    static bool Bars(Cost cost) { return cost != Cost::Idle; }
    // Which of two waiting newcomers gets a freed slot first: the one whose address holds the
    // least, then the one waiting longest.
    static bool ComesFirst(KL_Cardinal held, int64_t waited, KL_Cardinal other_held, int64_t other_waited) {
        return held != other_held ? held < other_held : waited > other_waited;
    }

private:
    Cost ClassifyAnswer(const UP_HttpSlotView& connection, int64_t& age) const;
    bool MayFree(Cost cost, KL_Cardinal holder, KL_Cardinal own, bool same, bool barred, bool at_max) const;

    UP_HttpServerLimits m_Limits;
    KL_Cardinal m_Capacity;
};
