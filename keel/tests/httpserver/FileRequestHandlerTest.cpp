// The file handler through the server's request cycle: ranges, refusals, listings, index files,
// and its type lookup and markup escaping.
#include "KL_HttpEntity.h"
#include "KL_HttpFileRequestHandler.h"
#include "KL_HttpResponse.h"
#include "KL_HttpServer.h"
#include "KL_MemoryStream.h"
#include "ServerTestSupport.h"

#include "../files/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using server_test::Exchange;
using server_test::Get;
using server_test::Serve;

namespace {

// A server whose file handler serves a temporary folder holding "f" (1000 bytes) and "sub/".
class FileServer {
public:
    explicit FileServer(const char* url_root = "/", bool auto_dir = false, const char* auto_index = nullptr) {
        for (int i = 0; i < 1000; ++i) {
            m_Content += static_cast<char>('0' + (i * 7) % 75);
        }
        TempFolder::Write(m_Folder / "f", m_Content);
        std::filesystem::create_directory(m_Folder / "sub");
        m_Handler = new KL_HttpFileRequestHandler(url_root, m_Folder.Path().c_str(), auto_dir, auto_index);
        (void)m_Server.AddRequestHandler(m_Handler, url_root, true, true);
    }
    Exchange Fetch(const std::string& path, const std::string& headers = "", const char* method = "GET") {
        return Serve(m_Server, Get(path, headers, method));
    }

    TempFolder m_Folder;
    std::string m_Content;
    KL_HttpServer m_Server;
    KL_HttpFileRequestHandler* m_Handler;
};

} // namespace

TEST(FileRequestHandlerTest, ServesByteRanges) {
    struct Case {
        const char* m_Range;
        const char* m_StatusLine;
        const char* m_ContentRange;
        size_t m_First; // the body is the file's bytes from m_First, m_Length of them
        size_t m_Length;
    };
    const Case cases[] = {
        {"bytes=0-99", "HTTP/1.1 206 Partial Content", "bytes 0-99/1000", 0, 100},
        {"bytes=-100", "HTTP/1.1 206 Partial Content", "bytes 900-999/1000", 900, 100},
        {"bytes=900-", "HTTP/1.1 206 Partial Content", "bytes 900-999/1000", 900, 100},
        {"bytes=0-999", "HTTP/1.1 206 Partial Content", "bytes 0-999/1000", 0, 1000},
        {"bytes=0-1000", "HTTP/1.1 206 Partial Content", "bytes 0-999/1000", 0, 1000},
        {"bytes=-1000", "HTTP/1.1 206 Partial Content", "bytes 0-999/1000", 0, 1000},
        {"bytes=999-999", "HTTP/1.1 206 Partial Content", "bytes 999-999/1000", 999, 1},
        {"bytes=1000-", "HTTP/1.1 416 Requested Range Not Satisfiable", "(none)", 0, 0},
        {"bytes=5-2", "HTTP/1.1 416 Requested Range Not Satisfiable", "(none)", 0, 0},
        {"bytes=0-2000", "HTTP/1.1 416 Requested Range Not Satisfiable", "(none)", 0, 0},
        {"bytes=-2000", "HTTP/1.1 416 Requested Range Not Satisfiable", "(none)", 0, 0},
        {"bytes=-0", "HTTP/1.1 416 Requested Range Not Satisfiable", "(none)", 0, 0},
        {"bytes=0-1,5-6", "HTTP/1.1 416 Requested Range Not Satisfiable", "bytes */1000", 0, 0},
        {"items=0-1", "HTTP/1.1 400 Bad Request", "(none)", 0, 0},
        {"bytes=5", "HTTP/1.1 400 Bad Request", "(none)", 0, 0},
        {"bytes=a-5", "HTTP/1.1 500 Internal Error", "(none)", 0, 0},
    };
    FileServer files;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_Range);
        const Exchange answer = files.Fetch("/f", std::string("Range: ") + c.m_Range + "\r\n");
        EXPECT_EQ(answer.m_StatusLine, c.m_StatusLine);
        EXPECT_EQ(answer.Header("Content-Range"), c.m_ContentRange);
        if (c.m_Length != 0) {
            EXPECT_EQ(answer.Header("Content-Length"), std::to_string(c.m_Length));
            EXPECT_EQ(answer.m_Body, files.m_Content.substr(c.m_First, c.m_Length));
        }
    }
    const Exchange whole = files.Fetch("/f");
    EXPECT_EQ(whole.m_StatusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(whole.Header("Accept-Ranges"), "bytes");
    EXPECT_EQ(whole.Header("Content-Type"), "text/html");
    EXPECT_EQ(whole.m_Body, files.m_Content);
}

TEST(FileRequestHandlerTest, SetsUpBodiesOfUnknownSizeAndRefusedRanges) {
    class Unsized : public KL_MemoryStream {
    public:
        Unsized() : KL_MemoryStream("0123456789", 10) {}
        KL_Result GetSize(KL_LargeSize&) override { return KL_ERROR_NOT_SUPPORTED; }
    };
    struct Case {
        bool m_Sized;
        const char* m_Range;
        const char* m_TransferEncoding;
        const char* m_AcceptRanges;
        int32_t m_Status;
    };
    const Case cases[] = {
        {false, "bytes=0-", "", nullptr, 200},        {false, "bytes=2-", "", nullptr, 416},
        {true, "bytes=0-1", "chunked", nullptr, 416}, {true, "bytes=0-1", "", "none", 416},
        {true, "bytes=0-1", "", "bytes", 206},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_Range);
        KL_HttpResponse response(200, "OK");
        KL_HttpEntity* entity = new KL_HttpEntity();
        (void)entity->SetTransferEncoding(c.m_TransferEncoding);
        (void)response.SetEntity(entity);
        if (c.m_AcceptRanges != nullptr) {
            (void)response.GetHeaders().SetHeader("Accept-Ranges", c.m_AcceptRanges);
        }
        KL_InputStreamReference stream(c.m_Sized ? new KL_MemoryStream("0123456789", 10) : new Unsized());
        EXPECT_EQ(KL_HttpFileRequestHandler::SetupResponseBody(response, stream, c.m_Range), KL_SUCCESS);
        EXPECT_EQ(response.GetStatusCode(), c.m_Status);
    }
}

TEST(FileRequestHandlerTest, RefusesWhatItDoesNotServe) {
    struct Case {
        const char* m_Method;
        const char* m_Path;
        const char* m_StatusLine;
    };
    const Case cases[] = {
        {"GET", "/sub", "HTTP/1.1 403 Forbidden"},
        {"GET", "/none", "HTTP/1.1 404 Not Found"},
        {"POST", "/f", "HTTP/1.0 405 Method Not Allowed"},
        {"GET", "/../f", "HTTP/1.1 403 Forbidden"},
        {"GET", "/sub/../f", "HTTP/1.1 403 Forbidden"},
        {"GET", "/%2e%2e/%2e%2e/etc/passwd", "HTTP/1.1 403 Forbidden"},
        {"GET", "/sub/..%2f..%2fetc/passwd", "HTTP/1.1 403 Forbidden"},
        {"GET", "/f%00.txt", "HTTP/1.1 403 Forbidden"},
        {"GET", "/..", "HTTP/1.1 403 Forbidden"},
        {"GET", "/sub/..x", "HTTP/1.1 404 Not Found"},
    };
    FileServer files;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_Path);
        const Exchange answer = files.Fetch(c.m_Path, "", c.m_Method);
        EXPECT_EQ(answer.m_StatusLine, c.m_StatusLine);
    }
    const Exchange post = files.Fetch("/f", "", "POST");
    EXPECT_EQ(post.m_Body, "");
    EXPECT_EQ(post.Header("Content-Length"), "(none)");
}

TEST(FileRequestHandlerTest, CutsTheUrlRootFromTheDecodedPath) {
    FileServer files("/my files");
    EXPECT_EQ(files.Fetch("/my%20files/f").m_Body, files.m_Content);
    EXPECT_EQ(files.Fetch("/my%20files/..%2Ff").m_StatusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(files.Fetch("/other/f").m_StatusLine, "HTTP/1.0 404 Not Found");
}

TEST(FileRequestHandlerTest, ListsNamesEscapedAndLinkedByTheirBytes) {
    FileServer files("/", true);
    const std::string dir = files.m_Folder / "sub";
    TempFolder::Write(dir + "/a\"b<c#d%e\xC3\xA9", "x");
    TempFolder::Write(dir + "/bad\xFF", "x");
    std::filesystem::create_directory(dir + "/q?");
    const Exchange listing = files.Fetch("/sub");
    EXPECT_EQ(listing.m_StatusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(listing.Header("Content-Type"), "text/html");
    const std::string body = listing.m_Body;
    EXPECT_EQ(body.rfind("<hmtl><head><title>Directory Listing for /sub</title></head><body>"
                         "<h2>Directory Listing for /sub</h2><hr><ul>\r\n",
                         0),
              0u);
    EXPECT_NE(body.find("<li><a href=\"/sub/a%22b%3Cc%23d%25e%C3%A9\">a\"b&#x003C;c#d%e&#x00E9;</a><br>\r\n"),
              std::string::npos)
        << body;
    EXPECT_NE(body.find("<li><a href=\"/sub/bad%FF\">bad&#xFFFFFFFF;</a><br>\r\n"), std::string::npos)
        << body;
    EXPECT_NE(body.find("<li><a href=\"/sub/q%3F\">q?/</a><br>\r\n"), std::string::npos) << body;
    EXPECT_EQ(body.substr(body.size() - 19), "</ul></body></html>");
    const Exchange quoted = files.Fetch("/sub%22/", "", "GET");
    EXPECT_EQ(quoted.m_StatusLine, "HTTP/1.1 404 Not Found");
}

TEST(FileRequestHandlerTest, RedirectsDirectoriesToTheirIndexBelowTheRequestPath) {
    FileServer files("/", true, "index.html");
    TempFolder::Write(files.m_Folder / "index.html", "top");
    TempFolder::Write(files.m_Folder / "sub/index.html", "below");
    const struct {
        const char* m_Path;
        const char* m_Location;
        const char* m_Body;
    } cases[] = {{"/", "/index.html", "top"},
                 {"/sub", "/sub/index.html", "below"},
                 {"/sub/", "/sub/index.html", "below"},
                 {"//sub", "/sub/index.html", "below"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_Path);
        const Exchange answer = files.Fetch(c.m_Path);
        EXPECT_EQ(answer.m_StatusLine, "HTTP/1.1 302 Found");
        EXPECT_EQ(answer.Header("Location"), c.m_Location);
        EXPECT_EQ(answer.m_Body, c.m_Body);
    }
    std::filesystem::remove(files.m_Folder / "sub/index.html");
    EXPECT_EQ(files.Fetch("/sub").m_StatusLine, "HTTP/1.1 403 Forbidden");
}

TEST(FileRequestHandlerTest, EscapesMarkupByCodePoint) {
    const struct {
        const char* m_Text;
        const char* m_Escaped;
    } cases[] = {
        {"plain text", "plain text"},
        {"<a&b>\"", "&#x003C;a&#x0026;b&#x003E;\""},
        {"tab\tdel\x7F", "tab&#x0009;del&#x007F;"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "&#x00E9;&#x20AC;&#x0001F600;"},
        {"\xFF"
         "a",
         "&#xFFFFFFFF;a"}, // no sequence starts with 0xFF
        {"\x80"
         "a",
         "&#xFFFFFFFF;a"}, // a lone continuation byte
        {"\xC3"
         "a",
         "&#xFFFFFFFF;a"}, // a missing continuation byte
        {"\xE2\x82"
         "a",
         "&#xFFFFFFFF;a"}, // two of three bytes
        {"\xC0\xAF"
         "a",
         "&#xFFFFFFFF;a"}, // an overlong "/"
        {"\xED\xA0\x80"
         "a",
         "&#xFFFFFFFF;a"}, // a surrogate
        {"\xF4\x90\x80\x80"
         "a",
         "&#xFFFFFFFF;a"}, // above 0x10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::string(KL_HttpFileRequestHandler::EscapeMarkup(c.m_Text, "<>&").GetChars()),
                  c.m_Escaped)
            << c.m_Text;
    }
}

TEST(FileRequestHandlerTest, FindsContentTypesByExtension) {
    EXPECT_STREQ(KL_HttpFileRequestHandler::GetDefaultContentType("MP3"), "audio/mpeg");
    EXPECT_STREQ(KL_HttpFileRequestHandler::GetDefaultContentType("flac"), "audio/x-flac");
    EXPECT_STREQ(KL_HttpFileRequestHandler::GetDefaultContentType("OGG"), "audio/ogg");
    EXPECT_STREQ(KL_HttpFileRequestHandler::GetDefaultContentType("xml"), "text/xml; charset=\"utf-8\"");
    EXPECT_STREQ(KL_HttpFileRequestHandler::GetDefaultContentType("zip"), "application/zip");
    EXPECT_EQ(KL_HttpFileRequestHandler::GetDefaultContentType("exe"), nullptr);
    KL_HttpFileRequestHandler handler("/", "/srv");
    (void)handler.GetFileTypeMap().Put("mp3", "audio/x-mine");
    handler.SetDefaultMimeType("application/octet-stream");
    const struct {
        const char* m_Name;
        const char* m_Type;
    } cases[] = {{"/srv/a.MP3", "audio/x-mine"},
                 {"/srv/b.Mkv", "video/x-matroska"},
                 {"/srv/.profile", "application/octet-stream"},
                 {"/srv/x.d/README", "application/octet-stream"},
                 {"/srv/c.exe", "application/octet-stream"}};
    for (const auto& c : cases) {
        EXPECT_EQ(std::string(handler.GetContentType(c.m_Name).GetChars()), c.m_Type) << c.m_Name;
    }
    handler.SetUseDefaultFileTypeMap(false);
    EXPECT_EQ(std::string(handler.GetContentType("b.mkv").GetChars()), "application/octet-stream");
}
