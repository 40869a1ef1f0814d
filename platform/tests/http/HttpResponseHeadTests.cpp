#include "http/HttpResponseHead.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using platform::HttpResponseHead;
using platform::stringFromData;
using namespace std::string_literals;

TEST(HttpResponseHead, SerializesStatusLineHeadersAndBlankLine) {
    HttpResponseHead head(200);
    head.setHeader("Content-Type", "text/html; charset=utf-8");
    head.setHeader("Content-Length", "5");
    head.setHeader("Connection", "Close");
    EXPECT_EQ(stringFromData(head.serialize()), "HTTP/1.1 200 OK\r\n"
                                                "Content-Type: text/html; charset=utf-8\r\n"
                                                "Content-Length: 5\r\n"
                                                "Connection: Close\r\n"
                                                "\r\n");
    EXPECT_EQ(stringFromData(HttpResponseHead(404).serialize()), "HTTP/1.1 404 Not Found\r\n\r\n");
    EXPECT_EQ(stringFromData(HttpResponseHead(299).serialize()), "HTTP/1.1 299 Unknown\r\n\r\n");
}

TEST(HttpResponseHead, ReplacesSameNameFieldInPlace) {
    HttpResponseHead head(207);
    head.setHeader("DAV", "1, 2");
    head.setHeader("ETag", "\"a\"");
    head.setHeader("Server", "Lanyard");
    head.setHeader("etag", "\"b\"");
    ASSERT_EQ(head.headers().size(), 3u);
    EXPECT_EQ(stringFromData(head.serialize()), "HTTP/1.1 207 Multi-Status\r\n"
                                                "DAV: 1, 2\r\n"
                                                "ETag: \"b\"\r\n"
                                                "Server: Lanyard\r\n"
                                                "\r\n");
    ASSERT_NE(head.header("ETAG"), nullptr);
    EXPECT_EQ(*head.header("ETAG"), "\"b\"");
    EXPECT_EQ(head.header("Location"), nullptr);
    EXPECT_EQ(head.statusCode(), 207);
}

TEST(HttpResponseHead, NeutralisesLineBreaksInValues) {
    HttpResponseHead head(302);
    head.setHeader("Location", "/next\r\nSet-Cookie: stolen=1\r\n\r\n<html>");
    head.setHeader("X-Lone", "a\nb\rc\0d\x7f"s
                             "e\tf"s);
    const std::string text = stringFromData(head.serialize());
    EXPECT_EQ(text, "HTTP/1.1 302 Found\r\n"
                    "Location: /next  Set-Cookie: stolen=1    <html>\r\n"
                    "X-Lone: a b c d e\tf\r\n"
                    "\r\n");
}

TEST(HttpResponseHead, KeepsNamesValidTokens) {
    HttpResponseHead head(200);
    head.setHeader("X-Evil\r\nSet-Cookie", "v");
    head.setHeader("Bad Name:", "w");
    head.setHeader("", "ignored");
    EXPECT_EQ(stringFromData(head.serialize()), "HTTP/1.1 200 OK\r\n"
                                                "X-Evil--Set-Cookie: v\r\n"
                                                "Bad-Name-: w\r\n"
                                                "\r\n");
    ASSERT_NE(head.header("Bad Name:"), nullptr);
    EXPECT_EQ(*head.header("bad-name-"), "w");
}

TEST(HttpResponseHead, GivesClassicReasonPhrases) {
    // Each text is the three-digit code, a space and the phrase.
    for (const char* line :
         {"100 Continue", "201 Created", "204 No Content", "206 Partial Content", "304 Not Modified",
          "405 Method Not Allowed", "412 Precondition Failed", "413 Request Entity Too Large",
          "414 Request-URI Too Long", "416 Requested Range Not Satisfiable", "417 Expectation Failed",
          "423 Locked", "424 Failed Dependency", "500 Internal Server Error",
          "505 HTTP Version Not Supported", "507 Insufficient Storage"}) {
        EXPECT_STREQ(HttpResponseHead::reasonPhrase(std::atoi(line)), line + 4);
    }
    for (int code : {0, -1, 99, 199, 419, 506, 599, 600, 1000}) {
        EXPECT_STREQ(HttpResponseHead::reasonPhrase(code), "Unknown") << code;
    }
}
