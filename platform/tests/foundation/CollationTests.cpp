#include "foundation/Collation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using platform::finderCompare;
using platform::sortInFinderOrder;

TEST(Collation, CaseDoesNotCount) {
    EXPECT_EQ(finderCompare("readme.TXT", "README.txt"), 0);
    EXPECT_LT(finderCompare("apple", "Banana"), 0);
    EXPECT_GT(finderCompare("Cherry", "banana"), 0);
}

TEST(Collation, DigitsCompareByValue) {
    EXPECT_LT(finderCompare("file 2.txt", "file 10.txt"), 0);
    EXPECT_LT(finderCompare("IMG_9", "IMG_0010"), 0);
    EXPECT_GT(finderCompare("v1.10", "v1.9"), 0);
}

TEST(Collation, AccentsCountAfterLetters) {
    EXPECT_NE(finderCompare("resume", "résumé"), 0);
    EXPECT_LT(finderCompare("résumé", "resumes"), 0); // the letters decide before the accents
}

TEST(Collation, SortIsTheFileBrowsersOrderAndStable) {
    std::vector<std::string> names{"b.txt", "file 10.txt", "A.txt", "Zeta", "file 2.txt",
                                   "a.txt", "alpha",       "_x",    "10"};
    sortInFinderOrder(names);
    EXPECT_EQ(names, (std::vector<std::string>{"_x", "10", "A.txt", "a.txt", "alpha", "b.txt", "file 2.txt",
                                               "file 10.txt", "Zeta"}));
    std::vector<std::string> reversed(names.rbegin(), names.rend());
    sortInFinderOrder(reversed);
    EXPECT_EQ(reversed, names) << "names equal but for case keep one order whatever the input order";
}

TEST(Collation, InvalidUTF8DoesNotBreakTheSort) {
    std::vector<std::string> names{"b", std::string("\xFF\xFE"), "a"};
    sortInFinderOrder(names);
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "a");
}

TEST(Collation, UsableFromManyThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong] {
            for (int i = 0; i < 200; ++i) {
                std::vector<std::string> names{"x 10", "x 9", "X 1"};
                sortInFinderOrder(names);
                if (names.front() != "X 1" || finderCompare("x 9", "x 10") >= 0) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}
