// Request construction from a parsed head, and the response base class.

#include "CoreTestSupport.h"
#include "WebServerFunctions.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

const Url kURL = *Url::parse("http://localhost:8080/path?a=1");

std::shared_ptr<WebServerRequest> makeRequest(const HeaderDictionary& headers,
                                              const std::string& method = "GET") {
    return WebServerRequest::create(method, kURL, headers, "/path", QueryDictionary{{"a", "1"}});
}

WebServerRange rangeOf(const std::string& value) {
    auto request = makeRequest({{"Range", value}});
    return request ? request->byteRange() : WebServerRange{0, 0};
}

Date at(long long seconds) {
    return Date(std::chrono::seconds(seconds));
}

} // namespace

// ---- Byte ranges ----

TEST(CoreRequest, RangeFromStartToEnd) {
    EXPECT_EQ(rangeOf("bytes=0-499"), (WebServerRange{0, 500}));
    EXPECT_EQ(rangeOf("bytes=100-100"), (WebServerRange{100, 1}));
    EXPECT_EQ(rangeOf("Bytes=10-19"), (WebServerRange{10, 10})); // the unit is normalised to lower case
}

TEST(CoreRequest, RangeFromStartToTheEnd) {
    EXPECT_EQ(rangeOf("bytes=500-"), (WebServerRange{500, kWebServerNotFound}));
    EXPECT_EQ(rangeOf("bytes=0-"), (WebServerRange{0, kWebServerNotFound}));
}

TEST(CoreRequest, RangeOfTheLastBytes) {
    EXPECT_EQ(rangeOf("bytes=-500"), (WebServerRange{kWebServerNotFound, 500}));
}

TEST(CoreRequest, UnusableRangesGiveNoRange) {
    for (const std::string value : {"bytes=500-400", "bytes=-0", "bytes=0-1,5-6", "items=0-1",
                                    "bytes=", "bytes=-", "bytes=1-2-3", "bytes=5"}) {
        auto request = makeRequest({{"Range", value}});
        ASSERT_TRUE(request) << value;
        EXPECT_EQ(request->byteRange(), (WebServerRange{kWebServerNotFound, 0})) << value;
        EXPECT_FALSE(request->hasByteRange()) << value;
    }
    EXPECT_TRUE(makeRequest({{"Range", "bytes=0-0"}})->hasByteRange());
    EXPECT_FALSE(makeRequest({})->hasByteRange());
}

// ---- Bodies ----

TEST(CoreRequest, ContentTypeWithoutLengthMeansNoBody) {
    auto request = makeRequest({{"Content-Type", "text/plain"}});
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->hasBody());
    EXPECT_FALSE(request->contentType());
    EXPECT_EQ(request->contentLength(), kWebServerNotFound);
}

TEST(CoreRequest, ZeroContentLengthIsAnEmptyBinaryBody) {
    auto request = makeRequest({{"Content-Length", "0"}}, "POST");
    ASSERT_TRUE(request);
    EXPECT_TRUE(request->hasBody());
    EXPECT_EQ(request->contentLength(), 0u);
    EXPECT_EQ(request->contentType(), std::optional<std::string>("application/octet-stream"));
}

TEST(CoreRequest, ContentLengthKeepsTheGivenType) {
    auto request =
        makeRequest({{"Content-Length", "42"}, {"Content-Type", "Text/HTML; Charset=UTF-8"}}, "POST");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->contentLength(), 42u);
    EXPECT_EQ(request->contentType(), std::optional<std::string>("text/html; Charset=UTF-8"));
    EXPECT_FALSE(request->usesChunkedTransferEncoding());
}

TEST(CoreRequest, ChunkedBodyHasUnknownLength) {
    auto request = makeRequest({{"Transfer-Encoding", "Chunked"}}, "PUT");
    ASSERT_TRUE(request);
    EXPECT_TRUE(request->usesChunkedTransferEncoding());
    EXPECT_TRUE(request->hasBody());
    EXPECT_EQ(request->contentLength(), kWebServerNotFound);
    EXPECT_EQ(request->contentType(), std::optional<std::string>("application/octet-stream"));
}

TEST(CoreRequest, NegativeContentLengthIsRefused) {
    EXPECT_FALSE(makeRequest({{"Content-Length", "-1"}}, "POST"));
    EXPECT_FALSE(makeRequest({{"Content-Length", " -20"}}, "POST"));
}

TEST(CoreRequest, ContentLengthWithChunkedCodingIsRefused) {
    EXPECT_FALSE(makeRequest({{"Content-Length", "5"}, {"Transfer-Encoding", "chunked"}}, "POST"));
}

// ---- Conditions and encodings ----

TEST(CoreRequest, IfModifiedSinceIsParsed) {
    auto request = makeRequest({{"If-Modified-Since", "Sun, 06 Nov 1994 08:49:37 GMT"}});
    ASSERT_TRUE(request);
    EXPECT_EQ(request->ifModifiedSince(), std::optional<Date>(at(784111777)));
    EXPECT_FALSE(makeRequest({{"If-Modified-Since", "yesterday"}})->ifModifiedSince());
    EXPECT_FALSE(makeRequest({})->ifModifiedSince());
}

TEST(CoreRequest, IfNoneMatchIsKeptAsSent) {
    EXPECT_EQ(makeRequest({{"If-None-Match", "\"v1\""}})->ifNoneMatch(),
              std::optional<std::string>("\"v1\""));
    EXPECT_FALSE(makeRequest({})->ifNoneMatch());
}

TEST(CoreRequest, AcceptEncodingGzip) {
    EXPECT_TRUE(makeRequest({{"Accept-Encoding", "gzip"}})->acceptsGzipContentEncoding());
    EXPECT_TRUE(makeRequest({{"Accept-Encoding", "deflate, gzip;q=0.5"}})->acceptsGzipContentEncoding());
    EXPECT_FALSE(makeRequest({{"Accept-Encoding", "deflate, br"}})->acceptsGzipContentEncoding());
    EXPECT_FALSE(makeRequest({})->acceptsGzipContentEncoding());
}

TEST(CoreRequest, DescriptionListsQueryAndHeadersInOrder) {
    auto request = WebServerRequest::create("GET", kURL, {{"User-Agent", "t"}, {"Accept", "*/*"}}, "/p",
                                            {{"z", "26"}, {"b", "2"}});
    EXPECT_EQ(request->description(), "GET /p\n  b = 2\n  z = 26\n\nAccept: */*\nUser-Agent: t");
}

TEST(CoreRequest, WriterChainOpensOnlyOnce) {
    auto request = WebServerRequest::create<coretest::CollectingRequest>("POST", kURL,
                                                                         {{"Content-Length", "3"}}, "/p", {});
    ASSERT_TRUE(request);
    request->prepareForWriting();
    Error error;
    ASSERT_TRUE(request->performOpen(&error));
    EXPECT_TRUE(request->performWriteData(platform::dataFromString("abc"), &error));
    EXPECT_FALSE(request->performOpen(&error));
    EXPECT_TRUE(request->performClose(&error));
    EXPECT_EQ(request->body, "abc");
    EXPECT_EQ(request->openCount, 1);
    EXPECT_EQ(request->closeCount, 1);
}

TEST(CoreRequest, GzipContentEncodingIsInflatedOnTheWay) {
    const std::string text = "inflate me, inflate me, inflate me";
    const std::string packed = coretest::gzipCompress(text);
    auto request = WebServerRequest::create<coretest::CollectingRequest>(
        "POST", kURL, {{"Content-Length", std::to_string(packed.size())}, {"Content-Encoding", "GZIP"}}, "/p",
        {});
    ASSERT_TRUE(request);
    request->prepareForWriting();
    Error error;
    ASSERT_TRUE(request->performOpen(&error));
    ASSERT_TRUE(request->performWriteData(platform::dataFromString(packed), &error));
    ASSERT_TRUE(request->performClose(&error));
    EXPECT_EQ(request->body, text);
}

// ---- Responses ----

TEST(CoreResponse, TemporaryRedirect) {
    auto response =
        WebServerResponse::responseWithRedirect(*Url::parse("http://example.test/there?x=1"), false);
    EXPECT_EQ(response->statusCode(), 307);
    EXPECT_EQ(response->additionalHeaders().at("Location"), "http://example.test/there?x=1");
    EXPECT_FALSE(response->hasBody());
}

TEST(CoreResponse, PermanentRedirect) {
    auto response = WebServerResponse::responseWithRedirect(*Url::parse("http://example.test/"), true);
    EXPECT_EQ(response->statusCode(), 301);
    EXPECT_EQ(response->additionalHeaders().at("Location"), "http://example.test/");
}

TEST(CoreResponse, DescriptionOfAFullResponse) {
    coretest::StringResponse response("hello");
    response.setCacheControlMaxAge(60);
    response.setLastModifiedDate(at(784111777));
    response.setETag("\"e\"");
    response.setValueForAdditionalHeader("2", "X-B");
    response.setValueForAdditionalHeader("1", "X-A");
    EXPECT_EQ(response.description(), "Status Code = 200\nContent Type = text/plain\nContent Length = 5\n"
                                      "Cache Control Max Age = 60\nLast Modified Date = Sun, 06 Nov 1994 "
                                      "08:49:37 GMT\nETag = \"e\"\n\nX-A: 1\nX-B: 2");
}

TEST(CoreResponse, DescriptionOfAnEmptyResponse) {
    EXPECT_EQ(WebServerResponse::responseWithStatusCode(404)->description(),
              "Status Code = 404\nCache Control Max Age = 0");
}
