// The XML side of the WebDAV server without sockets: PROPFIND and LOCK bodies, escaping.

#include "WebDAVXml.h"

#include "foundation/Data.h"

#include <gtest/gtest.h>

namespace {

Data bytes(const std::string& text) {
    return Data(text.begin(), text.end());
}

std::optional<int> propfind(const std::string& body, std::vector<std::string>* unknown = nullptr) {
    return WebDAVParsePropfindBody(bytes(body), [unknown](const std::string& name) {
        if (unknown) {
            unknown->push_back(name);
        }
    });
}

} // namespace

TEST(WebDAVXml, PropfindBodies) {
    EXPECT_EQ(propfind(""), kWebDAVPropertiesAll);
    EXPECT_EQ(propfind("<D:propfind xmlns:D=\"DAV:\"><D:allprop/></D:propfind>"), kWebDAVPropertiesAll);
    EXPECT_EQ(propfind("<propfind><prop><getcontentlength/></prop><allprop/></propfind>"),
              kWebDAVPropertiesAll);
    std::vector<std::string> unknown;
    EXPECT_EQ(
        propfind("<?xml version=\"1.0\"?>\n<a:propfind xmlns:a=\"DAV:\">\n  <a:prop>\n    <a:resourcetype/>\n"
                 "    <a:getlastmodified/>\n    <a:quota-used-bytes/>\n    <b:creationdate xmlns:b=\"x:\"/>\n"
                 "  </a:prop>\n</a:propfind>",
                 &unknown),
        kWebDAVPropertyResourceType | kWebDAVPropertyLastModified | kWebDAVPropertyCreationDate);
    EXPECT_EQ(unknown, std::vector<std::string>{"quota-used-bytes"});
    EXPECT_EQ(propfind("<propfind><prop/></propfind>"), 0);
    EXPECT_EQ(propfind("<!-- first --><propfind><prop><getcontentlength/></prop></propfind>"),
              kWebDAVPropertyContentLength);
}

TEST(WebDAVXml, InvalidPropfindBodies) {
    for (const char* body :
         {"garbage", "<propfind/>", "<propfind></propfind>", "<propfind><propname/></propfind>",
          "<other><prop/></other>", "<a><propfind><allprop/></propfind></a>", "\xff\xfe"}) {
        EXPECT_FALSE(propfind(body).has_value()) << body;
    }
}

TEST(WebDAVXml, LockInfo) {
    auto info =
        WebDAVParseLockInfo(bytes("<D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/></D:lockscope>"
                                  "<D:locktype><D:write/></D:locktype><D:owner>\n<D:href>http://me/</D:href>"
                                  "</D:owner></D:lockinfo>"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->scope, "exclusive");
    EXPECT_EQ(info->type, "write");
    EXPECT_EQ(info->owner, "http://me/");

    info = WebDAVParseLockInfo(bytes("<lockinfo><owner>plain text</owner></lockinfo>"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->scope, "");
    EXPECT_EQ(info->type, "");
    EXPECT_EQ(info->owner, "");
    EXPECT_FALSE(WebDAVParseLockInfo(bytes("")));
    EXPECT_FALSE(WebDAVParseLockInfo(bytes("<propfind/>")));
}

TEST(WebDAVXml, Escaping) {
    EXPECT_EQ(WebDAVEscapeXML("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&apos;");
    EXPECT_EQ(WebDAVEscapeHref("/dir/a b%#&<>?+.txt"), "/dir/a%20b%25%23%26%3C%3E%3F%2B.txt");
    EXPECT_EQ(WebDAVEscapeHref("/ü/€"), "/%C3%BC/%E2%82%AC");
    EXPECT_EQ(WebDAVEscapeHref("/A-z_0.9~!$'()*,;=:@"), "/A-z_0.9~!$'()*,;=:@");
    EXPECT_EQ(WebDAVEscapeHref(std::string("/\x01\x7f", 3)), "/%01%7F");
}
