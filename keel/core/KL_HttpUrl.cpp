#include "KL_HttpUrl.h"

KL_HttpUrl::KL_HttpUrl(const char* url, bool ignore_scheme) : KL_Url(url, 0) {
    if (!ignore_scheme && m_SchemeId != SCHEME_ID_HTTP && m_SchemeId != SCHEME_ID_HTTPS) {
        // Without its scheme the URL is not valid, whatever the scheme was.
        Reset();
        SetScheme("");
    }
}

KL_HttpUrl::KL_HttpUrl(const char* host, uint16_t port, const char* path, const char* query,
                       const char* fragment)
    : KL_Url("http", host, port, path, query, fragment) {}

uint16_t KL_HttpUrl::GetDefaultPort(SchemeId scheme_id) {
    switch (scheme_id) {
    case SCHEME_ID_HTTP:
        return DEFAULT_PORT;
    case SCHEME_ID_HTTPS:
        return DEFAULT_SECURE_PORT;
    default:
        return 0;
    }
}

KL_String KL_HttpUrl::ToString(bool with_fragment) const {
    return ToStringWithDefaultPort(GetDefaultPort(m_SchemeId), with_fragment);
}
