#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Bytes, as the web side passes bodies and pieces of bodies around.
using Data = std::vector<std::uint8_t>;

// Points in time (wall clock).
using Date = std::chrono::system_clock::time_point;

inline Data dataFromString(std::string_view text) {
    return Data(text.begin(), text.end());
}
inline std::string stringFromData(const Data& data) {
    return std::string(data.begin(), data.end());
}
inline void appendBytes(Data& data, const void* bytes, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    data.insert(data.end(), p, p + length);
}

} // namespace platform
