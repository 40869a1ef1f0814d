// UP_ConnectionBuffers: big buffers that a connection reuses from one request to the next, so
// that large answers (a Browse page, its SOAP envelope) neither allocate nor fault in fresh memory
// on every request.
//
// Each connection runs on a thread of its own (UP_HttpServerTask), so the buffers are kept per
// thread and live as long as the connection. A buffer that grew beyond kKeptCapacity is let go
// only when it is next asked for: an idle connection keeps its last large answer (however large)
// until its next request, or until it ends.
//
//   KL_String& didl = UP_ConnectionBuffers::Text(); // empty; valid until the next Text() here
//   KL_MemoryStreamReference body = UP_ConnectionBuffers::AnswerStream();
#pragma once

#include "KL_MemoryStream.h"
#include "KL_String.h"
#include "KL_Types.h"

class UP_ConnectionBuffers {
public:
    static constexpr KL_Size kKeptCapacity = 2 * 1024 * 1024;

    // An empty string of this connection, for building one text at a time.
    static KL_String& Text();
    // An empty memory stream for an answer's body: this connection's own, unless the previous
    // answer still holds it (then a new one, kept from now on).
    static KL_MemoryStreamReference AnswerStream();
};
