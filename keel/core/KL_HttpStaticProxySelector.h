// KL_HttpStaticProxySelector: one fixed proxy for http URLs and one for https URLs.
#pragma once

#include "KL_HttpProxySelector.h"

#include <cstdint>

class KL_HttpStaticProxySelector : public KL_HttpProxySelector {
public:
    KL_HttpStaticProxySelector(const char* http_host, uint16_t http_port, const char* https_host,
                               uint16_t https_port);

    // The address of the URL's scheme (even when empty); KL_ERROR_HTTP_NO_PROXY for others.
    [[nodiscard]] KL_Result GetProxyForUrl(const KL_HttpUrl& url, KL_HttpProxyAddress& proxy) override;

private:
    KL_HttpProxyAddress m_HttpProxy;
    KL_HttpProxyAddress m_HttpsProxy;
};
