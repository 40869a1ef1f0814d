// UP_HttpMessageHelper: static operations on the runtime's HTTP messages shared by the UPnP side:
// bodies, XML bodies, the keep-alive decision, Host and Authorization headers, request and
// response logging, and the classification of the client that sent a request.
#pragma once

#include "KL_HttpMessage.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_InputStream.h"
#include "KL_Log.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"
#include "KL_XmlElementNode.h"
#include "UP_DeviceSignature.h"

#include <cstdint>

class KL_HttpEntity;

// The largest body GetBody and ParseBody read into memory (a SOAP or GENA body is far smaller).
constexpr uint64_t UP_HTTP_MAX_BODY_SIZE = 4 * 1024 * 1024;

class UP_HttpMessageHelper {
public:
    // Empty, then the "Content-Type" value; KL_ERROR_INVALID_PARAMETERS when absent.
    static KL_Result GetContentType(const KL_HttpMessage& message, KL_String& type);
    // 0, then "Content-Length" (relaxed decimal); KL_ERROR_INVALID_PARAMETERS when absent.
    static KL_Result GetContentLength(const KL_HttpMessage& message, uint64_t& length);

    // The body becomes a copy of the bytes (in a memory stream); length 0 sets nothing. The
    // message's entity (made when it has none) is handed out through entity when given.
    static KL_Result SetMessageBody(KL_HttpMessage& message, const KL_String& body,
                                    KL_HttpEntity** entity = nullptr);
    static KL_Result SetBody(KL_HttpMessage& message, const void* data, KL_Size length,
                             KL_HttpEntity** entity = nullptr);
    static KL_Result SetBody(KL_HttpMessage& message, const char* body, KL_HttpEntity** entity = nullptr);
    // The stream becomes the entity's body; the content length is taken from its size.
    static KL_Result SetBody(KL_HttpMessage& message, const KL_InputStreamReference& stream,
                             KL_HttpEntity** entity = nullptr);

    // The whole body (up to the entity's content length) as text; -1 without an entity or stream.
    // A body above UP_HTTP_MAX_BODY_SIZE is KL_ERROR_NOT_ENOUGH_SPACE.
    [[nodiscard]] static KL_Result GetBody(const KL_HttpMessage& message, KL_String& body);
    // The body parsed as XML (whitespace kept); the caller deletes the root element.
    [[nodiscard]] static KL_Result ParseBody(const KL_HttpMessage& message, KL_XmlElementNode*& tree);

    // Never on HTTP/1.0; otherwise without "Connection" or when it is exactly "keep-alive"
    // (ignoring case).
    static bool WantsKeepAlive(const KL_HttpMessage& message);
    // True without a body stream; else when the stream can seek to its own position.
    static bool IsBodyStreamSeekable(const KL_HttpMessage& message);

    // Empty, then the "Host" value; KL_ERROR_INVALID_PARAMETERS when absent.
    static KL_Result GetHost(const KL_HttpMessage& message, KL_String& host);
    static KL_Result SetHostHeader(KL_HttpMessage& message, const char* host);
    // "Authorization: Basic " + Base64(user ":" password).
    static KL_Result SetBasicAuthorization(KL_HttpRequest& request, const char* user_name,
                                           const char* password);

    // One log record "prefix\nMETHOD url PROTOCOL\nheaders" (a response: "prefix\nPROTOCOL code
    // reason\nheaders") when the logger is enabled for the level; -1 for a null message.
    static KL_Result ToLog(KL_LoggerReference& logger, int level, const char* prefix,
                           const KL_HttpRequest* request);
    static KL_Result ToLog(KL_LoggerReference& logger, int level, const char* prefix,
                           const KL_HttpResponse* response);

    // The client kind from "User-Agent", "X-AV-Client-Info" and "Server".
    static UP_DeviceSignature GetDeviceSignature(const KL_HttpRequest& request);
};
