// UP_HttpWaitingList: what becomes of the newcomers a UP_HttpServer holds while no room can be
// made for them, decided on a snapshot of the list (no sockets, no clock: UP_HttpListenTask makes
// the snapshot and does what is decided).
//
// - A newcomer is offered a slot at once only when nobody waits; otherwise it is held behind
//   those waiting, and offered a slot with them on the next pass. So a connection told to end to
//   make room, and its client's next connection, never come back ahead of those it was closed for.
// - The list is bounded: kMaxHeld newcomers in all, kMaxHeldPerPeer of one address, counting only
//   waiters whose clients are still there. A newcomer that would pass a bound makes the newest
//   waiter of the address with the most waiting (its own, when it is at its bound; among equals,
//   its own, then the address whose newest came last) refused: the newcomer itself when that is
//   its address, so what an address asked first keeps its place.
// - A waiter whose client has gone (it closed or reset before its request came) is dropped:
//   closed, nothing written, and never offered a slot.
// - A pass offers the slots to the waiters in turn: the one waiting longest first, whatever its
//   address holds.
// - A waiter is refused (answered 503) when it is offered a slot in vain after waiting the
//   limits' m_RoomWait, or, while answers keep finishing (one finished within m_RoomWait, so the
//   slots are moving), after kMaxWhileServing.
//
//   const UP_HttpWaitingList list(limits);
//   for (const UP_HttpWaitingList::Step& step : list.Pass(waiters, since_answer)) { ... }
#pragma once

#include "KL_Types.h"
#include "UP_HttpServerLimits.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A held newcomer as the waiting list sees it.
struct UP_HttpWaiterView {
    uint32_t m_Peer = 0;
    int64_t m_Waited = 0; // milliseconds since it was held
    bool m_Gone = false;  // its client has closed or reset the connection before its request came
};

class UP_HttpWaitingList {
public:
    static constexpr size_t kMaxHeld = 128;
    static constexpr size_t kMaxHeldPerPeer = 16;
    // How long a newcomer may wait while the server keeps finishing answers, in milliseconds.
    static constexpr int64_t kMaxWhileServing = 10000;

    enum class Fate {
        Hold,   // stays in the list, not offered a slot now
        Offer,  // offered a slot; stays in the list when none is made
        Last,   // offered a slot; refused when none is made
        Refuse, // answered 503 now
        Drop,   // its client has gone: closed, nothing written
    };
    // m_Index: in the snapshot of waiters; its size for the newcomer.
    struct Step {
        size_t m_Index;
        Fate m_Fate;
    };

    explicit UP_HttpWaitingList(const UP_HttpServerLimits& limits);

    // A newcomer arrives: the gone waiters dropped, at most one refused to keep the bounds, and
    // the newcomer's own step (Offer, Hold or Refuse, last; whether it has gone is not asked).
    // Waiters that are not named stay as they are.
    std::vector<Step> Arrive(const std::vector<UP_HttpWaiterView>& waiters,
                             const UP_HttpWaiterView& newcomer) const;
    // A pass over the list: the gone waiters dropped, then every other one offered a slot (Offer
    // or Last), in turn. since_answer: milliseconds since an answer last finished.
    std::vector<Step> Pass(const std::vector<UP_HttpWaiterView>& waiters, int64_t since_answer) const;

private:
    static std::vector<Step> Drops(const std::vector<UP_HttpWaiterView>& waiters);

    UP_HttpServerLimits m_Limits;
};
