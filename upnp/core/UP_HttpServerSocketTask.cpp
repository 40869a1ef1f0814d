#include "UP_HttpServerSocketTask.h"

#include "KL_BsdSocketOutputStream.h"
#include "KL_Check.h"
#include "KL_ClosableOutputStream.h"
#include "KL_HttpChunkedInputStream.h"
#include "KL_HttpChunkedOutputStream.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_Log.h"
#include "KL_MemoryStream.h"
#include "KL_Socket.h"
#include "KL_StreamToStreamCopy.h"
#include "KL_System.h"
#include "UP_FileInputStream.h"
#include "UP_HttpConnectionSlots.h"
#include "UP_HttpMessageHelper.h"
#include "UP_HttpRequestContext.h"
#include "UP_HttpRequestInputStream.h"
#include "UP_HttpServer.h"
#include "UP_HttpSocketProbe.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("upnp.core.http");

namespace {

constexpr KL_Size kHeadBufferSize = 4096;
// After the last answer of a connection the server ends: how long (once the peer has
// acknowledged all of the answer) and how much of what the client still sends is read and
// dropped before closing, so that the client reads the whole answer instead of a reset; and how
// often the drain looks whether the answer is all acknowledged.
constexpr int64_t kDrainMaxMillis = 2000;
constexpr uint64_t kDrainMaxBytes = 16 * 1024 * 1024;
constexpr int64_t kDrainLook = 250;

const char* const kPage403 =
    "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1><p>Access to "
    "this URL is forbidden.</p></html>";
const char* const kPage404 = "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1><p>The "
                             "requested URL was not found on this server.</p></html>";
const char* const kPage500 =
    "<html><head><title>500 Internal Error</title></head><body><h1>Internal Error</h1><p>The server "
    "encountered "
    "an unexpected condition which prevented it from fulfilling the request.</p></html>";

// How a head frames its body, as far as this server reads it: 0 when it can, else the status to
// refuse it with: 501 for a transfer coding other than chunked, 400 for a Content-Length that is
// not one plain decimal number (given twice, signed, with junk) or that comes with a
// Transfer-Encoding. Anything else would read the rest of the body as the next request.
int FramingStatus(const KL_HttpHeaders& headers) {
    const char* length = nullptr;
    int lengths = 0;
    for (const KL_HttpHeader* header : headers.GetHeaders()) {
        if (header->GetName().Compare("Content-Length", true) == 0) {
            length = header->GetValue().GetChars();
            ++lengths;
        }
    }
    const char* encoding = headers.GetHeaderValue("Transfer-Encoding");
    if (encoding != nullptr && !KL_HttpEntity::IsChunked(encoding)) {
        return 501;
    }
    if (lengths == 0) {
        return 0;
    }
    const size_t digits = std::strspn(length, "0123456789");
    if (lengths > 1 || encoding != nullptr || digits == 0 || digits > 18 || length[digits] != '\0') {
        return 400;
    }
    return 0;
}

// A check of the answer's writing: a failure is logged at WARNING and handed up, but for a socket
// cancelled (closed to make room, or the server stopping), whose connection ends quietly.
#define UP_CHECK_WRITE(expr)                                                                                 \
    do {                                                                                                     \
        KL_Result up_check_result_ = (expr);                                                                 \
        if (KL_FAILED(up_check_result_)) {                                                                   \
            if (up_check_result_ != KL_ERROR_CANCELLED) {                                                    \
                KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, up_check_result_, "(" #expr ")");                  \
            }                                                                                                \
            return up_check_result_;                                                                         \
        }                                                                                                    \
    } while (0)

int64_t NowMillis() {
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    return now.ToMillis();
}

} // namespace

UP_HttpServerSocketTask::UP_HttpServerSocketTask(KL_Socket* socket, bool stay_alive_forever)
    : m_Socket(socket), m_StayAliveForever(stay_alive_forever) {
    SetLimits(UP_HttpServerLimits(), nullptr);
}

void UP_HttpServerSocketTask::SetLimits(const UP_HttpServerLimits& limits, UP_HttpConnectionSlots* slots) {
    m_Limits = limits;
    m_Slots = slots;
    if (m_Socket != nullptr) {
        (void)m_Socket->SetReadTimeout(m_Limits.m_ReadTimeout);
        (void)m_Socket->SetWriteTimeout(m_Limits.m_WriteTimeout);
    }
}

UP_HttpServerSocketTask::~UP_HttpServerSocketTask() {
    if (m_Socket != nullptr) {
        m_Socket->Cancel();
        delete m_Socket;
    }
}

void UP_HttpServerSocketTask::DoAbort() {
    if (m_Socket != nullptr) {
        m_Socket->Cancel();
    }
}

KL_Result UP_HttpServerSocketTask::GetInputStream(KL_InputStreamReference& stream) {
    if (m_Socket == nullptr) {
        return KL_ERROR_INVALID_STATE;
    }
    return m_Socket->GetInputStream(stream);
}

KL_Result UP_HttpServerSocketTask::GetInfo(KL_SocketInfo& info) {
    if (m_Socket == nullptr) {
        return KL_ERROR_INVALID_STATE;
    }
    return m_Socket->GetInfo(info);
}

void UP_HttpServerSocketTask::DoRun() {
    KL_InputStreamReference input_stream;
    KL_Result result = GetInputStream(input_stream);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result, "(GetInputStream(input_stream))");
        return;
    }
    if (input_stream.IsNull()) {
        KL_LOG_FATAL("@@@ NULL pointer parameter");
        return;
    }
    if (m_Socket != nullptr) {
        m_RequestStream = new UP_HttpRequestInputStream(input_stream, m_Socket, m_Limits, m_Slots);
        input_stream = KL_InputStreamReference(m_RequestStream);
    }
    KL_BufferedInputStreamReference buffered_input_stream(
        new KL_BufferedInputStream(input_stream, kHeadBufferSize));
    while (!IsAborting(0)) {
        if (!ServeOneRequest(buffered_input_stream)) {
            break;
        }
    }
    if (m_DrainOnEnd) {
        Drain(buffered_input_stream);
    }
    m_RequestStream = nullptr; // goes with the buffered stream
}

bool UP_HttpServerSocketTask::ServeOneRequest(KL_BufferedInputStreamReference& stream) {
    std::unique_ptr<KL_HttpRequest> request_owner;
    std::unique_ptr<KL_HttpResponse> response_owner;
    UP_HttpRequestContext context; // destroyed first: its hook may still look at the request
    KL_HttpRequest* request = nullptr;
    KL_Result result = Read(stream, request, context);
    request_owner.reset(request);
    if (request != nullptr && !m_StayAliveForever &&
        (result == KL_ERROR_NOT_ENOUGH_SPACE || result == KL_ERROR_INVALID_SYNTAX ||
         result == KL_ERROR_NOT_IMPLEMENTED)) {
        RespondAndClose(result);
        return false;
    }
    if (KL_FAILED(result) || request == nullptr) {
        return m_StayAliveForever && result != KL_ERROR_CANCELLED;
    }
    if (!SetPhase(UP_HttpConnectionSlots::Phase::Working)) {
        return false; // closed to make room before its request was taken up
    }
    KL_HttpResponse* response = nullptr;
    (void)RespondToClient(*request, context, response);
    response_owner.reset(response);
    bool keep_alive = false;
    if (response != nullptr) {
        keep_alive = UP_HttpMessageHelper::WantsKeepAlive(*request);
        bool headers_only = request->GetMethod() == "HEAD";
        (void)SetPhase(UP_HttpConnectionSlots::Phase::Answering);
        // Told to make room: this answer is its last ("Connection: close").
        if (keep_alive && m_Slots != nullptr && m_Socket != nullptr && m_Slots->EndsAfterAnswer(m_Socket)) {
            keep_alive = false;
        }
        result = Write(*response, keep_alive, headers_only);
        // Told to make room while it answered: it ends after this answer all the same.
        if (KL_FAILED(result) ||
            (keep_alive && m_Slots != nullptr && m_Socket != nullptr && m_Slots->EndsAfterAnswer(m_Socket))) {
            keep_alive = false;
        }
        // The server ends the connection after a whole answer: it does so gracefully.
        m_DrainOnEnd = KL_SUCCEEDED(result) && !keep_alive && !m_StayAliveForever;
        context.NotifyResponseWritten(result);
    }
    return keep_alive || m_StayAliveForever;
}

KL_Result UP_HttpServerSocketTask::Read(KL_BufferedInputStreamReference& stream, KL_HttpRequest*& request,
                                        UP_HttpRequestContext& context) {
    request = nullptr;
    KL_SocketInfo info;
    if (KL_SUCCEEDED(GetInfo(info))) {
        context.SetLocalAddress(info.local_address);
        context.SetRemoteAddress(info.remote_address);
    }
    KL_CHECK(stream->SetBufferSize(kHeadBufferSize));
    if (m_RequestStream != nullptr) {
        m_RequestStream->ExpectHead();
    }
    KL_Result res = KL_HttpRequest::Parse(*stream, &context.GetLocalAddress(), request);
    if (res == KL_ERROR_EOS || res == KL_ERROR_TIMEOUT || res == KL_ERROR_CANCELLED) {
        return res;
    }
    if (KL_FAILED(res)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, res, "(res)");
        return res;
    }
    if (request == nullptr) {
        return KL_FAILURE;
    }
    if (KL_SUCCEEDED(GetInfo(info))) {
        context.SetLocalAddress(info.local_address);
        context.SetRemoteAddress(info.remote_address);
    }
    context.SetRequest(request);
    if (m_RequestStream != nullptr) {
        m_RequestStream->ExpectBody();
    }
    KL_Result result = ReadBody(stream, *request);
    if (m_RequestStream != nullptr) {
        m_RequestStream->ExpectNothing();
    }
    KL_CHECK(stream->SetBufferSize(kHeadBufferSize));
    // A body that a GET or HEAD declares is read (so that it cannot pass for the next request)
    // and dropped.
    if (KL_SUCCEEDED(result) && (request->GetMethod() == "GET" || request->GetMethod() == "HEAD")) {
        request->SetEntity(nullptr);
    }
    return result;
}

// The body goes into memory; bytes the head's buffer read ahead come first (the buffer is
// switched off, not dropped).
KL_Result UP_HttpServerSocketTask::ReadBody(KL_BufferedInputStreamReference& buffered_input_stream,
                                            KL_HttpRequest& request) {
    const int framing = FramingStatus(request.GetHeaders());
    if (framing != 0) {
        KL_LOG_WARNING("request body framed in a way this server does not read (%d)", framing);
        return framing == 501 ? KL_ERROR_NOT_IMPLEMENTED : KL_ERROR_INVALID_SYNTAX;
    }
    KL_HttpEntity* request_entity = new KL_HttpEntity(request.GetHeaders());
    request.SetEntity(request_entity);
    if (!request_entity->IsChunked()) {
        if (request_entity->GetContentLength() == 0) {
            request.SetEntity(nullptr);
            return KL_SUCCESS;
        }
        if (request_entity->GetContentLength() > UP_HTTP_SERVER_MAX_REQUEST_BODY) {
            return KL_ERROR_NOT_ENOUGH_SPACE;
        }
    }
    KL_CHECK(buffered_input_stream->SetBufferSize(0));
    SendContinue(request);
    KL_Reference<KL_MemoryStream> body_stream(new KL_MemoryStream());
    if (!request_entity->IsChunked()) {
        KL_Result result = KL_StreamToStreamCopy(*buffered_input_stream.AsPointer(), *body_stream, 0,
                                                 request_entity->GetContentLength());
        if (KL_FAILED(result)) {
            if (result == KL_ERROR_CANCELLED) {
                return result;
            }
            KL_LOG_CHECK_FAILED(
                KL_LOG_LEVEL_SEVERE, result,
                "(KL_StreamToStreamCopy( *buffered_input_stream.AsPointer(), *body_stream, 0, "
                "request_entity->GetContentLength()))");
            return result;
        }
    } else {
        KL_InputStreamReference chunked(
            new KL_HttpChunkedInputStream(KL_InputStreamReference(buffered_input_stream)));
        KL_Result result = CopyBounded(*chunked, *body_stream);
        if (result == KL_ERROR_NOT_ENOUGH_SPACE || result == KL_ERROR_CANCELLED) {
            return result;
        }
        if (KL_FAILED(result)) {
            KL_LOG_CHECK_FAILED(
                KL_LOG_LEVEL_SEVERE, result,
                "(KL_StreamToStreamCopy( *KL_InputStreamReference(new "
                "KL_HttpChunkedInputStream(buffered_input_stream)).AsPointer(), *body_stream))");
            return result;
        }
        request_entity->SetTransferEncoding("");
    }
    request_entity->SetInputStream(KL_InputStreamReference(body_stream));
    return KL_SUCCESS;
}

// Copies a body of unknown length up to its end; more than the server's limit is
// KL_ERROR_NOT_ENOUGH_SPACE.
KL_Result UP_HttpServerSocketTask::CopyBounded(KL_InputStream& from, KL_OutputStream& to) {
    uint8_t buffer[16 * 1024];
    uint64_t total = 0;
    for (;;) {
        KL_Size count = 0;
        KL_Result result = from.Read(buffer, sizeof(buffer), &count);
        if (result == KL_ERROR_EOS) {
            return KL_SUCCESS;
        }
        if (KL_FAILED(result)) {
            return result;
        }
        total += count;
        if (total > UP_HTTP_SERVER_MAX_REQUEST_BODY) {
            return KL_ERROR_NOT_ENOUGH_SPACE;
        }
        KL_CHECK(to.WriteFully(buffer, count));
    }
}

// A client that waits for "100 Continue" before its body gets it at once.
void UP_HttpServerSocketTask::SendContinue(const KL_HttpRequest& request) {
    const char* expect = request.GetHeaders().GetHeaderValue("Expect");
    if (expect == nullptr || KL_String::Compare(expect, "100-continue", true) != 0 ||
        request.GetProtocol() != KL_HTTP_PROTOCOL_1_1 || m_Socket == nullptr) {
        return;
    }
    KL_OutputStreamReference output;
    if (KL_SUCCEEDED(m_Socket->GetOutputStream(output)) && output) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        if (KL_SUCCEEDED(output->WriteFully(kContinue, sizeof(kContinue) - 1))) {
            (void)output->Flush();
        }
    }
}

// Answers a refused request (413 for KL_ERROR_NOT_ENOUGH_SPACE, 501 for KL_ERROR_NOT_IMPLEMENTED,
// else 400); the connection then ends as after any last answer (Drain). It counts as draining
// only once the refusal is written (not before: the client is to read why it was refused).
void UP_HttpServerSocketTask::RespondAndClose(KL_Result refusal) {
    KL_HttpResponse response(400, "Bad Request", KL_HTTP_PROTOCOL_1_1);
    if (refusal == KL_ERROR_NOT_ENOUGH_SPACE) {
        KL_LOG_WARNING("request body above %llu bytes refused",
                       static_cast<unsigned long long>(UP_HTTP_SERVER_MAX_REQUEST_BODY));
        response.SetStatus(413, "Request Entity Too Large");
    } else if (refusal == KL_ERROR_NOT_IMPLEMENTED) {
        response.SetStatus(501, "Not Implemented");
    }
    bool keep_alive = false;
    m_DrainOnEnd = SetPhase(UP_HttpConnectionSlots::Phase::Answering) &&
                   KL_SUCCEEDED(Write(response, keep_alive, false));
}

// The graceful end of a connection after its last answer (see the header). While it reads, the
// connection is draining, the first to give way to a newcomer; a cancel ends it at once.
// The answer may still be on its way when it has left this server: a client that pipelines sends
// its next request once it reads the answer's head, which can be long after (behind the answers
// before it), and a close before that request comes would turn it into a reset that cuts the
// answer. So the drain lasts while the peer keeps acknowledging what waits for it (giving up
// after the write time-out without progress, as a write would), then kDrainMaxMillis more.
void UP_HttpServerSocketTask::Drain(KL_BufferedInputStreamReference& stream) {
    if (m_Socket == nullptr || IsAborting(0) || !SetPhase(UP_HttpConnectionSlots::Phase::Draining)) {
        return;
    }
    const int fd = m_Socket->GetDescriptor();
    if (fd >= 0) {
        (void)::shutdown(fd, SHUT_WR);
    }
    (void)stream->SetBufferSize(0); // what the buffer holds is read first
    int64_t until = NowMillis() + kDrainMaxMillis;
    int64_t progress = NowMillis();
    uint64_t acknowledged = 0;
    uint8_t buffer[16 * 1024];
    for (uint64_t total = 0; total < kDrainMaxBytes && !IsAborting(0);) {
        const int64_t now = NowMillis();
        uint64_t bytes = 0;
        bool waiting = false;
        if (UP_HttpSocketProbe::System().GetAcknowledged(m_Socket, bytes, waiting) && waiting) {
            progress = bytes != acknowledged ? now : progress;
            acknowledged = bytes;
            if (now - progress >= int64_t(m_Limits.m_WriteTimeout)) {
                break; // the peer takes nothing of it
            }
            until = now + kDrainMaxMillis;
        }
        if (now >= until) {
            break;
        }
        (void)m_Socket->SetReadTimeout(KL_Timeout(std::min(until - now, kDrainLook)));
        KL_Size count = 0;
        const KL_Result result = stream->Read(buffer, sizeof(buffer), &count);
        if (result != KL_ERROR_TIMEOUT && KL_FAILED(result)) {
            break; // the client's end, a reset or a cancel
        }
        total += KL_SUCCEEDED(result) ? count : 0;
    }
}

bool UP_HttpServerSocketTask::SetPhase(UP_HttpConnectionSlots::Phase phase) {
    return m_Slots == nullptr || m_Socket == nullptr || m_Slots->SetPhase(m_Socket, phase);
}

KL_Result UP_HttpServerSocketTask::RespondToClient(KL_HttpRequest& request, UP_HttpRequestContext& context,
                                                   KL_HttpResponse*& response) {
    response = new KL_HttpResponse(200, "OK", KL_HTTP_PROTOCOL_1_1);
    response->SetEntity(new KL_HttpEntity());
    KL_Result result = SetupResponse(request, context, *response);
    if (result == KL_SUCCESS) {
        return KL_SUCCESS;
    }
    if (result == KL_ERROR_TERMINATED) {
        delete response;
        response = nullptr;
        return KL_SUCCESS;
    }
    const char* page = kPage500;
    if (result == KL_ERROR_PERMISSION_DENIED) {
        response->SetStatus(403, "Forbidden");
        page = kPage403;
    } else if (result == KL_ERROR_NO_SUCH_ITEM) {
        response->SetStatus(404, "Not Found");
        page = kPage404;
    } else {
        response->SetStatus(500, "Internal Error");
    }
    // The page replaces whatever body and body headers the handler had set up.
    KL_HttpEntity* entity = new KL_HttpEntity();
    entity->SetContentType("text/html");
    entity->SetInputStream(page);
    response->SetEntity(entity);
    for (const char* name : {"Transfer-Encoding", "Content-Range", "Content-Encoding", "Content-Length"}) {
        (void)response->GetHeaders().RemoveHeader(name);
    }
    return KL_SUCCESS;
}

KL_Result UP_HttpServerSocketTask::Write(KL_HttpResponse& response, bool& keep_alive, bool headers_only) {
    if (m_Socket == nullptr) {
        return KL_ERROR_INVALID_STATE;
    }
    KL_OutputStreamReference output_stream;
    UP_CHECK_WRITE(m_Socket->GetOutputStream(output_stream));
    KL_CHECK_POINTER(output_stream.AsPointer());
    UP_CHECK_WRITE(SendResponseHeaders(response, *output_stream, keep_alive));
    if (!headers_only) {
        UP_CHECK_WRITE(SendResponseBody(response, *output_stream));
    }
    return output_stream->Flush();
}

KL_Result UP_HttpServerSocketTask::SendResponseHeaders(KL_HttpResponse& response,
                                                       KL_OutputStream& output_stream, bool& keep_alive) {
    KL_HttpHeaders& headers = response.GetHeaders();
    const KL_HttpEntity* entity = response.GetEntity();
    KL_InputStreamReference body;
    if (entity != nullptr && KL_SUCCEEDED(entity->GetInputStream(body)) && body) {
        if (entity->ContentLengthIsKnown() && !entity->IsChunked()) {
            headers.SetHeader("Content-Length",
                              KL_String::FromIntegerU(entity->GetContentLength()).GetChars());
        }
        if (!entity->GetContentType().IsEmpty()) {
            headers.SetHeader("Content-Type", entity->GetContentType().GetChars());
        }
        if (!entity->GetContentEncoding().IsEmpty()) {
            headers.SetHeader("Content-Encoding", entity->GetContentEncoding().GetChars());
        }
        if (!entity->GetTransferEncoding().IsEmpty()) {
            headers.SetHeader("Transfer-Encoding", entity->GetTransferEncoding().GetChars());
        }
    } else {
        headers.SetHeader("Content-Length", "0", false);
    }
    if (keep_alive) {
        const char* connection = headers.GetHeaderValue("Connection");
        const char* transfer_encoding = headers.GetHeaderValue("Transfer-Encoding");
        if (connection != nullptr && KL_String::Compare(connection, "close") == 0) {
            keep_alive = false;
        } else {
            keep_alive =
                headers.GetHeaderValue("Content-Length") != nullptr ||
                (transfer_encoding != nullptr && KL_String::Compare(transfer_encoding, "chunked") == 0);
        }
    }
    if (response.GetProtocol().Compare(KL_HTTP_PROTOCOL_1_0, true) == 0 || !keep_alive) {
        headers.SetHeader("Connection", keep_alive ? "keep-alive" : "close");
    }
    headers.SetHeader("Server", UP_HTTP_SERVER_HEADER, false);
    UP_HttpMessageHelper::ToLog(KL_LocalLogger, KL_LOG_LEVEL_FINE, "UP_HttpServerSocketTask::Write",
                                &response);
    KL_MemoryStream header_stream(1024);
    KL_CHECK(response.Emit(header_stream));
    UP_CHECK_WRITE(output_stream.WriteFully(header_stream.GetData(), header_stream.GetDataSize()));
    return KL_SUCCESS;
}

KL_Result UP_HttpServerSocketTask::SendResponseBody(KL_HttpResponse& response,
                                                    KL_OutputStream& output_stream) {
    const KL_HttpEntity* entity = response.GetEntity();
    KL_InputStreamReference body;
    if (entity == nullptr || KL_FAILED(entity->GetInputStream(body)) || !body) {
        return KL_SUCCESS;
    }
    if (entity->ContentLengthIsKnown() && entity->GetContentLength() == 0 && !entity->IsChunked()) {
        return KL_SUCCESS;
    }
    // A file with a known length goes straight from the page cache to the socket.
    auto* file = dynamic_cast<UP_FileInputStream*>(body.AsPointer());
    auto* socket = dynamic_cast<KL_BsdSocketOutputStream*>(&output_stream);
    if (file != nullptr && socket != nullptr && entity->ContentLengthIsKnown() && !entity->IsChunked()) {
        return SendFileBody(*file, *socket, entity->GetContentLength());
    }
    KL_ClosableOutputStream gate(output_stream);
    std::unique_ptr<KL_HttpChunkedOutputStream> chunked;
    if (entity->IsChunked()) {
        chunked = std::make_unique<KL_HttpChunkedOutputStream>(gate);
    }
    KL_OutputStream& target = chunked ? static_cast<KL_OutputStream&>(*chunked) : gate;
    KL_LOG_FINE("sending body stream, %lld bytes", static_cast<long long>(entity->GetContentLength()));
    KL_LargeSize written = 0;
    KL_LargeSize size = entity->ContentLengthIsKnown() ? entity->GetContentLength() : 0;
    KL_Result result = KL_StreamToStreamCopy(*body, target, 0, size, &written);
    if (KL_FAILED(result)) {
        KL_LOG_FINE("body stream only partially sent, %lld bytes (%d:%s)", static_cast<long long>(written),
                    result, KL_GetResultText(result));
    }
    if (chunked && KL_SUCCEEDED(result)) {
        // The last chunk goes out here, so that its failure is handed up like any other; the
        // chunked stream's own one (written when it is deleted) then meets the closed gate.
        result = gate.WriteFully("0\r\n\r\n", 5);
    }
    (void)target.Flush();
    gate.Close(); // nothing more: no last chunk after a body that failed half way
    chunked.reset();
    return result;
}

KL_Result UP_HttpServerSocketTask::SendFileBody(UP_FileInputStream& file, KL_BsdSocketOutputStream& socket,
                                                KL_LargeSize size) {
    KL_Position offset = 0;
    KL_CHECK(file.Tell(offset)); // a range has moved it to its first byte
    KL_LOG_FINE("sending file body, %lld bytes from %lld", static_cast<long long>(size),
                static_cast<long long>(offset));
    KL_LargeSize sent = 0;
    KL_Result result = socket.SendFile(file.GetDescriptor(), offset, size, &sent);
    if (KL_FAILED(result)) {
        KL_LOG_FINE("file body only partially sent, %lld bytes (%d:%s)", static_cast<long long>(sent), result,
                    KL_GetResultText(result));
    }
    (void)file.Seek(offset + sent);
    return result;
}
