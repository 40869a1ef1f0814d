// GENA eventing through the device host: subscriptions, NOTIFY delivery and its order,
// callback checks, moderation, LastChange, and the bounds on subscribers and queued events.
#include "GenaTestSupport.h"
#include "KL_HttpResponse.h"
#include "KL_System.h"
#include "UP_EventSubscriber.h"
#include "UP_HttpRequestContext.h"
#include "UP_TaskManager.h"

#include <gtest/gtest.h>

#include <regex>

using namespace gena_test;
using host_test::EventPath;
using host_test::Reply;

namespace {

const KL_SocketAddress kLocal(KL_IpAddress(127, 0, 0, 1), 80);
const KL_SocketAddress kRemote(KL_IpAddress(127, 0, 0, 1), 50000);

void Pause(int millis) {
    (void)KL_System::Sleep(KL_TimeStamp::FromMillis(millis));
}

bool HasSeq(const Reply& notify, const char* seq) {
    return notify.Header("seq") == seq;
}

class GenaTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KL_SUCCESS, m_Device.Start()); }
    UP_Service* Service() { return m_Device.GetCounterService(); }
    CounterDevice m_Device{"Gena"};
    CallbackListener m_Listener;
};

TEST_F(GenaTest, SubscribeThenInitialEventThenOneEventPerChange) {
    Reply answer = SubscribeTo(m_Device, m_Listener.Url());
    ASSERT_EQ(200, answer.status);
    const std::string sid = answer.Header("sid");
    EXPECT_TRUE(std::regex_match(
        sid, std::regex("uuid:[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")))
        << sid;
    EXPECT_EQ("Second-1800", answer.Header("timeout"));

    ASSERT_TRUE(m_Listener.WaitFor(1));
    EXPECT_EQ(200, Apply(m_Device, "Add", "5").status);
    ASSERT_TRUE(m_Listener.WaitFor(2));
    std::vector<Reply> events = m_Listener.Requests();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ("NOTIFY /event HTTP/1.1", events[0].reason);
    for (const Reply& event : events) {
        EXPECT_EQ(sid, event.Header("sid"));
        EXPECT_EQ("upnp:event", event.Header("nt"));
        EXPECT_EQ("upnp:propchange", event.Header("nts"));
        EXPECT_EQ("text/xml; charset=\"utf-8\"", event.Header("content-type"));
    }
    EXPECT_TRUE(HasSeq(events[0], "0"));
    EXPECT_NE(std::string::npos,
              events[0].body.find("<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property>"
                                  "<Value>0</Value></e:property></e:propertyset>"))
        << events[0].body;
    EXPECT_TRUE(HasSeq(events[1], "1"));
    EXPECT_NE(std::string::npos, events[1].body.find("<Value>5</Value>"));
}

// The initial NOTIFY leaves only once the SUBSCRIBE answer has been written.
TEST_F(GenaTest, InitialEventWaitsForTheAnswer) {
    KL_HttpResponse response(200, "OK", KL_HTTP_PROTOCOL_1_1);
    {
        UP_HttpRequestContext context(&kLocal, &kRemote);
        ASSERT_EQ(KL_SUCCESS,
                  Service()->ProcessNewSubscription(m_Device.GetTaskManager(), context,
                                                    ("<" + m_Listener.Url() + ">").c_str(), 1800, response));
        EXPECT_NE(nullptr, response.GetHeaders().GetHeaderValue("SID"));
        EXPECT_EQ(KL_SUCCESS, Service()->SetStateVariable("Value", "3")); // queued behind it
        EXPECT_FALSE(m_Listener.WaitFor(1, 300));
        context.NotifyResponseWritten(KL_SUCCESS);
    }
    ASSERT_TRUE(m_Listener.WaitFor(2));
    std::vector<Reply> events = m_Listener.Requests();
    EXPECT_TRUE(HasSeq(events[0], "0"));
    EXPECT_TRUE(HasSeq(events[1], "1"));
    EXPECT_NE(std::string::npos, events[1].body.find("<Value>3</Value>"));
}

TEST_F(GenaTest, RenewCancelAndHeaderChecks) {
    const uint16_t port = m_Device.GetPort();
    const std::string path = EventPath(m_Device);
    const std::string sid = SubscribeTo(m_Device, m_Listener.Url()).Header("sid");
    ASSERT_FALSE(sid.empty());
    const std::string callback = "CALLBACK: <" + m_Listener.Url() + ">\r\n";
    struct Case {
        const char* what;
        const char* method;
        std::string path;
        std::string headers;
        int status;
        const char* reason;
    } cases[] = {
        {"renew", "SUBSCRIBE", path, "SID: " + sid + "\r\n", 200, "OK"},
        {"renew with NT", "SUBSCRIBE", path, "SID: " + sid + "\r\nNT: upnp:event\r\n", 400, "Bad Request"},
        {"renew unknown SID", "SUBSCRIBE", path, "SID: uuid:00000000-0000-0000-0000-000000000000\r\n", 412,
         "Precondition Failed"},
        {"no NT", "SUBSCRIBE", path, callback, 412, "Precondition failed"},
        {"other NT", "SUBSCRIBE", path, "NT: upnp:other\r\n" + callback, 412, "Precondition failed"},
        {"no CALLBACK", "SUBSCRIBE", path, "NT: upnp:event\r\n", 412, "Precondition failed"},
        {"no <", "SUBSCRIBE", path, "NT: upnp:event\r\nCALLBACK: " + m_Listener.Url() + "\r\n", 412,
         "Precondition Failed"},
        {"unknown event URL", "SUBSCRIBE", "/nothing", "NT: upnp:event\r\n" + callback, 400, "Bad Request"},
        {"UNSUBSCRIBE without SID", "UNSUBSCRIBE", path, "", 412, "Precondition failed"},
        {"UNSUBSCRIBE with NT", "UNSUBSCRIBE", path, "SID: " + sid + "\r\nNT: upnp:event\r\n", 400,
         "Bad Request"},
        {"UNSUBSCRIBE", "UNSUBSCRIBE", path, "SID: " + sid + "\r\n", 200, "OK"},
        {"UNSUBSCRIBE again", "UNSUBSCRIBE", path, "SID: " + sid + "\r\n", 412, "Precondition Failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reply reply = host_test::Exchange(port, host_test::Request(c.method, c.path, c.headers));
        EXPECT_EQ(c.status, reply.status);
        EXPECT_EQ(c.reason, reply.reason);
        if (std::string(c.what) == "renew") {
            EXPECT_EQ(sid, reply.Header("sid"));
            EXPECT_EQ("Second-1800", reply.Header("timeout"));
        } else if (c.status != 200) {
            EXPECT_FALSE(reply.Has("sid"));
        }
    }
}

// Callbacks go only to the subscriber's own address, and NOTIFY follows no redirect.
TEST_F(GenaTest, CallbacksStayWithTheSubscriber) {
    CallbackListener stranger("127.0.0.2");
    Reply refused = SubscribeTo(m_Device, stranger.Url());
    EXPECT_EQ(412, refused.status);
    EXPECT_FALSE(refused.Has("sid"));

    CallbackListener redirecting("127.0.0.1", 302, stranger.Url("/moved"));
    Reply mixed = host_test::Exchange(m_Device.GetPort(),
                                      host_test::Request("SUBSCRIBE", EventPath(m_Device),
                                                         "NT: upnp:event\r\nCALLBACK: <" + stranger.Url() +
                                                             "><" + redirecting.Url() + ">\r\n"));
    EXPECT_EQ(200, mixed.status);
    ASSERT_TRUE(redirecting.WaitFor(1));
    EXPECT_EQ(200, Apply(m_Device, "Add", "1").status);
    ASSERT_TRUE(redirecting.WaitFor(2));
    Pause(300);
    EXPECT_EQ(0u, stranger.ConnectionCount());
}

// Eight peers of four subscriptions each: the 32nd subscription is refused.
TEST_F(GenaTest, ThirtySecondSubscriberIsRefused) {
    for (int i = 0; i < 31; ++i) {
        ASSERT_EQ(200, SubscribeFrom(m_Device, "127.0.0." + std::to_string(1 + i / 4)).status) << i;
    }
    Reply refused = SubscribeFrom(m_Device, "127.0.0.8");
    EXPECT_EQ(500, refused.status);
    EXPECT_EQ("Internal Server Error", refused.reason);
    EXPECT_FALSE(refused.Has("sid"));
    EXPECT_EQ(31u, Service()->GetSubscriberCount());
}

// One peer holds at most four subscriptions of a service; the others still get theirs.
TEST_F(GenaTest, FifthSubscriptionOfAPeerIsRefused) {
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(200, SubscribeFrom(m_Device, "127.0.0.3").status) << i;
    }
    Reply refused = SubscribeFrom(m_Device, "127.0.0.3");
    EXPECT_EQ(500, refused.status);
    EXPECT_FALSE(refused.Has("sid"));
    EXPECT_EQ(200, SubscribeFrom(m_Device, "127.0.0.4").status);
    EXPECT_EQ(5u, Service()->GetSubscriberCount());
}

// The lease asked for in TIMEOUT is granted when shorter than 1800 s, on subscription and renewal.
TEST_F(GenaTest, ShorterLeasesAreGranted) {
    const std::string path = EventPath(m_Device);
    Reply first =
        Subscribe(m_Device.GetPort(), path,
                  "NT: upnp:event\r\nCALLBACK: <" + m_Listener.Url() + ">\r\nTIMEOUT: Second-60\r\n");
    ASSERT_EQ(200, first.status);
    EXPECT_EQ("Second-60", first.Header("timeout"));
    const struct {
        const char* asked; // null: no TIMEOUT header
        const char* granted;
    } cases[] = {
        {"Second-30", "Second-30"},      {"second-1799", "Second-1799"},     {"Second-1800", "Second-1800"},
        {"Second-86400", "Second-1800"}, {"Second-infinite", "Second-1800"}, {"Second-0", "Second-1800"},
        {"Second--5", "Second-1800"},    {"Second-12x", "Second-1800"},      {"60", "Second-1800"},
        {nullptr, "Second-1800"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked != nullptr ? c.asked : "none");
        std::string headers = "SID: " + first.Header("sid") + "\r\n";
        if (c.asked != nullptr) {
            headers += std::string("TIMEOUT: ") + c.asked + "\r\n";
        }
        Reply renewed = Subscribe(m_Device.GetPort(), path, headers);
        EXPECT_EQ(200, renewed.status);
        EXPECT_EQ(c.granted, renewed.Header("timeout"));
    }
}

TEST_F(GenaTest, ModerationSendsTheLatestValueAtMostOncePerInterval) {
    ASSERT_EQ(KL_SUCCESS, Service()->SetStateVariableRate("Value", KL_TimeStamp::FromSeconds(2)));
    ASSERT_EQ(200, SubscribeTo(m_Device, m_Listener.Url()).status);
    ASSERT_TRUE(m_Listener.WaitFor(1));
    auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= 10; ++i) {
        ASSERT_EQ(KL_SUCCESS, Service()->SetStateVariable("Value", std::to_string(i).c_str()));
        Pause(100);
    }
    const double span = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Wait for the event that carries the last value.
    for (int tries = 0; tries < 100; ++tries) {
        std::vector<Reply> events = m_Listener.Requests();
        if (events.back().body.find("<Value>10</Value>") != std::string::npos) {
            break;
        }
        Pause(100);
    }
    std::vector<Reply> events = m_Listener.Requests();
    ASSERT_NE(std::string::npos, events.back().body.find("<Value>10</Value>"));
    const size_t changes = events.size() - 1;
    EXPECT_LE(changes, 1 + static_cast<size_t>(span / 2.0) + 1) << "span " << span;
}

TEST(GenaLifecycleTest, StartStopChurnWithSubscribers) {
    // Accepts connections but never answers: NOTIFYs to it stay in flight.
    int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
    socklen_t length = sizeof at;
    ASSERT_EQ(0, bind(silent, reinterpret_cast<sockaddr*>(&at), sizeof at));
    ASSERT_EQ(0, listen(silent, 64));
    getsockname(silent, reinterpret_cast<sockaddr*>(&at), &length);
    const std::string silent_url = "http://127.0.0.1:" + std::to_string(ntohs(at.sin_port)) + "/stalled";

    CounterDevice device("Churn");
    for (int cycle = 0; cycle < 20; ++cycle) {
        SCOPED_TRACE(cycle);
        CallbackListener listener;
        ASSERT_EQ(KL_SUCCESS, device.Start());
        EXPECT_EQ(200, SubscribeTo(device, listener.Url()).status);
        EXPECT_TRUE(listener.WaitFor(1));
        EXPECT_EQ(200, SubscribeTo(device, silent_url).status);
        EXPECT_EQ(200, Apply(device, "Add", "1").status);
        ASSERT_EQ(KL_SUCCESS, device.Stop());
    }
    close(silent);
}

TEST(GenaLastChangeTest, IndirectChangeSendsLastChangeOnly) {
    CounterDevice device(
        "LastChange", 0,
        CounterDevice::DefaultScpd(
            "<stateVariable sendEvents=\"yes\"><name>LastChange</name><dataType>string</dataType>"
            "</stateVariable><stateVariable sendEvents=\"no\"><name>Label</name>"
            "<dataType>string</dataType></stateVariable>"),
        "urn:schemas-lanyard-org:metadata-1-0/CNT/");
    ASSERT_EQ(KL_SUCCESS, device.Start());
    CallbackListener listener;
    ASSERT_EQ(200, SubscribeTo(device, listener.Url()).status);
    ASSERT_TRUE(listener.WaitFor(1));
    EXPECT_NE(std::string::npos, listener.Requests()[0].body.find("<Value>0</Value>"));
    EXPECT_NE(std::string::npos, listener.Requests()[0].body.find("<LastChange>"));

    ASSERT_EQ(KL_SUCCESS, device.GetCounterService()->SetStateVariable("Label", "x"));
    ASSERT_TRUE(listener.WaitFor(2));
    const std::string body = listener.Requests()[1].body;
    EXPECT_EQ(std::string::npos, body.find("<Value>")) << body;
    EXPECT_NE(
        std::string::npos,
        body.find("<LastChange>&lt;Event xmlns=\"urn:schemas-lanyard-org:metadata-1-0/CNT/\"&gt;"
                  "&lt;InstanceID val=\"0\"&gt;&lt;Label val=\"x\"/&gt;&lt;/InstanceID&gt;&lt;/Event&gt;"
                  "</LastChange>"))
        << body;
}

// Subscribers and services on their own, without a device host.
class GenaUnitTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Service = model_test_service();
        ASSERT_NE(nullptr, m_Service);
    }
    // As the device host does: the service's tasks end before the service goes.
    void TearDown() override { (void)m_Manager->StopAllTasks(); }
    static std::unique_ptr<UP_Service> model_test_service() {
        auto service =
            std::make_unique<UP_Service>(nullptr, CounterDevice::kServiceType, CounterDevice::kServiceId);
        if (KL_FAILED(service->SetSCPDXML(CounterDevice::DefaultScpd().c_str())) ||
            KL_FAILED(service->SetStateVariable("Value", "0"))) {
            return nullptr;
        }
        return service;
    }
    KL_Reference<UP_TaskManager> m_Manager{new UP_TaskManager()};
    std::unique_ptr<UP_Service> m_Service;
    CallbackListener m_Listener;
};

TEST_F(GenaUnitTest, EventKeyWrapsToOne) {
    UP_EventSubscriber subscriber(m_Manager, m_Service.get(), "uuid:test", 60);
    ASSERT_EQ(KL_SUCCESS, subscriber.AddCallbackURL(m_Listener.Url().c_str()));
    subscriber.SetEventKey(0xFFFFFFFFu);
    ASSERT_EQ(KL_SUCCESS, subscriber.Notify(m_Service->GetStateVariables()));
    EXPECT_EQ(1u, subscriber.GetEventKey());
    ASSERT_TRUE(m_Listener.WaitFor(1));
    EXPECT_TRUE(HasSeq(m_Listener.Requests()[0], "4294967295"));
}

TEST_F(GenaUnitTest, QueuedEventsAreBounded) {
    UP_EventSubscriber subscriber(m_Manager, m_Service.get(), "uuid:test", 60);
    ASSERT_EQ(KL_SUCCESS, subscriber.AddCallbackURL(m_Listener.Url().c_str()));
    subscriber.HoldNotifications();
    for (uint32_t i = 0; i < UP_EVENT_SUBSCRIBER_MAX_QUEUED; ++i) {
        ASSERT_EQ(KL_SUCCESS, subscriber.Notify(m_Service->GetStateVariables())) << i;
    }
    EXPECT_EQ(KL_ERROR_NOT_ENOUGH_SPACE, subscriber.Notify(m_Service->GetStateVariables()));
    EXPECT_EQ(UP_EVENT_SUBSCRIBER_MAX_QUEUED, subscriber.GetQueuedCount());
}

// Subscribers that vanished without UNSUBSCRIBE give their places back once expired, even when
// no event goes out.
TEST_F(GenaUnitTest, ExpiredSubscribersMakeRoom) {
    KL_HttpRequestContext context(&kLocal, &kRemote);
    const std::string callback = "<" + m_Listener.Url() + ">";
    for (int i = 0; i < 31; ++i) {
        KL_HttpResponse response(200, "OK", KL_HTTP_PROTOCOL_1_1);
        // Ran out 40 s ago: past the 30 s of grace.
        ASSERT_EQ(KL_SUCCESS,
                  m_Service->ProcessNewSubscription(m_Manager, context, callback.c_str(), -40, response));
    }
    KL_HttpResponse response(200, "OK", KL_HTTP_PROTOCOL_1_1);
    EXPECT_EQ(KL_SUCCESS,
              m_Service->ProcessNewSubscription(m_Manager, context, callback.c_str(), 1800, response));
    EXPECT_EQ(200, response.GetStatusCode());
    EXPECT_EQ(1u, m_Service->GetSubscriberCount());
}

TEST_F(GenaUnitTest, EventTaskThatCannotStartGives500WithoutSid) {
    (void)m_Manager->StopAllTasks();
    KL_HttpResponse response(200, "OK", KL_HTTP_PROTOCOL_1_1);
    KL_HttpRequestContext context(&kLocal, &kRemote);
    EXPECT_TRUE(KL_FAILED(m_Service->ProcessNewSubscription(
        m_Manager, context, ("<" + m_Listener.Url() + ">").c_str(), 1800, response)));
    EXPECT_EQ(500, response.GetStatusCode());
    EXPECT_EQ(nullptr, response.GetHeaders().GetHeaderValue("SID"));
    EXPECT_EQ(nullptr, response.GetHeaders().GetHeaderValue("TIMEOUT"));
    EXPECT_EQ(0u, m_Service->GetSubscriberCount());
}

} // namespace
