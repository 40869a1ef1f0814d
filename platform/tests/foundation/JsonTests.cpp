#include "foundation/Json.h"

#include <gtest/gtest.h>

using platform::Json;

TEST(Json, ParsesAnyValue) {
    EXPECT_TRUE(platform::parseJson(R"({"a": [1, "x", null]})")->is_object());
    EXPECT_EQ(*platform::parseJson("42"), 42);
    EXPECT_EQ(*platform::parseJson("\"t\""), "t");
    EXPECT_TRUE(platform::parseJson("null")->is_null());
}

TEST(Json, RefusesInvalidTexts) {
    EXPECT_EQ(platform::parseJson(""), std::nullopt);
    EXPECT_EQ(platform::parseJson("{\"a\":}"), std::nullopt);
    EXPECT_EQ(platform::parseJson("[1] x"), std::nullopt);
    EXPECT_EQ(platform::parseJson("\"\xFF\""), std::nullopt); // not UTF-8
}

TEST(Json, RefusesDeepNesting) {
    const std::size_t depth = platform::kJsonMaxDepth;
    EXPECT_TRUE(platform::parseJson(std::string(depth, '[') + std::string(depth, ']')).has_value());
    EXPECT_EQ(platform::parseJson(std::string(depth + 1, '[') + std::string(depth + 1, ']')), std::nullopt);
    // Brackets inside strings do not count.
    EXPECT_TRUE(platform::parseJson("\"" + std::string(depth + 1, '[') + "\\\"\"").has_value());
}

TEST(Json, SerialisesCompactly) {
    const Json value = {{"b", {1, 2}}, {"a", "x"}};
    EXPECT_EQ(platform::serializeJson(value), std::optional<std::string>(R"({"a":"x","b":[1,2]})"));
    EXPECT_EQ(platform::serializeJson(Json("\xFF")), std::nullopt);
}
