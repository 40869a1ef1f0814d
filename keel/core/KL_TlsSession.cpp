#include "KL_TlsSession.h"

#include "KL_TlsCertificateInfo.h"
#include "KL_TlsInputStream.h"
#include "KL_TlsOutputStream.h"
#include "KL_TlsSessionImpl.h"

KL_TlsSession::KL_TlsSession(KL_TlsContext& context, KL_TlsSessionImpl* impl)
    : m_Context(context), m_Impl(impl, true), m_InputStream(new KL_TlsInputStream(m_Impl)),
      m_OutputStream(new KL_TlsOutputStream(m_Impl)) {}

KL_TlsSession::~KL_TlsSession() = default;

KL_Result KL_TlsSession::Handshake() {
    return m_Impl->Handshake();
}

KL_Result KL_TlsSession::GetHandshakeStatus() {
    return m_Impl->GetHandshakeStatus();
}

KL_Result KL_TlsSession::GetPeerCertificateInfo(KL_TlsCertificateInfo& info, KL_Index position) {
    return m_Impl->GetPeerCertificateInfo(info, position);
}

KL_Result KL_TlsSession::VerifyPeerCertificate() {
    return m_Impl->VerifyPeerCertificate();
}

KL_Result KL_TlsSession::VerifyDnsNameMatch(const char* host) {
    return m_Impl->VerifyDnsNameMatch(host);
}

KL_Result KL_TlsSession::GetSessionId(KL_DataBuffer& id) {
    return m_Impl->GetSessionId(id);
}

uint32_t KL_TlsSession::GetCipherSuiteId() {
    return m_Impl->GetCipherSuiteId();
}

KL_Result KL_TlsSession::GetInputStream(KL_InputStreamReference& stream) {
    stream = m_InputStream;
    return KL_SUCCESS;
}

KL_Result KL_TlsSession::GetOutputStream(KL_OutputStreamReference& stream) {
    stream = m_OutputStream;
    return KL_SUCCESS;
}
