// KL_HttpProxySelector: decides which proxy, if any, a URL goes through.
#pragma once

#include "KL_HttpProxyAddress.h"
#include "KL_Result.h"

class KL_HttpUrl;

class KL_HttpProxySelector {
public:
    virtual ~KL_HttpProxySelector() = default;

    // The proxy for the URL; KL_ERROR_HTTP_NO_PROXY when the URL goes direct.
    [[nodiscard]] virtual KL_Result GetProxyForUrl(const KL_HttpUrl& url, KL_HttpProxyAddress& proxy) = 0;

    // The platform's own selector: there is none here (null).
    static KL_HttpProxySelector* GetSystemSelector();
    // The selector KEEL_NET_CONFIG_PROXY_SELECTOR names ("env": the environment selector; any
    // other value or none: null, meaning no proxy). Read once, on the first call.
    static KL_HttpProxySelector* GetDefault();
};
