#pragma once
#include <cstdint>

namespace veltrane::hostapi {

// A four-character code in reading order: the first character is the most
// significant byte ('brgH' == fourcc("brgH")).
constexpr std::uint32_t fourcc(const char (&s)[5]) noexcept {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[3]));
}

}  // namespace veltrane::hostapi
