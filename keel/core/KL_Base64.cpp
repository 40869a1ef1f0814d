// Base64 (RFC 4648) encoding and decoding.
#include "KL_Base64.h"

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr signed char kPad = 64;
constexpr signed char kSkip = -1;

// The value of a character of the alphabet, kPad for "=", kSkip for anything else.
signed char ValueOf(unsigned char c, bool url_safe) {
    if (url_safe) {
        c = c == '-' ? '+' : c == '_' ? '/' : c;
    }
    if (c >= 'A' && c <= 'Z') {
        return static_cast<signed char>(c - 'A');
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<signed char>(c - 'a' + 26);
    }
    if (c >= '0' && c <= '9') {
        return static_cast<signed char>(c - '0' + 52);
    }
    if (c == '+' || c == '/') {
        return c == '+' ? 62 : 63;
    }
    return c == '=' ? kPad : kSkip;
}

// Decodes one group of four values into out; answers the number of bytes, or -1 when malformed.
int DecodeGroup(const signed char* group, KL_Byte* out) {
    if (group[0] == kPad || group[1] == kPad) {
        return -1;
    }
    out[0] = KL_Byte((group[0] << 2) | (group[1] >> 4));
    if (group[2] == kPad) {
        return group[3] == kPad ? 1 : -1;
    }
    out[1] = KL_Byte(((group[1] & 0x0F) << 4) | (group[2] >> 2));
    if (group[3] == kPad) {
        return 2;
    }
    out[2] = KL_Byte(((group[2] & 0x03) << 6) | group[3]);
    return 3;
}
} // namespace

KL_Result KL_Base64::Encode(const KL_Byte* data, KL_Size size, KL_String& base64,
                            KL_Cardinal max_blocks_per_line, bool url_safe) {
    base64.SetLength(0);
    if (data == nullptr && size != 0) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    uint64_t reserve = (uint64_t(size) + 3) / 3 * 4;
    if (max_blocks_per_line != 0) {
        reserve += uint64_t(size) / (uint64_t(max_blocks_per_line) * 3) * 2;
    }
    if (reserve > 0xFFFFFFFFu) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    KL_Result result = base64.Reserve(KL_Size(reserve));
    if (KL_FAILED(result)) {
        return result;
    }
    char* out = base64.UseChars();
    KL_Size written = 0;
    KL_Size i = 0;
    for (KL_Cardinal blocks = 0; size - i >= 3; i += 3) {
        out[written++] = kAlphabet[data[i] >> 2];
        out[written++] = kAlphabet[((data[i] & 0x03) << 4) | (data[i + 1] >> 4)];
        out[written++] = kAlphabet[((data[i + 1] & 0x0F) << 2) | (data[i + 2] >> 6)];
        out[written++] = kAlphabet[data[i + 2] & 0x3F];
        if (max_blocks_per_line != 0 && ++blocks == max_blocks_per_line) {
            out[written++] = '\r';
            out[written++] = '\n';
            blocks = 0;
        }
    }
    if (size - i == 1) {
        out[written++] = kAlphabet[data[i] >> 2];
        out[written++] = kAlphabet[(data[i] & 0x03) << 4];
        out[written++] = '=';
        out[written++] = '=';
    } else if (size - i == 2) {
        out[written++] = kAlphabet[data[i] >> 2];
        out[written++] = kAlphabet[((data[i] & 0x03) << 4) | (data[i + 1] >> 4)];
        out[written++] = kAlphabet[(data[i + 1] & 0x0F) << 2];
        out[written++] = '=';
    }
    base64.SetLength(written);
    if (url_safe) {
        base64.Replace('+', '-');
        base64.Replace('/', '_');
    }
    return KL_SUCCESS;
}

KL_Result KL_Base64::Decode(const char* base64, KL_Size size, KL_DataBuffer& data, bool url_safe) {
    if (base64 == nullptr && size != 0) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    // The output never exceeds the input's size.
    KL_Result result = data.SetDataSize(0);
    if (KL_SUCCEEDED(result)) {
        result = data.SetBufferSize(size);
    }
    if (KL_FAILED(result)) {
        return result;
    }
    KL_Byte* out = data.UseData();
    KL_Size produced = 0;
    signed char group[4];
    int collected = 0;
    for (KL_Size i = 0; i < size; ++i) {
        unsigned char c = static_cast<unsigned char>(base64[i]);
        signed char value = (c & 0x80) ? kSkip : ValueOf(c, url_safe);
        if (value == kSkip) {
            continue;
        }
        group[collected++] = value;
        if (collected == 4) {
            int count = DecodeGroup(group, out + produced);
            if (count < 0) {
                return KL_ERROR_INVALID_FORMAT;
            }
            produced += KL_Size(count);
            collected = 0;
        }
    }
    if (collected != 0) {
        return KL_ERROR_INVALID_FORMAT;
    }
    return data.SetDataSize(produced);
}
