// klprobe proxy / hostmatch: the HTTP client's proxy choice and the TLS layer's host-name rule.
#include "KL_HttpProxyAddress.h"
#include "KL_HttpProxySelector.h"
#include "KL_HttpUrl.h"
#include "KL_TlsHostName.h"
#include "Probe.h"

#include <cstdio>

// The proxy the default selector (KEEL_NET_CONFIG_PROXY_SELECTOR) picks for the URL, as
// "host:port"; KL_ERROR_HTTP_NO_PROXY when the URL goes direct.
KLPROBE_COMMAND(proxy, "proxy URL") {
    if (args.size() != 1) {
        return klprobe::Usage("proxy URL");
    }
    const KL_HttpUrl url(args[0].c_str());
    if (!url.IsValid()) {
        return klprobe::Fail(KL_ERROR_INVALID_SYNTAX);
    }
    KL_HttpProxySelector* selector = KL_HttpProxySelector::GetDefault();
    if (selector == nullptr) {
        return klprobe::Fail(KL_ERROR_HTTP_NO_PROXY);
    }
    KL_HttpProxyAddress proxy;
    const KL_Result result = selector->GetProxyForUrl(url, proxy);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("%s:%u\n", proxy.GetHostName().GetChars(), static_cast<unsigned>(proxy.GetPort()));
    return 0;
}

// Whether a certificate name (pattern) covers a host name.
KLPROBE_COMMAND(hostmatch, "hostmatch PATTERN NAME") {
    if (args.size() != 2) {
        return klprobe::Usage("hostmatch PATTERN NAME");
    }
    std::printf("%s\n", KL_TlsMatchHostName(args[0].c_str(), args[1].c_str()) ? "match" : "no match");
    return 0;
}
