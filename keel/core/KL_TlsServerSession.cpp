#include "KL_TlsServerSession.h"

#include "KL_TlsServerSessionImpl.h"

KL_TlsServerSession::KL_TlsServerSession(KL_TlsContext& context, const KL_InputStreamReference& input,
                                         const KL_OutputStreamReference& output)
    : KL_TlsSession(context, new KL_TlsServerSessionImpl(context, input, output)) {}
