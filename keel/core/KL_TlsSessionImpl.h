// KL_TlsSessionImpl: one TLS session over a pair of runtime streams (the OpenSSL session, made
// at the first handshake, and the stream adapter that carries its ciphertext). The client and
// server kinds (KL_TlsClientSessionImpl, KL_TlsServerSessionImpl) differ in their handshake. One lock guards
// every OpenSSL call of the session.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_InputStream.h"
#include "KL_Mutex.h"
#include "KL_OutputStream.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_TlsStreamAdapter.h"

#include <cstdint>

class KL_TlsCertificateInfo;
class KL_TlsContext;
struct ssl_st;

class KL_TlsSessionImpl {
public:
    KL_TlsSessionImpl(KL_TlsContext& context, const KL_InputStreamReference& input,
                      const KL_OutputStreamReference& output);
    virtual ~KL_TlsSessionImpl();
    KL_TlsSessionImpl(const KL_TlsSessionImpl&) = delete;
    KL_TlsSessionImpl& operator=(const KL_TlsSessionImpl&) = delete;

    [[nodiscard]] virtual KL_Result Handshake() = 0;
    // KL_ERROR_INVALID_STATE before the handshake has ended; else its result.
    virtual KL_Result GetHandshakeStatus();
    virtual KL_Result VerifyPeerCertificate();
    // 0 when the host matches the peer certificate's common name or one of its DNS names, -1
    // otherwise; KL_ERROR_NO_SUCH_ITEM without a peer certificate.
    virtual KL_Result VerifyDnsNameMatch(const char* host);
    virtual KL_Result GetSessionId(KL_DataBuffer& id);
    // The cipher suite's IANA number; 0 before the session is established.
    virtual uint32_t GetCipherSuiteId();
    // position 0 is the peer's own certificate, then its chain.
    virtual KL_Result GetPeerCertificateInfo(KL_TlsCertificateInfo& info, KL_Index position);

    // The name sent for server name indication (clients; not for an IP address literal).
    void SetServerName(const char* name);

    // Decrypted bytes; 0 bytes is never an answer (the call waits for application data).
    [[nodiscard]] KL_Result Read(void* buffer, KL_Size size, KL_Size& bytes_read);
    [[nodiscard]] KL_Result Write(const void* buffer, KL_Size size, KL_Size& bytes_written);

protected:
    // Makes the OpenSSL session on the first call, then runs the handshake.
    KL_Result RunHandshake(bool client);

private:
    bool IsEstablished() const { return m_Session != nullptr && m_HandshakeStatus != -1; }
    int FailureValue(int ret);

    KL_TlsContext& m_Context;
    ssl_st* m_Session = nullptr;
    KL_TlsStreamAdapter m_Adapter;
    KL_Mutex m_Lock;
    KL_String m_ServerName;
    int m_HandshakeStatus = -1; // library value; -1 while in progress
};
