// KL_HttpStaticRequestHandler: answers every request with one fixed document.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_HttpRequestHandler.h"
#include "KL_String.h"

class KL_HttpStaticRequestHandler : public KL_HttpRequestHandler {
public:
    // With copy false the caller's bytes are borrowed and must outlive the handler.
    KL_HttpStaticRequestHandler(const void* data, KL_Size size, const char* mime_type = "text/html",
                                bool copy = true);
    explicit KL_HttpStaticRequestHandler(const char* document, const char* mime_type = "text/html",
                                         bool copy = true);

    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override;

private:
    KL_String m_MimeType;
    KL_DataBuffer m_Buffer;
};
