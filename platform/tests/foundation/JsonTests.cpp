#include "foundation/Json.h"

#include <gtest/gtest.h>

using platform::Json;

TEST(Json, ParsesAnyValueAndRefusesInvalidTexts) {
    EXPECT_EQ(*platform::parseJson(R"({"a": [1, "x", null]})"), (Json{{"a", {1, "x", nullptr}}}));
    for (const char* text : {"", "{\"a\":}", "[1] x", "\"\xFF\""}) { // the last is not UTF-8
        EXPECT_EQ(platform::parseJson(text), std::nullopt) << text;
    }
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
