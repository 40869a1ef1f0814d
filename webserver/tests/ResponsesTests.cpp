// Data, error and streamed responses.

#include "CoreTestSupport.h"
#include "StaticTestSupport.h"
#include "WebServerDataResponse.h"
#include "WebServerErrorResponse.h"
#include "WebServerStreamedResponse.h"

#include <gtest/gtest.h>

#include <thread>

using statictest::ScratchFolder;

namespace {

std::string bodyOf(WebServerResponse& response) {
    Error error;
    EXPECT_TRUE(response.open(&error));
    std::string body;
    for (int i = 0; i < 1000; ++i) {
        auto piece = response.readData(&error);
        if (!piece || piece->empty()) {
            break;
        }
        body.append(piece->begin(), piece->end());
    }
    response.close();
    return body;
}

// A streamed response handing out `pieces` from other threads, then its end.
std::shared_ptr<WebServerStreamedResponse> threadedPieces(std::vector<std::string> pieces) {
    auto next = std::make_shared<std::size_t>(0);
    return WebServerStreamedResponse::responseWithContentTypeAsyncStreamBlock(
        "text/plain", [pieces, next](WebServerBodyReaderCompletionBlock completion) {
            const Data piece = *next < pieces.size() ? platform::dataFromString(pieces[(*next)++]) : Data();
            std::thread([piece, completion] { completion(piece, Error()); }).detach();
        });
}

} // namespace

// ---- Data responses ----

TEST(DataResponse, DataIsHandedOutOnceAndDescribed) {
    auto response = WebServerDataResponse::responseWithData(platform::dataFromString("abc"), "image/png");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->contentType(), "image/png");
    EXPECT_EQ(response->contentLength(), 3u);
    Error error;
    EXPECT_EQ(response->readData(&error), platform::dataFromString("abc"));
    EXPECT_EQ(response->readData(&error), Data());
    EXPECT_EQ(response->readData(&error), Data());
    EXPECT_NE(response->description().find("<3 bytes>"), std::string::npos);
    const std::string description = WebServerDataResponse::responseWithText("hello")->description();
    EXPECT_NE(description.find("Status Code = 200"), std::string::npos) << description;
    EXPECT_NE(description.find("\n\nhello"), std::string::npos) << description;
}

TEST(DataResponse, TextAndHTMLAreUTF8) {
    auto text = WebServerDataResponse::responseWithText("caf\xC3\xA9");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->contentType(), "text/plain; charset=utf-8");
    EXPECT_EQ(text->contentLength(), 5u);
    EXPECT_FALSE(WebServerDataResponse::responseWithText("bad \xC3("));
    auto html = WebServerDataResponse::responseWithHTML("<p>hi</p>");
    ASSERT_TRUE(html);
    EXPECT_EQ(html->contentType(), "text/html; charset=utf-8");
    EXPECT_EQ(bodyOf(*html), "<p>hi</p>");
    EXPECT_EQ(html->statusCode(), 200);
}

TEST(DataResponse, TemplateReplacesEveryOccurrence) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.valid());
    ASSERT_TRUE(statictest::writeFile(folder / "page.html",
                                      "<title>%title%</title><h1>%title%</h1>%missing% %header%%title"));
    auto response = WebServerDataResponse::responseWithHTMLTemplate(
        folder / "page.html", {{"title", "Share & Co"}, {"header", "%title%"}, {"unused", "x"}});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->contentType(), "text/html; charset=utf-8");
    const std::string body = bodyOf(*response);
    // Variables are applied one after the other in key order: "header" brings in a "%title%" that
    // "title", applied later, replaces as well.
    EXPECT_EQ(body, "<title>Share & Co</title><h1>Share & Co</h1>%missing% Share & Co%title");
    EXPECT_EQ(response->contentLength(), body.size());
    // A template that cannot be read gives none.
    EXPECT_FALSE(WebServerDataResponse::responseWithHTMLTemplate(folder / "missing.html", {}));
    EXPECT_FALSE(WebServerDataResponse::responseWithHTMLTemplate(folder.path(), {}));
    ASSERT_TRUE(statictest::writeFile(folder / "latin1.html", "caf\xE9"));
    EXPECT_FALSE(WebServerDataResponse::responseWithHTMLTemplate(folder / "latin1.html", {}));
}

TEST(DataResponse, JSONIsCompact) {
    platform::Json object = {{"name", "a \"b\""}, {"size", 3}, {"list", {1, 2}}, {"none", nullptr}};
    auto response = WebServerDataResponse::responseWithJSONObject(object);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->contentType(), "application/json");
    const std::string body = bodyOf(*response);
    EXPECT_EQ(body.find(' ', body.find("\"size\"")), std::string::npos) << body;
    EXPECT_EQ(platform::parseJson(body), object);
    EXPECT_EQ(WebServerDataResponse::responseWithJSONObject(platform::Json::array())->contentLength(), 2u);

    auto typed = WebServerDataResponse::responseWithJSONObject(platform::Json::object(), "text/plain");
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->contentType(), "text/plain");
    EXPECT_EQ(bodyOf(*typed), "{}");
    EXPECT_FALSE(WebServerDataResponse::responseWithJSONObject({{"name", "\xFF\xFE"}})); // not UTF-8
}

TEST(ErrorResponse, PageCarriesStatusAndFormattedMessage) {
    auto response = WebServerErrorResponse::responseWithClientError(404, "\"%@\" does not exist", {"/a.txt"});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode(), 404);
    EXPECT_EQ(response->contentType(), "text/html; charset=utf-8");
    EXPECT_EQ(bodyOf(*response),
              "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>HTTP Error "
              "404</title></head><body><h1>HTTP Error 404: &quot;/a.txt&quot; does not "
              "exist</h1><h3></h3></body></html>");
    // The status is taken unchanged.
    EXPECT_EQ(WebServerErrorResponse::responseWithClientError(500, "x")->statusCode(), 500);
    EXPECT_EQ(WebServerErrorResponse::responseWithServerError(404, "x")->statusCode(), 404);
}

TEST(ErrorResponse, ClientTextIsEscaped) {
    auto response = WebServerErrorResponse::responseWithClientError(400, "Bad %@",
                                                                    {"<script>alert('x')</script> & \"q\""});
    const std::string body = bodyOf(*response);
    EXPECT_EQ(body.find("<script>"), std::string::npos) << body;
    EXPECT_NE(body.find("Bad &lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;q&quot;"),
              std::string::npos)
        << body;
}

TEST(ErrorResponse, UnderlyingErrorIsShownEscaped) {
    const Error underlying = Error::make("Test<Domain>", 13, "Can't open \"<x>\"");
    auto response =
        WebServerErrorResponse::responseWithServerError(500, underlying, "Failed deleting \"%@\"", {"/d"});
    EXPECT_EQ(response->statusCode(), 500);
    const std::string body = bodyOf(*response);
    EXPECT_NE(body.find("<h3>[Test&lt;Domain&gt;] Can&#39;t open &quot;&lt;x&gt;&quot; (13)</h3>"),
              std::string::npos)
        << body;
    EXPECT_NE(body.find("<h1>HTTP Error 500: Failed deleting &quot;/d&quot;</h1>"), std::string::npos)
        << body;

    auto client = WebServerErrorResponse::responseWithClientError(403, Error::posix(EACCES), "No");
    EXPECT_EQ(client->statusCode(), 403);
    EXPECT_NE(bodyOf(*client).find("(13)</h3>"), std::string::npos);
}

TEST(StreamedResponse, LengthIsUnknownAndReadsAreAsync) {
    auto response = WebServerStreamedResponse::responseWithContentType(
        "text/plain", [](Error*) -> std::optional<Data> { return Data(); });
    EXPECT_TRUE(response->implementsAsyncRead());
    EXPECT_TRUE(response->usesChunkedTransferEncoding());
    EXPECT_NE(response->description().find("<STREAM>"), std::string::npos);
}

class StreamedResponseServer : public coretest::ServerTest {};

TEST_F(StreamedResponseServer, AsyncPiecesFromOtherThreadsPlainAndGzipped) {
    std::vector<std::string> pieces;
    std::string expected;
    for (int n = 0; n < 50; ++n) {
        pieces.push_back(std::string(1000, char('a' + n % 26)));
        expected += pieces.back();
    }
    addGet("/async", [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
        return threadedPieces({"piece0", "piece1", "piece2"});
    });
    addGet("/gzip", [pieces](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
        auto response = threadedPieces(pieces);
        response->setGzipContentEncodingEnabled(true); // the gzip stage pulls the pieces synchronously
        return response;
    });
    ASSERT_TRUE(startServer());
    auto reply = coretest::get(port(), "/async");
    std::string body;
    ASSERT_TRUE(coretest::dechunk(reply.body, &body)) << reply.raw;
    EXPECT_EQ(body, "piece0piece1piece2");
    reply = coretest::get(port(), "/gzip", "Accept-Encoding: gzip\r\n");
    ASSERT_TRUE(reply.header("Content-Encoding"));
    std::string compressed;
    ASSERT_TRUE(coretest::dechunk(reply.body, &compressed));
    ASSERT_TRUE(coretest::gunzip(compressed, &body));
    EXPECT_EQ(body, expected);
}

TEST_F(StreamedResponseServer, FailingStreamEndsTheConnection) {
    addGet("/fail", [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
        auto calls = std::make_shared<int>(0);
        return WebServerStreamedResponse::responseWithContentType(
            "text/plain", [calls](Error* error) -> std::optional<Data> {
                if ((*calls)++ == 0) {
                    return platform::dataFromString("start");
                }
                platform::setError(error, Error::posix(EIO));
                return std::nullopt;
            });
    });
    ASSERT_TRUE(startServer());
    const auto reply = coretest::get(port(), "/fail");
    EXPECT_EQ(reply.status, 200);
    std::string body;
    EXPECT_FALSE(coretest::dechunk(reply.body, &body)); // no last chunk
    EXPECT_EQ(reply.body.rfind("5\r\nstart\r\n", 0), 0u) << reply.body;
}
