// The TLS layer's tables: verification results to library values, and the host-name rule. Which
// result code each real failure reaches is checked against openssl s_server in TlsSessionTests.
#include "KL_TlsHostName.h"
#include "KL_TlsLibraryResult.h"

#include <gtest/gtest.h>

namespace {

TEST(TlsLibraryResult, TranslatesVerificationResults) {
    const std::pair<long, int> rows[] = {
        {0, 0},     {18, -518}, {2, -514},  {19, -514}, {20, -514}, {21, -514},  {4, -515},  {6, -515},
        {7, -515},  {9, -516},  {10, -517}, {22, -519}, {25, -519}, {32, -519},  {37, -519}, {79, -519},
        {68, -520}, {76, -520}, {1, -513},  {23, -513}, {62, -513}, {999, -513},
    };
    for (const auto& [verify_result, value] : rows) {
        EXPECT_EQ(KL_TlsLibraryValueFromVerifyResult(verify_result), value) << verify_result;
    }
}

TEST(TlsHostName, MatchesOneLabelBelowAWildcard) {
    struct Row {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Row rows[] = {
        {"example.com", "example.com", true},
        {"Example.COM", "example.com", true},
        {"example.com", "www.example.com", false},
        {"*.example.com", "www.example.com", true},
        {"*.example.com", "WWW.Example.Com", true},
        {"*.example.com", "example.com", false},
        {"*.example.com", "a.b.example.com", false},
        {"*example.com", "www.example.com", false},
        {"*.example.com", "wwwexample.com", false},
        {"*.", "host", false},
        {"*.localhost", "a.localhost", true},
        {"", "example.com", false},
        {"example.com", "", false},
        {nullptr, "example.com", false},
        {"example.com", nullptr, false},
        {"w*.example.com", "ww.example.com", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(KL_TlsMatchHostName(row.pattern, row.name), row.match)
            << (row.pattern ? row.pattern : "(null)") << " / " << (row.name ? row.name : "(null)");
    }
}

} // namespace
