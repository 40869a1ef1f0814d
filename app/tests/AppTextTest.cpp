#include "AppText.h"
#include "JHDataSet.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

namespace lanyard {
namespace {

TEST(AppTextTest, LeadingDigitsAreTheNumberAndOutOfRangeNumbersSaturate) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    const std::pair<const char*, std::int32_t> cases[] = {
        {"12abc", 12},         {"  -7 days", -7},     {"+5", 5}, {"", 0}, {"abc12", 0}, {"-", 0},
        {"99999999999", kMax}, {"-99999999999", kMin}};
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(intValueOfText(text), value) << text;
    }
    EXPECT_EQ(longLongValueOfText("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(longLongValueOfText("9223372036854775808"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(longLongValueOfText("1099511627776x"), 1099511627776LL);
}

TEST(AppTextTest, Utf8Validation) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("h\xC3\xA9llo \xE6\x96\x87"));
    EXPECT_FALSE(isValidUtf8("\xC3"));
    EXPECT_FALSE(isValidUtf8("a\xFF"));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80")); // an encoded surrogate
}

TEST(JHDataSetTest, ColumnNamesIgnoreCase) {
    JHDataSet set;
    set.addComn("ID");
    set.addComn("Name");
    ASSERT_TRUE(set.setValue(0, 0, std::string("7")));
    ASSERT_TRUE(set.setValue(0, "NAME", std::string("Movies")));
    EXPECT_EQ(set.getValue(0, "ID"), "7");
    EXPECT_EQ(set.getValue(0, "id"), "7");
    EXPECT_EQ(set.getValue(0, "Id"), "7");
    EXPECT_EQ(set.getValue(0, 1), "Movies");
    EXPECT_EQ(set.data().at("0").count("name"), 1u);
}

TEST(JHDataSetTest, MissingValues) {
    JHDataSet set;
    EXPECT_EQ(set.getValue(0, "ID"), "");
    EXPECT_EQ(set.getValue(0, 0), "");
    EXPECT_EQ(set.getComnValue(0), std::nullopt);
    EXPECT_FALSE(set.setValue(0, 0, std::string("x")));

    set.addComn("ID");
    set.addComn("Note1");
    set.setValue(0, 0, std::string("1"));
    set.setValue(1, "ID", std::nullopt);
    // A row without the column has none; a row that does not exist has "".
    EXPECT_EQ(set.getValue(0, "Note1"), std::nullopt);
    EXPECT_EQ(set.getValue(0, 1), std::nullopt);
    EXPECT_EQ(set.getValue(5, "ID"), "");
    EXPECT_EQ(set.getValue(0, 9), "");
    EXPECT_EQ(set.getValue(1, "ID"), "");
}

TEST(JHDataSetTest, CloseSetEmptiesEverything) {
    JHDataSet set;
    set.addComn("ID");
    set.setValue(0, 0, std::string("1"));
    set.setRows(1);
    set.setStatus(0);
    EXPECT_TRUE(set.closeSet());
    EXPECT_EQ(set.status(), -1);
    EXPECT_EQ(set.rows(), 0);
    EXPECT_EQ(set.cols(), 0);
    EXPECT_EQ(set.getValue(0, "ID"), "");
}

} // namespace
} // namespace lanyard
