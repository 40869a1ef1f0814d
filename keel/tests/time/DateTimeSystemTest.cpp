// KL_DateTime against the system's `date -u`: random instants written in every form, then read
// back.
#include "KL_DateTime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> RunDate(const std::string& input, const char* format) {
    std::string command = std::string("date -u -f '") + input + "' '+" + format + "'";
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return lines;
    }
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        lines.push_back(text);
    }
    pclose(pipe);
    return lines;
}

} // namespace

TEST(DateTimeSystem, RandomInstantsMatchDate) {
    constexpr int kCount = 1000;
    // 1901-12-14 00:00:00 to 2262-04-11 00:00:00 UTC.
    constexpr int64_t kFirst = -2147385600LL;
    constexpr int64_t kLast = 9223286400LL;
    unsigned seed = std::random_device{}();
    std::printf("instant seed %u\n", seed);
    std::mt19937_64 random(seed);
    std::vector<int64_t> seconds(kCount);
    std::vector<int32_t> nanos(kCount);
    char input[] = "/tmp/keel-date-XXXXXX";
    int fd = mkstemp(input);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream out(input);
        for (int i = 0; i < kCount; ++i) {
            seconds[i] = kFirst + static_cast<int64_t>(random() % static_cast<uint64_t>(kLast - kFirst));
            nanos[i] = static_cast<int32_t>(random() % 1000000000);
            // date reads "@-S.F" as -(S.F).
            int64_t stamp = seconds[i] * 1000000000 + nanos[i];
            uint64_t magnitude = stamp < 0 ? 0 - static_cast<uint64_t>(stamp) : static_cast<uint64_t>(stamp);
            char line[64];
            std::snprintf(line, sizeof line, "@%s%llu.%09llu\n", stamp < 0 ? "-" : "",
                          static_cast<unsigned long long>(magnitude / 1000000000),
                          static_cast<unsigned long long>(magnitude % 1000000000));
            out << line;
        }
    }
    const struct {
        KL_DateTime::Format format;
        int flags;
        const char* date;
        bool exact; // the text keeps the nanoseconds
    } forms[] = {{KL_DateTime::FORMAT_ANSI, 0, "%a %b %e %H:%M:%S %Y", false},
                 {KL_DateTime::FORMAT_W3C, 3, "%Y-%m-%dT%H:%M:%S.%NZ", true},
                 {KL_DateTime::FORMAT_RFC_1123, 0, "%a, %d %b %Y %H:%M:%S GMT", false},
                 {KL_DateTime::FORMAT_RFC_1036, 0, "%A, %d-%b-%y %H:%M:%S GMT", false}};
    for (const auto& form : forms) {
        std::vector<std::string> expected = RunDate(input, form.date);
        ASSERT_EQ(expected.size(), static_cast<size_t>(kCount)) << "date -u failed";
        for (int i = 0; i < kCount; ++i) {
            int64_t stamp = seconds[i] * 1000000000 + nanos[i];
            KL_DateTime date;
            ASSERT_EQ(date.FromTimeStamp(KL_TimeStamp::FromNanos(stamp)), KL_SUCCESS) << stamp;
            KL_String text = date.ToString(form.format, form.flags);
            ASSERT_EQ(std::string(text.GetChars()), expected[i]) << "stamp " << stamp << " seed " << seed;
            // Two-digit years read back as 19YY.
            if (form.format == KL_DateTime::FORMAT_RFC_1036 && (date.m_Year < 1901 || date.m_Year > 1999)) {
                continue;
            }
            KL_DateTime back;
            KL_TimeStamp parsed;
            ASSERT_EQ(back.FromString(text.GetChars(), form.format), KL_SUCCESS) << text.GetChars();
            ASSERT_EQ(back.ToTimeStamp(parsed), KL_SUCCESS);
            EXPECT_EQ(parsed.ToNanos(), form.exact ? stamp : seconds[i] * 1000000000) << text.GetChars();
        }
    }
    unlink(input);
}
