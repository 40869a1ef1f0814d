#include "WebServerFunctions.h"

#include <gtest/gtest.h>

TEST(UrlFunctions, EscapesSeparatorsAndBlanks) {
    EXPECT_EQ(EscapeURLString("a b/c:d"), "a%20b%2Fc%3Ad");
    EXPECT_EQ(EscapeURLString("?&=+@"), "%3F%26%3D%2B%40");
    EXPECT_EQ(EscapeURLString("plain-Name_1.txt"), "plain-Name_1.txt");
    EXPECT_EQ(EscapeURLString("it's(1)!~*"), "it's(1)!~*");
}

TEST(UrlFunctions, EscapesPercentAndHash) {
    EXPECT_EQ(EscapeURLString("50%.txt"), "50%25.txt");
    EXPECT_EQ(EscapeURLString("a#b"), "a%23b");
    EXPECT_EQ(EscapeURLString("%41"), "%2541"); // never read back as "A"
}

TEST(UrlFunctions, EscapesMarkupControlsAndNonAscii) {
    EXPECT_EQ(EscapeURLString("<a href=\"x\">"), "%3Ca%20href%3D%22x%22%3E");
    EXPECT_EQ(EscapeURLString("a\r\nb\t"), "a%0D%0Ab%09");
    EXPECT_EQ(EscapeURLString("caf\xC3\xA9"), "caf%C3%A9");
    EXPECT_EQ(EscapeURLString("{|}\\^[]`"), "%7B%7C%7D%5C%5E%5B%5D%60");
}

TEST(UrlFunctions, EscapedNamesRoundTrip) {
    const std::string names[] = {"50%.txt",
                                 "a#b",
                                 "a b/c:d",
                                 "x?y=1&z=2+3",
                                 "\xE6\x97\xA5\xE6\x9C\xAC.mp3",
                                 "%%%",
                                 "100% #1 'quoted' \"double\"",
                                 ";$,"};
    for (const std::string& name : names) {
        EXPECT_EQ(UnescapeURLString(EscapeURLString(name)), name) << name;
    }
}

TEST(UrlFunctions, MimeTypeOverridesAndCase) {
    EXPECT_EQ(MimeTypeForExtension("css"), "text/css");
    EXPECT_EQ(MimeTypeForExtension("CSS"), "text/css");
    EXPECT_EQ(MimeTypeForExtension("Css"), "text/css");
    EXPECT_EQ(MimeTypeForExtension("js"), "text/javascript");
    EXPECT_EQ(MimeTypeForExtension("MP4"), "video/mp4");
    EXPECT_EQ(MimeTypeForExtension("html"), "text/html");
}

TEST(UrlFunctions, MimeTypeDefault) {
    EXPECT_EQ(MimeTypeForExtension(""), "application/octet-stream");
    EXPECT_EQ(MimeTypeForExtension("unknownext"), "application/octet-stream");
    EXPECT_EQ(MimeTypeForExtension("tar.gz"), "application/octet-stream");
}
