#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_MemoryStream.h"
#include "UP_FrameworkDefaults.h"
#include "UP_HttpMessageHelper.h"
#include "UP_UPnPMessageHelper.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string HeaderOf(const KL_HttpMessage& message, const char* name) {
    const char* value = message.GetHeaders().GetHeaderValue(name);
    return value != nullptr ? value : "(none)";
}

} // namespace

TEST(FrameworkDefaults, DefaultValuesAndSetters) {
    UP_FrameworkDefaults& defaults = UP_FrameworkDefaults::Instance();
    EXPECT_EQ(&defaults, &UP_FrameworkDefaults::Instance());
    EXPECT_EQ(1800, defaults.GetDefaultDeviceLease().ToSeconds());
    EXPECT_EQ(1800u, defaults.GetDefaultSubscribeLease());
    EXPECT_STREQ("UPnP/1.0 DLNADOC/1.50 Lanyard/1.0.0", defaults.GetDefaultUserAgent().GetChars());
    EXPECT_EQ(2u, defaults.GetAnnounceMulticastTTL());

    defaults.SetDefaultDeviceLease(KL_TimeStamp::FromSeconds(60));
    defaults.SetDefaultSubscribeLease(KL_TimeStamp(300.9));
    defaults.SetDefaultUserAgent("Test/1.0");
    EXPECT_EQ(60, defaults.GetDefaultDeviceLease().ToSeconds());
    EXPECT_EQ(300u, defaults.GetDefaultSubscribeLease());
    EXPECT_STREQ("Test/1.0", defaults.GetDefaultUserAgent().GetChars());

    defaults.SetDefaultDeviceLease(KL_TimeStamp::FromSeconds(1800));
    defaults.SetDefaultSubscribeLease(KL_TimeStamp::FromSeconds(1800));
    defaults.SetDefaultUserAgent(UP_DEFAULT_USER_AGENT);
}

TEST(UPnPMessageHelper, CacheMaxAgeInWholeSeconds) {
    const struct {
        double seconds;
        const char* expected;
    } cases[] = {{1800.0, "max-age=1800"}, {1799.9, "max-age=1799"}, {0.5, "max-age=0"}};
    for (const auto& c : cases) {
        KL_HttpResponse response(200, "OK");
        (void)response.GetHeaders().AddHeader("Cache-Control", "no-cache");
        EXPECT_EQ(KL_SUCCESS, UP_UPnPMessageHelper::SetCacheMaxAge(response, KL_TimeStamp(c.seconds)));
        EXPECT_EQ(c.expected, HeaderOf(response, "Cache-Control")) << c.seconds;
        EXPECT_EQ(1u, response.GetHeaders().GetHeaders().GetItemCount());
    }
}

TEST(UPnPMessageHelper, IdHeadersArePlainDecimals) {
    KL_HttpResponse response(200, "OK");
    (void)response.GetHeaders().AddHeader("BOOTID.UPNP.ORG", "7");
    EXPECT_EQ(KL_SUCCESS, UP_UPnPMessageHelper::SetBootIdHeader(response, 4294967295u));
    EXPECT_EQ(KL_SUCCESS, UP_UPnPMessageHelper::SetNextBootIdHeader(response, 0));
    EXPECT_EQ(KL_SUCCESS, UP_UPnPMessageHelper::SetConfigIdHeader(response, 42));
    EXPECT_EQ("4294967295", HeaderOf(response, "BOOTID.UPNP.ORG"));
    EXPECT_EQ("0", HeaderOf(response, "NEXTBOOTID.UPNP.ORG"));
    EXPECT_EQ("42", HeaderOf(response, "CONFIGID.UPNP.ORG"));
    EXPECT_EQ(3u, response.GetHeaders().GetHeaders().GetItemCount());
}

TEST(UPnPMessageHelper, MX) {
    const struct {
        const char* value;
        bool ok;
        uint32_t mx;
    } cases[] = {{"3", true, 3}, {"3a", false, 0}, {"", false, 0}, {"-1", false, 0}, {nullptr, false, 0}};
    for (const auto& c : cases) {
        KL_HttpRequest request("*", "M-SEARCH", KL_HTTP_PROTOCOL_1_1);
        if (c.value != nullptr) {
            (void)request.GetHeaders().AddHeader("MX", c.value);
        }
        uint32_t mx = 99;
        const KL_Result result = UP_UPnPMessageHelper::GetMX(request, mx);
        EXPECT_EQ(c.ok, KL_SUCCEEDED(result)) << (c.value ? c.value : "absent");
        EXPECT_EQ(c.mx, mx);
        if (c.value == nullptr) {
            EXPECT_EQ(KL_ERROR_INVALID_PARAMETERS, result);
        }
    }
}

// Runs itself again inside a new network namespace whose only interface is "lo".
TEST(UPnPMessageHelper, IPAddressesWhereLoopbackIsTheOnlyInterface) {
    if (std::getenv("UPNP_TEST_IN_LOOPBACK_NAMESPACE") != nullptr) {
        KL_List<KL_IpAddress> without;
        ASSERT_EQ(KL_SUCCESS, UP_UPnPMessageHelper::GetIPAddresses(without, false));
        EXPECT_EQ(0u, without.GetItemCount());
        KL_List<KL_IpAddress> with;
        ASSERT_EQ(KL_SUCCESS, UP_UPnPMessageHelper::GetIPAddresses(with, true));
        ASSERT_EQ(1u, with.GetItemCount());
        EXPECT_STREQ("127.0.0.1", with.GetFirstItem()->ToString().GetChars());
        return;
    }
    if (std::system("unshare -n true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "network namespaces are refused here (unshare -n failed)";
    }
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    const std::string command =
        std::string("unshare -n sh -c 'ip link set lo up && UPNP_TEST_IN_LOOPBACK_NAMESPACE=1 exec \"$0\" "
                    "--gtest_filter=UPnPMessageHelper.IPAddressesWhereLoopbackIsTheOnlyInterface' '") +
        self + "'";
    EXPECT_EQ(0, std::system(command.c_str()));
}

TEST(HttpMessageHelper, WantsKeepAlive) {
    const struct {
        const char* protocol;
        const char* connection;
        bool expected;
    } cases[] = {
        {KL_HTTP_PROTOCOL_1_0, nullptr, false},         {KL_HTTP_PROTOCOL_1_0, "keep-alive", false},
        {KL_HTTP_PROTOCOL_1_1, nullptr, true},          {KL_HTTP_PROTOCOL_1_1, "keep-alive", true},
        {KL_HTTP_PROTOCOL_1_1, "Keep-Alive", true},     {KL_HTTP_PROTOCOL_1_1, "KEEP-ALIVE", true},
        {KL_HTTP_PROTOCOL_1_1, "keep-alive, x", false}, {KL_HTTP_PROTOCOL_1_1, "close", false},
    };
    for (const auto& c : cases) {
        KL_HttpRequest request("/", "GET", c.protocol);
        if (c.connection != nullptr) {
            (void)request.GetHeaders().AddHeader("Connection", c.connection);
        }
        EXPECT_EQ(c.expected, UP_HttpMessageHelper::WantsKeepAlive(request))
            << c.protocol << " " << (c.connection ? c.connection : "-");
    }
}

TEST(HttpMessageHelper, BodyRoundTrip) {
    KL_HttpResponse response(200, "OK");
    KL_String body;
    EXPECT_EQ(KL_FAILURE, UP_HttpMessageHelper::GetBody(response, body));
    EXPECT_TRUE(UP_HttpMessageHelper::IsBodyStreamSeekable(response));

    EXPECT_EQ(KL_SUCCESS, UP_HttpMessageHelper::SetBody(response, ""));
    EXPECT_EQ(nullptr, response.GetEntity());

    KL_HttpEntity* entity = nullptr;
    EXPECT_EQ(KL_SUCCESS, UP_HttpMessageHelper::SetMessageBody(response, KL_String("<a> x </a>"), &entity));
    ASSERT_NE(nullptr, entity);
    EXPECT_EQ(entity, response.GetEntity());
    EXPECT_EQ(10u, entity->GetContentLength());
    EXPECT_TRUE(UP_HttpMessageHelper::IsBodyStreamSeekable(response));
    ASSERT_EQ(KL_SUCCESS, UP_HttpMessageHelper::GetBody(response, body));
    EXPECT_STREQ("<a> x </a>", body.GetChars());
}

TEST(HttpMessageHelper, ParseBody) {
    const struct {
        const char* body;
        bool ok;
    } cases[] = {{"<a><b> x </b></a>", true}, {"not xml", false}, {"<a>", false}, {"<a/><b/>", false}};
    for (const auto& c : cases) {
        KL_HttpRequest request("/control", "POST");
        ASSERT_EQ(KL_SUCCESS, UP_HttpMessageHelper::SetBody(request, c.body));
        KL_XmlElementNode* tree = nullptr;
        const KL_Result result = UP_HttpMessageHelper::ParseBody(request, tree);
        EXPECT_EQ(c.ok, KL_SUCCEEDED(result)) << c.body;
        EXPECT_EQ(c.ok, tree != nullptr) << c.body;
        if (tree != nullptr) {
            const KL_XmlElementNode* child = tree->GetChild("b");
            ASSERT_NE(nullptr, child);
            ASSERT_NE(nullptr, child->GetText());
            EXPECT_STREQ(" x ", child->GetText()->GetChars()); // whitespace kept
        }
        delete tree;
    }
}

TEST(HttpMessageHelper, ParseBodyExpandsNoDoctypeEntity) {
    KL_HttpRequest request("/control", "POST");
    ASSERT_EQ(KL_SUCCESS,
              UP_HttpMessageHelper::SetBody(request, "<!DOCTYPE a [<!ENTITY x \"yyyy\">]><a>&x;</a>"));
    KL_XmlElementNode* tree = nullptr;
    if (KL_SUCCEEDED(UP_HttpMessageHelper::ParseBody(request, tree))) {
        const KL_String* text = tree->GetText();
        EXPECT_TRUE(text == nullptr || text->Find("yyyy") < 0);
    }
    delete tree;
}

TEST(HttpMessageHelper, OversizedBodyIsRefused) {
    // A body of unknown length (as a chunked one) beyond the limit.
    const std::string big(UP_HTTP_MAX_BODY_SIZE + 1, 'x');
    KL_HttpRequest request("/control", "POST");
    ASSERT_EQ(KL_SUCCESS, UP_HttpMessageHelper::SetBody(request, big.c_str()));
    (void)request.GetEntity()->SetContentLength(0);
    KL_XmlElementNode* tree = nullptr;
    EXPECT_EQ(KL_ERROR_NOT_ENOUGH_SPACE, UP_HttpMessageHelper::ParseBody(request, tree));
    EXPECT_EQ(nullptr, tree);
    KL_String body;
    // A declared length beyond the limit is refused before reading.
    (void)request.GetEntity()->SetContentLength(UP_HTTP_MAX_BODY_SIZE + 1);
    EXPECT_EQ(KL_ERROR_NOT_ENOUGH_SPACE, UP_HttpMessageHelper::GetBody(request, body));
}

TEST(HttpMessageHelper, HeaderReadersAndWriters) {
    KL_HttpRequest request("/", "GET");
    KL_String text;
    uint64_t length = 7;
    EXPECT_EQ(KL_ERROR_INVALID_PARAMETERS, UP_HttpMessageHelper::GetHost(request, text));
    EXPECT_EQ(KL_ERROR_INVALID_PARAMETERS, UP_HttpMessageHelper::GetContentType(request, text));
    EXPECT_EQ(KL_ERROR_INVALID_PARAMETERS, UP_HttpMessageHelper::GetContentLength(request, length));
    EXPECT_EQ(0u, length);

    (void)request.GetHeaders().AddHeader("Host", "old");
    (void)request.GetHeaders().AddHeader("Content-Type", "text/xml; charset=\"utf-8\"");
    (void)request.GetHeaders().AddHeader("Content-Length", "1234");
    EXPECT_EQ(KL_SUCCESS, UP_HttpMessageHelper::SetHostHeader(request, "192.168.1.2:8200"));
    EXPECT_EQ(KL_SUCCESS, UP_HttpMessageHelper::GetHost(request, text));
    EXPECT_STREQ("192.168.1.2:8200", text.GetChars());
    EXPECT_EQ(KL_SUCCESS, UP_HttpMessageHelper::GetContentType(request, text));
    EXPECT_STREQ("text/xml; charset=\"utf-8\"", text.GetChars());
    EXPECT_EQ(KL_SUCCESS, UP_HttpMessageHelper::GetContentLength(request, length));
    EXPECT_EQ(1234u, length);

    EXPECT_EQ(KL_SUCCESS, UP_HttpMessageHelper::SetBasicAuthorization(request, "Aladdin", "open sesame"));
    EXPECT_EQ("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==", HeaderOf(request, "Authorization"));
}

TEST(HttpMessageHelper, ToLogOfNullMessageFails) {
    KL_DEFINE_LOGGER(logger, "upnp.core.http");
    KL_HttpRequest request("/", "GET");
    KL_HttpResponse response(404, "Not Found");
    EXPECT_EQ(KL_FAILURE,
              UP_HttpMessageHelper::ToLog(logger, KL_LOG_LEVEL_FINE, "x", (KL_HttpRequest*)nullptr));
    EXPECT_EQ(KL_FAILURE,
              UP_HttpMessageHelper::ToLog(logger, KL_LOG_LEVEL_FINE, "x", (KL_HttpResponse*)nullptr));
    EXPECT_EQ(KL_SUCCESS, UP_HttpMessageHelper::ToLog(logger, KL_LOG_LEVEL_FINE, "x", &request));
    EXPECT_EQ(KL_SUCCESS, UP_HttpMessageHelper::ToLog(logger, KL_LOG_LEVEL_FINE, "x", &response));
}
