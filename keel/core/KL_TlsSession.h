// KL_TlsSession: the front of a TLS session (client or server) over a pair of runtime streams.
// Its decrypted streams, the front and whoever holds them share the implementation, which lives
// as long as any of them.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_InputStream.h"
#include "KL_OutputStream.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_Types.h"

#include <cstdint>

class KL_TlsCertificateInfo;
class KL_TlsContext;
class KL_TlsSessionImpl;

class KL_TlsSession {
public:
    virtual ~KL_TlsSession();
    KL_TlsSession(const KL_TlsSession&) = delete;
    KL_TlsSession& operator=(const KL_TlsSession&) = delete;

    [[nodiscard]] virtual KL_Result Handshake();
    virtual KL_Result GetHandshakeStatus();
    virtual KL_Result GetPeerCertificateInfo(KL_TlsCertificateInfo& info, KL_Index position = 0);
    virtual KL_Result VerifyPeerCertificate();
    virtual KL_Result VerifyDnsNameMatch(const char* host);
    virtual KL_Result GetSessionId(KL_DataBuffer& id);
    virtual uint32_t GetCipherSuiteId();
    virtual KL_Result GetInputStream(KL_InputStreamReference& stream);
    virtual KL_Result GetOutputStream(KL_OutputStreamReference& stream);

protected:
    KL_TlsSession(KL_TlsContext& context, KL_TlsSessionImpl* impl);

    KL_TlsContext& m_Context;
    KL_Reference<KL_TlsSessionImpl> m_Impl;
    KL_InputStreamReference m_InputStream;
    KL_OutputStreamReference m_OutputStream;
};
