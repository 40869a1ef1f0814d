#include "foundation/StringsFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>
#include <utility>

using platform::StringsFile;
using Table = StringsFile::Table;

TEST(StringsFile, ReadsEntriesWithCommentsAnywhere) {
    const auto table =
        StringsFile::parse("/* The page */\n"
                           "\"PROLOGUE\" = \"<p>Hi</p>\";\n"
                           "// a line comment\n"
                           "\"EPILOGUE\"=\"\" ; /* empty */ \"FOOTER_FORMAT\" = /* here too */ \"%@ %@\";");
    ASSERT_TRUE(table);
    EXPECT_EQ(*table, (Table{{"PROLOGUE", "<p>Hi</p>"}, {"EPILOGUE", ""}, {"FOOTER_FORMAT", "%@ %@"}}));
}

TEST(StringsFile, DecodesCStyleEscapes) {
    const auto table = StringsFile::parse(R"("k" = "a\"b\\c\nd\te\r\'f\101\u00e9\U20AC\ud83d\ude00";)");
    ASSERT_TRUE(table);
    EXPECT_EQ(table->at("k"), "a\"b\\c\nd\te\r'fA\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(StringsFile, BareWordsKeysAloneDuplicatesAndEmptyTexts) {
    const std::pair<const char*, Table> cases[] = {
        {"index = start_page.html;\n\"Cancel\";\nversion = 1.0;",
         Table{{"index", "start_page.html"}, {"Cancel", "Cancel"}, {"version", "1.0"}}},
        {"\"a\" = \"1\"; \"a\" = \"2\";", Table{{"a", "2"}}}, // the later duplicate wins
        {"", Table{}},
        {"  /* nothing */ \n// nothing\n", Table{}},
    };
    for (const auto& [text, table] : cases) {
        EXPECT_EQ(StringsFile::parse(text), table) << text;
    }
}

TEST(StringsFile, MalformedTextsAreRefusedWithTheLine) {
    const char* cases[] = {
        "\"a\" = \"1\"",         // no ";"
        "\"a\" = \"1;",          // unterminated text
        "\"a\" \"1\";",          // no "="
        "\"a\" = ;",             // no value
        "/* open comment",       // unterminated comment
        "\"a\" = \"\\u12\";",    // short \u escape
        "\"a\" = \"\\ud800x\";", // lone surrogate
        "= \"1\";",              // no key
    };
    for (const char* text : cases) {
        std::string error;
        EXPECT_FALSE(StringsFile::parse(text, &error)) << text;
        EXPECT_NE(error.find("line 1"), std::string::npos) << text << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(StringsFile::parse("\"a\" = \"1\";\n\n\"b\" = 2", &error));
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

TEST(StringsFile, ByteOrderMarksAndUTF16) {
    EXPECT_EQ(StringsFile::parse("\xEF\xBB\xBF\"a\" = \"1\";")->at("a"), "1");
    const std::string utf16le("\xFF\xFE\"\0k\0\"\0=\0\"\0\xE9\0\"\0;\0", 18);
    const auto little = StringsFile::parse(utf16le);
    ASSERT_TRUE(little);
    EXPECT_EQ(little->at("k"), "\xC3\xA9");
    const std::string utf16be("\xFE\xFF\0\"\0k\0\"\0=\0\"\0\xE9\0\"\0;", 18);
    EXPECT_EQ(StringsFile::parse(utf16be)->at("k"), "\xC3\xA9");
}

TEST(StringsFile, ReadsFiles) {
    char path[] = "/tmp/lanyard-strings-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream out(path);
        out << "\"KEY\" = \"value\";\n";
    }
    EXPECT_EQ(StringsFile::read(path), (Table{{"KEY", "value"}}));
    std::remove(path);
    std::string error;
    EXPECT_FALSE(StringsFile::read(path, &error));
    EXPECT_FALSE(error.empty());
}
