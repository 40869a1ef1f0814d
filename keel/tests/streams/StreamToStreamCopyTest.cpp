// The stream-to-stream copy: sizes, offsets, early ends, stalls, would-block and failures.
#include "KL_StreamToStreamCopy.h"
#include "TestStreams.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>(i * 31 % 251);
    }
    return data;
}

struct CopyCase {
    const char* name;
    size_t input_size;
    KL_Position offset;
    KL_LargeSize size;
    KL_Result result;
    KL_LargeSize written;
};

// Test names and listings show the case's name, not its bytes (which hold addresses).
void PrintTo(const CopyCase& c, std::ostream* os) {
    *os << c.name;
}

class CopyTable : public testing::TestWithParam<CopyCase> {};

TEST_P(CopyTable, CopiesWhatWasAsked) {
    const CopyCase& c = GetParam();
    const std::string data = Pattern(c.input_size);
    for (KL_Size chunk : {0xFFFFFFFFu, 1000u}) {
        ScriptedInputStream input(data, chunk);
        ScriptedOutputStream output(chunk);
        KL_LargeSize written = 12345;
        EXPECT_EQ(KL_StreamToStreamCopy(input, output, c.offset, c.size, &written), c.result);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(output.data, c.written == 0 ? std::string() : data.substr(c.offset, c.written));
    }
}

INSTANTIATE_TEST_SUITE_P(Copy, CopyTable,
                         testing::Values(CopyCase{"Everything", 200000, 0, 0, KL_SUCCESS, 200000},
                                         CopyCase{"Empty", 0, 0, 0, KL_SUCCESS, 0},
                                         CopyCase{"Window", 200000, 70000, 65537, KL_SUCCESS, 65537},
                                         CopyCase{"ToTheEndFromOffset", 1000, 10, 0, KL_SUCCESS, 990},
                                         CopyCase{"InputEndsEarly", 1000, 0, 2000, KL_ERROR_EOS, 1000},
                                         CopyCase{"OffsetBeyondInput", 10, 11, 0, KL_ERROR_OUT_OF_RANGE, 0}),
                         [](const testing::TestParamInfo<CopyCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

TEST(StreamToStreamCopy, StallsEndWithAnInternalError) {
    ScriptedInputStream input("abc");
    input.fail_on_call = 2;
    input.stall = true;
    ScriptedOutputStream output;
    EXPECT_EQ(KL_StreamToStreamCopy(input, output), KL_ERROR_INTERNAL);

    ScriptedInputStream input2("abc");
    ScriptedOutputStream stalled;
    stalled.fail_on_call = 1;
    stalled.stall = true;
    KL_LargeSize written = 0;
    EXPECT_EQ(KL_StreamToStreamCopy(input2, stalled, 0, 0, &written), KL_ERROR_INTERNAL);
    EXPECT_EQ(written, 0u);
}

TEST(StreamToStreamCopy, WouldBlockIsRetried) {
    ScriptedInputStream input("abcdef", 2);
    ScriptedOutputStream output;
    output.would_block = 5;
    KL_LargeSize written = 0;
    EXPECT_EQ(KL_StreamToStreamCopy(input, output, 0, 0, &written), KL_SUCCESS);
    EXPECT_EQ(output.data, "abcdef");
    EXPECT_EQ(written, 6u);
}

// Every call on either side fails once, in turn: the copy hands the failure up and tells how far
// it got.
TEST(StreamToStreamCopy, EveryFailureIsHandedUp) {
    const std::string data = Pattern(300000);
    for (bool fail_output : {false, true}) {
        for (int n = 1;; ++n) {
            ScriptedInputStream input(data, 50000);
            ScriptedOutputStream output(40000);
            (fail_output ? output.fail_on_call : input.fail_on_call) = n;
            KL_LargeSize written = 0;
            KL_Result result = KL_StreamToStreamCopy(input, output, 0, 0, &written);
            EXPECT_EQ(written, output.data.size());
            EXPECT_EQ(output.data, data.substr(0, output.data.size()));
            if (result == KL_SUCCESS) {
                EXPECT_EQ(written, data.size());
                break;
            }
            EXPECT_EQ(result, fail_output ? KL_ERROR_WRITE_FAILED : KL_ERROR_READ_FAILED) << n;
            ASSERT_LT(n, 100);
        }
    }
}

} // namespace
