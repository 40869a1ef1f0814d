#include "KL_HttpResponder.h"

#include "KL_Check.h"
#include "KL_HttpChunkedInputStream.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_MemoryStream.h"

KL_SET_LOCAL_LOGGER("keel.http.server.responder");

KL_HttpResponder::KL_HttpResponder(const KL_InputStreamReference& input,
                                   const KL_OutputStreamReference& output)
    : m_Input(new KL_BufferedInputStream(input, KL_BUFFERED_INPUT_STREAM_DEFAULT_SIZE)), m_Output(output) {}

KL_Result KL_HttpResponder::SetConfig(const Config& config) {
    m_Config = config;
    return KL_SUCCESS;
}

KL_Result KL_HttpResponder::SetTimeout(KL_Timeout io_timeout) {
    m_Config.m_IoTimeout = io_timeout;
    return KL_SUCCESS;
}

KL_Result KL_HttpResponder::ParseRequest(KL_HttpRequest*& request, const KL_SocketAddress* local_address) {
    request = nullptr;
    // The head is read through the buffer; the body then comes straight from the connection.
    KL_CHECK_FINE(m_Input->SetBufferSize(KL_BUFFERED_INPUT_STREAM_DEFAULT_SIZE));
    KL_HttpRequest* parsed = nullptr;
    KL_CHECK_FINE(KL_HttpRequest::Parse(*m_Input, local_address, parsed));
    KL_Result result = m_Input->SetBufferSize(0);
    if (KL_FAILED(result)) {
        delete parsed;
        return result;
    }
    const KL_String& method = parsed->GetMethod();
    if (!(method == "GET") && !(method == "HEAD") && !(method == "TRACE")) {
        KL_HttpEntity* entity = new KL_HttpEntity(parsed->GetHeaders());
        KL_InputStreamReference body(m_Input);
        if (entity->IsChunked()) {
            body = KL_InputStreamReference(new KL_HttpChunkedInputStream(body));
        }
        (void)entity->SetInputStream(body, false);
        (void)parsed->SetEntity(entity);
    }
    request = parsed;
    return KL_SUCCESS;
}

KL_Result KL_HttpResponder::SendResponseHeaders(KL_HttpResponse& response) {
    KL_HttpHeaders& headers = response.GetHeaders();
    if (response.GetProtocol() == KL_HTTP_PROTOCOL_1_0 && headers.GetHeader("Connection") == nullptr) {
        (void)headers.AddHeader("Connection", "close");
    }
    if (const KL_HttpEntity* entity = response.GetEntity()) {
        if (!entity->GetContentType().IsEmpty()) {
            (void)headers.SetHeader("Content-Type", entity->GetContentType().GetChars());
        }
        if (!entity->GetContentEncoding().IsEmpty()) {
            (void)headers.SetHeader("Content-Encoding", entity->GetContentEncoding().GetChars());
        }
        if (!entity->GetTransferEncoding().IsEmpty()) {
            (void)headers.SetHeader("Transfer-Encoding", entity->GetTransferEncoding().GetChars());
        }
        if (entity->ContentLengthIsKnown()) {
            (void)headers.SetHeader("Content-Length",
                                    KL_String::FromIntegerU(entity->GetContentLength()).GetChars());
        } else if (!entity->IsChunked()) {
            // Only the end of the connection tells where the body ends.
            (void)headers.SetHeader("Connection", "close");
        }
    } else {
        (void)headers.SetHeader("Content-Length", "0");
    }
    KL_MemoryStream head(1024);
    KL_CHECK_FINE(response.Emit(head));
    KL_CHECK_FINE(m_Output->WriteFully(head.GetData(), head.GetDataSize()));
    return KL_SUCCESS;
}
