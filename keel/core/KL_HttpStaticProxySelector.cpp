#include "KL_HttpStaticProxySelector.h"

#include "KL_HttpUrl.h"

KL_HttpStaticProxySelector::KL_HttpStaticProxySelector(const char* http_host, uint16_t http_port,
                                                       const char* https_host, uint16_t https_port)
    : m_HttpProxy(http_host, http_port), m_HttpsProxy(https_host, https_port) {}

KL_Result KL_HttpStaticProxySelector::GetProxyForUrl(const KL_HttpUrl& url, KL_HttpProxyAddress& proxy) {
    switch (url.GetSchemeId()) {
    case KL_Uri::SCHEME_ID_HTTP:
        proxy = m_HttpProxy;
        return KL_SUCCESS;
    case KL_Uri::SCHEME_ID_HTTPS:
        proxy = m_HttpsProxy;
        return KL_SUCCESS;
    default:
        return KL_ERROR_HTTP_NO_PROXY;
    }
}
