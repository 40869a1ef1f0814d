// Number parsing: the boundaries of every width, strict against relaxed, chars_used, floats.
#include "KL_Utils.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
struct IntCase {
    const char* text;
    bool relaxed;
    KL_Result result;
    int64_t value;
};
struct UIntCase {
    const char* text;
    bool relaxed;
    KL_Result result;
    uint64_t value;
};
constexpr KL_Result OK = KL_SUCCESS;
constexpr KL_Result BAD = KL_ERROR_INVALID_PARAMETERS;
constexpr KL_Result OVER = KL_ERROR_OVERFLOW;
} // namespace

TEST(ParseInteger, Signed64) {
    const IntCase cases[] = {
        {"9223372036854775807", false, OK, INT64_MAX},
        {"9223372036854775808", false, OVER, 0},
        {"-9223372036854775808", false, OK, INT64_MIN},
        {"-9223372036854775809", false, OVER, 0},
        {"+42", false, OK, 42},
        {"-0", false, OK, 0},
        {"99999999999999999999", false, OVER, 0},
        {"12a", false, BAD, 0},
        {"12a", true, OK, 12},
        {" 12", false, BAD, 0},
        {" \t12", true, OK, 12},
        {"", false, BAD, 0},
        {"  ", true, BAD, 0},
        {"-", false, BAD, 0},
        {"+a", true, BAD, 0},
        {"a1", true, BAD, 0},
    };
    for (const IntCase& c : cases) {
        int64_t value = 99;
        EXPECT_EQ(KL_ParseInteger64(c.text, value, c.relaxed), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(KL_ParseInteger(c.text, value, c.relaxed), c.result) << c.text;
    }
    int64_t value = 0;
    EXPECT_EQ(KL_ParseInteger64(nullptr, value, true), BAD);
}

TEST(ParseInteger, Unsigned64) {
    const UIntCase cases[] = {
        {"18446744073709551615", false, OK, UINT64_MAX},
        {"18446744073709551616", false, OVER, 0},
        {"18446744073709551620", false, OVER, 0},
        {"184467440737095516150", false, OVER, 0},
        {"+5", false, BAD, 0},
        {"-5", true, BAD, 0},
        {"007", false, OK, 7},
    };
    for (const UIntCase& c : cases) {
        uint64_t value = 99;
        EXPECT_EQ(KL_ParseInteger64U(c.text, value, c.relaxed), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(KL_ParseIntegerU(c.text, value, c.relaxed), c.result) << c.text;
    }
}

TEST(ParseInteger, ThirtyTwoBits) {
    const IntCase cases[] = {
        {"2147483647", false, OK, INT32_MAX},
        {"2147483648", false, OVER, 0},
        {"-2147483648", false, OK, INT32_MIN},
        {"-2147483649", false, OVER, 0},
        {"12a", true, OK, 12},
    };
    for (const IntCase& c : cases) {
        int32_t value = 99;
        EXPECT_EQ(KL_ParseInteger32(c.text, value, c.relaxed), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    const UIntCase unsigned_cases[] = {
        {"4294967295", false, OK, UINT32_MAX}, {"4294967296", false, OVER, 0}, {"-1", false, BAD, 0}};
    for (const UIntCase& c : unsigned_cases) {
        uint32_t value = 99;
        EXPECT_EQ(KL_ParseInteger32U(c.text, value, c.relaxed), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(ParseInteger, CharsUsedCountsBlanksSignAndDigits) {
    struct Case {
        const char* text;
        KL_Size used;
    } cases[] = {{" \t-12a", 5}, {"123", 3}, {"+7 ", 2}};
    for (const Case& c : cases) {
        int64_t value = 0;
        KL_Size used = 99;
        EXPECT_EQ(KL_ParseInteger64(c.text, value, true, &used), KL_SUCCESS) << c.text;
        EXPECT_EQ(used, c.used) << c.text;
    }
    int32_t value = 0;
    KL_Size used = 99;
    EXPECT_EQ(KL_ParseInteger32("99999999999", value, true, &used), OVER);
    EXPECT_EQ(used, 0u);
}

TEST(ParseFloat, Table) {
    struct Case {
        const char* text;
        bool relaxed;
        KL_Result result;
        float value;
    } cases[] = {
        {".5", false, OK, 0.5f},        {"1.", false, BAD, 0},   {"2e3", false, OK, 2000.0f},
        {"-1.25", false, OK, -1.25f},   {"+3", false, OK, 3.0f}, {"1.2.3", false, BAD, 0},
        {"1e", false, BAD, 0},          {"1ex", true, BAD, 0},   {"1e-2", false, OK, 0.01f},
        {"5x", false, BAD, 0},          {"5x", true, OK, 5.0f},  {" 5", false, BAD, 0},
        {" 5", true, OK, 5.0f},         {"", true, BAD, 0},      {"-", false, BAD, 0},
        {".", false, BAD, 0},           {"e5", false, BAD, 0},   {"1e99999999999", false, OVER, 0},
        {"1e40", false, OK, HUGE_VALF}, {"1e5x", false, BAD, 0}, {"1e5x", true, OK, 1e5f},
    };
    for (const auto& c : cases) {
        float value = 99;
        EXPECT_EQ(KL_ParseFloat(c.text, value, c.relaxed), c.result) << c.text;
        EXPECT_FLOAT_EQ(value, c.value) << c.text;
    }
}
