// KL_HttpEnvProxySelector: the proxies of the environment (http_proxy, HTTPS_PROXY/https_proxy,
// ALL_PROXY/all_proxy) with the exemptions of NO_PROXY/no_proxy.
#pragma once

#include "KL_AutomaticCleaner.h"
#include "KL_HttpProxySelector.h"
#include "KL_List.h"
#include "KL_String.h"

#include <atomic>

class KL_HttpEnvProxySelector : public KL_HttpProxySelector, public KL_AutomaticCleaner::Singleton {
public:
    // The process-wide selector, reading the environment when it is made.
    static KL_HttpEnvProxySelector* GetInstance();

    // Reads the variables now (tests make their own).
    KL_HttpEnvProxySelector();
    ~KL_HttpEnvProxySelector() override = default;

    [[nodiscard]] KL_Result GetProxyForUrl(const KL_HttpUrl& url, KL_HttpProxyAddress& proxy) override;

private:
    static void ReadProxy(const char* name, const char* alternative, KL_HttpProxyAddress& proxy);
    bool IsExempt(const KL_String& host) const;

    KL_HttpProxyAddress m_HttpProxy;
    KL_HttpProxyAddress m_HttpsProxy;
    KL_HttpProxyAddress m_AllProxy;
    KL_List<KL_String> m_NoProxy;

    static std::atomic<KL_HttpEnvProxySelector*> s_Instance;
};
