// The TLS layer's library values and their result codes.
//
// The session code speaks in library values (0 success, -1 "in progress" or unclassified, -3
// clean close, -256 to -276 protocol and stream failures, -10 to -70 received alerts, -513 to
// -521 certificate verification failures); KL_TlsMapLibraryResult turns each into the result
// code callers see. The OpenSSL translators fill those values from OpenSSL's state.
#pragma once

#include "KL_Result.h"

struct ssl_st;

// Values the stream adapter saves when the underlying stream fails.
constexpr int KL_TLS_LIBRARY_IN_PROGRESS = -1;
constexpr int KL_TLS_LIBRARY_CLOSE_NOTIFY = -3;
constexpr int KL_TLS_LIBRARY_CONNECTION_LOST = -256;
constexpr int KL_TLS_LIBRARY_TIMEOUT = -275;
constexpr int KL_TLS_LIBRARY_EOS = -276;
constexpr int KL_TLS_LIBRARY_CERTIFICATE_FAILURE = -513;

// The library value's result code (unlisted values give -1).
KL_Result KL_TlsMapLibraryResult(int value);

// An X509 verification result (X509_V_*) as a library value (0 when verified).
int KL_TlsLibraryValueFromVerifyResult(long verify_result);

// The library value of a failed OpenSSL call on the session: ret is what the call returned,
// stream_value what the stream adapter saved during it (0 when the streams did not fail).
// Consumes OpenSSL's error queue.
int KL_TlsLibraryValueFromOpenSsl(ssl_st* ssl, int ret, int stream_value);
