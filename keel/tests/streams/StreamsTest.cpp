// Default stream operations, ReadAll, the memory, string, window and null streams.
#include "KL_MemoryStream.h"
#include "KL_NullOutputStream.h"
#include "KL_StringOutputStream.h"
#include "KL_SubInputStream.h"
#include "TestStreams.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>('a' + (i * 7) % 26);
    }
    return data;
}

TEST(InputStream, ReadAllOfUnknownSizeReadsToTheEnd) {
    const std::string data = Pattern(100000);
    for (KL_Size chunk : {0xFFFFFFFFu, 1000u}) {
        ScriptedInputStream stream(data, chunk);
        stream.size_known = false;
        KL_DataBuffer buffer;
        ASSERT_EQ(stream.ReadAll(buffer), KL_SUCCESS);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetDataSize()), data);
    }
}

TEST(InputStream, ReadAllStopsAtTheLimit) {
    ScriptedInputStream stream(Pattern(5000));
    KL_DataBuffer buffer;
    ASSERT_EQ(stream.ReadAll(buffer, 1234), KL_SUCCESS);
    EXPECT_EQ(buffer.GetDataSize(), 1234u);
    EXPECT_EQ(stream.ReadAll(buffer, 0x40000001), KL_ERROR_INVALID_PARAMETERS);
}

TEST(InputStream, ReadAllTakesASizeOfZeroAsUnknown) {
    ScriptedInputStream stream("hello");
    stream.declared_size = 0;
    KL_DataBuffer buffer;
    ASSERT_EQ(stream.ReadAll(buffer), KL_SUCCESS);
    EXPECT_EQ(buffer.GetDataSize(), 5u);
}

// A peer may declare any Content-Length: nothing near it is reserved before bytes arrive.
TEST(InputStream, ReadAllReservesLittleForADeclaredSize) {
    ScriptedInputStream stream("just a few bytes");
    stream.declared_size = 0x3FFFFFFF;
    KL_DataBuffer buffer;
    ASSERT_EQ(stream.ReadAll(buffer), KL_SUCCESS);
    EXPECT_EQ(buffer.GetDataSize(), 16u);
    EXPECT_LE(buffer.GetBufferSize(), 0x20000u);

    ScriptedInputStream huge("x");
    huge.declared_size = 0x40000001;
    EXPECT_EQ(huge.ReadAll(buffer), KL_ERROR_OUT_OF_RANGE);
}

TEST(InputStream, FullTransfersStopWhenNothingMoves) {
    ScriptedInputStream input("abc");
    input.fail_on_call = 1;
    input.stall = true;
    char buffer[3];
    EXPECT_EQ(input.ReadFully(buffer, 3), KL_ERROR_INTERNAL);

    ScriptedInputStream all("abc");
    all.fail_on_call = 3; // GetSize, GetAvailable, then the read
    all.stall = true;
    KL_DataBuffer data;
    EXPECT_EQ(all.ReadAll(data), KL_ERROR_INTERNAL);

    ScriptedOutputStream output;
    output.fail_on_call = 2;
    output.stall = true;
    ScriptedOutputStream slow(1);
    EXPECT_EQ(slow.WriteFully("abc", 3), KL_SUCCESS);
    EXPECT_EQ(slow.data, "abc");
    EXPECT_EQ(output.WriteFully("abc", 3), KL_SUCCESS); // all in the first call
    EXPECT_EQ(output.WriteFully("abc", 3), KL_ERROR_INTERNAL);
}

// Every call fails once, in turn: ReadAll hands a read failure up (a failing GetSize or
// GetAvailable only makes the size unknown) and frees what it held.
TEST(InputStream, ReadAllHandsUpEveryFailure) {
    const std::string data = Pattern(20000);
    for (bool size_known : {true, false}) {
        ScriptedInputStream clean(data, 3000);
        clean.size_known = size_known;
        KL_DataBuffer buffer;
        ASSERT_EQ(clean.ReadAll(buffer), KL_SUCCESS);
        for (int n = 1; n <= clean.Calls(); ++n) {
            ScriptedInputStream stream(data, 3000);
            stream.size_known = size_known;
            stream.fail_on_call = n;
            KL_Result result = stream.ReadAll(buffer);
            if (result == KL_SUCCESS) {
                EXPECT_EQ(buffer.GetDataSize(), data.size()) << n;
            } else {
                EXPECT_EQ(result, KL_ERROR_READ_FAILED) << n;
            }
        }
    }
}

TEST(InputStream, ReadFullyHandsUpTheFailure) {
    ScriptedInputStream input("abcdef", 2);
    input.fail_on_call = 2;
    char buffer[6];
    EXPECT_EQ(input.ReadFully(buffer, 6), KL_ERROR_READ_FAILED);
    ScriptedInputStream short_input("ab");
    EXPECT_EQ(short_input.ReadFully(buffer, 6), KL_ERROR_EOS);
}

TEST(Streams, BigEndianIntegersRoundTrip) {
    KL_MemoryStream stream;
    ASSERT_EQ(stream.WriteUI64(0x0102030405060708ull), KL_SUCCESS);
    ASSERT_EQ(stream.WriteUI32(0x0A0B0C0Du), KL_SUCCESS);
    ASSERT_EQ(stream.WriteUI24(0x112233u), KL_SUCCESS);
    ASSERT_EQ(stream.WriteUI16(0x4455u), KL_SUCCESS);
    ASSERT_EQ(stream.WriteUI08(0x66u), KL_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.GetData()), 4),
              std::string("\x01\x02\x03\x04"));
    uint64_t u64 = 0;
    uint32_t u32 = 0;
    uint32_t u24 = 0;
    uint16_t u16 = 0;
    uint8_t u8 = 0;
    ASSERT_EQ(stream.ReadUI64(u64), KL_SUCCESS);
    ASSERT_EQ(stream.ReadUI32(u32), KL_SUCCESS);
    ASSERT_EQ(stream.ReadUI24(u24), KL_SUCCESS);
    ASSERT_EQ(stream.ReadUI16(u16), KL_SUCCESS);
    ASSERT_EQ(stream.ReadUI08(u8), KL_SUCCESS);
    EXPECT_EQ(u64, 0x0102030405060708ull);
    EXPECT_EQ(u32, 0x0A0B0C0Du);
    EXPECT_EQ(u24, 0x112233u);
    EXPECT_EQ(u16, 0x4455u);
    EXPECT_EQ(u8, 0x66u);
    u32 = 7;
    EXPECT_EQ(stream.ReadUI32(u32), KL_ERROR_EOS);
    EXPECT_EQ(u32, 0u);
}

TEST(Streams, WriteStringAndLine) {
    ScriptedOutputStream output;
    ASSERT_EQ(output.WriteString(nullptr), KL_SUCCESS);
    ASSERT_EQ(output.WriteString(""), KL_SUCCESS);
    ASSERT_EQ(output.WriteLine("a"), KL_SUCCESS);
    ASSERT_EQ(output.WriteLine(nullptr), KL_SUCCESS);
    EXPECT_EQ(output.data, "a\r\n\r\n");
}

TEST(MemoryStream, SeeksWithinTheData) {
    KL_MemoryStream stream;
    ASSERT_EQ(stream.WriteFully("0123456789", 10), KL_SUCCESS);
    EXPECT_EQ(stream.InputSeek(11), KL_ERROR_OUT_OF_RANGE);
    ASSERT_EQ(stream.InputSeek(10), KL_SUCCESS);
    char byte = 0;
    EXPECT_EQ(stream.Read(&byte, 1), KL_ERROR_EOS);
    ASSERT_EQ(stream.OutputSeek(2), KL_SUCCESS);
    ASSERT_EQ(stream.WriteFully("ab", 2), KL_SUCCESS);
    EXPECT_EQ(stream.GetDataSize(), 10u);
    ASSERT_EQ(stream.InputSeek(0), KL_SUCCESS);
    char buffer[10];
    ASSERT_EQ(stream.ReadFully(buffer, 10), KL_SUCCESS);
    EXPECT_EQ(std::string(buffer, 10), "01ab456789");
    ASSERT_EQ(stream.SetDataSize(3), KL_SUCCESS);
    KL_Position position = 0;
    ASSERT_EQ(stream.InputTell(position), KL_SUCCESS);
    EXPECT_EQ(position, 3u);
    ASSERT_EQ(stream.OutputTell(position), KL_SUCCESS);
    EXPECT_EQ(position, 3u);
    KL_LargeSize available = 9;
    ASSERT_EQ(stream.GetAvailable(available), KL_SUCCESS);
    EXPECT_EQ(available, 0u);
}

TEST(MemoryStream, SharedAsInputAndOutput) {
    auto* memory = new KL_MemoryStream("abc", 3);
    KL_InputStreamReference input(memory);
    KL_OutputStream& output = *memory;
    ASSERT_EQ(output.WriteFully("XY", 2), KL_SUCCESS);
    char buffer[3];
    ASSERT_EQ(input->ReadFully(buffer, 3), KL_SUCCESS);
    EXPECT_EQ(std::string(buffer, 3), "XYc");
}

TEST(SubInputStream, GivesExactlyItsWindow) {
    std::string data = Pattern(200);
    KL_InputStreamReference source(new ScriptedInputStream(data, 7));
    KL_SubInputStream window(source, 100, 50);
    KL_DataBuffer buffer;
    ASSERT_EQ(window.ReadAll(buffer), KL_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetDataSize()),
              data.substr(100, 50));
    char byte = 0;
    EXPECT_EQ(window.Read(&byte, 1), KL_ERROR_EOS);
    EXPECT_EQ(window.Seek(51), KL_ERROR_OUT_OF_RANGE);
    ASSERT_EQ(window.Seek(49), KL_SUCCESS);
    ASSERT_EQ(window.Read(&byte, 1), KL_SUCCESS);
    EXPECT_EQ(byte, data[149]);
}

TEST(StringOutputStream, AppendsToItsStringOrTheCallers) {
    KL_StringOutputStream own;
    ASSERT_EQ(own.WriteString("abc"), KL_SUCCESS);
    EXPECT_STREQ(own.GetString().GetChars(), "abc");
    KL_String text("x");
    {
        KL_StringOutputStream theirs(&text);
        ASSERT_EQ(theirs.WriteLine("y"), KL_SUCCESS);
        KL_Position position = 0;
        ASSERT_EQ(theirs.Tell(position), KL_SUCCESS);
        EXPECT_EQ(position, 4u);
        EXPECT_EQ(theirs.Seek(0), KL_ERROR_NOT_SUPPORTED);
    }
    EXPECT_STREQ(text.GetChars(), "xy\r\n");
}

TEST(NullOutputStream, TakesEverything) {
    KL_NullOutputStream sink;
    KL_Size written = 0;
    ASSERT_EQ(sink.Write("abc", 3, &written), KL_SUCCESS);
    EXPECT_EQ(written, 3u);
    KL_Position position = 0;
    EXPECT_EQ(sink.Seek(0), KL_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(sink.Tell(position), KL_ERROR_NOT_SUPPORTED);
}

} // namespace
