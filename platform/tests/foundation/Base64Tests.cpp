#include "foundation/Base64.h"

#include <gtest/gtest.h>

#include <utility>

using platform::base64Decode;
using platform::base64Encode;

TEST(Base64, EncodesStandardVectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"user:pass", "dXNlcjpwYXNz"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(plain), encoded);
        EXPECT_EQ(base64Decode(encoded), std::optional<std::string>(plain)) << encoded;
    }
}

TEST(Base64, RoundTripsEveryByteAtEveryLength) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(255 - i));
    }
    for (std::size_t length = 0; length <= bytes.size(); length += 7) {
        const std::string piece = bytes.substr(0, length);
        const std::string encoded = base64Encode(piece);
        EXPECT_EQ(encoded.size() % 4, 0u);
        EXPECT_EQ(base64Decode(encoded), piece) << length;
    }
    EXPECT_EQ(base64Encode("\xFB\xFF"), "+/8=");
}

TEST(Base64, IgnoresWhiteSpace) {
    EXPECT_EQ(base64Decode("Zm9v\r\nYmFy"), std::optional<std::string>("foobar"));
    EXPECT_EQ(base64Decode(" Z m 8 = \t"), std::optional<std::string>("fo"));
    EXPECT_EQ(base64Decode("Zg=\n="), std::optional<std::string>("f"));
    EXPECT_EQ(base64Decode("  \n"), std::optional<std::string>(""));
}

TEST(Base64, RejectsInvalidText) {
    for (const char* text : {"Zg", "Zg=", "Zm9", "Z===", "====", "=Zg=", "Zm=v", "Zg==Zg==", "Zg==x", "Zm9v!",
                             "Zm9v-_", "Zm9\x80"}) {
        EXPECT_FALSE(base64Decode(text)) << text;
    }
}
