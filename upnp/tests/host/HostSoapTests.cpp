// SOAP control through the device host, and hostile request bodies.
#include "HostTestSupport.h"
#include "KL_Result.h"

#include <gtest/gtest.h>

using namespace host_test;

namespace {

// The Counter device, plus a note "error-0" that makes the handler set an error and answer 0.
class SoapDevice : public CounterDevice {
public:
    KL_Result OnAction(UP_ActionCall& call, const KL_HttpRequestContext& context) override {
        if (KL_SUCCEEDED(call.VerifyArgumentValue("Note", "error-0"))) {
            call.SetActionError(UP_ACTION_ERROR_INVALID_ARGS);
            return KL_SUCCESS;
        }
        return CounterDevice::OnAction(call, context);
    }
};

class HostSoapTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KL_SUCCESS, m_Device.Start()); }

    Reply Post(const std::string& headers, const std::string& body, const char* protocol = "HTTP/1.1") {
        return Exchange(m_Device.GetPort(), Request("POST", ControlPath(m_Device), headers, body, protocol));
    }
    // The device still serves after whatever came before.
    void ExpectStillServing() {
        EXPECT_EQ(200, Exchange(m_Device.GetPort(), Request("GET", "/DeviceDescription.xml")).status);
    }

    SoapDevice m_Device;
};

TEST_F(HostSoapTest, MalformedCallsAreBadRequestsWithoutBody) {
    const std::string type = CounterDevice::kServiceType;
    const std::string good = ApplyBody(Arguments("Add", "1"));
    struct Case {
        const char* what;
        std::string headers;
        std::string body;
    } cases[] = {
        {"two #", "SOAPAction: \"" + type + "#Apply#x\"\r\n", good},
        {"no SOAPAction", "", good},
        {"no #", "SOAPAction: Apply\r\n", good},
        {"unparsable body", SoapActionHeader(), "<s:Envelope"},
        {"root tag", SoapActionHeader(), "<Envelopes xmlns=\"http://schemas.xmlsoap.org/soap/envelope/\"/>"},
        {"envelope namespace", SoapActionHeader(), "<s:Envelope xmlns:s=\"urn:x\" s:encodingStyle=\"x\"/>"},
        {"no encodingStyle", SoapActionHeader(),
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body/></s:Envelope>"},
        {"wrong encodingStyle", SoapActionHeader(),
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" s:encodingStyle=\"urn:x\">"
         "<s:Body/></s:Envelope>"},
        {"no Body", SoapActionHeader(), Envelope("").replace(Envelope("").find("<s:Body>"), 17, "")},
        {"empty Body", SoapActionHeader(), Envelope("")},
        {"other action element", SoapActionHeader(), ApplyBody(Arguments("Add", "1"), "Other")},
        {"action namespace", SoapActionHeader(),
         Envelope("<u:Apply xmlns:u=\"urn:x\">" + Arguments("Add", "1") + "</u:Apply>")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reply reply = Post(c.headers, c.body);
        EXPECT_EQ(500, reply.status);
        EXPECT_EQ("Bad Request", reply.reason);
        EXPECT_TRUE(reply.body.empty()) << reply.body;
    }
    ExpectStillServing();
}

TEST_F(HostSoapTest, ActionsAnswerResultsAndFaults) {
    const std::string type = CounterDevice::kServiceType;
    struct Case {
        const char* what;
        std::string headers;
        std::string body;
        int status;
        const char* expected;
    } cases[] = {
        {"quoted", SoapActionHeader(), ApplyBody(Arguments("Set", "7")), 200, "<NewValue>7</NewValue>"},
        {"bare", "SOAPAction: " + type + "#Apply\r\n", ApplyBody(Arguments("Add", "2")), 200,
         "<NewValue>9</NewValue>"},
        {"unknown action", SoapActionHeader("Frobnicate"), ApplyBody("", "Frobnicate"), 500,
         "<errorCode>401</errorCode><errorDescription>Invalid Action</errorDescription>"},
        {"refused value", SoapActionHeader(), ApplyBody(Arguments("Multiply", "1")), 500,
         "<errorCode>701</errorCode><errorDescription>Invalid Name</errorDescription>"},
        {"missing argument", SoapActionHeader(), ApplyBody("<Operation>Add</Operation><Note>n</Note>"), 500,
         "<errorCode>402</errorCode><errorDescription>Invalid or Missing Args</errorDescription>"},
        {"handler failed", SoapActionHeader(), ApplyBody(Arguments("Add", "x")), 500,
         "<errorCode>501</errorCode><errorDescription>Action Failed</errorDescription>"},
        {"error set, result 0", SoapActionHeader(), ApplyBody(Arguments("Add", "1", "error-0")), 500,
         "<errorCode>402</errorCode><errorDescription>Invalid args</errorDescription>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reply reply = Post(c.headers, c.body);
        EXPECT_EQ(c.status, reply.status);
        EXPECT_EQ(c.status == 200 ? "OK" : "Internal Server Error", reply.reason);
        EXPECT_EQ("text/xml; charset=\"utf-8\"", reply.Header("content-type"));
        EXPECT_TRUE(reply.Has("ext"));
        EXPECT_NE(std::string::npos, reply.body.find(c.expected)) << reply.body;
    }
}

// Net::UPnP's control point: HTTP/1.0, an upper-case header, tab indents, arguments reversed.
TEST_F(HostSoapTest, NetUpnpForm) {
    std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                       "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\n"
                       "\t<s:Body>\n\t\t<u:Apply xmlns:u=\"" +
                       std::string(CounterDevice::kServiceType) +
                       "\">\n\t\t\t<Note>perl</Note>\n\t\t\t<Amount>3</Amount>\n"
                       "\t\t\t<Operation>Set</Operation>\n\t\t</u:Apply>\n\t</s:Body>\n</s:Envelope>\n";
    std::string header = std::string("SOAPACTION: \"") + CounterDevice::kServiceType + "#Apply\"\r\n";
    Reply reply = Post(header, body, "HTTP/1.0");
    EXPECT_EQ(200, reply.status);
    EXPECT_NE(std::string::npos, reply.body.find("<NewValue>3</NewValue><Echo>perl</Echo>")) << reply.body;
}

// Old ContentDirectory clients name Browse's first argument "ContainerID".
TEST(HostBrowseTest, ContainerIdIsReadAsObjectId) {
    class BrowseDevice : public CounterDevice {
    public:
        BrowseDevice() : CounterDevice("Browse", 0, WithBrowse()) {}
        static std::string WithBrowse() {
            std::string scpd = DefaultScpd();
            const std::string browse =
                "<action><name>Browse</name><argumentList><argument><name>ObjectID</name><direction>in</"
                "direction>"
                "<relatedStateVariable>A_ARG_TYPE_Note</relatedStateVariable></"
                "argument><argument><name>Result"
                "</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_Note</"
                "relatedStateVariable>"
                "</argument></argumentList></action>";
            return scpd.insert(scpd.find("</actionList>"), browse);
        }
        KL_Result OnAction(UP_ActionCall& call, const KL_HttpRequestContext& context) override {
            KL_String id;
            if (call.GetActionDesc().GetName() != "Browse" ||
                KL_FAILED(call.GetArgumentValue("ObjectID", id))) {
                return CounterDevice::OnAction(call, context);
            }
            return call.SetArgumentValue("Result", ("object " + id).GetChars());
        }
    } device;
    ASSERT_EQ(KL_SUCCESS, device.Start());
    Reply reply = Exchange(device.GetPort(), Request("POST", ControlPath(device), SoapActionHeader("Browse"),
                                                     ApplyBody("<ContainerID>7</ContainerID>", "Browse")));
    EXPECT_EQ(200, reply.status);
    EXPECT_NE(std::string::npos, reply.body.find("<Result>object 7</Result>")) << reply.body;
}

TEST_F(HostSoapTest, HostileBodiesAreAnsweredAndServingGoesOn) {
    std::string entities = "<?xml version=\"1.0\"?><!DOCTYPE s:Envelope [<!ENTITY a \"aaaaaaaaaa\">";
    for (int i = 1; i < 10; ++i) {
        std::string e = "e" + std::to_string(i);
        std::string prev = i == 1 ? "a" : "e" + std::to_string(i - 1);
        entities += "<!ENTITY " + e + " \"&" + prev + ";&" + prev + ";&" + prev + ";&" + prev + ";&" + prev +
                    ";&" + prev + ";&" + prev + ";&" + prev + ";&" + prev + ";&" + prev + ";\">";
    }
    entities += "]>" + ApplyBody(Arguments("Add", "1", "&e9;")).substr(21);
    std::string deep;
    for (int i = 0; i < 200000; ++i) {
        deep += "<a>";
    }
    struct Case {
        const char* what;
        std::string body;
    } cases[] = {
        {"nested entity declarations", entities},
        {"200000 nested elements", deep},
        {"invalid UTF-8", ApplyBody(Arguments("Add", "1", "\xff\xfe\xc3("))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reply reply = Post(SoapActionHeader(), c.body);
        EXPECT_TRUE(reply.answered);
        EXPECT_GE(reply.status, 200);
        EXPECT_LT(reply.body.size(), 100000u);
        ExpectStillServing();
    }
}

TEST_F(HostSoapTest, OversizedBodiesGet413) {
    Reply announced = Exchange(m_Device.GetPort(), "POST " + ControlPath(m_Device) +
                                                       " HTTP/1.1\r\nHost: x\r\nContent-Length: 2097152\r\n" +
                                                       SoapActionHeader() + "\r\n");
    EXPECT_EQ(413, announced.status);

    int fd = Connect(m_Device.GetPort());
    ASSERT_GE(fd, 0);
    SendAll(fd, "POST " + ControlPath(m_Device) + " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n" +
                    SoapActionHeader() + "\r\n");
    const std::string chunk = "4000\r\n" + std::string(0x4000, 'x') + "\r\n";
    for (int i = 0; i < 200; ++i) { // 3.2 MiB unless the server stops reading first
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 0) > 0) {
            break;
        }
        SendAll(fd, chunk);
    }
    EXPECT_EQ(413, ReadReply(fd).status);
    close(fd);
    ExpectStillServing();
}

} // namespace
