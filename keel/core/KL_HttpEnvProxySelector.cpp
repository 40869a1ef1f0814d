#include "KL_HttpEnvProxySelector.h"

#include "KL_Environment.h"
#include "KL_HttpUrl.h"
#include "KL_Log.h"
#include "KL_Url.h"

KL_SET_LOCAL_LOGGER("keel.http.proxy");

std::atomic<KL_HttpEnvProxySelector*> KL_HttpEnvProxySelector::s_Instance{nullptr};

KL_HttpEnvProxySelector* KL_HttpEnvProxySelector::GetInstance() {
    if (s_Instance.load() == nullptr) {
        KL_AutoLock lock(KL_GetSingletonLock());
        if (s_Instance.load() == nullptr) {
            KL_HttpEnvProxySelector* selector = new KL_HttpEnvProxySelector();
            s_Instance.store(selector);
            KL_AutomaticCleaner::GetInstance()->Register(selector);
        }
    }
    return s_Instance.load();
}

KL_HttpEnvProxySelector::KL_HttpEnvProxySelector() {
    ReadProxy("http_proxy", nullptr, m_HttpProxy);
    ReadProxy("HTTPS_PROXY", "https_proxy", m_HttpsProxy);
    ReadProxy("ALL_PROXY", "all_proxy", m_AllProxy);
    KL_String no_proxy;
    if (KL_FAILED(KL_Environment::Get("NO_PROXY", no_proxy))) {
        (void)KL_Environment::Get("no_proxy", no_proxy);
    }
    if (!no_proxy.IsEmpty()) {
        m_NoProxy = no_proxy.Split(",");
    }
}

// The first variable, or the alternative when the first is unset; a non-empty value is read as
// a URL ("http://" put in front when it has no scheme), whose host and port are the address.
void KL_HttpEnvProxySelector::ReadProxy(const char* name, const char* alternative,
                                        KL_HttpProxyAddress& proxy) {
    KL_String value;
    if (KL_FAILED(KL_Environment::Get(name, value)) && alternative != nullptr) {
        (void)KL_Environment::Get(alternative, value);
    }
    if (value.IsEmpty()) {
        return;
    }
    if (value.Find("://") < 0) {
        KL_String prefixed("http://");
        prefixed += value;
        value = prefixed;
    }
    KL_Url url;
    if (KL_FAILED(url.Parse(value.GetChars(), 0))) {
        KL_LOG_WARNING("ignoring proxy variable %s (%s)", name, value.GetChars());
        return;
    }
    proxy.SetHostName(url.GetHost().GetChars());
    proxy.SetPort(url.GetPort());
}

bool KL_HttpEnvProxySelector::IsExempt(const KL_String& host) const {
    for (const KL_String& entry : m_NoProxy) {
        if (entry == "*") {
            return true;
        }
        if (!host.EndsWith(entry.GetChars(), true)) {
            continue;
        }
        const KL_Size matched_at = host.GetLength() - entry.GetLength();
        if (matched_at == 0 || host.GetChars()[matched_at - 1] == '.') {
            return true;
        }
    }
    return false;
}

KL_Result KL_HttpEnvProxySelector::GetProxyForUrl(const KL_HttpUrl& url, KL_HttpProxyAddress& proxy) {
    const KL_HttpProxyAddress* candidate = nullptr;
    if (url.GetSchemeId() == KL_Uri::SCHEME_ID_HTTPS) {
        candidate = &m_HttpsProxy;
    } else if (url.GetSchemeId() == KL_Uri::SCHEME_ID_HTTP) {
        candidate = &m_HttpProxy;
    } else {
        return KL_ERROR_HTTP_NO_PROXY;
    }
    if (IsExempt(url.GetHost())) {
        return KL_ERROR_HTTP_NO_PROXY;
    }
    if (!candidate->GetHostName().IsEmpty()) {
        proxy = *candidate;
        return KL_SUCCESS;
    }
    if (!m_AllProxy.GetHostName().IsEmpty()) {
        proxy = m_AllProxy;
        return KL_SUCCESS;
    }
    return KL_ERROR_HTTP_NO_PROXY;
}
