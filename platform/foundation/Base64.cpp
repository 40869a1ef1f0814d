#include "Base64.h"

#include <array>
#include <cstdint>

namespace platform {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int kInvalid = -1;
constexpr int kSpace = -2;
constexpr int kPad = -3;

constexpr std::array<int, 256> makeDecodeTable() {
    std::array<int, 256> table{};
    for (int& entry : table) {
        entry = kInvalid;
    }
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = i;
    }
    for (unsigned char c : {' ', '\t', '\r', '\n', '\f', '\v'}) {
        table[c] = kSpace;
    }
    table['='] = kPad;
    return table;
}

constexpr std::array<int, 256> kDecode = makeDecodeTable();

// Appends the bytes of one complete quartet; `padding` of its last sextets are "=".
void appendQuartet(std::string& out, const int (&sextets)[4], int padding) {
    const std::uint32_t bits =
        (static_cast<std::uint32_t>(sextets[0]) << 18) | (static_cast<std::uint32_t>(sextets[1]) << 12) |
        (static_cast<std::uint32_t>(sextets[2]) << 6) | static_cast<std::uint32_t>(sextets[3]);
    out.push_back(static_cast<char>((bits >> 16) & 0xFF));
    if (padding < 2) {
        out.push_back(static_cast<char>((bits >> 8) & 0xFF));
    }
    if (padding < 1) {
        out.push_back(static_cast<char>(bits & 0xFF));
    }
}

} // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t bits =
            (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16) |
            (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8) |
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 2]));
        out.push_back(kAlphabet[(bits >> 18) & 0x3F]);
        out.push_back(kAlphabet[(bits >> 12) & 0x3F]);
        out.push_back(kAlphabet[(bits >> 6) & 0x3F]);
        out.push_back(kAlphabet[bits & 0x3F]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t bits = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2) {
            bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        out.push_back(kAlphabet[(bits >> 18) & 0x3F]);
        out.push_back(kAlphabet[(bits >> 12) & 0x3F]);
        out.push_back(rest == 2 ? kAlphabet[(bits >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    int sextets[4] = {};
    int count = 0;
    int padding = 0;
    bool finished = false;
    for (char c : text) {
        const int value = kDecode[static_cast<unsigned char>(c)];
        if (value == kSpace) {
            continue;
        }
        if (value == kInvalid || finished) {
            return std::nullopt;
        }
        if (value == kPad) {
            // "=" may only stand in the last one or two places of a quartet.
            if (count < 2) {
                return std::nullopt;
            }
            ++padding;
            sextets[count++] = 0;
        } else {
            if (padding > 0) {
                return std::nullopt;
            }
            sextets[count++] = value;
        }
        if (count == 4) {
            appendQuartet(out, sextets, padding);
            finished = padding > 0;
            count = 0;
        }
    }
    if (count != 0) {
        return std::nullopt;
    }
    return out;
}

} // namespace platform
