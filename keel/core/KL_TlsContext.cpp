#include "KL_TlsContext.h"

#include "KL_Check.h"
#include "KL_Log.h"
#include "KL_TlsLibraryResult.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <string>
#include <vector>

KL_SET_LOCAL_LOGGER("keel.tls");

std::atomic<KL_TlsContext*> KL_TlsContext::s_DefaultContext{nullptr};

namespace {

constexpr long kSessionCacheSize = 16;
constexpr int kSelfSignedDays = 3650;

// OpenSSL frees its own state in an exit handler of its own; the runtime's exit clean-up must
// run before it, so it is registered again once OpenSSL is set up (it runs only once).
void InitializeLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS, nullptr);
        std::atexit(&KL_AutomaticCleaner::Cleanup);
    });
}

// The system's CA bundle as DER entries, read once.
struct TrustAnchorTables {
    std::vector<std::vector<KL_Byte>> certificates;
    std::vector<KL_TlsContext::TrustAnchor> defaults;
    std::vector<KL_TlsContext::TrustAnchor> second{{nullptr, 0}};

    TrustAnchorTables() {
        BIO* file = BIO_new_file(X509_get_default_cert_file(), "r");
        if (file != nullptr) {
            while (X509* certificate = PEM_read_bio_X509(file, nullptr, nullptr, nullptr)) {
                unsigned char* der = nullptr;
                const int size = i2d_X509(certificate, &der);
                if (size > 0) {
                    certificates.emplace_back(der, der + size);
                }
                OPENSSL_free(der);
                X509_free(certificate);
            }
            BIO_free(file);
            ERR_clear_error();
        }
        for (const auto& certificate : certificates) {
            defaults.push_back({certificate.data(), static_cast<KL_Size>(certificate.size())});
        }
        defaults.push_back({nullptr, 0});
    }
};

const TrustAnchorTables& GetTables() {
    static const TrustAnchorTables tables;
    return tables;
}

int PasswordCallback(char* buffer, int size, int, void* password) {
    if (password == nullptr) {
        return 0;
    }
    const std::string text(static_cast<const char*>(password));
    const int length = std::min<int>(size, static_cast<int>(text.size()));
    std::memcpy(buffer, text.data(), static_cast<size_t>(length));
    return length;
}

EVP_PKEY* ReadPrivateKey(const KL_Byte* data, KL_Size size, const char* password) {
    BIO* memory = BIO_new_mem_buf(data, static_cast<int>(size));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(memory, nullptr, &PasswordCallback, const_cast<char*>(password));
    if (key == nullptr) {
        (void)BIO_reset(memory);
        key = d2i_PKCS8PrivateKey_bio(memory, nullptr, &PasswordCallback, const_cast<char*>(password));
    }
    if (key == nullptr) {
        const unsigned char* cursor = data;
        key = d2i_AutoPrivateKey(nullptr, &cursor, static_cast<long>(size));
    }
    BIO_free(memory);
    return key;
}

int LoadPkcs12(SSL_CTX* context, const KL_Byte* data, KL_Size size, const char* password) {
    const unsigned char* cursor = data;
    PKCS12* bundle = d2i_PKCS12(nullptr, &cursor, static_cast<long>(size));
    if (bundle == nullptr) {
        return -269;
    }
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    STACK_OF(X509)* chain = nullptr;
    int value = -269;
    if (PKCS12_parse(bundle, password, &key, &certificate, &chain) == 1 && key != nullptr) {
        value = 0;
        if (certificate != nullptr && SSL_CTX_use_certificate(context, certificate) != 1) {
            value = -268;
        }
        for (int i = 0; value == 0 && chain != nullptr && i < sk_X509_num(chain); ++i) {
            X509* extra = sk_X509_value(chain, i);
            if (SSL_CTX_add_extra_chain_cert(context, extra) == 1) {
                sk_X509_set(chain, i, nullptr); // the context owns it now
            }
        }
        if (value == 0 && SSL_CTX_use_PrivateKey(context, key) != 1) {
            value = -521;
        }
    }
    EVP_PKEY_free(key);
    X509_free(certificate);
    sk_X509_pop_free(chain, X509_free);
    PKCS12_free(bundle);
    return value;
}

void AddNameEntry(X509_NAME* name, const char* field, const char* value) {
    if (value != nullptr && value[0] != '\0') {
        X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value),
                                   -1, -1, 0);
    }
}

} // namespace

KL_TlsContext::KL_TlsContext(uint32_t options) : m_Options(options) {
    InitializeLibrary();
    m_Context = SSL_CTX_new(TLS_method());
    if (m_Context == nullptr) {
        KL_LOG_SEVERE("cannot create the TLS library context");
        return;
    }
    if ((options & OPTION_NO_SESSION_CACHE) != 0) {
        SSL_CTX_set_session_cache_mode(m_Context, SSL_SESS_CACHE_OFF);
        SSL_CTX_sess_set_cache_size(m_Context, 0);
    } else {
        SSL_CTX_sess_set_cache_size(m_Context, kSessionCacheSize);
    }
    if ((options & OPTION_ADD_DEFAULT_TRUST_ANCHORS) != 0) {
        (void)AddTrustAnchors(GetTrustAnchorTable(0));
    }
}

KL_TlsContext::~KL_TlsContext() {
    KL_TlsContext* self = this;
    s_DefaultContext.compare_exchange_strong(self, nullptr);
    SSL_CTX_free(m_Context);
}

KL_Result KL_TlsContext::AddTrustAnchor(const KL_Byte* data, KL_Size size) {
    KL_CHECK_POINTER(data);
    KL_CHECK_POINTER(m_Context);
    const unsigned char* cursor = data;
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(size));
    if (certificate == nullptr) {
        ERR_clear_error();
        return KL_TlsMapLibraryResult(-268);
    }
    const int added = X509_STORE_add_cert(SSL_CTX_get_cert_store(m_Context), certificate);
    X509_free(certificate);
    ERR_clear_error();
    return added == 1 ? KL_SUCCESS : KL_TlsMapLibraryResult(-268);
}

KL_Result KL_TlsContext::AddTrustAnchors(const TrustAnchor* table, KL_Size count) {
    KL_CHECK_POINTER(table);
    for (KL_Size i = 0; count == 0 || i < count; ++i) {
        if (table[i].m_Data == nullptr || table[i].m_Size == 0) {
            break;
        }
        (void)AddTrustAnchor(table[i].m_Data, table[i].m_Size);
    }
    return KL_SUCCESS;
}

KL_Result KL_TlsContext::LoadKey(uint32_t format, const KL_Byte* data, KL_Size size, const char* password) {
    if (format > KEY_FORMAT_PKCS12) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_CHECK_POINTER(data);
    KL_CHECK_POINTER(m_Context);
    int value = 0;
    if (format == KEY_FORMAT_PKCS12) {
        value = LoadPkcs12(m_Context, data, size, password);
    } else {
        EVP_PKEY* key = ReadPrivateKey(data, size, password);
        value = key == nullptr ? -269 : (SSL_CTX_use_PrivateKey(m_Context, key) == 1 ? 0 : -521);
        EVP_PKEY_free(key);
    }
    ERR_clear_error();
    return KL_TlsMapLibraryResult(value);
}

KL_Result KL_TlsContext::SelfSignCertificate(const char* common_name, const char* organization,
                                             const char* organizational_name) {
    KL_CHECK_POINTER(m_Context);
    EVP_PKEY* key = SSL_CTX_get0_privatekey(m_Context);
    EVP_PKEY* made = nullptr;
    if (key == nullptr) {
        made = EVP_EC_gen("P-256");
        key = made;
    }
    X509* certificate = X509_new();
    int value = -269;
    if (key != nullptr && certificate != nullptr) {
        uint64_t serial = 0;
        (void)RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial);
        ASN1_INTEGER_set_uint64(X509_get_serialNumber(certificate), serial >> 1);
        X509_set_version(certificate, 2);
        X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 60L * 60 * 24 * kSelfSignedDays);
        X509_NAME* name = X509_get_subject_name(certificate);
        AddNameEntry(name, "CN", common_name);
        AddNameEntry(name, "O", organization);
        AddNameEntry(name, "OU", organizational_name);
        X509_set_issuer_name(certificate, name);
        X509_set_pubkey(certificate, key);
        value = X509_sign(certificate, key, EVP_sha256()) > 0 ? 0 : -268;
        if (value == 0 && SSL_CTX_use_certificate(m_Context, certificate) != 1) {
            value = -268;
        }
        if (value == 0 && made != nullptr && SSL_CTX_use_PrivateKey(m_Context, made) != 1) {
            value = -521;
        }
    }
    X509_free(certificate);
    EVP_PKEY_free(made);
    ERR_clear_error();
    return KL_TlsMapLibraryResult(value);
}

KL_TlsContext* KL_TlsContext::GetDefaultContext() {
    if (s_DefaultContext.load() == nullptr) {
        KL_AutoLock lock(KL_GetSingletonLock());
        if (s_DefaultContext.load() == nullptr) {
            KL_TlsContext* context =
                new KL_TlsContext(OPTION_VERIFY_LATER | OPTION_ADD_DEFAULT_TRUST_ANCHORS);
            s_DefaultContext.store(context);
            KL_AutomaticCleaner::GetInstance()->RegisterTlsContext(context);
        }
    }
    return s_DefaultContext.load();
}

const KL_TlsContext::TrustAnchor* KL_TlsContext::GetTrustAnchorTable(int index) {
    if (index == 0) {
        return GetTables().defaults.data();
    }
    if (index == 2) {
        return GetTables().second.data();
    }
    return nullptr;
}
