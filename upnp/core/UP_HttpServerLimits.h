// UP_HttpServerLimits: how long and how many connections of one peer a UP_HttpServer grants, so
// that quiet, slow or non-reading clients cannot hold its connection slots against the others.
// The defaults are the server's; tests set short ones through UP_HttpServer::SetLimits.
#pragma once

#include "KL_Types.h"

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
    // A client that takes nothing of an answer for this long is closed.
    KL_Timeout m_WriteTimeout = 30000;
    // An answer whose peer has acknowledged nothing of it for this long may be closed to make
    // room for a newcomer when every slot is taken (0: never).
    KL_Timeout m_StallTimeout = 3000;
    // Connections one peer address may hold at once: a further one replaces one of the peer's
    // own that can be freed (UP_HttpConnectionSlots), or is refused as soon as it is accepted.
    // 0: no bound.
    KL_Cardinal m_MaxConnectionsPerPeer = 16;
};
