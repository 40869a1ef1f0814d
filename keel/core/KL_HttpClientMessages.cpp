// KL_HttpClient's static message helpers: writing a request, reading a response head.
#include "KL_BufferedInputStream.h"
#include "KL_Check.h"
#include "KL_HttpChunkedOutputStream.h"
#include "KL_HttpClient.h"
#include "KL_HttpEntity.h"
#include "KL_HttpEntityBodyInputStream.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_Log.h"
#include "KL_MemoryStream.h"
#include "KL_StreamToStreamCopy.h"

#include <cinttypes>

KL_SET_LOCAL_LOGGER("keel.http.client");

namespace {

constexpr KL_Size kResponseBufferSize = 4096;
constexpr int kMaxInformationalResponses = 10;

void AddHostHeader(KL_HttpRequest& request) {
    if (request.GetHeaders().GetHeader("Host") != nullptr) {
        return;
    }
    const KL_HttpUrl& url = request.GetUrl();
    KL_String host = url.GetHost();
    const uint16_t default_port = KL_HttpUrl::GetDefaultPort(url.GetSchemeId());
    const bool known_scheme =
        url.GetSchemeId() == KL_Uri::SCHEME_ID_HTTP || url.GetSchemeId() == KL_Uri::SCHEME_ID_HTTPS;
    if ((known_scheme && url.GetPort() != default_port) || (!known_scheme && url.GetPort() != 0)) {
        host += KL_String::Format(":%u", static_cast<unsigned>(url.GetPort()));
    }
    (void)request.GetHeaders().AddHeader("Host", host.GetChars());
}

void SetEntityHeaders(KL_HttpHeaders& headers, const KL_HttpEntity& entity) {
    // A chunked body announces no length.
    if (entity.ContentLengthIsKnown() && !entity.IsChunked()) {
        (void)headers.SetHeader("Content-Length",
                                KL_String::Format("%" PRIu64, entity.GetContentLength()).GetChars());
    }
    if (!entity.GetContentType().IsEmpty()) {
        (void)headers.SetHeader("Content-Type", entity.GetContentType().GetChars());
    }
    if (!entity.GetContentEncoding().IsEmpty()) {
        (void)headers.SetHeader("Content-Encoding", entity.GetContentEncoding().GetChars());
    }
    if (!entity.GetTransferEncoding().IsEmpty()) {
        (void)headers.SetHeader("Transfer-Encoding", entity.GetTransferEncoding().GetChars());
    }
}

KL_Result WriteBody(KL_OutputStream& output, const KL_HttpEntity& entity, KL_InputStream& body) {
    KL_HttpChunkedOutputStream* chunked =
        entity.IsChunked() ? new KL_HttpChunkedOutputStream(output) : nullptr;
    KL_OutputStream& destination = chunked != nullptr ? *chunked : output;
    const uint64_t size =
        (entity.ContentLengthIsKnown() && chunked == nullptr) ? entity.GetContentLength() : 0;
    KL_LargeSize written = 0;
    const KL_Result result = KL_StreamToStreamCopy(body, destination, 0, size, &written);
    if (KL_FAILED(result)) {
        KL_LOG_WARNING("body stream only partially sent, %lld bytes (%d:%s)", static_cast<long long>(written),
                       result, KL_GetResultText(result));
    }
    (void)destination.Flush();
    delete chunked; // writes the last chunk
    return result;
}

// Whether the connection may carry another request after this response.
bool KeepsAlive(const KL_HttpResponse& response, bool should_persist) {
    if (!should_persist) {
        return false;
    }
    const char* connection = response.GetHeaders().GetHeaderValue("Connection");
    if (response.GetProtocol() == KL_HTTP_PROTOCOL_1_1) {
        return connection == nullptr || KL_String::Compare(connection, "close") != 0;
    }
    return connection != nullptr && KL_String::Compare(connection, "keep-alive") == 0;
}

} // namespace

KL_Result KL_HttpClient::WriteRequest(KL_OutputStream& output, KL_HttpRequest& request, bool should_persist,
                                      bool use_proxy) {
    KL_HttpHeaders& headers = request.GetHeaders();
    if (!should_persist && headers.GetHeader("Connection") == nullptr) {
        (void)headers.AddHeader("Connection", "close");
    }
    AddHostHeader(request);
    KL_HttpEntity* entity = request.GetEntity();
    KL_InputStreamReference body;
    if (entity != nullptr && KL_SUCCEEDED(entity->GetInputStream(body)) && !body.IsNull()) {
        SetEntityHeaders(headers, *entity);
    } else {
        body.Release();
    }
    KL_MemoryStream head;
    const bool absolute_form = use_proxy && request.GetUrl().GetSchemeId() == KL_Uri::SCHEME_ID_HTTP;
    KL_CHECK(request.Emit(head, absolute_form));
    KL_CHECK_FINE(output.WriteFully(head.GetData(), head.GetDataSize()));
    KL_Result result = KL_SUCCESS;
    if (!body.IsNull()) {
        result = WriteBody(output, *entity, *body);
    }
    const KL_Result flushed = output.Flush();
    return KL_FAILED(result) ? result : flushed;
}

KL_Result KL_HttpClient::ReadResponse(const KL_InputStreamReference& input, bool should_persist,
                                      bool expect_entity, KL_HttpResponse*& response,
                                      Connection** connection) {
    response = nullptr;
    KL_CHECK_POINTER(input.AsPointer());
    KL_Reference<KL_BufferedInputStream> buffered(new KL_BufferedInputStream(input, kResponseBufferSize));
    for (int informational = 0;;) {
        KL_CHECK_FINE(KL_HttpResponse::Parse(*buffered, response));
        const int32_t status = response->GetStatusCode();
        if (status < 100 || status > 199) {
            break;
        }
        KL_LOG_FINE("got %d response, continuing", status);
        delete response;
        response = nullptr;
        if (++informational >= kMaxInformationalResponses) {
            KL_LOG_WARNING("failed after max continuation attempts");
            return KL_ERROR_HTTP_TOO_MANY_RECONNECTS;
        }
    }
    (void)buffered->SetBufferSize(0);
    KL_HttpEntity* entity = new KL_HttpEntity(response->GetHeaders());
    const bool chunked = entity->IsChunked();
    // 204 and 304 never carry a body, whatever their head says.
    const int32_t status = response->GetStatusCode();
    const bool no_body = status == 204 || status == 304;
    const bool size_known = no_body || response->GetHeaders().GetHeader("Content-Length") != nullptr;
    // A body that only the end of the connection ends leaves nothing to reuse.
    const bool keep_alive = KeepsAlive(*response, should_persist) && (size_known || chunked);
    Connection* taken = nullptr;
    if (connection != nullptr) {
        taken = *connection;
        *connection = nullptr;
    }
    if (!expect_entity) {
        delete entity;
        if (taken != nullptr) {
            if (KeepsAlive(*response, should_persist)) {
                return taken->Recycle();
            }
            delete taken;
        }
        return KL_SUCCESS;
    }
    if (chunked) {
        (void)entity->SetTransferEncoding("");
    }
    if (no_body) {
        (void)entity->SetContentLength(0);
    }
    KL_InputStreamReference body(new KL_HttpEntityBodyInputStream(
        buffered, entity->GetContentLength(), size_known, chunked && !no_body, taken, keep_alive));
    (void)entity->SetInputStream(body, false);
    (void)response->SetEntity(entity);
    return KL_SUCCESS;
}
