// UP_MediaServer's own actions and the argument checks of Browse and Search.
#include "MediaServerTestSupport.h"

#include "UP_MediaServer.h"

#include <fstream>
#include <iterator>

namespace media_test {
namespace {

using MediaActionTests = MediaFixture;

std::string ReadData(const char* name) {
    std::ifstream file(std::string(UPNP_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The stored texts are the reference documents; what is served is the service's rewrite.
TEST_F(MediaActionTests, ServiceDescriptions) {
    EXPECT_EQ(UP_MediaServer::ContentDirectorySCPD, ReadData("ContentDirectory.xml"));
    EXPECT_EQ(UP_MediaServer::ConnectionManagerSCPD, ReadData("ConnectionManager.xml"));
    for (const char* name : {"ContentDirectory", "ConnectionManager"}) {
        UP_Service* service = nullptr;
        ASSERT_EQ(Server().FindServiceByName(name, service), KL_SUCCESS);
        KL_String scpd;
        ASSERT_EQ(service->GetSCPDXML(scpd), KL_SUCCESS);
        EXPECT_EQ(scpd.GetChars(), ReadData((std::string(name) + ".scpd.golden").c_str())) << name;
    }
}

TEST_F(MediaActionTests, CurrentConnectionInfoOfConnectionZero) {
    const ActionResult answer = Call("GetCurrentConnectionInfo", {{"ConnectionID", "0"}});
    EXPECT_EQ(answer.result, KL_SUCCESS);
    const std::vector<std::pair<std::string, std::string>> expected = {{"RcsID", "-1"},
                                                                       {"AVTransportID", "-1"},
                                                                       {"ProtocolInfo", "http-get:*:*:*"},
                                                                       {"PeerConnectionManager", "/"},
                                                                       {"PeerConnectionID", "-1"},
                                                                       {"Direction", "Output"},
                                                                       {"Status", "Unknown"}};
    EXPECT_EQ(answer.out, expected);
    const ActionResult other = Call("GetCurrentConnectionInfo", {{"ConnectionID", "1"}});
    EXPECT_EQ(other.result, KL_FAILURE);
    EXPECT_EQ(other.code, 706u);
}

TEST_F(MediaActionTests, FixedAnswers) {
    struct Case {
        const char* action;
        const char* argument;
        const char* value;
    };
    const Case cases[] = {
        {"GetSystemUpdateID", "Id", "0"},
        {"GetProtocolInfo", "Source", "http-get:*:*:*"},
        {"GetProtocolInfo", "Sink", ""},
        {"GetCurrentConnectionIDs", "ConnectionIDs", "0"},
        {"GetSearchCapabilities", "SearchCaps", ""},
        {"GetSortCapabilities", "SortCaps", ""},
    };
    for (const Case& c : cases) {
        const ActionResult answer = Call(c.action, {});
        EXPECT_EQ(answer.result, KL_SUCCESS) << c.action;
        EXPECT_EQ(answer.code, 0u) << c.action;
        EXPECT_EQ(answer.Get(c.argument), c.value) << c.action;
    }
}

TEST_F(MediaActionTests, BrowseArgumentChecks) {
    WriteFile(m_Share / "a.mp3");
    struct Case {
        const char* flag;
        const char* start;
        const char* sort;
        uint32_t code; // 0: accepted
        KL_Result result;
    };
    const Case cases[] = {
        {"BrowseDirectChildren", "0", "+dc:title,-dc:date", 0, KL_SUCCESS},
        {"BrowseDirectChildren", "0", "", 0, KL_SUCCESS},
        {"BrowseDirectChildren", "0", "*", 0, KL_SUCCESS},
        {"BrowseDirectChildren", "0", "dc:title", 709, KL_FAILURE},
        {"BrowseDirectChildren", "0", "+title", 709, KL_FAILURE},
        {"BrowseDirectChildren", " 5", "", 0, KL_SUCCESS},
        {"BrowseDirectChildren", "abc", "", 402, KL_FAILURE},
        {"browsemetadata", "0", "", 0, KL_SUCCESS},
        {"BrowseEverything", "0", "", 402, KL_SUCCESS},
    };
    for (const Case& c : cases) {
        const ActionResult answer = Browse("0", c.flag, "*", c.start, "0", c.sort);
        EXPECT_EQ(answer.code, c.code) << c.flag << " start=" << c.start << " sort=" << c.sort;
        EXPECT_EQ(answer.result, c.result) << c.flag << " start=" << c.start << " sort=" << c.sort;
    }
    EXPECT_EQ(Ids(Browse("0", "browsemetadata").Get("Result")), std::vector<std::string>{"0"});
}

TEST_F(MediaActionTests, ParseSortKeepsThePieces) {
    KL_List<KL_String> list;
    EXPECT_EQ(UP_MediaServer::ParseSort("+dc:title,-dc:date", list), KL_SUCCESS);
    EXPECT_EQ(list.GetItemCount(), 2u);
    EXPECT_EQ(UP_MediaServer::ParseSort("*", list), KL_SUCCESS);
    EXPECT_EQ(list.GetItemCount(), 0u);
    EXPECT_EQ(UP_MediaServer::ParseSort("+dc:title,upnp:album", list), KL_FAILURE);
    EXPECT_EQ(list.GetItemCount(), 2u);
}

TEST_F(MediaActionTests, SearchIsAListingOrRefused) {
    WriteFile(m_Share / "a.mp3");
    WriteFile(m_Share / "b.jpg");
    const ActionResult browse = Browse("0");
    const ActionResult all = Search("0", "*");
    EXPECT_EQ(all.code, 0u);
    EXPECT_EQ(all.Get("Result"), browse.Get("Result"));
    EXPECT_EQ(all.Get("TotalMatches"), "2");
    EXPECT_EQ(Search("0", "dc:title contains \"a\"").code, 800u);
    EXPECT_EQ(Search("0", "Unknownfieldname").code, 708u);
    EXPECT_EQ(Search("0/a.mp3", "dc:title contains \"a\"").code, 710u);
}

TEST_F(MediaActionTests, ServerWithoutDelegate) {
    Server().SetDelegate(nullptr);
    EXPECT_EQ(Browse("0").code, 800u);
    EXPECT_EQ(Get("/%25/a.mp3").first, 404);
}

} // namespace
} // namespace media_test
