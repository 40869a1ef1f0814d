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

Date at(long long seconds) {
    return Date(std::chrono::seconds(seconds));
}

} // namespace

// ---- Byte ranges and bodies ----

TEST(CoreRequest, ByteRanges) {
    const std::pair<std::string, WebServerRange> cases[] = {
        {"bytes=0-499", {0, 500}},
        {"bytes=100-100", {100, 1}},
        {"Bytes=10-19", {10, 10}}, // the unit is normalised to lower case
        {"bytes=500-", {500, kWebServerNotFound}},
        {"bytes=0-", {0, kWebServerNotFound}},
        {"bytes=-500", {kWebServerNotFound, 500}},
        {"bytes= 7-8", {7, 2}}, // blanks after the unit
        // The last position whose length 64 bits hold.
        {"bytes=0-18446744073709551614", {0, kWebServerNotFound}},
    };
    for (const auto& [value, range] : cases) {
        auto request = makeRequest({{"Range", value}});
        ASSERT_TRUE(request) << value;
        EXPECT_EQ(request->byteRange(), range) << value;
        EXPECT_TRUE(request->hasByteRange()) << value;
    }
    for (const std::string value : {"bytes=500-400", "bytes=-0", "bytes=0-1,5-6", "items=0-1",
                                    "bytes=", "bytes=-", "bytes=1-2-3", "bytes=5",
                                    // Only a lenient number reading takes these for ranges.
                                    "bytes=0x0-0x5", "bytes=a-b", "bytes=1-2x", "bytes=+1-2", "bytes=-+5",
                                    "bytes=1 -2", "bytes=99999999999999999999-",
                                    // Positions whose length or start 64 bits cannot hold.
                                    "bytes=0-18446744073709551615", "bytes=18446744073709551615-"}) {
        auto request = makeRequest({{"Range", value}});
        ASSERT_TRUE(request) << value;
        EXPECT_EQ(request->byteRange(), (WebServerRange{kWebServerNotFound, 0})) << value;
        EXPECT_FALSE(request->hasByteRange()) << value;
    }
    EXPECT_FALSE(makeRequest({})->hasByteRange());
}

TEST(CoreRequest, BodyFromTheHeaders) {
    const std::string octets = "application/octet-stream";
    const struct {
        HeaderDictionary headers;
        bool hasBody;
        std::uint64_t length;
        std::optional<std::string> type;
        bool chunked;
    } cases[] = {
        {{{"Content-Type", "text/plain"}},
         false,
         kWebServerNotFound,
         std::nullopt,
         false}, // no length: no body
        {{{"Content-Length", "0"}}, true, 0, octets, false},
        {{{"Content-Length", "42"}, {"Content-Type", "Text/HTML; Charset=UTF-8"}},
         true,
         42,
         "text/html; Charset=UTF-8",
         false},
        {{{"Transfer-Encoding", "Chunked"}}, true, kWebServerNotFound, octets, true},
    };
    for (const auto& c : cases) {
        auto request = makeRequest(c.headers, "POST");
        ASSERT_TRUE(request);
        SCOPED_TRACE(request->description());
        EXPECT_EQ(request->hasBody(), c.hasBody);
        EXPECT_EQ(request->contentLength(), c.length);
        EXPECT_EQ(request->contentType(), c.type);
        EXPECT_EQ(request->usesChunkedTransferEncoding(), c.chunked);
    }
    // Negative lengths, and a length with the chunked coding, are refused.
    EXPECT_FALSE(makeRequest({{"Content-Length", "-1"}}, "POST"));
    EXPECT_FALSE(makeRequest({{"Content-Length", " -20"}}, "POST"));
    EXPECT_FALSE(makeRequest({{"Content-Length", "5"}, {"Transfer-Encoding", "chunked"}}, "POST"));
}

// ---- Conditions and encodings ----

TEST(CoreRequest, ConditionsAndAcceptedEncodings) {
    auto request = makeRequest({{"If-Modified-Since", "Sun, 06 Nov 1994 08:49:37 GMT"}});
    ASSERT_TRUE(request);
    EXPECT_EQ(request->ifModifiedSince(), std::optional<Date>(at(784111777)));
    EXPECT_FALSE(makeRequest({{"If-Modified-Since", "yesterday"}})->ifModifiedSince());
    EXPECT_FALSE(makeRequest({})->ifModifiedSince());
    EXPECT_EQ(makeRequest({{"If-None-Match", "\"v1\""}})->ifNoneMatch(),
              std::optional<std::string>("\"v1\""));
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

TEST(CoreResponse, Redirects) {
    auto response =
        WebServerResponse::responseWithRedirect(*Url::parse("http://example.test/there?x=1"), false);
    EXPECT_EQ(response->statusCode(), 307);
    EXPECT_EQ(response->additionalHeaders().at("Location"), "http://example.test/there?x=1");
    EXPECT_FALSE(response->hasBody());
    EXPECT_EQ(
        WebServerResponse::responseWithRedirect(*Url::parse("http://example.test/"), true)->statusCode(),
        301);
}

TEST(CoreResponse, Descriptions) {
    coretest::StringResponse response("hello");
    response.setCacheControlMaxAge(60);
    response.setLastModifiedDate(at(784111777));
    response.setETag("\"e\"");
    response.setValueForAdditionalHeader("2", "X-B");
    response.setValueForAdditionalHeader("1", "X-A");
    EXPECT_EQ(response.description(), "Status Code = 200\nContent Type = text/plain\nContent Length = 5\n"
                                      "Cache Control Max Age = 60\nLast Modified Date = Sun, 06 Nov 1994 "
                                      "08:49:37 GMT\nETag = \"e\"\n\nX-A: 1\nX-B: 2");
    EXPECT_EQ(WebServerResponse::responseWithStatusCode(404)->description(),
              "Status Code = 404\nCache Control Max Age = 0");
}
