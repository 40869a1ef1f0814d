#include "RequestBodiesTestSupport.h"
#include "WebServerDataRequest.h"
#include "WebServerFileRequest.h"
#include "WebServerFunctions.h"
#include "WebServerMultiPartFormRequest.h"
#include "WebServerURLEncodedFormRequest.h"

#include <gtest/gtest.h>

#include <cstdio>

using bodytest::makeRequest;
using bodytest::ScopedTemporaryFolder;
using bodytest::toData;

namespace {

// Opens the request, writes the pieces and closes it; false as soon as a step fails.
bool feed(WebServerRequest& request, std::initializer_list<std::string_view> pieces, Error* error = nullptr) {
    if (!request.performOpen(error)) {
        return false;
    }
    for (const std::string_view piece : pieces) {
        if (!request.performWriteData(toData(piece), error)) {
            return false;
        }
    }
    return request.performClose(error);
}

std::shared_ptr<WebServerDataRequest> dataRequest(const std::string& type, const std::string& body) {
    auto request = makeRequest<WebServerDataRequest>(
        {{"Content-Type", type}, {"Content-Length", std::to_string(body.size())}});
    EXPECT_TRUE(feed(*request, {body}));
    return request;
}

} // namespace

// ---- Text functions ----

TEST(TextFunctions, HeaderValuesAndCharsets) {
    EXPECT_EQ(TruncateHeaderValue("multipart/form-data; boundary=x"), "multipart/form-data");
    EXPECT_EQ(TruncateHeaderValue(" Text/Plain "), " Text/Plain ");
    EXPECT_EQ(TruncateHeaderValue(";a"), "");
    // Unknown charsets fall back to UTF-8.
    EXPECT_EQ(StringEncodingFromCharset(std::nullopt), "UTF-8");
    EXPECT_EQ(StringEncodingFromCharset(std::string("no-such-charset")), "UTF-8");
    EXPECT_EQ(StringEncodingFromCharset(std::string("")), "UTF-8");
    EXPECT_EQ(StringEncodingFromCharset(std::string("iso-8859-1")), "ISO-8859-1");
    EXPECT_EQ(StringEncodingFromCharset(std::string("latin1")), "ISO-8859-1");
    EXPECT_EQ(StringEncodingFromCharset(std::string("utf-8;")), "UTF-8");
    EXPECT_EQ(StringEncodingFromCharset(std::string("Windows-1252")), "windows-1252");
}

TEST(TextFunctions, TextFromData) {
    EXPECT_EQ(StringFromData(toData("caf\xE9"), "ISO-8859-1"), std::optional<std::string>("caf\xC3\xA9"));
    EXPECT_EQ(StringFromData(toData("caf\xE9"), "UTF-8"), std::nullopt); // strict
    EXPECT_EQ(StringFromData(toData("\xC3"), "UTF-8"), std::nullopt);    // cut-off sequence
    EXPECT_EQ(StringFromData(Data{}, "UTF-8"), std::optional<std::string>(""));
    EXPECT_TRUE(IsTextContentType("text/html; charset=utf-8"));
    EXPECT_TRUE(IsTextContentType("application/json"));
    EXPECT_TRUE(IsTextContentType("application/xml; charset=utf-8"));
    EXPECT_FALSE(IsTextContentType("application/octet-stream"));
    EXPECT_FALSE(IsTextContentType("image/svg+xml"));
    EXPECT_EQ(DescribeBodyData(Data{1, 2, 3}, "image/png"), "<3 bytes>");
    EXPECT_EQ(DescribeBodyData(toData("caf\xE9"), "text/plain; charset=iso-8859-1"), "caf\xC3\xA9");
    EXPECT_EQ(DescribeBodyData(toData("caf\xE9"), "text/plain"), "<4 bytes>");
    EXPECT_EQ(DescribeBodyData(toData("{}"), "application/json"), "{}");
}

// ---- Data request ----

TEST(DataRequest, TextUsesTheCharsetOfTheContentType) {
    EXPECT_EQ(dataRequest("text/plain; charset=iso-8859-1", "caf\xE9")->text(),
              std::optional<std::string>("caf\xC3\xA9"));
    EXPECT_EQ(dataRequest("text/plain; charset=x-unknown", "caf\xC3\xA9")->text(),
              std::optional<std::string>("caf\xC3\xA9"));
    EXPECT_EQ(dataRequest("text/plain", "caf\xE9")->text(), std::nullopt);
    EXPECT_EQ(dataRequest("application/octet-stream", "plain")->text(), std::nullopt);
    const std::string description = dataRequest("text/plain", "hello")->description();
    EXPECT_EQ(description.substr(0, 12), "POST /upload");
    EXPECT_EQ(description.substr(description.size() - 7), "\n\nhello");
}

TEST(DataRequest, JSONObjectForJSONTypesOnly) {
    const std::string text = R"({"a":[1,2.5,"x",true,null],"b":{}})";
    const auto object = dataRequest("application/json; charset=utf-8", text)->jsonObject();
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(object->dump(), text);
    EXPECT_TRUE(dataRequest("text/javascript", "[1]")->jsonObject()->is_array());
    EXPECT_EQ(*dataRequest("text/json", "42")->jsonObject(), 42);
    EXPECT_EQ(dataRequest("text/plain", "[1]")->jsonObject(), std::nullopt);
    EXPECT_EQ(dataRequest("application/json", "{\"a\":")->jsonObject(), std::nullopt);
    EXPECT_EQ(dataRequest("application/json", std::string(100000, '['))->jsonObject(), std::nullopt);
}

TEST(DataRequest, BodiesAreBounded) {
    // Only a bounded amount is reserved for the declared length.
    auto reserved = makeRequest<WebServerDataRequest>(
        {{"Content-Type", "text/plain"},
         {"Content-Length", std::to_string(WebServerDataRequest::kMaximumBodySize)}});
    ASSERT_TRUE(reserved->performOpen(nullptr));
    EXPECT_LE(reserved->data().capacity(), WebServerDataRequest::kMaximumInitialCapacity);

    auto declared = makeRequest<WebServerDataRequest>(
        {{"Content-Type", "text/plain"},
         {"Content-Length", std::to_string(WebServerDataRequest::kMaximumBodySize + 1)}});
    Error error;
    EXPECT_FALSE(declared->performOpen(&error));
    EXPECT_EQ(error.domain, "WebServerErrorDomain");

    auto chunked = makeRequest<WebServerDataRequest>({{"Transfer-Encoding", "chunked"}});
    ASSERT_TRUE(chunked->performOpen(nullptr));
    const Data piece(1024 * 1024, 'x');
    for (std::size_t i = 0; i < WebServerDataRequest::kMaximumBodySize / piece.size(); ++i) {
        ASSERT_TRUE(chunked->performWriteData(piece, nullptr));
    }
    EXPECT_FALSE(chunked->performWriteData(Data{'y'}, &error));
    EXPECT_EQ(chunked->data().size(), WebServerDataRequest::kMaximumBodySize);
}

// ---- URL-encoded form request ----

TEST(URLEncodedFormRequest, ParsesArgumentsAtCloseWithTheCharset) {
    EXPECT_EQ(WebServerURLEncodedFormRequest::mimeType(), "application/x-www-form-urlencoded");
    auto request = makeRequest<WebServerURLEncodedFormRequest>(
        {{"Content-Type", "application/x-www-form-urlencoded"}, {"Content-Length", "7"}});
    ASSERT_TRUE(feed(*request, {"a=1&b=", "2"}));
    EXPECT_EQ(request->arguments(), (QueryDictionary{{"a", "1"}, {"b", "2"}}));
    const std::string description = request->description();
    EXPECT_EQ(description.substr(description.size() - 13), "\n\na = 1\nb = 2");

    auto latin = makeRequest<WebServerURLEncodedFormRequest>(
        {{"Content-Type", "application/x-www-form-urlencoded; charset=ISO-8859-1"}, {"Content-Length", "9"}});
    ASSERT_TRUE(feed(*latin, {"name=caf\xE9"}));
    EXPECT_EQ(latin->arguments(), (QueryDictionary{{"name", "caf\xC3\xA9"}}));
    // Text that does not decode gives no arguments, without failing.
    auto broken = makeRequest<WebServerURLEncodedFormRequest>(
        {{"Content-Type", "application/x-www-form-urlencoded"}, {"Content-Length", "9"}});
    EXPECT_TRUE(feed(*broken, {"name=caf\xE9"}));
    EXPECT_TRUE(broken->arguments().empty());
}

// ---- File request ----

TEST(FileRequest, WritesTheBodyToATemporaryFileDeletedWithTheRequest) {
    ScopedTemporaryFolder temporary;
    auto request =
        makeRequest<WebServerFileRequest>({{"Content-Type", "text/plain"}, {"Content-Length", "6"}});
    const std::string path = request->temporaryPath();
    EXPECT_EQ(path.rfind(temporary.path() + "/", 0), 0u) << path;
    ASSERT_TRUE(feed(*request, {"abc", "def"}));
    EXPECT_EQ(bodytest::readFile(path), std::optional<std::string>("abcdef"));
    EXPECT_EQ(request->description().substr(request->description().size() - path.size() - 4),
              "\n\n{" + path + "}");
    request.reset();
    EXPECT_FALSE(bodytest::fileExists(path));
}

TEST(FileRequest, OnlyAFileMovedAwayByTheHandlerIsKept) {
    ScopedTemporaryFolder temporary;
    const std::string moved = temporary.path() + "/moved";
    {
        auto request =
            makeRequest<WebServerFileRequest>({{"Content-Type", "text/plain"}, {"Content-Length", "1"}});
        ASSERT_TRUE(feed(*request, {"m"}));
        ASSERT_EQ(std::rename(request->temporaryPath().c_str(), moved.c_str()), 0);
        // A request cut short leaves no file.
        auto cut =
            makeRequest<WebServerFileRequest>({{"Content-Type", "text/plain"}, {"Content-Length", "9"}});
        ASSERT_TRUE(cut->performOpen(nullptr));
        ASSERT_TRUE(cut->performWriteData(toData("part"), nullptr));
    }
    EXPECT_EQ(bodytest::readFile(moved), std::optional<std::string>("m"));
    EXPECT_EQ(temporary.entries(), std::vector<std::string>{"moved"});
}

TEST(FileRequest, OpenFailureIsAPOSIXError) {
    ScopedTemporaryFolder temporary;
    ::setenv("TMPDIR", (temporary.path() + "/missing").c_str(), 1);
    auto request =
        makeRequest<WebServerFileRequest>({{"Content-Type", "text/plain"}, {"Content-Length", "1"}});
    Error error;
    EXPECT_FALSE(request->performOpen(&error));
    EXPECT_EQ(error.domain, platform::kPOSIXErrorDomain);
    EXPECT_EQ(error.code, ENOENT);
}

TEST(FileRequest, DescriptorZeroIsAValidFile) {
    ScopedTemporaryFolder temporary;
    const int savedInput = ::dup(0);
    ASSERT_GE(savedInput, 0);
    ::close(0);
    auto request =
        makeRequest<WebServerFileRequest>({{"Content-Type", "text/plain"}, {"Content-Length", "4"}});
    const bool fed = feed(*request, {"zero"});
    ::dup2(savedInput, 0);
    ::close(savedInput);
    EXPECT_TRUE(fed);
    EXPECT_EQ(bodytest::readFile(request->temporaryPath()), std::optional<std::string>("zero"));
}

// ---- Multipart form request ----

TEST(MultiPartFormRequest, ReportsEachStageOfFailure) {
    ScopedTemporaryFolder temporary;
    Error error;
    auto noBoundary = makeRequest<WebServerMultiPartFormRequest>(
        {{"Content-Type", "multipart/form-data"}, {"Content-Length", "1"}});
    EXPECT_FALSE(noBoundary->performOpen(&error));
    EXPECT_EQ(error, Error::make("WebServerErrorDomain", -1, "Failed starting to parse multipart form data"));

    auto malformed = makeRequest<WebServerMultiPartFormRequest>(
        {{"Content-Type", "multipart/form-data; boundary=b"}, {"Content-Length", "1"}});
    EXPECT_FALSE(feed(*malformed, {"--b\r\nContent-Type: text/plain\r\n\r\nx\r\n--b"}, &error));
    EXPECT_EQ(error.description, "Failed continuing to parse multipart form data");

    auto unfinished = makeRequest<WebServerMultiPartFormRequest>(
        {{"Content-Type", "multipart/form-data; boundary=\"b\""}, {"Content-Length", "1"}});
    EXPECT_FALSE(feed(*unfinished, {bodytest::MultipartBuilder("b").field("a", "1").unfinished()}, &error));
    EXPECT_EQ(error.description, "Failed finishing to parse multipart form data");
}

TEST(MultiPartFormRequest, FindsPartsAndDescribesThem) {
    ScopedTemporaryFolder temporary;
    EXPECT_EQ(WebServerMultiPartFormRequest::mimeType(), "multipart/form-data");
    const std::string body = bodytest::MultipartBuilder("xyz")
                                 .field("a", "first")
                                 .field("a", "second")
                                 .file("f", "photo.png", "image/png", "PNG")
                                 .finish();
    auto request =
        makeRequest<WebServerMultiPartFormRequest>({{"Content-Type", "multipart/form-data; boundary=xyz"},
                                                    {"Content-Length", std::to_string(body.size())}});
    ASSERT_TRUE(feed(*request, {body}));
    ASSERT_NE(request->firstArgumentForControlName("a"), nullptr);
    EXPECT_EQ(request->firstArgumentForControlName("a")->string(), std::optional<std::string>("first"));
    EXPECT_EQ(request->firstArgumentForControlName("A"), nullptr);
    EXPECT_EQ(request->firstFileForControlName("a"), nullptr);
    auto file = request->firstFileForControlName("f");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->description(), "<WebServerMultiPartFile | 'image/png' | 'photo.png>'");
    const std::string description = request->description();
    EXPECT_NE(description.find("\n\na (text/plain)\nfirst\na (text/plain)\nsecond\n"), std::string::npos)
        << description;
    EXPECT_NE(description.find("\n\nf (image/png): photo.png\n{" + file->temporaryPath() + "}"),
              std::string::npos)
        << description;
}
