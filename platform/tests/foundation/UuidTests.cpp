#include "foundation/Uuid.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

TEST(Uuid, HasUpperCaseVersionFourShapeAndIsUnique) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_TRUE(seen.insert(platform::makeUuidString()).second);
    }
    const std::string uuid = *seen.begin();
    ASSERT_EQ(uuid.size(), 36u);
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(uuid[i], '-') << uuid;
        } else {
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(uuid[i])) ||
                        (uuid[i] >= 'A' && uuid[i] <= 'F'))
                << uuid;
        }
    }
    EXPECT_EQ(uuid[14], '4') << uuid;
    EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos) << uuid;
}
