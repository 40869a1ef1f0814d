// Result codes of the keel runtime: every operation that can fail answers a KL_Result.
// 0 is success, -1 general failure, every other failure a negative code of one family.
// The list below is the only place a code is declared: it generates the constants and the names.
#pragma once

#include <cstdint>

using KL_Result = int32_t;

constexpr KL_Result KL_SUCCESS = 0;
constexpr KL_Result KL_FAILURE = -1;

// Family bases; codes count down from the base (TLS starts at its base - 1).
constexpr KL_Result KL_ERROR_BASE_GENERAL = -20000;
constexpr KL_Result KL_ERROR_BASE_LIST = -20100;
constexpr KL_Result KL_ERROR_BASE_FILE = -20200;
constexpr KL_Result KL_ERROR_BASE_IO = -20300;
constexpr KL_Result KL_ERROR_BASE_SOCKET = -20400;
constexpr KL_Result KL_ERROR_BASE_INTERFACES = -20500;
constexpr KL_Result KL_ERROR_BASE_XML = -20600;
constexpr KL_Result KL_ERROR_BASE_HTTP = -20800;
constexpr KL_Result KL_ERROR_BASE_CALLBACK = -20900;
constexpr KL_Result KL_ERROR_BASE_SERIAL_PORT = -21000;
constexpr KL_Result KL_ERROR_BASE_TLS = -21100;
constexpr KL_Result KL_ERROR_BASE_ERRNO = -22000;

// X(name, code) for every named failure code (SUCCESS and FAILURE are named separately).
#define KL_RESULT_LIST(X)                                                                                    \
    X(KL_ERROR_INVALID_PARAMETERS, -20000)                                                                   \
    X(KL_ERROR_PERMISSION_DENIED, -20001)                                                                    \
    X(KL_ERROR_OUT_OF_MEMORY, -20002)                                                                        \
    X(KL_ERROR_NO_SUCH_NAME, -20003)                                                                         \
    X(KL_ERROR_NO_SUCH_PROPERTY, -20004)                                                                     \
    X(KL_ERROR_NO_SUCH_ITEM, -20005)                                                                         \
    X(KL_ERROR_NO_SUCH_CLASS, -20006)                                                                        \
    X(KL_ERROR_OVERFLOW, -20007)                                                                             \
    X(KL_ERROR_INTERNAL, -20008)                                                                             \
    X(KL_ERROR_INVALID_STATE, -20009)                                                                        \
    X(KL_ERROR_INVALID_FORMAT, -20010)                                                                       \
    X(KL_ERROR_INVALID_SYNTAX, -20011)                                                                       \
    X(KL_ERROR_NOT_IMPLEMENTED, -20012)                                                                      \
    X(KL_ERROR_NOT_SUPPORTED, -20013)                                                                        \
    X(KL_ERROR_TIMEOUT, -20014)                                                                              \
    X(KL_ERROR_WOULD_BLOCK, -20015)                                                                          \
    X(KL_ERROR_TERMINATED, -20016)                                                                           \
    X(KL_ERROR_OUT_OF_RANGE, -20017)                                                                         \
    X(KL_ERROR_OUT_OF_RESOURCES, -20018)                                                                     \
    X(KL_ERROR_NOT_ENOUGH_SPACE, -20019)                                                                     \
    X(KL_ERROR_INTERRUPTED, -20020)                                                                          \
    X(KL_ERROR_CANCELLED, -20021)                                                                            \
    X(KL_ERROR_LIST_EMPTY, -20100)                                                                           \
    X(KL_ERROR_LIST_OPERATION_ABORTED, -20101)                                                               \
    X(KL_ERROR_LIST_OPERATION_CONTINUE, -20102)                                                              \
    X(KL_ERROR_NO_SUCH_FILE, -20200)                                                                         \
    X(KL_ERROR_FILE_NOT_OPEN, -20201)                                                                        \
    X(KL_ERROR_FILE_BUSY, -20202)                                                                            \
    X(KL_ERROR_FILE_ALREADY_OPEN, -20203)                                                                    \
    X(KL_ERROR_FILE_NOT_READABLE, -20204)                                                                    \
    X(KL_ERROR_FILE_NOT_WRITABLE, -20205)                                                                    \
    X(KL_ERROR_FILE_NOT_DIRECTORY, -20206)                                                                   \
    X(KL_ERROR_FILE_ALREADY_EXISTS, -20207)                                                                  \
    X(KL_ERROR_FILE_NOT_ENOUGH_SPACE, -20208)                                                                \
    X(KL_ERROR_DIRECTORY_NOT_EMPTY, -20209)                                                                  \
    X(KL_ERROR_READ_FAILED, -20300)                                                                          \
    X(KL_ERROR_WRITE_FAILED, -20301)                                                                         \
    X(KL_ERROR_EOS, -20302)                                                                                  \
    X(KL_ERROR_CONNECTION_RESET, -20400)                                                                     \
    X(KL_ERROR_CONNECTION_ABORTED, -20401)                                                                   \
    X(KL_ERROR_CONNECTION_REFUSED, -20402)                                                                   \
    X(KL_ERROR_CONNECTION_FAILED, -20403)                                                                    \
    X(KL_ERROR_HOST_UNKNOWN, -20404)                                                                         \
    X(KL_ERROR_SOCKET_FAILED, -20405)                                                                        \
    X(KL_ERROR_GETSOCKOPT_FAILED, -20406)                                                                    \
    X(KL_ERROR_SETSOCKOPT_FAILED, -20407)                                                                    \
    X(KL_ERROR_SOCKET_CONTROL_FAILED, -20408)                                                                \
    X(KL_ERROR_BIND_FAILED, -20409)                                                                          \
    X(KL_ERROR_LISTEN_FAILED, -20410)                                                                        \
    X(KL_ERROR_ACCEPT_FAILED, -20411)                                                                        \
    X(KL_ERROR_ADDRESS_IN_USE, -20412)                                                                       \
    X(KL_ERROR_NETWORK_DOWN, -20413)                                                                         \
    X(KL_ERROR_NETWORK_UNREACHABLE, -20414)                                                                  \
    X(KL_ERROR_NO_SUCH_INTERFACE, -20500)                                                                    \
    X(KL_ERROR_XML_INVALID_NESTING, -20600)                                                                  \
    X(KL_ERROR_XML_TAG_MISMATCH, -20601)                                                                     \
    X(KL_ERROR_HTTP_INVALID_RESPONSE_LINE, -20800)                                                           \
    X(KL_ERROR_HTTP_INVALID_REQUEST_LINE, -20801)                                                            \
    X(KL_ERROR_HTTP_NO_PROXY, -20802)                                                                        \
    X(KL_ERROR_HTTP_INVALID_REQUEST, -20803)                                                                 \
    X(KL_ERROR_HTTP_METHOD_NOT_SUPPORTED, -20804)                                                            \
    X(KL_ERROR_HTTP_TOO_MANY_REDIRECTS, -20805)                                                              \
    X(KL_ERROR_HTTP_TOO_MANY_RECONNECTS, -20806)                                                             \
    X(KL_ERROR_HTTP_CANNOT_RESEND_BODY, -20807)                                                              \
    X(KL_ERROR_CALLBACK_HANDLER_SHUTDOWN, -20900)                                                            \
    X(KL_ERROR_CALLBACK_NOTHING_PENDING, -20901)                                                             \
    X(KL_ERROR_NO_SUCH_SERIAL_PORT, -21000)                                                                  \
    X(KL_ERROR_SERIAL_PORT_NOT_OPEN, -21001)                                                                 \
    X(KL_ERROR_SERIAL_PORT_ALREADY_OPEN, -21002)                                                             \
    X(KL_ERROR_SERIAL_PORT_BUSY, -21003)                                                                     \
    X(KL_ERROR_INVALID_PASSWORD, -21101)                                                                     \
    X(KL_ERROR_TLS_INVALID_HANDSHAKE, -21102)                                                                \
    X(KL_ERROR_TLS_INVALID_PROTOCOL_MESSAGE, -21103)                                                         \
    X(KL_ERROR_TLS_INVALID_HMAC, -21104)                                                                     \
    X(KL_ERROR_TLS_INVALID_VERSION, -21105)                                                                  \
    X(KL_ERROR_TLS_INVALID_SESSION, -21106)                                                                  \
    X(KL_ERROR_TLS_NO_CIPHER, -21107)                                                                        \
    X(KL_ERROR_TLS_BAD_CERTIFICATE, -21108)                                                                  \
    X(KL_ERROR_TLS_INVALID_KEY, -21109)                                                                      \
    X(KL_ERROR_TLS_NO_CLIENT_RENEGOTIATION, -21110)                                                          \
    X(KL_ERROR_TLS_INVALID_FINISHED_MESSAGE, -21111)                                                         \
    X(KL_ERROR_TLS_NO_CERTIFICATE_DEFINED, -21112)                                                           \
    X(KL_ERROR_TLS_ALERT_HANDSHAKE_FAILED, -21113)                                                           \
    X(KL_ERROR_TLS_ALERT_BAD_CERTIFICATE, -21114)                                                            \
    X(KL_ERROR_TLS_ALERT_INVALID_VERSION, -21115)                                                            \
    X(KL_ERROR_TLS_ALERT_BAD_RECORD_MAC, -21116)                                                             \
    X(KL_ERROR_TLS_ALERT_DECODE_ERROR, -21117)                                                               \
    X(KL_ERROR_TLS_ALERT_DECRYPT_ERROR, -21118)                                                              \
    X(KL_ERROR_TLS_ALERT_ILLEGAL_PARAMETER, -21119)                                                          \
    X(KL_ERROR_TLS_ALERT_UNEXPECTED_MESSAGE, -21120)                                                         \
    X(KL_ERROR_TLS_CERTIFICATE_FAILURE, -21121)                                                              \
    X(KL_ERROR_TLS_CERTIFICATE_NO_TRUST_ANCHOR, -21122)                                                      \
    X(KL_ERROR_TLS_CERTIFICATE_BAD_SIGNATURE, -21123)                                                        \
    X(KL_ERROR_TLS_CERTIFICATE_NOT_YET_VALID, -21124)                                                        \
    X(KL_ERROR_TLS_CERTIFICATE_EXPIRED, -21125)                                                              \
    X(KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED, -21126)                                                          \
    X(KL_ERROR_TLS_CERTIFICATE_INVALID_CHAIN, -21127)                                                        \
    X(KL_ERROR_TLS_CERTIFICATE_UNSUPPORTED_DIGEST, -21128)                                                   \
    X(KL_ERROR_TLS_CERTIFICATE_INVALID_PRIVATE_KEY, -21129)                                                  \
    X(KL_ERROR_TLS_DNS_NAME_MISMATCH, -21130)

#define KL_RESULT_DECLARE_CONSTANT(name, code) constexpr KL_Result name = code;
KL_RESULT_LIST(KL_RESULT_DECLARE_CONSTANT)
#undef KL_RESULT_DECLARE_CONSTANT

#define KL_SUCCEEDED(result) ((result) >= 0)
#define KL_FAILED(result) ((result) < 0)

// The name of a code: a static text, "SUCCESS", "FAILURE", a KL_ERROR_* name, or "UNKNOWN"
// for every other value. Never allocates, never fails.
const char* KL_GetResultText(KL_Result result);

// An operating-system error number e (errno) as a code: -22000 - e. Such codes have no name.
constexpr KL_Result KL_ResultFromErrno(int e) {
    return KL_ERROR_BASE_ERRNO - e;
}
