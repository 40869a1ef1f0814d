// The device host's HTTP dispatch and its life cycle, with the Counter device on 127.0.0.1.
#include "HostTestSupport.h"
#include "KL_Result.h"
#include "UP_HttpServer.h"
#include "UP_HttpServerSocketTask.h"

#include <gtest/gtest.h>

using namespace host_test;

namespace {

const char* const kNotFoundPage = "<html><head><title>404 Not Found</title></head><body><h1>Not "
                                  "Found</h1><p>The requested URL was not found "
                                  "on this server.</p></html>";

class HostDispatchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KL_SUCCESS, m_Device.Start()); }
    uint16_t Port() const { return m_Device.GetPort(); }
    CounterDevice m_Device{"Dispatch"};
};

TEST_F(HostDispatchTest, GetAndHeadAnswerDescriptionAndScpd) {
    struct Case {
        const char* method;
        std::string path;
        const char* marker;
    } cases[] = {
        {"GET", "/DeviceDescription.xml", "<friendlyName>Dispatch</friendlyName>"},
        {"GET", "/DeviceDescription.xml?x=1", "<friendlyName>Dispatch</friendlyName>"},
        {"HEAD", "/DeviceDescription.xml", nullptr},
        {"GET", ScpdPath(m_Device), "<name>Apply</name>"},
        {"HEAD", ScpdPath(m_Device), nullptr},
    };
    for (const Case& c : cases) {
        const bool head = std::string(c.method) == "HEAD";
        Reply reply = Exchange(Port(), Request(c.method, c.path), head);
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        EXPECT_EQ(200, reply.status);
        EXPECT_EQ("text/xml; charset=\"utf-8\"", reply.Header("content-type"));
        EXPECT_NE("0", reply.Header("content-length"));
        if (head) {
            EXPECT_TRUE(reply.body.empty());
        } else {
            EXPECT_NE(std::string::npos, reply.body.find(c.marker)) << reply.body;
        }
    }
}

TEST_F(HostDispatchTest, OtherMethodsAndPaths) {
    Reply lower = Exchange(Port(), Request("get", "/DeviceDescription.xml"));
    EXPECT_EQ(405, lower.status);
    EXPECT_EQ("Bad Request", lower.reason);

    Reply missing = Exchange(Port(), Request("GET", "/nothing/here"));
    EXPECT_EQ(404, missing.status);
    EXPECT_EQ("Not Found", missing.reason);
    EXPECT_EQ(kNotFoundPage, missing.body);
}

TEST_F(HostDispatchTest, ServerDateAndContentLanguage) {
    Reply plain = Exchange(Port(), Request("GET", "/DeviceDescription.xml"));
    EXPECT_EQ(UP_HTTP_SERVER_HEADER, plain.Header("server"));
    EXPECT_TRUE(plain.Has("date"));
    EXPECT_FALSE(plain.Has("content-language"));
    Reply asked = Exchange(Port(), Request("GET", "/DeviceDescription.xml", "Accept-Language: de-DE\r\n"));
    EXPECT_EQ("en", asked.Header("content-language"));
}

TEST_F(HostDispatchTest, StartAndStopTwiceAreRefused) {
    EXPECT_EQ(KL_ERROR_INVALID_STATE, m_Device.Start());
    EXPECT_EQ(KL_SUCCESS, m_Device.Stop());
    EXPECT_EQ(KL_ERROR_INVALID_STATE, m_Device.Stop());
    EXPECT_TRUE(m_Device.GetServices().IsEmpty());
    ASSERT_EQ(KL_SUCCESS, m_Device.Start());
    EXPECT_EQ(1u, m_Device.GetServices().GetItemCount());
    EXPECT_EQ(200, Exchange(Port(), Request("GET", "/DeviceDescription.xml")).status);
}

// A device whose icons fail to set up once: Start fails after the services were added.
class FlakyIconsDevice : public CounterDevice {
public:
    KL_Result SetupIcons() override { return m_FailIcons ? KL_FAILURE : KL_SUCCESS; }
    bool m_FailIcons = true;
};

TEST(HostLifecycleTest, FailedStartLeavesNoServices) {
    FlakyIconsDevice device;
    EXPECT_EQ(KL_FAILURE, device.Start());
    EXPECT_FALSE(device.IsStarted());
    EXPECT_TRUE(device.GetServices().IsEmpty());
    EXPECT_EQ(nullptr, device.GetHttpServer());
    device.m_FailIcons = false;
    ASSERT_EQ(KL_SUCCESS, device.Start());
    EXPECT_EQ(1u, device.GetServices().GetItemCount());
}

TEST(HostLifecycleTest, IconsFromMemoryAndFromFiles) {
    class IconDevice : public CounterDevice {
    public:
        KL_Result SetupIcons() override {
            static const char kPng[] = "not really a png";
            KL_Result res = AddIcon(UP_DeviceIcon("image/png", 48, 48, 24, "/icons/small.png"), kPng,
                                    sizeof kPng - 1, true);
            if (KL_SUCCEEDED(res)) {
                // Outside the URL root: refused, not listed.
                EXPECT_EQ(
                    KL_ERROR_INVALID_PARAMETERS,
                    AddIcon(UP_DeviceIcon("image/png", 1, 1, 1, "/elsewhere/x.png"), "/tmp", "/icons/"));
            }
            return res;
        }
    } device;
    ASSERT_EQ(KL_SUCCESS, device.Start());
    EXPECT_EQ(1u, device.GetIcons().GetItemCount());
    Reply icon = Exchange(device.GetPort(), Request("GET", "/icons/small.png"));
    EXPECT_EQ(200, icon.status);
    EXPECT_EQ("image/png", icon.Header("content-type"));
    EXPECT_EQ("not really a png", icon.body);
}

} // namespace
