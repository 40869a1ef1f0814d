// Proxy selection: the environment's variables and exemptions, and the static selector.
#include "KL_Environment.h"
#include "KL_HttpEnvProxySelector.h"
#include "KL_HttpStaticProxySelector.h"
#include "KL_HttpUrl.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char* const kVariables[] = {"http_proxy", "HTTP_PROXY", "HTTPS_PROXY", "https_proxy",
                                  "ALL_PROXY",  "all_proxy",  "NO_PROXY",    "no_proxy"};

struct Case {
    std::vector<std::pair<const char*, const char*>> environment;
    const char* url;
    const char* expected; // "host:port", or null for no proxy
};

std::string Pick(KL_HttpProxySelector& selector, const char* url) {
    KL_HttpProxyAddress proxy;
    const KL_Result result = selector.GetProxyForUrl(KL_HttpUrl(url), proxy);
    if (result == KL_ERROR_HTTP_NO_PROXY) {
        return "none";
    }
    EXPECT_EQ(result, KL_SUCCESS);
    return std::string(proxy.GetHostName().GetChars()) + ":" + std::to_string(proxy.GetPort());
}

TEST(HttpEnvProxySelector, FollowsTheEnvironment) {
    const Case cases[] = {
        {{{"http_proxy", "proxy:3128"}}, "http://a.example.com/", "proxy:3128"},
        {{{"http_proxy", "proxy"}}, "http://a.example.com/", "proxy:80"},
        {{{"http_proxy", "https://proxy"}}, "http://a.example.com/", "proxy:443"},
        {{{"HTTP_PROXY", "proxy:3128"}}, "http://a.example.com/", nullptr},
        {{{"http_proxy", "proxy:3128"}}, "https://a.example.com/", nullptr},
        {{{"https_proxy", "secure:8443"}}, "https://a.example.com/", "secure:8443"},
        {{{"HTTPS_PROXY", "upper:1"}, {"https_proxy", "lower:2"}}, "https://a.example.com/", "upper:1"},
        {{{"all_proxy", "all:9"}}, "https://a.example.com/", "all:9"},
        {{{"ALL_PROXY", "ALL:8"}, {"all_proxy", "all:9"}}, "http://a.example.com/", "ALL:8"},
        {{{"http_proxy", "p:1"}, {"all_proxy", "all:9"}}, "http://a.example.com/", "p:1"},
        {{{"http_proxy", "p:1"}, {"no_proxy", "example.com"}}, "http://example.com/", nullptr},
        {{{"http_proxy", "p:1"}, {"no_proxy", "example.com"}}, "http://a.EXAMPLE.com/", nullptr},
        {{{"http_proxy", "p:1"}, {"no_proxy", "example.com"}}, "http://badexample.com/", "p:1"},
        {{{"http_proxy", "p:1"}, {"no_proxy", "other,*"}}, "http://anything/", nullptr},
        {{{"http_proxy", "p:1"}, {"no_proxy", "other, example.com"}}, "http://example.com/", "p:1"},
        {{{"http_proxy", "p:1"}, {"NO_PROXY", "localhost"}, {"no_proxy", "x"}}, "http://localhost/", nullptr},
        {{{"http_proxy", "p:1"}, {"no_proxy", ""}}, "http://localhost/", "p:1"},
        {{{"http_proxy", ""}}, "http://localhost/", nullptr},
        {{{"http_proxy", "proxy:99999"}}, "http://localhost/", nullptr},
        {{{"http_proxy", "http://"}}, "http://localhost/", nullptr},
        {{{"http_proxy", "bad proxy text://x"}}, "http://localhost/", nullptr},
    };
    for (const Case& c : cases) {
        for (const char* name : kVariables) {
            (void)KL_Environment::Set(name, nullptr);
        }
        for (const auto& [name, value] : c.environment) {
            (void)KL_Environment::Set(name, value);
        }
        KL_HttpEnvProxySelector selector;
        EXPECT_EQ(Pick(selector, c.url), c.expected != nullptr ? c.expected : "none")
            << c.url << " with " << c.environment.front().first << "=" << c.environment.front().second;
    }
    for (const char* name : kVariables) {
        (void)KL_Environment::Set(name, nullptr);
    }
}

TEST(HttpStaticProxySelector, AnswersPerScheme) {
    KL_HttpStaticProxySelector selector("plain", 1, "", 0);
    EXPECT_EQ(Pick(selector, "http://x/"), "plain:1");
    EXPECT_EQ(Pick(selector, "https://x/"), ":0");
    KL_HttpProxyAddress proxy;
    EXPECT_EQ(selector.GetProxyForUrl(KL_HttpUrl("ftp://x/", true), proxy), KL_ERROR_HTTP_NO_PROXY);
}

} // namespace
