// KL_String: construction and storage rules, building, search, pieces and conversions.
#include "KL_String.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Bytes(const KL_String& s) {
    return std::string(s.GetChars(), s.GetLength());
}
std::string Joined(const KL_List<KL_String>& list) {
    std::string out;
    for (const KL_String& item : list) {
        out += "[" + Bytes(item) + "]";
    }
    return out;
}
} // namespace

TEST(StringStorage, EmptyHasNoBlock) {
    KL_String none(static_cast<const char*>(nullptr));
    EXPECT_STREQ(none.GetChars(), "");
    EXPECT_EQ(none.GetLength(), 0u);
    EXPECT_EQ(none.UseChars(), nullptr);
    EXPECT_EQ(KL_String("").UseChars(), nullptr);
    EXPECT_EQ(KL_String("abc", 0).UseChars(), nullptr);
    KL_String s("ab");
    s.SetLength(0);
    EXPECT_EQ(s.UseChars(), nullptr);
    s = "x";
    s = "";
    EXPECT_EQ(s.UseChars(), nullptr);
}

TEST(StringStorage, CharsAndLengthConstructor) {
    struct Case {
        const char* chars;
        KL_Size length;
        std::string expected;
    } cases[] = {
        {"abc", 2, "ab"},  {"a\0c", 3, "a"},
        {"\0bc", 3, ""},   {"ab\0", 3, std::string("ab\0", 3)}, // a NUL in the last place is kept
        {"abc", 3, "abc"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Bytes(KL_String(c.chars, c.length)), c.expected) << c.chars;
    }
    KL_String copy(KL_String("ab\0", 3));
    EXPECT_EQ(copy.GetLength(), 3u);
}

TEST(StringStorage, ExactBlocksAndGrowth) {
    KL_String s("0123456789");
    EXPECT_EQ(s.GetCapacity(), 10u);
    s.Reserve(11);
    EXPECT_EQ(s.GetCapacity(), 20u);
    KL_String t("0123456789");
    t.Reserve(30);
    EXPECT_EQ(t.GetCapacity(), 30u);
    EXPECT_STREQ(t.GetChars(), "0123456789");
    KL_String a("abcd");
    a.Append("e");
    EXPECT_EQ(a.GetCapacity(), 8u); // appends grow by doubling
    a = "0123456789ABCDEFGH";       // 18 > 8: max(18, 16)
    EXPECT_EQ(a.GetCapacity(), 18u);
    a = "xyz"; // reuses the block
    EXPECT_EQ(a.GetCapacity(), 18u);
    KL_String c('-', 3);
    EXPECT_STREQ(c.GetChars(), "---");
    EXPECT_EQ((KL_String("ab") + 'c').GetCapacity(), 3u);
}

TEST(StringStorage, SetLengthPads) {
    KL_String s("ab");
    ASSERT_EQ(s.SetLength(5, true), KL_SUCCESS);
    EXPECT_EQ(Bytes(s), "ab   ");
    s.SetLength(1);
    EXPECT_STREQ(s.GetChars(), "a");
}

TEST(StringStorage, SelfAssignment) {
    KL_String s("hello world");
    const KL_String& same = s;
    s = same;
    EXPECT_STREQ(s.GetChars(), "hello world");
    s = s.GetChars() + 6; // from inside its own block
    EXPECT_STREQ(s.GetChars(), "world");
    s = s.SubString(1, 3);
    EXPECT_STREQ(s.GetChars(), "orl");
    s.Append(s.GetChars(), 3); // appending its own characters while growing
    EXPECT_STREQ(s.GetChars(), "orlorl");
    KL_String moved(std::move(s));
    EXPECT_STREQ(moved.GetChars(), "orlorl");
}

TEST(StringBuilding, InsertEraseNearTheLimit) {
    struct Case {
        const char* text;
        KL_Index start;
        KL_Size count;
        const char* expected;
    } cases[] = {
        {"abcdef", 5, 0xFFFFFFFFu, "abcde"},
        {"abcdef", 0xFFFFFFFFu, 2, "abcdef"},
        {"abcdef", 1, 2, "adef"},
        {"abcdef", 6, 1, "abcdef"},
        {"abcdef", 0, 6, ""},
        {"abcdef", 2, 0xFFFFFFFEu, "ab"},
    };
    for (const Case& c : cases) {
        KL_String s(c.text);
        s.Erase(c.start, c.count);
        EXPECT_STREQ(s.GetChars(), c.expected) << c.start << "," << c.count;
    }
    KL_String s("ace");
    s.Insert("b", 1);
    s.Insert("d", 3);
    s.Insert("x", 0xFFFFFFFFu);
    s.Insert("", 0);
    EXPECT_STREQ(s.GetChars(), "abcde");
    EXPECT_EQ(s.GetCapacity(), 5u);
    EXPECT_STREQ(KL_String("abc").SubString(1, 0xFFFFFFFFu).GetChars(), "bc");
    EXPECT_STREQ(KL_String("abc").SubString(0xFFFFFFFFu, 0xFFFFFFFFu).GetChars(), "");
}

TEST(StringBuilding, Format) {
    EXPECT_STREQ(KL_String::Format("%d-%s", 42, "x").GetChars(), "42-x");
    // 600 characters: sizes 256, 512, 1024.
    KL_String medium = KL_String::Format("%s", std::string(600, 'm').c_str());
    EXPECT_EQ(medium.GetLength(), 600u);
    EXPECT_EQ(medium.GetCapacity(), 1024u);
    // Beyond 0x80000 characters the text is kept whole.
    std::string big(1 << 20, 'b');
    big[12345] = 'c';
    KL_String large = KL_String::Format("<%s>", big.c_str());
    ASSERT_EQ(large.GetLength(), (1u << 20) + 2);
    EXPECT_EQ(Bytes(large), "<" + big + ">");
    EXPECT_STREQ(KL_String::FromInteger(INT64_MIN).GetChars(), "-9223372036854775808");
    EXPECT_STREQ(KL_String::FromIntegerU(UINT64_MAX).GetChars(), "18446744073709551615");
    EXPECT_STREQ((("a" + KL_String("b")) + KL_String("c") + static_cast<const char*>(nullptr)).GetChars(),
                 "abc");
}

TEST(StringCompare, Table) {
    EXPECT_LT(KL_String("abc").Compare("ABD", true), 0);
    EXPECT_EQ(KL_String("a").Compare("b"), -1);
    EXPECT_EQ(KL_String("abc").Compare("ABC", true), 0);
    EXPECT_GT(KL_String("a").Compare("\x80"), 0); // signed characters
    EXPECT_EQ(KL_String().Compare(""), 0);
    EXPECT_EQ(KL_String("abcX").CompareN("abcY", 3), 0);
    EXPECT_EQ(KL_CompareStringsN("ab", "ab", 10), 0);
    EXPECT_NE(KL_CompareStringsN("ab", "abc", 10), 0);
    EXPECT_TRUE(KL_String("Hello").StartsWith("he", true));
    EXPECT_FALSE(KL_String("Hello").StartsWith("he"));
    EXPECT_TRUE(KL_String("Hello").StartsWith(""));
    EXPECT_FALSE(KL_String("Hello").StartsWith(nullptr));
    EXPECT_TRUE(KL_String("Hello").EndsWith("LO", true));
    EXPECT_FALSE(KL_String("lo").EndsWith("Hello"));
    EXPECT_FALSE(KL_String("Hello").EndsWith(nullptr));
    EXPECT_TRUE(KL_String("x") == "x");
    EXPECT_TRUE("x" == KL_String("x"));
    EXPECT_TRUE(KL_String("a") < KL_String("b"));
}

TEST(StringSearch, Table) {
    KL_String abcd("abcd");
    EXPECT_EQ(abcd.Find("", 2), 2);
    EXPECT_EQ(abcd.Find("x", 4), -1);
    EXPECT_EQ(abcd.Find("CD", 0, true), 2);
    EXPECT_EQ(abcd.Find("cde"), -1);
    EXPECT_EQ(abcd.Find(static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(KL_String().Find(""), -1);
    EXPECT_EQ(abcd.Find('c', 1), 2);
    EXPECT_EQ(abcd.Find('C', 0, true), 2);
    EXPECT_EQ(abcd.FindAny("dc"), 2);
    KL_String banana("banana");
    EXPECT_EQ(banana.ReverseFind('a'), 5);
    EXPECT_EQ(banana.ReverseFind('a', 1), 3);
    EXPECT_EQ(banana.ReverseFind("an"), 3);
    EXPECT_EQ(banana.ReverseFind("an", 3), 1);
    EXPECT_EQ(banana.ReverseFind("an", 0xFFFFFFFFu), -1);
    EXPECT_EQ(banana.ReverseFind(""), -1);
    KL_String nul("ab\0cd", 5);
    EXPECT_EQ(nul.Find("cd"), -1); // search stops at the first NUL
}

TEST(StringPieces, SplitJoin) {
    struct Case {
        const char* text;
        const char* separator;
        const char* expected;
    } cases[] = {
        {"a,,b,", ",", "[a][][b][]"}, {"", ",", "[]"},    {"abc", "", "[abc]"},
        {"a::b", "::", "[a][b]"},     {",", ",", "[][]"}, {"abc", ",", "[abc]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Joined(KL_String(c.text).Split(c.separator)), c.expected) << c.text;
    }
    KL_Array<KL_String> any = KL_String("a;b,,c").SplitAny(",;");
    ASSERT_EQ(any.GetItemCount(), 4u);
    EXPECT_STREQ(any[3].GetChars(), "c");
    EXPECT_GE(any.GetCapacity(), 4u);
    KL_List<KL_String> list = KL_String("x,y,z").Split(",");
    EXPECT_STREQ(KL_String::Join(list, "--").GetChars(), "x--y--z");
    EXPECT_STREQ(KL_String::Join(KL_List<KL_String>(), "--").GetChars(), "");
}

TEST(StringPieces, CaseReplaceTrim) {
    KL_String s("MiXeD 1");
    EXPECT_STREQ(s.ToLowercase().GetChars(), "mixed 1");
    EXPECT_STREQ(s.ToUppercase().GetChars(), "MIXED 1");
    struct Case {
        const char* text;
        const char* a;
        const char* b;
        const char* expected;
    } cases[] = {
        {"aXbXc", "X", "--", "a--b--c"}, {"aaa", "a", "aa", "aaaaaa"}, {"abc", "", "z", "abc"},
        {"abab", "ab", "", ""},          {"abc", "x", "y", "abc"},     {"xx", "x", "x", "xx"},
    };
    for (const Case& c : cases) {
        KL_String r(c.text);
        r.Replace(c.a, c.b);
        EXPECT_STREQ(r.GetChars(), c.expected) << c.text;
    }
    KL_String chars("a.b.c");
    chars.Replace('.', "::");
    EXPECT_STREQ(chars.GetChars(), "a::b::c");
    chars.Replace(':', '/');
    EXPECT_STREQ(chars.GetChars(), "a//b//c");
    chars.Replace('/', '\0');
    EXPECT_STREQ(chars.GetChars(), "a//b//c");
    EXPECT_STREQ(KL_String("\r\n\t x \t").Trim().GetChars(), "x");
    EXPECT_STREQ(KL_String("--x--").TrimLeft('-').GetChars(), "x--");
    EXPECT_STREQ(KL_String("--x-+").TrimRight("+-").GetChars(), "--x");
    EXPECT_EQ(KL_String("   ").Trim().UseChars(), nullptr);
}

TEST(StringConvert, IntegersFloatsHashes) {
    int32_t i32 = 7;
    EXPECT_EQ(KL_String("12a").ToInteger(i32, false), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(i32, 0);
    EXPECT_EQ(KL_String(" 12a").ToInteger(i32, true), KL_SUCCESS);
    EXPECT_EQ(i32, 12);
    uint64_t u64 = 0;
    EXPECT_EQ(KL_String("18446744073709551615").ToInteger(u64, false), KL_SUCCESS);
    EXPECT_EQ(u64, UINT64_MAX);
    float f = 0;
    EXPECT_EQ(KL_String("2.5").ToFloat(f, false), KL_SUCCESS);
    EXPECT_FLOAT_EQ(f, 2.5f);
    EXPECT_EQ(KL_String().GetHash32(), 0x811C9DC5u);
    EXPECT_EQ(KL_String("a").GetHash32(), 0xE40C292Cu);
    EXPECT_EQ(KL_String("a").GetHash64(), 0xAF63DC4C8601EC8Cull);
}
