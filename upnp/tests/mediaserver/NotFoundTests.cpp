// File requests that name nothing servable under the media URL root are handed to the server as
// KL_ERROR_NO_SUCH_ITEM, which answers "404 Not Found" with its fixed page (as ServeFile's own
// refusals do); a URL outside the root keeps "404 File Not Found".
#include "MediaServerTestSupport.h"

namespace media_test {
namespace {

using MediaNotFoundTests = MediaFixture;

TEST_F(MediaNotFoundTests, NothingServableUnderTheRootIsNotFound) {
    fs::create_directories(m_Share / "Music");
    WriteFile(m_Share / "Music" / "a.mp3");
    WriteFile(m_Base / "outside.mp3");
    struct Row {
        const char* url;
        KL_Result result;
        int status; // when the result is success
        const char* reason;
    } rows[] = {
        {"/%25/none.mp3", KL_ERROR_NO_SUCH_ITEM, 0, ""},
        {"/%25/Music", KL_ERROR_NO_SUCH_ITEM, 0, ""},
        {"/%25/Music/../../outside.mp3", KL_ERROR_NO_SUCH_ITEM, 0, ""},
        {"/%25/%2e%2e/outside.mp3", KL_ERROR_NO_SUCH_ITEM, 0, ""},
        {"/%25/Music/a.mp3", KL_SUCCESS, 200, "OK"},
    };
    const KL_SocketAddress local(KL_IpAddress(127, 0, 0, 1), 4321);
    const KL_SocketAddress remote(KL_IpAddress(127, 0, 0, 1), 50000);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        KL_HttpRequest request((std::string("http://127.0.0.1:4321") + row.url).c_str(), "GET", "HTTP/1.1");
        KL_HttpResponse response(200, "OK", "HTTP/1.1");
        (void)response.SetEntity(new KL_HttpEntity());
        UP_HttpRequestContext context(&local, &remote, &request);
        EXPECT_EQ(Server().ProcessHttpGetRequest(request, context, response), row.result);
        if (row.result == KL_SUCCESS) {
            EXPECT_EQ(response.GetStatusCode(), row.status);
            EXPECT_EQ(response.GetReasonPhrase(), row.reason);
        }
    }
}

} // namespace
} // namespace media_test
