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

} // namespace

// ---- Data responses ----

TEST(DataResponse, DataIsHandedOutOnce) {
    auto response = WebServerDataResponse::responseWithData(platform::dataFromString("abc"), "image/png");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->contentType(), "image/png");
    EXPECT_EQ(response->contentLength(), 3u);
    Error error;
    EXPECT_EQ(response->readData(&error), platform::dataFromString("abc"));
    EXPECT_EQ(response->readData(&error), Data());
    EXPECT_EQ(response->readData(&error), Data());
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
}

TEST(DataResponse, TemplateThatCannotBeReadGivesNone) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.valid());
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
}

TEST(DataResponse, JSONWithInvalidTextGivesNone) {
    EXPECT_FALSE(WebServerDataResponse::responseWithJSONObject({{"name", "\xFF\xFE"}}));
}

TEST(DataResponse, DescriptionShowsTextBodies) {
    auto response = WebServerDataResponse::responseWithText("hello");
    const std::string description = response->description();
    EXPECT_NE(description.find("Status Code = 200"), std::string::npos) << description;
    EXPECT_NE(description.find("\n\nhello"), std::string::npos) << description;
    auto binary = WebServerDataResponse::responseWithData(Data{1, 2, 3}, "image/png");
    EXPECT_NE(binary->description().find("<3 bytes>"), std::string::npos);
}

// ---- Error responses ----

TEST(ErrorResponse, PageCarriesStatusAndFormattedMessage) {
    auto response = WebServerErrorResponse::responseWithClientError(404, "\"%@\" does not exist", {"/a.txt"});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode(), 404);
    EXPECT_EQ(response->contentType(), "text/html; charset=utf-8");
    EXPECT_EQ(bodyOf(*response),
              "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>HTTP Error "
              "404</title></head><body><h1>HTTP Error 404: &quot;/a.txt&quot; does not "
              "exist</h1><h3></h3></body></html>");
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

TEST(ErrorResponse, StatusIsTakenUnchanged) {
    EXPECT_EQ(WebServerErrorResponse::responseWithClientError(500, "x")->statusCode(), 500);
    EXPECT_EQ(WebServerErrorResponse::responseWithServerError(404, "x")->statusCode(), 404);
}

// ---- Streamed responses ----

TEST(StreamedResponse, LengthIsUnknownAndReadsAreAsync) {
    auto response = WebServerStreamedResponse::responseWithContentType(
        "text/plain", [](Error*) -> std::optional<Data> { return Data(); });
    EXPECT_TRUE(response->implementsAsyncRead());
    EXPECT_TRUE(response->usesChunkedTransferEncoding());
    EXPECT_NE(response->description().find("<STREAM>"), std::string::npos);
}

class StreamedResponseServer : public coretest::ServerTest {};

TEST_F(StreamedResponseServer, OnePieceIsSentAsTwoChunks) {
    server->addHandlerForMethod(
        "GET", "/stream", WebServerRequestClass<WebServerRequest>(),
        [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
            auto calls = std::make_shared<int>(0);
            return WebServerStreamedResponse::responseWithContentType(
                "text/plain", [calls](Error*) -> std::optional<Data> {
                    return (*calls)++ == 0 ? platform::dataFromString("hello") : Data();
                });
        });
    ASSERT_TRUE(startServer());
    const auto reply = coretest::get(port(), "/stream");
    EXPECT_EQ(reply.status, 200);
    ASSERT_TRUE(reply.header("Transfer-Encoding"));
    EXPECT_EQ(*reply.header("Transfer-Encoding"), "chunked");
    EXPECT_FALSE(reply.header("Content-Length"));
    EXPECT_EQ(reply.body, "5\r\nhello\r\n0\r\n\r\n");
}

TEST_F(StreamedResponseServer, AsyncPiecesFromAnotherThread) {
    server->addHandlerForMethod(
        "GET", "/async", WebServerRequestClass<WebServerRequest>(),
        [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
            auto count = std::make_shared<int>(0);
            return WebServerStreamedResponse::responseWithContentTypeAsyncStreamBlock(
                "text/plain", [count](WebServerBodyReaderCompletionBlock completion) {
                    const int n = (*count)++;
                    std::thread([n, completion] {
                        completion(n < 3 ? platform::dataFromString("piece" + std::to_string(n)) : Data(),
                                   Error());
                    }).detach();
                });
        });
    ASSERT_TRUE(startServer());
    const auto reply = coretest::get(port(), "/async");
    std::string body;
    ASSERT_TRUE(coretest::dechunk(reply.body, &body)) << reply.raw;
    EXPECT_EQ(body, "piece0piece1piece2");
}

TEST_F(StreamedResponseServer, GzippedStreamPullsThePiecesSynchronously) {
    server->addHandlerForMethod(
        "GET", "/gzip", WebServerRequestClass<WebServerRequest>(),
        [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
            auto count = std::make_shared<int>(0);
            auto response = WebServerStreamedResponse::responseWithContentTypeAsyncStreamBlock(
                "text/plain", [count](WebServerBodyReaderCompletionBlock completion) {
                    const int n = (*count)++;
                    std::thread([n, completion] {
                        completion(n < 50 ? platform::dataFromString(std::string(1000, char('a' + n % 26)))
                                          : Data(),
                                   Error());
                    }).detach();
                });
            response->setGzipContentEncodingEnabled(true);
            return response;
        });
    ASSERT_TRUE(startServer());
    const auto reply = coretest::get(port(), "/gzip", "Accept-Encoding: gzip\r\n");
    ASSERT_TRUE(reply.header("Content-Encoding"));
    std::string compressed, body;
    ASSERT_TRUE(coretest::dechunk(reply.body, &compressed));
    ASSERT_TRUE(coretest::gunzip(compressed, &body));
    std::string expected;
    for (int n = 0; n < 50; ++n) {
        expected += std::string(1000, char('a' + n % 26));
    }
    EXPECT_EQ(body, expected);
}

TEST_F(StreamedResponseServer, FailingStreamEndsTheConnection) {
    server->addHandlerForMethod(
        "GET", "/fail", WebServerRequestClass<WebServerRequest>(),
        [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
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
