#include "KL_TlsSessionImpl.h"

#include "KL_Check.h"
#include "KL_IpAddress.h"
#include "KL_Log.h"
#include "KL_TlsCertificateInfo.h"
#include "KL_TlsContext.h"
#include "KL_TlsHostName.h"
#include "KL_TlsLibraryResult.h"

#include <climits>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

KL_SET_LOCAL_LOGGER("keel.tls");

namespace {

int AcceptAnyCertificate(int, X509_STORE_CTX*) {
    return 1;
}

// The verification mode: a client checks the server unless told to verify later; a server
// asks for a client certificate only when the context requires one.
void SetVerifyMode(SSL* ssl, uint32_t options, bool client) {
    const bool later = (options & KL_TlsContext::OPTION_VERIFY_LATER) != 0;
    if (client) {
        SSL_set_verify(ssl, later ? SSL_VERIFY_NONE : SSL_VERIFY_PEER, nullptr);
    } else if ((options & KL_TlsContext::OPTION_REQUIRE_CLIENT_CERTIFICATE) == 0) {
        SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    } else if (later) {
        SSL_set_verify(ssl, SSL_VERIFY_PEER, &AcceptAnyCertificate);
    } else {
        SSL_set_verify(ssl, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
}

bool IsAddressLiteral(const KL_String& name) {
    KL_IpAddress address;
    return name.Find(':') >= 0 || KL_SUCCEEDED(address.Parse(name));
}

} // namespace

KL_TlsSessionImpl::KL_TlsSessionImpl(KL_TlsContext& context, const KL_InputStreamReference& input,
                                     const KL_OutputStreamReference& output)
    : m_Context(context), m_Adapter(input, output) {}

KL_TlsSessionImpl::~KL_TlsSessionImpl() {
    SSL_free(m_Session); // frees the BIO too
}

void KL_TlsSessionImpl::SetServerName(const char* name) {
    KL_AutoLock lock(m_Lock);
    m_ServerName = name != nullptr ? name : "";
}

int KL_TlsSessionImpl::FailureValue(int ret) {
    return KL_TlsLibraryValueFromOpenSsl(m_Session, ret, m_Adapter.TakeStreamValue());
}

KL_Result KL_TlsSessionImpl::RunHandshake(bool client) {
    KL_AutoLock lock(m_Lock);
    if (m_Session == nullptr) {
        if (m_Context.GetLibraryContext() == nullptr) {
            return KL_ERROR_INVALID_STATE;
        }
        m_Session = SSL_new(m_Context.GetLibraryContext());
        BIO* bio = m_Session != nullptr ? m_Adapter.CreateBio() : nullptr;
        if (bio == nullptr) {
            return KL_ERROR_OUT_OF_MEMORY;
        }
        SSL_set_bio(m_Session, bio, bio);
        SetVerifyMode(m_Session, m_Context.GetOptions(), client);
        if (client) {
            SSL_set_connect_state(m_Session);
            if (!m_ServerName.IsEmpty() && !IsAddressLiteral(m_ServerName)) {
                SSL_set_tlsext_host_name(m_Session, m_ServerName.GetChars());
            }
        } else {
            SSL_set_accept_state(m_Session);
        }
    }
    if (m_HandshakeStatus == -1) {
        ERR_clear_error();
        (void)m_Adapter.TakeStreamValue();
        const int ret = SSL_do_handshake(m_Session);
        m_HandshakeStatus = ret == 1 ? 0 : FailureValue(ret);
        if (m_HandshakeStatus == -1) {
            m_HandshakeStatus = -260; // OpenSSL gave up without telling why
        }
    }
    return KL_TlsMapLibraryResult(m_HandshakeStatus);
}

KL_Result KL_TlsSessionImpl::GetHandshakeStatus() {
    KL_AutoLock lock(m_Lock);
    if (!IsEstablished()) {
        return KL_ERROR_INVALID_STATE;
    }
    return KL_TlsMapLibraryResult(m_HandshakeStatus);
}

KL_Result KL_TlsSessionImpl::VerifyPeerCertificate() {
    KL_AutoLock lock(m_Lock);
    if (!IsEstablished()) {
        return KL_ERROR_INVALID_STATE;
    }
    if (SSL_get0_peer_certificate(m_Session) == nullptr) {
        return KL_TlsMapLibraryResult(KL_TLS_LIBRARY_CERTIFICATE_FAILURE);
    }
    return KL_TlsMapLibraryResult(KL_TlsLibraryValueFromVerifyResult(SSL_get_verify_result(m_Session)));
}

KL_Result KL_TlsSessionImpl::VerifyDnsNameMatch(const char* host) {
    if (host == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_AutoLock lock(m_Lock);
    if (!IsEstablished()) {
        return KL_ERROR_INVALID_STATE;
    }
    const X509* certificate = SSL_get0_peer_certificate(m_Session);
    if (certificate == nullptr) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    KL_TlsCertificateInfo info;
    (void)info.Read(certificate);
    if (KL_TlsMatchHostName(info.subject.common_name.GetChars(), host)) {
        return KL_SUCCESS;
    }
    for (const KL_String& name : info.alternate_names) {
        if (KL_TlsMatchHostName(name.GetChars(), host)) {
            return KL_SUCCESS;
        }
    }
    return KL_FAILURE;
}

KL_Result KL_TlsSessionImpl::GetSessionId(KL_DataBuffer& id) {
    KL_AutoLock lock(m_Lock);
    (void)id.SetDataSize(0);
    if (!IsEstablished() || m_HandshakeStatus != 0) {
        return KL_ERROR_INVALID_STATE;
    }
    unsigned int length = 0;
    const SSL_SESSION* session = SSL_get_session(m_Session);
    const unsigned char* bytes = session != nullptr ? SSL_SESSION_get_id(session, &length) : nullptr;
    return bytes != nullptr ? id.SetData(bytes, length) : KL_SUCCESS;
}

uint32_t KL_TlsSessionImpl::GetCipherSuiteId() {
    KL_AutoLock lock(m_Lock);
    if (!IsEstablished() || m_HandshakeStatus != 0) {
        return 0;
    }
    const SSL_CIPHER* cipher = SSL_get_current_cipher(m_Session);
    return cipher != nullptr ? SSL_CIPHER_get_protocol_id(cipher) : 0;
}

KL_Result KL_TlsSessionImpl::GetPeerCertificateInfo(KL_TlsCertificateInfo& info, KL_Index position) {
    KL_AutoLock lock(m_Lock);
    if (!IsEstablished()) {
        return KL_ERROR_INVALID_STATE;
    }
    const X509* certificate = nullptr;
    if (position == 0) {
        certificate = SSL_get0_peer_certificate(m_Session);
    } else {
        // A client's chain starts with the server's own certificate; a server's does not.
        STACK_OF(X509)* chain = SSL_get_peer_cert_chain(m_Session);
        const int index = static_cast<int>(SSL_is_server(m_Session) ? position - 1 : position);
        if (chain != nullptr && position < INT_MAX && index < sk_X509_num(chain)) {
            certificate = sk_X509_value(chain, index);
        }
    }
    if (certificate == nullptr) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    return info.Read(certificate);
}

KL_Result KL_TlsSessionImpl::Read(void* buffer, KL_Size size, KL_Size& bytes_read) {
    bytes_read = 0;
    KL_AutoLock lock(m_Lock);
    if (!IsEstablished() || m_HandshakeStatus != 0) {
        return KL_ERROR_INVALID_STATE;
    }
    ERR_clear_error();
    (void)m_Adapter.TakeStreamValue();
    const int ret = SSL_read(m_Session, buffer, static_cast<int>(size > INT_MAX ? INT_MAX : size));
    if (ret > 0) {
        bytes_read = static_cast<KL_Size>(ret);
        return KL_SUCCESS;
    }
    return KL_TlsMapLibraryResult(FailureValue(ret));
}

KL_Result KL_TlsSessionImpl::Write(const void* buffer, KL_Size size, KL_Size& bytes_written) {
    bytes_written = 0;
    KL_AutoLock lock(m_Lock);
    if (!IsEstablished() || m_HandshakeStatus != 0) {
        return KL_ERROR_INVALID_STATE;
    }
    ERR_clear_error();
    (void)m_Adapter.TakeStreamValue();
    const int ret = SSL_write(m_Session, buffer, static_cast<int>(size > INT_MAX ? INT_MAX : size));
    if (ret > 0) {
        bytes_written = static_cast<KL_Size>(ret);
        return KL_SUCCESS;
    }
    return KL_TlsMapLibraryResult(FailureValue(ret));
}
