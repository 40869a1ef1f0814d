// The TLS layer's tables: library values to result codes, verification results to library
// values, and the host-name rule.
#include "KL_TlsHostName.h"
#include "KL_TlsLibraryResult.h"

#include <gtest/gtest.h>

namespace {

TEST(TlsLibraryResult, MapsEveryRow) {
    const std::pair<int, KL_Result> rows[] = {
        {0, KL_SUCCESS},
        {-3, KL_ERROR_EOS},
        {-276, KL_ERROR_EOS},
        {-275, KL_ERROR_TIMEOUT},
        {-274, KL_ERROR_NOT_SUPPORTED},
        {-256, KL_ERROR_CONNECTION_ABORTED},
        {-260, KL_ERROR_TLS_INVALID_HANDSHAKE},
        {-261, KL_ERROR_TLS_INVALID_PROTOCOL_MESSAGE},
        {-262, KL_ERROR_TLS_INVALID_HMAC},
        {-263, KL_ERROR_TLS_INVALID_VERSION},
        {-265, KL_ERROR_TLS_INVALID_SESSION},
        {-266, KL_ERROR_TLS_NO_CIPHER},
        {-268, KL_ERROR_TLS_BAD_CERTIFICATE},
        {-269, KL_ERROR_TLS_INVALID_KEY},
        {-271, KL_ERROR_TLS_INVALID_FINISHED_MESSAGE},
        {-272, KL_ERROR_TLS_NO_CERTIFICATE_DEFINED},
        {-273, KL_ERROR_TLS_NO_CLIENT_RENEGOTIATION},
        {-10, KL_ERROR_TLS_ALERT_UNEXPECTED_MESSAGE},
        {-20, KL_ERROR_TLS_ALERT_BAD_RECORD_MAC},
        {-40, KL_ERROR_TLS_ALERT_HANDSHAKE_FAILED},
        {-42, KL_ERROR_TLS_ALERT_BAD_CERTIFICATE},
        {-47, KL_ERROR_TLS_ALERT_ILLEGAL_PARAMETER},
        {-50, KL_ERROR_TLS_ALERT_DECODE_ERROR},
        {-51, KL_ERROR_TLS_ALERT_DECRYPT_ERROR},
        {-70, KL_ERROR_TLS_ALERT_INVALID_VERSION},
        {-513, KL_ERROR_TLS_CERTIFICATE_FAILURE},
        {-514, KL_ERROR_TLS_CERTIFICATE_NO_TRUST_ANCHOR},
        {-515, KL_ERROR_TLS_CERTIFICATE_BAD_SIGNATURE},
        {-516, KL_ERROR_TLS_CERTIFICATE_NOT_YET_VALID},
        {-517, KL_ERROR_TLS_CERTIFICATE_EXPIRED},
        {-518, KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED},
        {-519, KL_ERROR_TLS_CERTIFICATE_INVALID_CHAIN},
        {-520, KL_ERROR_TLS_CERTIFICATE_UNSUPPORTED_DIGEST},
        {-521, KL_ERROR_TLS_CERTIFICATE_INVALID_PRIVATE_KEY},
    };
    for (const auto& [value, result] : rows) {
        EXPECT_EQ(KL_TlsMapLibraryResult(value), result) << value;
    }
    for (int value : {-1, -41, -43, -44, -45, -46, -48, -49, -257, -258, -259, -264, -267, -270, -512, 7}) {
        EXPECT_EQ(KL_TlsMapLibraryResult(value), KL_FAILURE) << value;
    }
}

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
