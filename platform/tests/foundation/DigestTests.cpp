#include "foundation/Digest.h"

#include <gtest/gtest.h>

#include <string>

using platform::md5Hex;

TEST(Digest, KnownVectorsIncludingDigestAuthenticationAndNulBytes) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(md5Hex("Mufasa:testrealm@host.com:Circle Of Life"), "939e7578ed9e3c518a452acee763bce9");
    const std::string withNul("a\0b", 3);
    EXPECT_NE(md5Hex(withNul), md5Hex("a"));
    EXPECT_NE(md5Hex(withNul), md5Hex("ab"));
}
