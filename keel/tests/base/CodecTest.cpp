// Byte order, hex, Base64, FNV-1a, parameter lists, formatted output and data buffers.
#include "KL_Base64.h"
#include "KL_DataBuffer.h"
#include "KL_Utils.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

namespace {
std::string Bytes(const KL_DataBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.GetData()), b.GetDataSize());
}
std::string Encode(const std::string& data, KL_Cardinal blocks = 0, bool url = false) {
    KL_String text;
    EXPECT_EQ(KL_Base64::Encode(reinterpret_cast<const KL_Byte*>(data.data()), KL_Size(data.size()), text,
                                blocks, url),
              KL_SUCCESS);
    return text.GetChars();
}
} // namespace

TEST(ByteOrder, BothWaysEveryWidth) {
    const unsigned char bytes[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
    EXPECT_EQ(KL_BytesToInt64Be(bytes), 0x0102030405060788ull);
    EXPECT_EQ(KL_BytesToInt32Be(bytes), 0x01020304u);
    EXPECT_EQ(KL_BytesToInt24Be(bytes), 0x010203u);
    EXPECT_EQ(KL_BytesToInt16Be(bytes), 0x0102u);
    EXPECT_EQ(KL_BytesToInt64Le(bytes), 0x8807060504030201ull);
    EXPECT_EQ(KL_BytesToInt32Le(bytes), 0x04030201u);
    EXPECT_EQ(KL_BytesToInt24Le(bytes), 0x030201u);
    EXPECT_EQ(KL_BytesToInt16Le(bytes), 0x0201u);
    unsigned char out[8] = {};
    KL_BytesFromInt64Be(out, 0x0102030405060788ull);
    EXPECT_EQ(KL_BytesToInt64Be(out), 0x0102030405060788ull);
    KL_BytesFromInt24Be(out, 0xAABBCCDDu); // the low three bytes
    EXPECT_EQ(out[0], 0xBB);
    EXPECT_EQ(out[2], 0xDD);
    KL_BytesFromInt24Le(out, 0xAABBCCDDu);
    EXPECT_EQ(out[0], 0xDD);
    EXPECT_EQ(out[2], 0xBB);
    KL_BytesFromInt32Le(out, 0x11223344u);
    EXPECT_EQ(KL_BytesToInt32Le(out), 0x11223344u);
    KL_BytesFromInt16Be(out, 0xABCD);
    KL_BytesFromInt16Le(out + 2, 0xABCD);
    KL_BytesFromInt32Be(out + 4, 0x01020304u);
    EXPECT_EQ(KL_BytesToInt64Be(out), 0xABCDCDAB01020304ull);
    KL_BytesFromInt64Le(out, 1);
    EXPECT_EQ(out[0], 1);
}

TEST(Hex, DigitsBytesAndStrings) {
    EXPECT_EQ(KL_NibbleToHex(11, true), 'B');
    EXPECT_EQ(KL_NibbleToHex(11, false), 'b');
    EXPECT_EQ(KL_HexToNibble('F'), 15);
    EXPECT_EQ(KL_HexToNibble('g'), -1);
    char two[2];
    KL_ByteToHex(0xA5, two, true);
    EXPECT_EQ(std::string(two, 2), "A5");
    KL_Byte b = 0;
    EXPECT_EQ(KL_HexToByte("7f", b), KL_SUCCESS);
    EXPECT_EQ(b, 0x7F);
    EXPECT_EQ(KL_HexToByte("x1", b), KL_ERROR_INVALID_SYNTAX);
    KL_DataBuffer buffer;
    EXPECT_EQ(KL_HexToBytes("abc", buffer), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(KL_HexToBytes("00ff10", buffer), KL_SUCCESS);
    EXPECT_EQ(Bytes(buffer), std::string("\x00\xff\x10", 3));
    EXPECT_EQ(KL_HexToBytes("00zz", buffer), KL_ERROR_INVALID_SYNTAX);
    const unsigned char data[] = {0x01, 0xAB};
    EXPECT_STREQ(KL_HexString(data, 2, ":", true).GetChars(), "01:AB");
    EXPECT_STREQ(KL_HexString(data, 2).GetChars(), "01ab");
    EXPECT_STREQ(KL_HexString(data, 0, ":").GetChars(), "");
    EXPECT_EQ(KL_HexString(data, 2, "--").GetCapacity(), 6u); // sized once
}

TEST(Base64, EncodeTable) {
    struct Case {
        std::string data;
        KL_Cardinal blocks;
        bool url;
        const char* expected;
    } cases[] = {
        {"abc", 0, false, "YWJj"},
        {"ab", 0, false, "YWI="},
        {"\xff", 0, false, "/w=="},
        {"\xff", 0, true, "_w=="},
        {"\xfb\xff", 0, true, "-_8="},
        {"", 0, false, ""},
        {"abcdef", 1, false, "YWJj\r\nZGVm\r\n"},
        {"abcdefg", 2, false, "YWJjZGVm\r\nZw=="},
        {"abcde", 1, false, "YWJj\r\nZGU="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Encode(c.data, c.blocks, c.url), c.expected) << c.data;
    }
}

TEST(Base64, DecodeTable) {
    struct Case {
        const char* text;
        bool url;
        KL_Result result;
        std::string expected;
    } cases[] = {
        {"YWJj", false, KL_SUCCESS, "abc"},
        {"YW\r\nJj\r\n", false, KL_SUCCESS, "abc"},
        {"YWI=", false, KL_SUCCESS, "ab"},
        {"YQ==", false, KL_SUCCESS, "a"},
        {"_w==", true, KL_SUCCESS, "\xff"},
        {"_w==", false, KL_ERROR_INVALID_FORMAT, ""}, // "_" skipped: an incomplete group
        {"YWJ", false, KL_ERROR_INVALID_FORMAT, ""},
        {"Y===", false, KL_ERROR_INVALID_FORMAT, ""},
        {"YW=j", false, KL_ERROR_INVALID_FORMAT, ""},
        {"=WJj", false, KL_ERROR_INVALID_FORMAT, ""},
        {"", false, KL_SUCCESS, ""},
        {"\xc3\xa9YWJj", false, KL_SUCCESS, "abc"},
    };
    for (const Case& c : cases) {
        KL_DataBuffer data;
        KL_Result result = KL_Base64::Decode(c.text, KL_Size(std::string(c.text).size()), data, c.url);
        EXPECT_EQ(result, c.result) << c.text;
        if (KL_SUCCEEDED(result)) {
            EXPECT_EQ(Bytes(data), c.expected) << c.text;
            EXPECT_LE(data.GetBufferSize(), std::string(c.text).size()); // bounded by the input
        }
    }
}

TEST(Fnv1a, ByteAndTextForms) {
    const KL_Byte a = 'a';
    EXPECT_EQ(KL_Fnv1aHash32(&a, 1), 0xE40C292Cu);
    EXPECT_EQ(KL_Fnv1aHash64(&a, 1), 0xAF63DC4C8601EC8Cull);
    EXPECT_EQ(KL_Fnv1aHash32(&a, 0), KL_FNV1A_32_INIT);
    EXPECT_EQ(KL_Fnv1aHashStr64("", 5), 5u);
    const KL_Byte foobar[] = {'f', 'o', 'o', 'b', 'a', 'r'};
    EXPECT_EQ(KL_Fnv1aHash32(foobar, 6), 0xBF9CF968u);
    EXPECT_EQ(KL_Fnv1aHashStr32("foobar"), 0xBF9CF968u);
    EXPECT_EQ(KL_Fnv1aHash64(foobar, 6), 0x85944171F73967E8ull);
    // Bytes from 0x80 on: the text form widens signed characters and differs.
    const KL_Byte high = 0xE9;
    EXPECT_NE(KL_Fnv1aHash32(&high, 1), KL_Fnv1aHashStr32("\xe9"));
    EXPECT_EQ(KL_Fnv1aHashStr32("\xe9"), (KL_FNV1A_32_INIT ^ 0xFFFFFFE9u) * 0x01000193u);
}

TEST(ParameterList, Table) {
    struct Case {
        const char* text;
        KL_Result result;
        const char* entries;
    } cases[] = {
        {"a=1; b=\"x;y\"", KL_SUCCESS, "a=1;b=x;y;"},
        {"a", KL_ERROR_INVALID_SYNTAX, ""},
        {"", KL_SUCCESS, ""},
        {"a = 1 ;a=2", KL_SUCCESS, "a=2;"},
        {"q=\"a\\\"b\\\\c\"", KL_SUCCESS, "q=a\"b\\c;"},
        {"q=\"ab", KL_ERROR_INVALID_SYNTAX, ""},
        {"q=\"a\\", KL_ERROR_INVALID_SYNTAX, ""},
        {"q=\"a\" x", KL_ERROR_INVALID_SYNTAX, "q=a;"},
        {"a=\r\n1", KL_SUCCESS, "a=1;"},
        {"a=1\tb", KL_ERROR_INVALID_SYNTAX, ""},
        {"a b=1", KL_ERROR_INVALID_SYNTAX, ""},
        {"a=", KL_ERROR_INVALID_SYNTAX, ""},
        {"a=;b=2", KL_SUCCESS, "a=;b=2;"},
    };
    for (const Case& c : cases) {
        KL_Map<KL_String, KL_String> map;
        EXPECT_EQ(KL_ParseParameterList(c.text, map), c.result) << c.text;
        std::string entries;
        for (auto* entry : map.GetEntries()) {
            entries += std::string(entry->GetKey().GetChars()) + "=" + entry->GetValue().GetChars() + ";";
        }
        EXPECT_EQ(entries, c.entries) << c.text;
    }
    KL_Map<KL_String, KL_String> map;
    EXPECT_EQ(KL_ParseParameterList(nullptr, map), KL_ERROR_INVALID_PARAMETERS);
}

namespace {
void Collect(void* context, const char* text) {
    *static_cast<std::string*>(context) += text;
}
void Output(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Output(std::string* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    KL_FormatOutput(Collect, out, format, args);
    va_end(args);
}
} // namespace

TEST(FormatOutput, CutAt1023) {
    std::string out;
    Output(&out, "%s=%d", "x", 5);
    EXPECT_EQ(out, "x=5");
    out.clear();
    Output(&out, "%s", std::string(3000, 'z').c_str());
    EXPECT_EQ(out, std::string(1023, 'z'));
}

TEST(DataBuffer, OwnedAndBorrowed) {
    KL_DataBuffer owned;
    EXPECT_EQ(owned.SetData("hello", 5), KL_SUCCESS);
    EXPECT_EQ(owned.GetBufferSize(), 5u);
    EXPECT_EQ(owned.Reserve(6), KL_SUCCESS);
    EXPECT_EQ(owned.GetBufferSize(), 10u);
    EXPECT_EQ(owned.SetBufferSize(3), KL_ERROR_INVALID_PARAMETERS); // below the data size
    EXPECT_EQ(owned.SetDataSize(12), KL_SUCCESS);
    EXPECT_EQ(owned.GetBufferSize(), 12u);
    KL_Byte storage[4] = {1, 2, 3, 4};
    KL_DataBuffer borrowed(storage, 4, false);
    EXPECT_EQ(borrowed.GetDataSize(), 4u);
    EXPECT_EQ(borrowed.SetBufferSize(8), KL_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(borrowed.SetDataSize(5), KL_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(borrowed.SetData("abcde", 5), KL_ERROR_INVALID_STATE);
    EXPECT_EQ(borrowed.SetData("ab", 2), KL_SUCCESS);
    EXPECT_EQ(storage[0], 'a');
    KL_DataBuffer copy(borrowed);
    EXPECT_TRUE(copy == borrowed);
    EXPECT_EQ(copy.SetBufferSize(8), KL_SUCCESS); // a copy owns its storage
    KL_DataBuffer assigned;
    assigned = owned;
    EXPECT_EQ(assigned.GetBufferSize(), 12u);
    EXPECT_EQ(assigned.GetDataSize(), 12u);
    borrowed.SetBuffer(storage, 4);
    EXPECT_EQ(borrowed.GetDataSize(), 0u);
    EXPECT_EQ(borrowed.Clear(), KL_SUCCESS);
    EXPECT_EQ(borrowed.GetData(), nullptr);
    EXPECT_EQ(storage[1], 'b'); // borrowed storage is never freed
}
