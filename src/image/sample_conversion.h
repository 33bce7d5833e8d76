#pragma once
#include <cstdint>

#include "color_luts.h"

namespace veltrane {

// Host samples to the working scale (floats 0..255 on the encoded scale).
inline constexpr float scale16ToWorking = 0.007781982421875f;  // 255 / 32768
inline constexpr float scaleWorkingTo16 = 128.50196838378906f;  // 32768 / 255

inline float workingFrom8(std::uint8_t s) noexcept { return static_cast<float>(s); }
inline float workingFrom16(std::uint16_t s) noexcept {
  return static_cast<float>(s) * scale16ToWorking;
}
// Linear light, clamped to 0..1 (NaN counts as 0), encoded, at most 255.
inline float workingFrom32(float s) noexcept {
  if (!(s > 0.0f)) s = 0.0f;
  if (s > 1.0f) s = 1.0f;
  float v = encode(s);
  return v > 255.0f ? 255.0f : v;
}

// Limits a working value to 0..255; NaN becomes 0.
inline float clampWorking(float v) noexcept {
  if (!(v > 0.0f)) return 0.0f;
  if (v >= 255.0f) return 255.0f;
  return v;
}

// Working scale back to host samples.
inline std::uint8_t workingTo8(float v) noexcept {
  return static_cast<std::uint8_t>(clampWorking(v) + 0.5f);
}
inline std::uint16_t workingTo16(float v) noexcept {
  return static_cast<std::uint16_t>(clampWorking(v) * scaleWorkingTo16 + 0.5f);
}
inline float workingTo32(float v) noexcept { return decode(clampWorking(v)); }

}  // namespace veltrane
