#include "KL_Environment.h"
#include "KL_HttpRequest.h"
#include "KL_LogManager.h"
#include "UP_HttpMessageHelper.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

bool g_NoneLogged = false;

void CatchUnknownSignature(const KL_LogRecord& record) {
    if (std::strcmp(record.m_Message, "Unknown device signature (ua=none)") == 0 &&
        std::strcmp(record.m_LoggerName, "upnp.core.http") == 0 && record.m_Level == KL_LOG_LEVEL_FINER) {
        g_NoneLogged = true;
    }
}

} // namespace

TEST(DeviceSignature, OneRowPerRule) {
    const struct {
        const char* user_agent;
        const char* client_info;
        const char* server;
        UP_DeviceSignature expected;
    } cases[] = {
        {"Xbox/2.0.4548.0 UPnP/1.0 Xbox/2.0.4548.0", nullptr, nullptr, UP_SIGNATURE_XBOX},
        {"Xenon", nullptr, nullptr, UP_SIGNATURE_XBOX},
        {nullptr, nullptr, "Microsoft-Windows/6.3 UPnP/1.0 xbox/2.0", UP_SIGNATURE_XBOX},
        {"Windows-Media-Player/12.0.9200.16384", nullptr, nullptr, UP_SIGNATURE_WINDOWS_MEDIA_PLAYER},
        {"Windows Media Player", nullptr, nullptr, UP_SIGNATURE_WINDOWS_MEDIA_PLAYER},
        {"Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)", nullptr, nullptr,
         UP_SIGNATURE_WINDOWS_MEDIA_PLAYER},
        {"NSPlayer/12.00 WMFSDK/12.00", nullptr, nullptr, UP_SIGNATURE_WINDOWS_MEDIA_PLAYER},
        {"Linux UPnP/1.0 Sonos/29.3-87071 (ZPS1)", nullptr, nullptr, UP_SIGNATURE_SONOS},
        {"PLAYSTATION 3", nullptr, nullptr, UP_SIGNATURE_PLAYSTATION3},
        {"UPnP/1.0", "av=5.0; cn=\"Sony Computer Entertainment Inc.\"; mn=\"PLAYSTATION 3\"; mv=\"1.0\";",
         nullptr, UP_SIGNATURE_PLAYSTATION3},
        {"Microsoft-Windows/10.0 UPnP/1.0", nullptr, nullptr, UP_SIGNATURE_WINDOWS},
        {"Windows on a Mac", nullptr, nullptr, UP_SIGNATURE_WINDOWS},
        {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15", nullptr, nullptr,
         UP_SIGNATURE_MAC},
        {"Player OSX", nullptr, nullptr, UP_SIGNATURE_MAC},
        {"VLC/3.0.24 LibVLC/3.0.24", nullptr, nullptr, UP_SIGNATURE_VLC},
        {"videolan", nullptr, nullptr, UP_SIGNATURE_VLC},
        {"GUPnP/1.6.3 DLNADOC/1.50", nullptr, nullptr, UP_SIGNATURE_UNKNOWN},
        {nullptr, nullptr, nullptr, UP_SIGNATURE_UNKNOWN},
    };
    for (const auto& c : cases) {
        KL_HttpRequest request("/", "GET", KL_HTTP_PROTOCOL_1_1);
        if (c.user_agent != nullptr) {
            (void)request.GetHeaders().AddHeader("User-Agent", c.user_agent);
        }
        if (c.client_info != nullptr) {
            (void)request.GetHeaders().AddHeader("X-AV-Client-Info", c.client_info);
        }
        if (c.server != nullptr) {
            (void)request.GetHeaders().AddHeader("Server", c.server);
        }
        EXPECT_EQ(c.expected, UP_HttpMessageHelper::GetDeviceSignature(request))
            << (c.user_agent ? c.user_agent : "-") << " | " << (c.server ? c.server : "-");
    }
}

// The log configuration is read once per process, so this runs in a fresh one.
TEST(DeviceSignatureDeathTest, UnknownClientWithoutHeadersLogsNone) {
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    EXPECT_EXIT(
        {
            (void)KL_Environment::Set("KEEL_LOG_CONFIG",
                                      "plist:upnp.core.http.level=ALL;upnp.core.http.handlers=CustomHandler");
            KL_LogManager::SetCustomHandlerFunction(&CatchUnknownSignature);
            KL_HttpRequest request("/", "GET", KL_HTTP_PROTOCOL_1_1);
            const UP_DeviceSignature signature = UP_HttpMessageHelper::GetDeviceSignature(request);
            std::exit(signature == UP_SIGNATURE_UNKNOWN && g_NoneLogged ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}
