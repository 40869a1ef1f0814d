#include "http/HttpResponseHead.h"

#include <gtest/gtest.h>

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
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(100), "Continue");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(200), "OK");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(201), "Created");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(204), "No Content");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(206), "Partial Content");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(207), "Multi-Status");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(304), "Not Modified");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(405), "Method Not Allowed");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(412), "Precondition Failed");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(413), "Request Entity Too Large");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(414), "Request-URI Too Long");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(416), "Requested Range Not Satisfiable");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(417), "Expectation Failed");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(423), "Locked");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(424), "Failed Dependency");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(500), "Internal Server Error");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(505), "HTTP Version Not Supported");
    EXPECT_STREQ(HttpResponseHead::reasonPhrase(507), "Insufficient Storage");
    for (int code : {0, -1, 99, 199, 299, 419, 506, 599, 600, 1000}) {
        EXPECT_STREQ(HttpResponseHead::reasonPhrase(code), "Unknown") << code;
    }
}
