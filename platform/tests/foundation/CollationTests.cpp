#include "foundation/Collation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

using platform::finderCompare;
using platform::sortInFinderOrder;

TEST(Collation, CaseDoesNotCountDigitsByValueAccentsAfterLetters) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"readme.TXT", "README.txt", 0},   {"apple", "Banana", -1},   {"Cherry", "banana", 1},
        {"file 2.txt", "file 10.txt", -1}, {"IMG_9", "IMG_0010", -1}, {"v1.10", "v1.9", 1},
        {"résumé", "resumes", -1}, // the letters decide before the accents
    };
    for (const auto& [a, b, sign] : cases) {
        const int order = finderCompare(a, b);
        EXPECT_EQ((order > 0) - (order < 0), sign) << a << " vs " << b;
    }
    EXPECT_NE(finderCompare("resume", "résumé"), 0);
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
