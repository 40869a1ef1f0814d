// The documents of the framework against their golden texts, and xmllint's verdict on them.
#include "ModelTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace model_test;

namespace {

bool XmllintAccepts(const std::string& name) {
    std::string command = "xmllint --noout '" + std::string(UPNP_TEST_DATA_DIR) + "/" + name + "' 2>&1";
    return std::system(command.c_str()) == 0;
}

} // namespace

TEST(DocumentTest, FaultIsExactlyTheUpnpErrorEnvelope) {
    KL_StringOutputStream out;
    ASSERT_EQ(UP_ActionCall::FormatSoapError(UP_ACTION_ERROR_INVALID_ACTION, out), KL_SUCCESS);
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<s:Envelope s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
        "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault><faultcode>s:Client</"
        "faultcode>"
        "<faultstring>UPnPError</faultstring><detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">"
        "<errorCode>401</errorCode><errorDescription>Invalid Action</errorDescription></UPnPError></detail>"
        "</s:Fault></s:Body></s:Envelope>";
    EXPECT_EQ(out.GetString().GetChars(), expected);
    EXPECT_EQ(ReadDataFile("fault-401.golden"), expected);
}

TEST(DocumentTest, GoldenDocumentsAreWellFormed) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xmllint is not installed";
    }
    for (const char* name : {"description.golden", "ContentDirectory.scpd.golden",
                             "ConnectionManager.scpd.golden", "browse-response.golden", "fault-401.golden"}) {
        EXPECT_TRUE(XmllintAccepts(name)) << name;
    }
}
