#include "ModelTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace model_test;

namespace {

class ActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Service = LoadService(ReadDataFile("ContentDirectory.xml"));
        ASSERT_NE(m_Service, nullptr);
        m_Browse = m_Service->FindActionDesc("Browse");
        ASSERT_NE(m_Browse, nullptr);
    }

    std::unique_ptr<UP_Service> m_Service;
    UP_ActionDesc* m_Browse = nullptr;
};

} // namespace

TEST_F(ActionTest, OutArgumentsFollowScpdOrderWhateverTheOrderSet) {
    const std::string golden = ReadDataFile("browse-response.golden");
    std::vector<std::pair<const char*, const char*>> values = {
        {"TotalMatches", "3"},
        {"Result", "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\">&amp;</DIDL-Lite>"},
        {"NumberReturned", "1"},
        {"UpdateID", "0"}};
    std::sort(values.begin(), values.end());
    do {
        UP_ActionCall call(*m_Browse);
        for (const auto& [name, value] : values) {
            ASSERT_EQ(call.SetArgumentValue(name, value), KL_SUCCESS);
        }
        ASSERT_EQ(call.SetArgumentValue("ObjectID", "0"), KL_SUCCESS); // in-arguments are not echoed
        EXPECT_EQ(Response(call), golden);
    } while (std::next_permutation(values.begin(), values.end()));
}

TEST_F(ActionTest, RefusedValueRemovesTheArgument) {
    UP_ActionCall call(*m_Browse);
    ASSERT_EQ(call.SetArgumentValue("BrowseFlag", "BrowseMetadata"), KL_SUCCESS);
    EXPECT_EQ(call.SetArgumentValue("BrowseFlag", "BrowseEverything"), KL_ERROR_INVALID_PARAMETERS);
    KL_String value;
    EXPECT_EQ(call.GetArgumentValue("BrowseFlag", value), KL_FAILURE);
    EXPECT_EQ(call.SetArgumentValue("BrowseFlag", "Nope"), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(call.GetArguments().GetItemCount(), 0u);
    EXPECT_EQ(call.SetArgumentValue("NoSuchArgument", "1"), KL_ERROR_NO_SUCH_NAME);
}

TEST_F(ActionTest, NamesMatchIgnoringCaseAndAnswerInScpdSpelling) {
    UP_ActionCall call(*m_Browse);
    ASSERT_EQ(call.SetArgumentValue("objectid", "64"), KL_SUCCESS);
    ASSERT_EQ(call.SetArgumentValue("OBJECTID", "65"), KL_SUCCESS); // replaces
    ASSERT_EQ(call.GetArguments().GetItemCount(), 1u);
    EXPECT_EQ(call.GetArguments()[0]->GetDesc()->GetName(), "ObjectID");
    KL_String value;
    ASSERT_EQ(call.GetArgumentValue("ObjectId", value), KL_SUCCESS);
    EXPECT_EQ(value, "65");
    ASSERT_EQ(call.SetArgumentValue("totalmatches", "9"), KL_SUCCESS);
    EXPECT_NE(Response(call).find("<TotalMatches>9</TotalMatches>"), std::string::npos);
    EXPECT_EQ(call.VerifyArgumentValue("objectID", "65"), KL_SUCCESS);
    EXPECT_EQ(call.VerifyArgumentValue("objectID", "66"), KL_FAILURE);
    EXPECT_EQ(call.VerifyArgumentValue("Filter", "*"), KL_FAILURE);
}

TEST_F(ActionTest, BooleanAndNumberReadings) {
    struct Case {
        const char* text;
        KL_Result result;
        bool value;
    };
    const Case cases[] = {{"yes", KL_SUCCESS, true}, {"True", KL_SUCCESS, true},   {"1", KL_SUCCESS, true},
                          {"NO", KL_SUCCESS, false}, {"false", KL_SUCCESS, false}, {"0", KL_SUCCESS, false},
                          {"2", KL_FAILURE, true},   {"", KL_FAILURE, true},       {"01", KL_FAILURE, true}};
    for (const Case& c : cases) {
        UP_ActionCall call(*m_Browse);
        ASSERT_EQ(call.SetArgumentValue("Filter", c.text), KL_SUCCESS);
        bool value = true; // untouched on failure
        EXPECT_EQ(call.GetArgumentValue("Filter", value), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    UP_ActionCall call(*m_Browse);
    ASSERT_EQ(call.SetArgumentValue("StartingIndex", " 5"), KL_SUCCESS);
    uint32_t index = 0;
    EXPECT_EQ(call.GetArgumentValue("StartingIndex", index), KL_SUCCESS);
    EXPECT_EQ(index, 5u);
    int32_t count = 0;
    EXPECT_EQ(call.GetArgumentValue("RequestedCount", count), KL_FAILURE);
    bool flag = false;
    EXPECT_EQ(call.GetArgumentValue("RequestedCount", flag), KL_FAILURE);
}

TEST_F(ActionTest, VerifyArgumentsChecksOneDirectionAndClearsTheError) {
    UP_ActionCall call(*m_Browse);
    ASSERT_EQ(call.SetActionError(UP_ACTION_ERROR_INVALID_ARGS), KL_SUCCESS);
    const char* inputs[] = {"ObjectID", "BrowseFlag", "Filter", "StartingIndex", "RequestedCount"};
    for (const char* name : inputs) {
        ASSERT_EQ(call.SetArgumentValue(name, name == inputs[1] ? "BrowseMetadata" : "0"), KL_SUCCESS);
    }
    EXPECT_EQ(call.VerifyArguments(true), KL_FAILURE); // SortCriteria missing: the error stays
    EXPECT_EQ(call.GetActionErrorCode(), 402u);
    ASSERT_EQ(call.SetArgumentValue("SortCriteria", ""), KL_SUCCESS);
    EXPECT_EQ(call.VerifyArguments(true), KL_SUCCESS);
    uint32_t code = 1;
    EXPECT_EQ(call.GetActionError(&code), "");
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(call.VerifyArguments(false), KL_FAILURE);
}

TEST_F(ActionTest, ErrorCodeTurnsTheResponseIntoTheFault) {
    UP_ActionCall call(*m_Browse);
    ASSERT_EQ(call.SetArgumentValue("TotalMatches", "3"), KL_SUCCESS);
    ASSERT_EQ(call.SetActionError(UP_ACTION_ERROR_INVALID_ACTION), KL_SUCCESS);
    EXPECT_EQ(Response(call), ReadDataFile("fault-401.golden"));
}

TEST_F(ActionTest, OutArgumentsFromStateVariables) {
    UP_ActionDesc* desc = m_Service->FindActionDesc("getsystemupdateid");
    ASSERT_NE(desc, nullptr);
    ASSERT_EQ(m_Service->SetStateVariable("SystemUpdateID", "7"), KL_SUCCESS);
    UP_ActionCall call(*desc);
    ASSERT_EQ(call.SetArgumentsOutFromStateVariable(), KL_SUCCESS);
    EXPECT_NE(
        Response(call).find("<u:GetSystemUpdateIDResponse xmlns:u=\"urn:schemas-lanyard-org:service:Test:1\">"
                            "<Id>7</Id></u:GetSystemUpdateIDResponse>"),
        std::string::npos);
    UP_ActionCall browse(*m_Browse);
    EXPECT_EQ(browse.SetArgumentOutFromStateVariable("ObjectID"), KL_FAILURE); // an in-argument
    EXPECT_EQ(browse.SetArgumentOutFromStateVariable("Nope"), KL_ERROR_NO_SUCH_ITEM);
}

TEST(ActionDescTest, ActionWithoutArgumentsHasEmptyListAndResponse) {
    auto service = LoadService(Scpd(Variable("X", "string"), "<action><name>Ping</name></action>"));
    ASSERT_NE(service, nullptr);
    KL_String scpd;
    ASSERT_EQ(service->GetSCPDXML(scpd), KL_SUCCESS);
    EXPECT_NE(std::string(scpd.GetChars()).find("<name>Ping</name>\r\n      <argumentList/>"),
              std::string::npos);
    UP_ActionCall call(*service->FindActionDesc("Ping"));
    EXPECT_EQ(call.VerifyArguments(true), KL_SUCCESS);
    EXPECT_NE(
        Response(call).find("<s:Body><u:PingResponse xmlns:u=\"urn:schemas-lanyard-org:service:Test:1\"/>"
                            "</s:Body>"),
        std::string::npos);
    KL_StringOutputStream request;
    ASSERT_EQ(call.FormatSoapRequest(request), KL_SUCCESS);
    EXPECT_NE(std::string(request.GetString().GetChars()).find("<u:Ping xmlns:u="), std::string::npos);
}
