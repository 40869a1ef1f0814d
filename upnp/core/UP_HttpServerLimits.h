// UP_HttpServerLimits: how long and how many connections of one peer a UP_HttpServer grants, and
// what a connection must be doing to keep its slot when every slot is wanted, so that quiet, slow
// or non-reading clients cannot hold the connection slots against the others.
// The defaults are the server's; tests set short ones through UP_HttpServer::SetLimits.
#pragma once

#include "KL_Types.h"

#include <cstdint>

struct UP_HttpServerLimits {
    // Waiting for the first byte of a request (the first one of a connection, or the next one on
    // a kept-alive connection).
    KL_Timeout m_IdleTimeout = 5000;
    // A whole request head, from its first byte.
    KL_Timeout m_HeadDeadline = 10000;
    // A whole request body (SOAP, GENA), from the end of its head.
    KL_Timeout m_BodyDeadline = 10000;
    // Any single read outside a head or body (the drain after a refused body).
    KL_Timeout m_ReadTimeout = 60000;
    // A client that takes nothing of an answer for this long is closed. Long, so that a film
    // paused for minutes reads on where it stopped (a player need not reconnect): a paused answer
    // gives way when its slot is wanted (m_PauseLimit), and a peer gone for good is found sooner
    // by TCP's own retransmission limit.
    KL_Timeout m_WriteTimeout = 600000;
    // An address's share of the slots. It matters only when every slot is taken (while any is
    // free every newcomer is admitted at once): then what an address holds beyond this is the
    // first to give way to another address's newcomers, answers too (never a request being
    // worked on), and a newcomer of an address holding this many frees only its own. 0: no share.
    KL_Cardinal m_MaxConnectionsPerPeer = 16;

    // When every slot is taken (UP_HttpSlotRules):
    // A connection idle, or part way through a request, for less than this keeps its slot; so
    // does an answer younger than twice this. An address that lost a connection to make room
    // (other than a kept-alive one waiting for its next request) may not make room at others'
    // cost for twice this.
    KL_Timeout m_RoomGrace = 1000;
    // An answer whose peer acknowledges less than this many bytes a second over the last
    // m_RateWindow (leaving out a pause it is in, for an address within m_FairShare) may give
    // way (see m_AnswerWait). Below the lowest audio rate (64 kbit/s, 8 KB/s): music and films
    // are listeners and keep their slots, while a reader that takes a small receive buffer every
    // few seconds (about 2 KB/s) does not hold one against newcomers. The price: 99 listeners at
    // 7 KB/s (about 680 KB/s in all) can hold every slot.
    uint64_t m_RateFloor = 6 * 1024;
    KL_Timeout m_RateWindow = 10000;
    // An answer of which nothing was acknowledged for this long, while some of it waits, may
    // give way (before the slow ones); with slots to spare it waits for its peer (m_WriteTimeout).
    // This pause is kept for an address holding at most m_FairShare connections; beyond that, an
    // answer that makes no progress for m_RoomGrace gives way, and its rate counts its pause.
    KL_Timeout m_PauseLimit = 20000;
    // A newcomer whose address holds fewer than this may take the place of a slow answer of an
    // address holding as many as its own (more than its own otherwise). An address holding at
    // most this many keeps its paused answers for m_PauseLimit.
    KL_Cardinal m_FairShare = 4;
    // An answer gives way only to a newcomer that has waited this long, so that the connections
    // of a burst can finish and free their slots first (cheaper ones give way at once); then the
    // one that has acknowledged nothing for the longest goes, else the slowest, whatever else is
    // in the slots.
    KL_Timeout m_AnswerWait = 500;
    // A connection is told to end after its answer (to make room for a newcomer) only once it has
    // held its slot this long: each client has a turn, and many clients on few slots reconnect
    // once a turn rather than once a request.
    KL_Timeout m_Turn = 1000;
    // How long a newcomer for which no room can be made waits for it before it is answered 503.
    KL_Timeout m_RoomWait = 1500;
};
