#include "KL_TlsClientSession.h"

#include "KL_TlsClientSessionImpl.h"

KL_TlsClientSession::KL_TlsClientSession(KL_TlsContext& context, const KL_InputStreamReference& input,
                                         const KL_OutputStreamReference& output)
    : KL_TlsSession(context, new KL_TlsClientSessionImpl(context, input, output)) {}

void KL_TlsClientSession::SetServerName(const char* name) {
    m_Impl->SetServerName(name);
}
