// KL_TlsContext: the TLS library's configuration shared by sessions: verification mode, trust
// anchors, the own key and certificate (server side) and the session cache.
#pragma once

#include "KL_AutomaticCleaner.h"
#include "KL_Result.h"
#include "KL_Types.h"

#include <atomic>
#include <cstdint>

struct ssl_ctx_st;

class KL_TlsContext : public KL_AutomaticCleaner::Singleton {
public:
    // The handshake does not fail on an unverified peer certificate: VerifyPeerCertificate
    // tells the verdict afterwards.
    static constexpr uint32_t OPTION_VERIFY_LATER = 1;
    // A server asks for a client certificate and refuses a client without one.
    static constexpr uint32_t OPTION_REQUIRE_CLIENT_CERTIFICATE = 2;
    // The default trust anchors (the system's CA bundle) are loaded.
    static constexpr uint32_t OPTION_ADD_DEFAULT_TRUST_ANCHORS = 4;
    static constexpr uint32_t OPTION_NO_SESSION_CACHE = 8;

    // Key formats of LoadKey: a private key (PEM or DER), a PKCS#8 key (PEM or DER, possibly
    // encrypted), a PKCS#12 bundle (key, certificate and chain).
    static constexpr uint32_t KEY_FORMAT_RSA = 0;
    static constexpr uint32_t KEY_FORMAT_PKCS8 = 1;
    static constexpr uint32_t KEY_FORMAT_PKCS12 = 2;

    // A DER certificate; a table of them ends with an entry without data or of size 0.
    struct TrustAnchor {
        const KL_Byte* m_Data;
        KL_Size m_Size;
    };

    explicit KL_TlsContext(uint32_t options = 0);
    ~KL_TlsContext() override;
    KL_TlsContext(const KL_TlsContext&) = delete;
    KL_TlsContext& operator=(const KL_TlsContext&) = delete;

    // Trusts one DER certificate as a CA.
    KL_Result AddTrustAnchor(const KL_Byte* data, KL_Size size);
    // Each entry of a table (count 0: up to its terminating entry); failures are skipped. 0.
    KL_Result AddTrustAnchors(const TrustAnchor* table, KL_Size count = 0);
    // KL_ERROR_INVALID_PARAMETERS for an unknown format.
    KL_Result LoadKey(uint32_t format, const KL_Byte* data, KL_Size size, const char* password = nullptr);
    // Builds a self-signed certificate for the context's key (one is made when none was
    // loaded) and uses it as the context's own certificate.
    KL_Result SelfSignCertificate(const char* common_name, const char* organization,
                                  const char* organizational_name);

    // The process-wide client context (options 5), made on first use, deleted at exit.
    static KL_TlsContext* GetDefaultContext();
    // The built-in trust-anchor tables: 0 the default one, 2 the second (empty); else null.
    static const TrustAnchor* GetTrustAnchorTable(int index);

    ssl_ctx_st* GetLibraryContext() const { return m_Context; }
    uint32_t GetOptions() const { return m_Options; }

private:
    ssl_ctx_st* m_Context;
    uint32_t m_Options;

    static std::atomic<KL_TlsContext*> s_DefaultContext;
};
