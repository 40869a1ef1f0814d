#include "foundation/Digest.h"

#include <gtest/gtest.h>

#include <string>

using platform::md5Hex;

TEST(Digest, KnownVectors) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(Digest, DigestAuthenticationHashes) {
    EXPECT_EQ(md5Hex("Mufasa:testrealm@host.com:Circle Of Life"), "939e7578ed9e3c518a452acee763bce9");
    EXPECT_EQ(md5Hex("user:realm:pass"), "8493fbc53ba582fb4c044c456bdc40eb");
}

TEST(Digest, HashesEmbeddedNulBytes) {
    const std::string withNul("a\0b", 3);
    EXPECT_NE(md5Hex(withNul), md5Hex("a"));
    EXPECT_NE(md5Hex(withNul), md5Hex("ab"));
    EXPECT_EQ(md5Hex(withNul).size(), 32u);
}
