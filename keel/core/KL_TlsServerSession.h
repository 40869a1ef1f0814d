// KL_TlsServerSession: the server side of a TLS session over a pair of runtime streams; its
// context holds the own key and certificate.
#pragma once

#include "KL_TlsSession.h"

class KL_TlsServerSession : public KL_TlsSession {
public:
    KL_TlsServerSession(KL_TlsContext& context, const KL_InputStreamReference& input,
                        const KL_OutputStreamReference& output);
};
