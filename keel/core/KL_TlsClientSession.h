// KL_TlsClientSession: the client side of a TLS session over a pair of runtime streams.
#pragma once

#include "KL_TlsSession.h"

class KL_TlsClientSession : public KL_TlsSession {
public:
    KL_TlsClientSession(KL_TlsContext& context, const KL_InputStreamReference& input,
                        const KL_OutputStreamReference& output);
    // The server's name, sent in the handshake (server name indication) unless it is an IP
    // address. Call before Handshake.
    void SetServerName(const char* name);
};
