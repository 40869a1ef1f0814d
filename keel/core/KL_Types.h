// Basic types of the keel runtime.
#pragma once

#include <cstddef>
#include <cstdint>

using KL_Byte = uint8_t;
using KL_Int8 = int8_t;
using KL_UInt8 = uint8_t;
using KL_Int16 = int16_t;
using KL_UInt16 = uint16_t;
using KL_Int32 = int32_t;
using KL_UInt32 = uint32_t;
using KL_Int64 = int64_t;
using KL_UInt64 = uint64_t;
using KL_Float = float;

// Byte counts of one call, string lengths, container counts.
using KL_Size = uint32_t;
using KL_Cardinal = uint32_t;
// A 0-based position in a string or container (searches answer int, -1 for "not found").
using KL_Index = uint32_t;
// Stream positions and sizes.
using KL_Position = uint64_t;
using KL_LargeSize = uint64_t;
using KL_Offset = int64_t;

// Milliseconds; KL_TIMEOUT_INFINITE waits for ever, 0 does not wait.
using KL_Timeout = uint32_t;
constexpr KL_Timeout KL_TIMEOUT_INFINITE = 0xFFFFFFFFu;

#define KL_ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))
