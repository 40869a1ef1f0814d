#include "KL_HttpStaticRequestHandler.h"

#include "KL_HttpEntity.h"
#include "KL_HttpResponse.h"

#include <cstring>

KL_HttpStaticRequestHandler::KL_HttpStaticRequestHandler(const void* data, KL_Size size,
                                                         const char* mime_type, bool copy)
    : m_MimeType(mime_type), m_Buffer(data, size, copy) {}

KL_HttpStaticRequestHandler::KL_HttpStaticRequestHandler(const char* document, const char* mime_type,
                                                         bool copy)
    : KL_HttpStaticRequestHandler(document, document ? static_cast<KL_Size>(std::strlen(document)) : 0,
                                  mime_type, copy) {}

KL_Result KL_HttpStaticRequestHandler::SetupResponse(KL_HttpRequest&, const KL_HttpRequestContext&,
                                                     KL_HttpResponse& response) {
    KL_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) {
        return KL_ERROR_INVALID_STATE;
    }
    (void)entity->SetContentType(m_MimeType.GetChars());
    return entity->SetInputStream(m_Buffer.GetData(), m_Buffer.GetDataSize());
}
