#include "foundation/Charset.h"

#include <gtest/gtest.h>

using platform::canonicalCharsetName;
using platform::decodeToUTF8;
using platform::encodeFromUTF8;

TEST(Charset, CanonicalNamesOfAliases) {
    EXPECT_EQ(canonicalCharsetName("utf-8"), std::optional<std::string>("UTF-8"));
    EXPECT_EQ(canonicalCharsetName("UTF8"), std::optional<std::string>("UTF-8"));
    EXPECT_EQ(canonicalCharsetName("latin1"), std::optional<std::string>("ISO-8859-1"));
    EXPECT_EQ(canonicalCharsetName(" iso-8859-1 "), std::optional<std::string>("ISO-8859-1"));
    EXPECT_EQ(canonicalCharsetName("Shift_JIS"), std::optional<std::string>("Shift_JIS"));
    EXPECT_EQ(canonicalCharsetName("no-such-charset"), std::nullopt);
    EXPECT_EQ(canonicalCharsetName(""), std::nullopt); // not ICU's default converter
    EXPECT_EQ(canonicalCharsetName(std::string_view("utf-8\0x", 7)), std::nullopt);
}

TEST(Charset, DecodesStrictly) {
    EXPECT_EQ(decodeToUTF8("caf\xE9", "ISO-8859-1"), std::optional<std::string>("caf\xC3\xA9"));
    EXPECT_EQ(decodeToUTF8("\x80", "windows-1252"), std::optional<std::string>("\xE2\x82\xAC"));
    EXPECT_EQ(decodeToUTF8("caf\xC3\xA9", "utf-8"), std::optional<std::string>("caf\xC3\xA9"));
    EXPECT_EQ(decodeToUTF8("caf\xE9", "UTF-8"), std::nullopt);
    EXPECT_EQ(decodeToUTF8("\xC0\xAF", "UTF-8"), std::nullopt);     // overlong
    EXPECT_EQ(decodeToUTF8("\xED\xA0\x80", "UTF-8"), std::nullopt); // surrogate
    EXPECT_EQ(decodeToUTF8("ok\xE2\x82", "UTF-8"), std::nullopt);   // cut short
    EXPECT_EQ(decodeToUTF8(std::string_view("a\0b", 3), "UTF-8"),
              std::optional<std::string>(std::string("a\0b", 3)));
    EXPECT_EQ(decodeToUTF8("", "UTF-8"), std::optional<std::string>(""));
    EXPECT_EQ(decodeToUTF8("abc", "no-such-charset"), std::nullopt);
    EXPECT_EQ(decodeToUTF8(std::string_view("\xFF\xFE"
                                            "a\0\xE9\0",
                                            6),
                           "UTF-16"),
              "a\xC3\xA9");                                                             // with its BOM
    EXPECT_EQ(decodeToUTF8(std::string_view("\x00\xD8", 2), "UTF-16LE"), std::nullopt); // lone surrogate
}

TEST(Charset, ConvertsTextLongerThanOneBuffer) {
    std::string latin;
    std::string utf8;
    for (int i = 0; i < 100000; ++i) {
        latin += "x\xE9";
        utf8 += "x\xC3\xA9";
    }
    EXPECT_EQ(decodeToUTF8(latin, "ISO-8859-1"), std::optional<std::string>(utf8));
    EXPECT_EQ(encodeFromUTF8(utf8, "ISO-8859-1"), std::optional<std::string>(latin));
}

TEST(Charset, EncodesStrictly) {
    EXPECT_EQ(encodeFromUTF8("caf\xC3\xA9", "ISO-8859-1"), std::optional<std::string>("caf\xE9"));
    EXPECT_EQ(encodeFromUTF8("\xE2\x82\xAC", "ISO-8859-1"), std::nullopt); // no euro sign in Latin-1
    EXPECT_EQ(encodeFromUTF8("caf\xE9", "ISO-8859-1"), std::nullopt);      // not UTF-8
    EXPECT_EQ(encodeFromUTF8("abc", "no-such-charset"), std::nullopt);
}
