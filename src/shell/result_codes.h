#pragma once
#include <cstdint>

namespace veltrane {

// The host's 16-bit result codes, carried through the result cell.
using ResultCode = std::int16_t;

inline constexpr ResultCode noErr = 0;
inline constexpr ResultCode imageTooSmall = -50;
inline constexpr ResultCode outOfMemory = -108;
inline constexpr ResultCode userCancelled = -128;
inline constexpr ResultCode missingParameter = -1715;
inline constexpr ResultCode badParameters = -30100;

}  // namespace veltrane
