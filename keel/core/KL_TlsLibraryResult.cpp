#include "KL_TlsLibraryResult.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace {

struct Row {
    int value;
    KL_Result result;
};

constexpr Row kLibraryTable[] = {
    {0, KL_SUCCESS},
    {-3, KL_ERROR_EOS},
    {-276, KL_ERROR_EOS},
    {-275, KL_ERROR_TIMEOUT},
    {-274, KL_ERROR_NOT_SUPPORTED},
    {-256, KL_ERROR_CONNECTION_ABORTED},
    {-260, KL_ERROR_TLS_INVALID_HANDSHAKE},
    {-261, KL_ERROR_TLS_INVALID_PROTOCOL_MESSAGE},
    {-262, KL_ERROR_TLS_INVALID_HMAC},
    {-263, KL_ERROR_TLS_INVALID_VERSION},
    {-265, KL_ERROR_TLS_INVALID_SESSION},
    {-266, KL_ERROR_TLS_NO_CIPHER},
    {-268, KL_ERROR_TLS_BAD_CERTIFICATE},
    {-269, KL_ERROR_TLS_INVALID_KEY},
    {-271, KL_ERROR_TLS_INVALID_FINISHED_MESSAGE},
    {-272, KL_ERROR_TLS_NO_CERTIFICATE_DEFINED},
    {-273, KL_ERROR_TLS_NO_CLIENT_RENEGOTIATION},
    {-10, KL_ERROR_TLS_ALERT_UNEXPECTED_MESSAGE},
    {-20, KL_ERROR_TLS_ALERT_BAD_RECORD_MAC},
    {-40, KL_ERROR_TLS_ALERT_HANDSHAKE_FAILED},
    {-42, KL_ERROR_TLS_ALERT_BAD_CERTIFICATE},
    {-47, KL_ERROR_TLS_ALERT_ILLEGAL_PARAMETER},
    {-50, KL_ERROR_TLS_ALERT_DECODE_ERROR},
    {-51, KL_ERROR_TLS_ALERT_DECRYPT_ERROR},
    {-70, KL_ERROR_TLS_ALERT_INVALID_VERSION},
    {-513, KL_ERROR_TLS_CERTIFICATE_FAILURE},
    {-514, KL_ERROR_TLS_CERTIFICATE_NO_TRUST_ANCHOR},
    {-515, KL_ERROR_TLS_CERTIFICATE_BAD_SIGNATURE},
    {-516, KL_ERROR_TLS_CERTIFICATE_NOT_YET_VALID},
    {-517, KL_ERROR_TLS_CERTIFICATE_EXPIRED},
    {-518, KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED},
    {-519, KL_ERROR_TLS_CERTIFICATE_INVALID_CHAIN},
    {-520, KL_ERROR_TLS_CERTIFICATE_UNSUPPORTED_DIGEST},
    {-521, KL_ERROR_TLS_CERTIFICATE_INVALID_PRIVATE_KEY},
};

// OpenSSL's reasons for the protocol failures that have a row of their own.
constexpr Row kReasonTable[] = {
    {SSL_R_UNEXPECTED_EOF_WHILE_READING, -276},
    {SSL_R_UNEXPECTED_MESSAGE, -261},
    {SSL_R_UNEXPECTED_RECORD, -261},
    {SSL_R_WRONG_VERSION_NUMBER, -263},
    {SSL_R_UNSUPPORTED_PROTOCOL, -263},
    {SSL_R_VERSION_TOO_LOW, -263},
    {SSL_R_VERSION_TOO_HIGH, -263},
    {SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC, -262},
    {SSL_R_DIGEST_CHECK_FAILED, -271},
    {SSL_R_NO_SHARED_CIPHER, -266},
    {SSL_R_NO_CIPHERS_AVAILABLE, -266},
    {SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM, -266},
    {SSL_R_LENGTH_MISMATCH, -260},
    {SSL_R_BAD_PACKET_LENGTH, -260},
    {SSL_R_BAD_HANDSHAKE_STATE, -260},
    {SSL_R_RECORD_LENGTH_MISMATCH, -261},
    {SSL_R_PACKET_LENGTH_TOO_LONG, -261},
    {SSL_R_ENCRYPTED_LENGTH_TOO_LONG, -261},
    {SSL_R_HTTP_REQUEST, -261},
    {SSL_R_NO_CERTIFICATE_SET, -272},
    {SSL_R_NO_CERTIFICATE_ASSIGNED, -272},
    {SSL_R_NO_RENEGOTIATION, -273},
    {SSL_R_BAD_SIGNATURE, -515},
};

int ValueOfReason(ssl_st* ssl, int reason) {
    if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
        const int value = KL_TlsLibraryValueFromVerifyResult(SSL_get_verify_result(ssl));
        return value != 0 ? value : KL_TLS_LIBRARY_CERTIFICATE_FAILURE;
    }
    if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256) {
        return -(reason - SSL_AD_REASON_OFFSET); // an alert the peer sent
    }
    for (const Row& row : kReasonTable) {
        if (row.value == reason) {
            return row.result;
        }
    }
    return KL_TLS_LIBRARY_IN_PROGRESS;
}

} // namespace

KL_Result KL_TlsMapLibraryResult(int value) {
    for (const Row& row : kLibraryTable) {
        if (row.value == value) {
            return row.result;
        }
    }
    return KL_FAILURE;
}

int KL_TlsLibraryValueFromVerifyResult(long verify_result) {
    switch (verify_result) {
    case X509_V_OK:
        return 0;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return -518;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return -514;
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        return -515;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return -516;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return -517;
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
    case X509_V_ERR_INVALID_NON_CA:
    case X509_V_ERR_INVALID_CA:
        return -519;
    case X509_V_ERR_UNSUPPORTED_SIGNATURE_ALGORITHM:
    case X509_V_ERR_CA_MD_TOO_WEAK:
        return -520;
    default:
        return KL_TLS_LIBRARY_CERTIFICATE_FAILURE;
    }
}

int KL_TlsLibraryValueFromOpenSsl(ssl_st* ssl, int ret, int stream_value) {
    const int error = SSL_get_error(ssl, ret);
    const unsigned long queued = ERR_peek_error();
    ERR_clear_error();
    if (error == SSL_ERROR_ZERO_RETURN) {
        return KL_TLS_LIBRARY_CLOSE_NOTIFY;
    }
    if (stream_value != 0) {
        return stream_value;
    }
    if (error == SSL_ERROR_SSL && queued != 0 && ERR_GET_LIB(queued) == ERR_LIB_SSL) {
        return ValueOfReason(ssl, ERR_GET_REASON(queued));
    }
    if (error == SSL_ERROR_SYSCALL) {
        return KL_TLS_LIBRARY_CONNECTION_LOST;
    }
    return KL_TLS_LIBRARY_IN_PROGRESS;
}
