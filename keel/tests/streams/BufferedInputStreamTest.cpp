// Line reading, reads, Peek and Seek of the buffered input stream.
#include "KL_BufferedInputStream.h"
#include "TestStreams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct LineCase {
    const char* name;
    std::string input;
    bool break_on_cr;
    KL_Size max_chars;
    std::vector<std::string> lines; // "!" + text: KL_ERROR_NOT_ENOUGH_SPACE with that text
};

// Test names and listings show the case's name, not its bytes (which hold addresses).
void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<LineCase> kLineCases = {
    {"CrLfSwallowed", std::string("a\r\nb"), true, 4096, {"a", "b"}},
    {"CrDroppedWithoutBreak", "a\rb\n", false, 4096, {"ab"}},
    {"MixedEndsWithCr", "a\r\nb\rc\n", true, 4096, {"a", "b", "c"}},
    {"MixedEndsWithoutCr", "a\r\nb\rc\n", false, 4096, {"a", "bc"}},
    {"EmptyLine", "\n", false, 4096, {""}},
    {"EmptyLinesCrLf", "a\r\n\r\nb", true, 4096, {"a", "", "b"}},
    {"TwoCrs", "a\r\rb", true, 4096, {"a", "", "b"}},
    {"LfAfterLfKept", "a\n\nb\n", true, 4096, {"a", "", "b"}},
    {"LastLineWithoutEnd", "abc", false, 4096, {"abc"}},
    {"CrAtEnd", "a\r", true, 4096, {"a"}},
    {"Empty", "", false, 4096, {}},
    {"TooLong", "abcdef\n", false, 4, {"!abc", "def"}},
    {"ExactFit", "abc\nd", false, 4, {"abc", "d"}},
    {"ExactFitCrLf", "abc\r\nd", true, 4, {"abc", "d"}},
    {"OneCharBuffer", "ab\n", false, 1, {"!"}},
};

// Reads every line (at most 8) as the case expects them to be written.
std::vector<std::string> ReadLines(KL_BufferedInputStream& stream, const LineCase& c, KL_Result& last) {
    std::vector<std::string> lines;
    for (int i = 0; i < 8; ++i) {
        KL_String line;
        last = stream.ReadLine(line, c.max_chars, c.break_on_cr);
        if (last == KL_ERROR_NOT_ENOUGH_SPACE) {
            lines.push_back("!" + std::string(line.GetChars()));
            if (c.max_chars == 1) {
                break; // nothing ever fits: the stream would answer the same for ever
            }
            continue;
        }
        if (KL_FAILED(last)) {
            break;
        }
        lines.emplace_back(line.GetChars(), line.GetLength());
    }
    return lines;
}

class ReadLineTable : public testing::TestWithParam<LineCase> {};

TEST_P(ReadLineTable, GivesTheLinesForEveryBufferAndSourceChunk) {
    const LineCase& c = GetParam();
    for (KL_Size buffer_size : {4096u, 3u, 1u, 0u}) {
        for (KL_Size chunk : {0xFFFFFFFFu, 1u}) {
            SCOPED_TRACE("buffer " + std::to_string(buffer_size) + " chunk " + std::to_string(chunk));
            KL_InputStreamReference source(new ScriptedInputStream(c.input, chunk));
            KL_BufferedInputStream stream(source, buffer_size);
            KL_Result last = KL_SUCCESS;
            // The "!" lines come back as the string form leaves them: empty.
            std::vector<std::string> expected;
            for (const std::string& line : c.lines) {
                expected.push_back(line[0] == '!' ? "!" : line);
            }
            EXPECT_EQ(ReadLines(stream, c, last), expected);
            if (c.max_chars != 1) {
                EXPECT_EQ(last, KL_ERROR_EOS);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, ReadLineTable, testing::ValuesIn(kLineCases),
                         [](const testing::TestParamInfo<LineCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

// However the bytes arrive and whatever the buffer size, the same lines come out.
TEST(BufferedInputStream, LinesDoNotDependOnBufferOrChunkSizes) {
    const unsigned seed = testing::UnitTest::GetInstance()->random_seed();
    std::printf("seed %u\n", seed);
    std::srand(seed);
    for (int round = 0; round < 200; ++round) {
        std::string input;
        for (int i = std::rand() % 40; i > 0; --i) {
            input += "ab\r\n"[std::rand() % 4];
        }
        const bool break_on_cr = std::rand() % 2 == 0;
        const KL_Size max_chars = 2 + std::rand() % 6;
        std::vector<std::string> reference;
        for (KL_Size buffer_size : {4096u, 0u, 1u, 2u, 5u}) {
            for (KL_Size chunk : {0xFFFFFFFFu, 1u, 3u}) {
                KL_InputStreamReference source(new ScriptedInputStream(input, chunk));
                KL_BufferedInputStream stream(source, buffer_size);
                std::vector<std::string> lines;
                char line[8];
                KL_Size chars = 0;
                KL_Result result;
                while ((result = stream.ReadLine(line, max_chars, &chars, break_on_cr)) != KL_ERROR_EOS) {
                    ASSERT_TRUE(result == KL_SUCCESS || result == KL_ERROR_NOT_ENOUGH_SPACE) << result;
                    lines.push_back((result == KL_SUCCESS ? "" : "!") + std::string(line, chars));
                }
                if (reference.empty() && buffer_size == 4096u && chunk == 0xFFFFFFFFu) {
                    reference = lines;
                }
                EXPECT_EQ(lines, reference) << "seed " << seed << " round " << round << " buffer "
                                            << buffer_size << " chunk " << chunk;
            }
        }
    }
}

TEST(BufferedInputStream, ReadLineIntoBufferKeepsWhatFits) {
    KL_InputStreamReference source(new ScriptedInputStream("abcdef\n"));
    KL_BufferedInputStream stream(source);
    char buffer[4];
    KL_Size chars = 99;
    EXPECT_EQ(stream.ReadLine(buffer, sizeof buffer, &chars), KL_ERROR_NOT_ENOUGH_SPACE);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(chars, 3u);
    EXPECT_EQ(stream.ReadLine(nullptr, 4, &chars), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(stream.ReadLine(buffer, 0, &chars), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(chars, 0u);
}

TEST(BufferedInputStream, ReadAfterCrLineDropsTheLf) {
    for (const char* input : {"a\r\nxyz", "a\rxyz"}) {
        KL_InputStreamReference source(new ScriptedInputStream(input));
        KL_BufferedInputStream stream(source);
        KL_String line;
        ASSERT_EQ(stream.ReadLine(line, 100, true), KL_SUCCESS);
        char buffer[10] = {};
        KL_Size got = 0;
        ASSERT_EQ(stream.Read(buffer, sizeof buffer, &got), KL_SUCCESS);
        EXPECT_EQ(std::string(buffer, got), "xyz") << input;
    }
}

TEST(BufferedInputStream, TellCountsLineEndsAndSeekReturnsToThem) {
    KL_InputStreamReference source(new ScriptedInputStream("ab\r\ncd\nef"));
    KL_BufferedInputStream stream(source);
    KL_String line;
    ASSERT_EQ(stream.ReadLine(line, 100, true), KL_SUCCESS);
    KL_Position position = 0;
    ASSERT_EQ(stream.Tell(position), KL_SUCCESS);
    EXPECT_EQ(position, 3u); // the LF is swallowed by the next read
    ASSERT_EQ(stream.ReadLine(line, 100, true), KL_SUCCESS);
    EXPECT_STREQ(line.GetChars(), "cd");
    ASSERT_EQ(stream.Tell(position), KL_SUCCESS);
    EXPECT_EQ(position, 7u);
    ASSERT_EQ(stream.Seek(4), KL_SUCCESS);
    ASSERT_EQ(stream.ReadLine(line, 100, true), KL_SUCCESS);
    EXPECT_STREQ(line.GetChars(), "cd");
}

TEST(BufferedInputStream, SeekInsideTheBufferStaysOffTheSource) {
    auto* scripted = new ScriptedInputStream("0123456789");
    KL_InputStreamReference source(scripted);
    KL_BufferedInputStream stream(source, 16);
    char byte = 0;
    ASSERT_EQ(stream.Read(&byte, 1), KL_SUCCESS);
    ASSERT_EQ(stream.Seek(6), KL_SUCCESS);
    EXPECT_EQ(scripted->seeks, 0);
    ASSERT_EQ(stream.Read(&byte, 1), KL_SUCCESS);
    EXPECT_EQ(byte, '6');
    ASSERT_EQ(stream.Seek(2), KL_SUCCESS); // behind the position: the source seeks
    EXPECT_EQ(scripted->seeks, 1);
    ASSERT_EQ(stream.Read(&byte, 1), KL_SUCCESS);
    EXPECT_EQ(byte, '2');
    EXPECT_EQ(stream.Seek(11), KL_ERROR_OUT_OF_RANGE);
}

TEST(BufferedInputStream, ShortReadWhenBufferHoldsLessThanAsked) {
    KL_InputStreamReference source(new ScriptedInputStream("0123456789", 4));
    KL_BufferedInputStream stream(source, 8);
    char buffer[16];
    KL_Size got = 0;
    ASSERT_EQ(stream.Read(buffer, 2, &got), KL_SUCCESS);
    ASSERT_EQ(stream.Read(buffer, 16, &got), KL_SUCCESS);
    EXPECT_EQ(std::string(buffer, got), "23");
    ASSERT_EQ(stream.Read(buffer, 16, &got), KL_SUCCESS);
    EXPECT_EQ(std::string(buffer, got), "4567");
}

TEST(BufferedInputStream, PeekDoesNotConsume) {
    for (KL_Size chunk : {0xFFFFFFFFu, 1u}) {
        KL_InputStreamReference source(new ScriptedInputStream("abcdef", chunk));
        KL_BufferedInputStream stream(source, 0);
        char buffer[10];
        KL_Size got = 0;
        std::string all;
        // One source read per Peek: with one byte per read, the peeked text grows a byte a time.
        while (all.size() < 6) {
            ASSERT_EQ(stream.Peek(buffer, 10, &got), KL_SUCCESS);
            ASSERT_GT(got, all.size());
            all.assign(buffer, got);
        }
        EXPECT_EQ(all, "abcdef");
        EXPECT_EQ(stream.Peek(buffer, 10, &got), KL_SUCCESS); // the end is remembered
        EXPECT_EQ(got, 6u);
        ASSERT_EQ(stream.ReadFully(buffer, 6), KL_SUCCESS);
        EXPECT_EQ(std::string(buffer, 6), "abcdef");
        EXPECT_EQ(stream.Peek(buffer, 10, &got), KL_ERROR_EOS);
        EXPECT_EQ(stream.Read(buffer, 10, &got), KL_ERROR_EOS);
    }
}

TEST(BufferedInputStream, PeekBeyondTheBufferGivesWhatFits) {
    KL_InputStreamReference source(new ScriptedInputStream("0123456789"));
    KL_BufferedInputStream stream(source, 4);
    char buffer[10];
    KL_Size got = 0;
    ASSERT_EQ(stream.Read(buffer, 1, &got), KL_SUCCESS);
    ASSERT_EQ(stream.Peek(buffer, 10, &got), KL_SUCCESS);
    EXPECT_EQ(std::string(buffer, got), "1234"); // the unread bytes moved to the front, then filled
    ASSERT_EQ(stream.Seek(3), KL_SUCCESS);       // inside what was peeked
    ASSERT_EQ(stream.Read(buffer, 10, &got), KL_SUCCESS);
    EXPECT_EQ(std::string(buffer, got), "34");
}

TEST(BufferedInputStream, GetAvailableAddsUnreadBytes) {
    KL_InputStreamReference source(new ScriptedInputStream("abcdef"));
    KL_BufferedInputStream stream(source);
    KL_LargeSize available = 0;
    EXPECT_EQ(stream.GetAvailable(available), KL_ERROR_NOT_SUPPORTED); // nothing buffered yet
    char byte = 0;
    ASSERT_EQ(stream.Read(&byte, 1), KL_SUCCESS);
    EXPECT_EQ(stream.GetAvailable(available), KL_SUCCESS);
    EXPECT_EQ(available, 5u);
}

TEST(BufferedInputStream, SetBufferSizeKeepsUnreadBytes) {
    KL_InputStreamReference source(new ScriptedInputStream("0123456789"));
    KL_BufferedInputStream stream(source, 8);
    char buffer[16];
    ASSERT_EQ(stream.ReadFully(buffer, 2), KL_SUCCESS);
    ASSERT_EQ(stream.SetBufferSize(2, true), KL_SUCCESS); // smaller than what is unread
    ASSERT_EQ(stream.ReadFully(buffer, 8), KL_SUCCESS);
    EXPECT_EQ(std::string(buffer, 8), "23456789");
}

// Every call of the source fails once, in turn: the failure reaches the caller, and the stream is
// released cleanly (ASan checks the leaks).
TEST(BufferedInputStream, EveryFailureOfTheSourceIsHandedUp) {
    const std::string input = "GET / HTTP/1.1\r\nHost: x\r\n\r\nbody";
    for (int n = 1;; ++n) {
        auto* scripted = new ScriptedInputStream(input, 3);
        scripted->fail_on_call = n;
        scripted->failure = KL_ERROR_TIMEOUT;
        KL_InputStreamReference source(scripted);
        KL_BufferedInputStream stream(source, 5);
        KL_String line;
        KL_Result result = KL_SUCCESS;
        int lines = 0;
        while (KL_SUCCEEDED(result = stream.ReadLine(line, 64, true))) {
            ++lines;
        }
        if (result == KL_ERROR_EOS) {
            EXPECT_EQ(lines, 4);
            EXPECT_GT(n, scripted->reads); // the injected failure was never reached
            break;
        }
        EXPECT_EQ(result, KL_ERROR_TIMEOUT) << "call " << n;
        ASSERT_LT(n, 100);
    }
}

TEST(BufferedInputStream, SourceWithoutProgressEndsTheLine) {
    auto* scripted = new ScriptedInputStream("abc");
    scripted->fail_on_call = 1;
    scripted->stall = true;
    KL_InputStreamReference source(scripted);
    KL_BufferedInputStream stream(source);
    KL_String line;
    EXPECT_EQ(stream.ReadLine(line, 64), KL_ERROR_INTERNAL);
}

} // namespace
