#include "UP_HttpMessageHelper.h"

#include "KL_Base64.h"
#include "KL_Check.h"
#include "KL_HttpEntity.h"
#include "KL_MemoryStream.h"
#include "KL_StreamToStreamCopy.h"
#include "KL_StringOutputStream.h"
#include "KL_Utils.h"
#include "KL_XmlParser.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("upnp.core.http");

namespace {

// Appends to a string and refuses to grow it past a limit, so that a body of unknown length
// (chunked) cannot take unbounded memory.
class BoundedStringOutputStream : public KL_StringOutputStream {
public:
    BoundedStringOutputStream(KL_String* string, uint64_t limit)
        : KL_StringOutputStream(string), m_Left(limit) {}

    KL_Result Write(const void* data, KL_Size bytes_to_write, KL_Size* bytes_written = nullptr) override {
        if (bytes_written != nullptr) {
            *bytes_written = 0;
        }
        if (bytes_to_write > m_Left) {
            return KL_ERROR_NOT_ENOUGH_SPACE;
        }
        KL_Size written = 0;
        const KL_Result result = KL_StringOutputStream::Write(data, bytes_to_write, &written);
        m_Left -= written;
        if (bytes_written != nullptr) {
            *bytes_written = written;
        }
        return result;
    }

private:
    uint64_t m_Left;
};

// The first header of that name into text (emptied first); KL_ERROR_INVALID_PARAMETERS when absent.
KL_Result GetHeaderText(const KL_HttpMessage& message, const char* name, KL_String& text) {
    text = "";
    const char* value = message.GetHeaders().GetHeaderValue(name);
    if (value == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    text = value;
    return KL_SUCCESS;
}

// The message's body stream, or null.
KL_InputStreamReference GetBodyStream(const KL_HttpMessage& message) {
    KL_InputStreamReference stream;
    const KL_HttpEntity* entity = message.GetEntity();
    if (entity == nullptr || KL_FAILED(entity->GetInputStream(stream))) {
        stream.Release();
    }
    return stream;
}

KL_String HeadersText(const KL_HttpMessage& message) {
    KL_StringOutputStream text(4096);
    for (const KL_HttpHeader* header : message.GetHeaders().GetHeaders()) {
        (void)text.WriteString(header->GetName().GetChars());
        (void)text.WriteString(": ");
        (void)text.WriteString(header->GetValue().GetChars());
        (void)text.WriteString("\r\n");
    }
    return text.GetString();
}

bool Contains(const char* value, const char* text) {
    return value != nullptr && KL_String(value).Find(text, 0, true) >= 0;
}

bool ContainsAny(const char* value, std::initializer_list<const char*> texts) {
    for (const char* text : texts) {
        if (Contains(value, text)) {
            return true;
        }
    }
    return false;
}

} // namespace

KL_Result UP_HttpMessageHelper::GetContentType(const KL_HttpMessage& message, KL_String& type) {
    return GetHeaderText(message, "Content-Type", type);
}

KL_Result UP_HttpMessageHelper::GetContentLength(const KL_HttpMessage& message, uint64_t& length) {
    length = 0;
    const char* value = message.GetHeaders().GetHeaderValue("Content-Length");
    if (value == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    return KL_ParseInteger64U(value, length, true);
}

KL_Result UP_HttpMessageHelper::SetMessageBody(KL_HttpMessage& message, const KL_String& body,
                                               KL_HttpEntity** entity) {
    return SetBody(message, body.GetChars(), body.GetLength(), entity);
}

KL_Result UP_HttpMessageHelper::SetBody(KL_HttpMessage& message, const void* data, KL_Size length,
                                        KL_HttpEntity** entity) {
    if (length == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(data);
    KL_InputStreamReference stream(new KL_MemoryStream(data, length));
    return SetBody(message, stream, entity);
}

KL_Result UP_HttpMessageHelper::SetBody(KL_HttpMessage& message, const char* body, KL_HttpEntity** entity) {
    KL_CHECK_POINTER(body);
    return SetBody(message, body, static_cast<KL_Size>(std::strlen(body)), entity);
}

KL_Result UP_HttpMessageHelper::SetBody(KL_HttpMessage& message, const KL_InputStreamReference& stream,
                                        KL_HttpEntity** entity) {
    KL_HttpEntity* target = message.GetEntity();
    if (target == nullptr) {
        target = new KL_HttpEntity();
        KL_CHECK(message.SetEntity(target));
    }
    KL_CHECK(target->SetInputStream(stream, true));
    if (entity != nullptr) {
        *entity = target;
    }
    return KL_SUCCESS;
}

KL_Result UP_HttpMessageHelper::GetBody(const KL_HttpMessage& message, KL_String& body) {
    KL_InputStreamReference stream = GetBodyStream(message);
    if (stream.IsNull()) {
        return KL_FAILURE;
    }
    const uint64_t length = message.GetEntity()->GetContentLength();
    if (length > UP_HTTP_MAX_BODY_SIZE) {
        return KL_ERROR_NOT_ENOUGH_SPACE;
    }
    BoundedStringOutputStream output(&body, UP_HTTP_MAX_BODY_SIZE);
    return KL_StreamToStreamCopy(*stream, output, 0, length);
}

KL_Result UP_HttpMessageHelper::ParseBody(const KL_HttpMessage& message, KL_XmlElementNode*& tree) {
    tree = nullptr;
    KL_String body;
    KL_CHECK_WARNING(GetBody(message, body));

    KL_XmlNode* root = nullptr;
    KL_XmlParser parser(true);
    const KL_Result result = parser.Parse(body.GetChars(), body.GetLength(), root);
    if (KL_FAILED(result)) {
        delete root;
        return result;
    }
    if (root == nullptr || root->AsElementNode() == nullptr) {
        delete root;
        return KL_FAILURE;
    }
    tree = root->AsElementNode();
    return KL_SUCCESS;
}

bool UP_HttpMessageHelper::WantsKeepAlive(const KL_HttpMessage& message) {
    if (message.GetProtocol().Compare(KL_HTTP_PROTOCOL_1_0, true) == 0) {
        return false;
    }
    const char* connection = message.GetHeaders().GetHeaderValue("Connection");
    return connection == nullptr || KL_String::Compare(connection, "keep-alive", true) == 0;
}

bool UP_HttpMessageHelper::IsBodyStreamSeekable(const KL_HttpMessage& message) {
    KL_InputStreamReference stream = GetBodyStream(message);
    if (stream.IsNull()) {
        return true;
    }
    KL_Position position = 0;
    return KL_SUCCEEDED(stream->Tell(position)) && KL_SUCCEEDED(stream->Seek(position));
}

KL_Result UP_HttpMessageHelper::GetHost(const KL_HttpMessage& message, KL_String& host) {
    return GetHeaderText(message, "Host", host);
}

KL_Result UP_HttpMessageHelper::SetHostHeader(KL_HttpMessage& message, const char* host) {
    KL_CHECK_POINTER(host);
    return message.GetHeaders().SetHeader("Host", host);
}

KL_Result UP_HttpMessageHelper::SetBasicAuthorization(KL_HttpRequest& request, const char* user_name,
                                                      const char* password) {
    KL_CHECK_POINTER(user_name);
    KL_CHECK_POINTER(password);
    const KL_String credentials = KL_String(user_name) + ":" + password;
    KL_String encoded;
    KL_CHECK(KL_Base64::Encode(reinterpret_cast<const KL_Byte*>(credentials.GetChars()),
                               credentials.GetLength(), encoded, 0, false));
    const KL_String value = KL_String("Basic ") + encoded;
    return request.GetHeaders().SetHeader("Authorization", value.GetChars());
}

KL_Result UP_HttpMessageHelper::ToLog(KL_LoggerReference& logger, int level, const char* prefix,
                                      const KL_HttpRequest* request) {
    if (request == nullptr) {
        KL_LOG_TO(logger, level, "%s", "NULL HTTP Request!");
        return KL_FAILURE;
    }
    if (KL_Logger* target = logger.GetIfLoggable(level)) {
        const KL_String headers = HeadersText(*request);
        const KL_String url = request->GetUrl().ToRequestString(true);
        KL_LogWrite(target, level, __FILE__, __LINE__, __func__, "%s\n%s %s %s\n%s", prefix ? prefix : "",
                    request->GetMethod().GetChars(), url.GetChars(), request->GetProtocol().GetChars(),
                    headers.GetChars());
    }
    return KL_SUCCESS;
}

KL_Result UP_HttpMessageHelper::ToLog(KL_LoggerReference& logger, int level, const char* prefix,
                                      const KL_HttpResponse* response) {
    if (response == nullptr) {
        KL_LOG_TO(logger, level, "%s", "NULL HTTP Response!");
        return KL_FAILURE;
    }
    if (KL_Logger* target = logger.GetIfLoggable(level)) {
        const KL_String headers = HeadersText(*response);
        KL_LogWrite(target, level, __FILE__, __LINE__, __func__, "%s\n%s %d %s\n%s", prefix ? prefix : "",
                    response->GetProtocol().GetChars(), static_cast<int>(response->GetStatusCode()),
                    response->GetReasonPhrase().GetChars(), headers.GetChars());
    }
    return KL_SUCCESS;
}

UP_DeviceSignature UP_HttpMessageHelper::GetDeviceSignature(const KL_HttpRequest& request) {
    const KL_HttpHeaders& headers = request.GetHeaders();
    const char* agent = headers.GetHeaderValue("User-Agent");
    const char* client_info = headers.GetHeaderValue("X-AV-Client-Info");
    const char* server = headers.GetHeaderValue("Server");

    if (ContainsAny(agent, {"XBox", "Xenon"}) || Contains(server, "Xbox")) {
        return UP_SIGNATURE_XBOX;
    }
    if (ContainsAny(agent, {"Windows Media Player", "Windows-Media-Player", "Mozilla/4.0", "WMFSDK"})) {
        return UP_SIGNATURE_WINDOWS_MEDIA_PLAYER;
    }
    if (Contains(agent, "Sonos")) {
        return UP_SIGNATURE_SONOS;
    }
    if (Contains(agent, "PLAYSTATION 3") || Contains(client_info, "PLAYSTATION 3")) {
        return UP_SIGNATURE_PLAYSTATION3;
    }
    if (Contains(agent, "Windows")) {
        return UP_SIGNATURE_WINDOWS;
    }
    if (ContainsAny(agent, {"Mac", "OS X", "OSX"})) {
        return UP_SIGNATURE_MAC;
    }
    if (ContainsAny(agent, {"VLC", "VideoLan"})) {
        return UP_SIGNATURE_VLC;
    }
    KL_LOG_FINER("Unknown device signature (ua=%s)", agent != nullptr ? agent : "none");
    return UP_SIGNATURE_UNKNOWN;
}
