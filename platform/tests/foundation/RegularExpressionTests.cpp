#include "foundation/RegularExpression.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using platform::RegularExpression;
using Captures = std::vector<std::vector<std::optional<std::string>>>;

TEST(RegularExpression, CaseInsensitiveSearch) {
    auto sensitive = RegularExpression::create("^/Files/");
    auto insensitive = RegularExpression::create("^/Files/", {.caseInsensitive = true});
    ASSERT_TRUE(sensitive && insensitive);
    EXPECT_TRUE(sensitive->search("/Files/a"));
    EXPECT_FALSE(sensitive->search("/FILES/a"));
    EXPECT_TRUE(insensitive->search("/FILES/a"));
    EXPECT_FALSE(insensitive->search("x/files/a"));
    auto accented = RegularExpression::create("CAFÉ", {.caseInsensitive = true});
    ASSERT_TRUE(accented);
    EXPECT_TRUE(accented->search("un café noir"));
}

TEST(RegularExpression, SearchIsUnanchoredMatchesWholeIsNotAndInvalidPatternsGiveNone) {
    auto regex = RegularExpression::create("b+");
    ASSERT_TRUE(regex);
    EXPECT_TRUE(regex->search("abbc"));
    EXPECT_FALSE(regex->matchesWhole("abbc"));
    EXPECT_TRUE(regex->matchesWhole("bbb"));
    EXPECT_FALSE(regex->matchesWhole(""));
    for (const char* invalid : {"(", "a{2,1}", "[z-a]"}) {
        EXPECT_EQ(RegularExpression::create(invalid), nullptr) << invalid;
    }
}

TEST(RegularExpression, CapturesEveryMatchInOrderAsUtf8) {
    auto regex = RegularExpression::create("(\\w+)=(\\d+)");
    ASSERT_TRUE(regex);
    EXPECT_EQ(regex->captureGroupCount(), 2u);
    const Captures expected = {{"a", "1"}, {"bc", "22"}, {"d", "333"}};
    EXPECT_EQ(regex->allMatchCaptures("a=1, bc=22; x=; d=333"), expected);
    EXPECT_TRUE(regex->allMatchCaptures("nothing here").empty());
    auto utf8 = RegularExpression::create("/(é+)(.)(\\S*)");
    ASSERT_TRUE(utf8);
    EXPECT_EQ(utf8->allMatchCaptures("dir/ééß日本.txt tail"), (Captures{{"éé", "ß", "日本.txt"}}));
    auto empty = RegularExpression::create("(x*)"); // empty matches advance
    ASSERT_TRUE(empty);
    const Captures captures = empty->allMatchCaptures("ab");
    ASSERT_EQ(captures.size(), 3u);
    EXPECT_EQ(captures[0][0], std::optional<std::string>(""));
}

TEST(RegularExpression, AbsentOptionalGroupIsNone) {
    auto regex = RegularExpression::create("(a)?(b)(c?)");
    ASSERT_TRUE(regex);
    const Captures captures = regex->allMatchCaptures("b ab");
    ASSERT_EQ(captures.size(), 2u);
    EXPECT_EQ(captures[0][0], std::nullopt);
    EXPECT_EQ(captures[0][1], std::optional<std::string>("b"));
    // A group that took part but matched nothing is the empty text, not none.
    EXPECT_EQ(captures[0][2], std::optional<std::string>(""));
    EXPECT_EQ(captures[1][0], std::optional<std::string>("a"));
}

TEST(RegularExpression, SharedAcrossThreads) {
    auto regex = RegularExpression::create("^/api/(\\d+)/(\\w+)$", {.caseInsensitive = true});
    ASSERT_TRUE(regex);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                const std::string id = std::to_string(t * 1000 + i);
                const Captures captures = regex->allMatchCaptures("/API/" + id + "/Name" + std::to_string(t));
                const Captures expected = {{id, "Name" + std::to_string(t)}};
                if (captures != expected || regex->search("/api/x/y")) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}
