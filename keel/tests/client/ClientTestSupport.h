// What the client tests share: one exchange through a KL_HttpClient, its body read to the end.
#pragma once

#include "KL_HttpClient.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"

#include <memory>
#include <string>

namespace client_test {

struct Outcome {
    KL_Result result = KL_FAILURE;
    int status = 0;
    std::string body;
    KL_Result body_result = KL_SUCCESS;
    std::string transfer_encoding;
};

inline KL_Result ReadBody(KL_HttpResponse& response, std::string& body) {
    KL_InputStreamReference stream;
    if (response.GetEntity() == nullptr || KL_FAILED(response.GetEntity()->GetInputStream(stream))) {
        return KL_SUCCESS;
    }
    char buffer[4096];
    for (;;) {
        KL_Size count = 0;
        const KL_Result result = stream->Read(buffer, sizeof buffer, &count);
        if (result == KL_ERROR_EOS) {
            return KL_SUCCESS;
        }
        if (KL_FAILED(result)) {
            return result;
        }
        body.append(buffer, count);
    }
}

inline Outcome Send(KL_HttpClient& client, KL_HttpRequest& request) {
    Outcome outcome;
    KL_HttpResponse* response = nullptr;
    outcome.result = client.SendRequest(request, response);
    std::unique_ptr<KL_HttpResponse> owned(response);
    if (response != nullptr) {
        outcome.status = response->GetStatusCode();
        if (response->GetEntity() != nullptr) {
            outcome.transfer_encoding = response->GetEntity()->GetTransferEncoding().GetChars();
        }
        outcome.body_result = ReadBody(*response, outcome.body);
    }
    return outcome;
}

inline Outcome Fetch(KL_HttpClient& client, const std::string& url, const char* method = "GET",
                     const char* protocol = KL_HTTP_PROTOCOL_1_1) {
    KL_HttpRequest request(url.c_str(), method, protocol);
    return Send(client, request);
}

} // namespace client_test
