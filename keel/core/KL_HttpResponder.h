// KL_HttpResponder: reads one request from a connection and writes response heads to it.
#pragma once

#include "KL_BufferedInputStream.h"
#include "KL_OutputStream.h"
#include "KL_Result.h"
#include "KL_Types.h"

class KL_HttpRequest;
class KL_HttpResponse;
class KL_SocketAddress;

class KL_HttpResponder {
public:
    struct Config {
        KL_Timeout m_IoTimeout = 60000; // kept for the caller; the responder does not apply it
    };

    KL_HttpResponder(const KL_InputStreamReference& input, const KL_OutputStreamReference& output);
    KL_HttpResponder(const KL_HttpResponder&) = delete;
    KL_HttpResponder& operator=(const KL_HttpResponder&) = delete;

    KL_Result SetConfig(const Config& config);
    KL_Result SetTimeout(KL_Timeout io_timeout);

    // Reads a request head (local_address, when given, completes its URL). A request that may
    // carry a body (any method but GET, HEAD and TRACE) gets an entity whose body stream is the
    // rest of the connection, decoded when chunked; the handler reads the content length's worth.
    [[nodiscard]] KL_Result ParseRequest(KL_HttpRequest*& request,
                                         const KL_SocketAddress* local_address = nullptr);

    // Completes the head from the entity (Content-Type, Content-Encoding, Transfer-Encoding,
    // Content-Length, or Connection: close when the body ends with the connection) and writes it
    // with one write.
    [[nodiscard]] KL_Result SendResponseHeaders(KL_HttpResponse& response);

private:
    Config m_Config;
    KL_BufferedInputStreamReference m_Input;
    KL_OutputStreamReference m_Output;
};
