#include "WebServerFunctions.h"

#include <gtest/gtest.h>

TEST(UrlFunctions, EscapeURLString) {
    const std::pair<std::string, std::string> cases[] = {
        {"a b/c:d", "a%20b%2Fc%3Ad"}, // separators and blanks
        {"?&=+@", "%3F%26%3D%2B%40"},
        {"plain-Name_1.txt", "plain-Name_1.txt"},
        {"it's(1)!~*", "it's(1)!~*"},
        {"50%.txt", "50%25.txt"}, // percent and hash
        {"a#b", "a%23b"},
        {"%41", "%2541"},                               // never read back as "A"
        {"<a href=\"x\">", "%3Ca%20href%3D%22x%22%3E"}, // markup, controls and non-ASCII
        {"a\r\nb\t", "a%0D%0Ab%09"},
        {"caf\xC3\xA9", "caf%C3%A9"},
        {"{|}\\^[]`", "%7B%7C%7D%5C%5E%5B%5D%60"},
    };
    for (const auto& [name, escaped] : cases) {
        EXPECT_EQ(EscapeURLString(name), escaped);
    }
    for (const std::string name : {"50%.txt", "a#b", "a b/c:d", "x?y=1&z=2+3", "\xE6\x97\xA5\xE6\x9C\xAC.mp3",
                                   "%%%", "100% #1 'quoted' \"double\"", ";$,"}) {
        EXPECT_EQ(UnescapeURLString(EscapeURLString(name)), name) << name;
    }
}

TEST(UrlFunctions, MimeTypeForExtension) {
    EXPECT_EQ(MimeTypeForExtension("css"), "text/css");
    EXPECT_EQ(MimeTypeForExtension("CSS"), "text/css");
    EXPECT_EQ(MimeTypeForExtension("Css"), "text/css");
    EXPECT_EQ(MimeTypeForExtension("js"), "text/javascript");
    EXPECT_EQ(MimeTypeForExtension("MP4"), "video/mp4");
    EXPECT_EQ(MimeTypeForExtension("html"), "text/html");
    EXPECT_EQ(MimeTypeForExtension(""), "application/octet-stream");
    EXPECT_EQ(MimeTypeForExtension("unknownext"), "application/octet-stream");
    EXPECT_EQ(MimeTypeForExtension("tar.gz"), "application/octet-stream");
}
