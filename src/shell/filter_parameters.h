#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <type_traits>

namespace veltrane {

// A fixed-size array whose every access is bounds-checked. It stays a plain
// aggregate so that records built from it can live in host memory and be
// copied byte for byte.
template <typename T, std::size_t N>
struct SlotArray {
  T values[N];

  static constexpr std::size_t size() noexcept { return N; }

  T& operator[](std::size_t i) {
    check(i);
    return values[i];
  }
  const T& operator[](std::size_t i) const {
    check(i);
    return values[i];
  }

 private:
  static void check(std::size_t i) {
    if (i >= N) throw std::out_of_range("array<>: index out of range");
  }
};

inline constexpr std::size_t realSlotCount = 26;
inline constexpr std::size_t flagSlotCount = 9;

// Every setting of a filter run: 9 one-byte flags and 26 doubles, addressed
// by slot number. Each deliverable gives the slots its own meaning.
struct FilterParameters {
  SlotArray<std::uint8_t, flagSlotCount> flags;
  SlotArray<double, realSlotCount> reals;
};

static_assert(std::is_trivially_copyable_v<FilterParameters>);
static_assert(std::is_standard_layout_v<FilterParameters>);

// Slot numbers of the reals, with the noise reducer's names.
namespace real {
inline constexpr std::size_t overallNoiseLevel = 0;
inline constexpr std::size_t highlightsNoiseLevel = 1;
inline constexpr std::size_t veryFineNoiseLevel = 2;
inline constexpr std::size_t fineNoiseLevel = 3;
inline constexpr std::size_t broadNoiseLevel = 4;
inline constexpr std::size_t veryBroadNoiseLevel = 5;
inline constexpr std::size_t mixBWDetail = 6;
inline constexpr std::size_t mixColorDetail = 7;
inline constexpr std::size_t veryFineDetailNR = 8;
inline constexpr std::size_t fineDetailNR = 9;
inline constexpr std::size_t broadDetailNR = 10;
inline constexpr std::size_t veryBroadDetailNR = 11;
inline constexpr std::size_t sharpenBWDetail = 12;
inline constexpr std::size_t veryFineSharpening = 13;
inline constexpr std::size_t fineSharpening = 14;
inline constexpr std::size_t broadSharpening = 15;
inline constexpr std::size_t veryBroadSharpening = 16;
inline constexpr std::size_t protectThreshold = 17;
inline constexpr std::size_t protectFeather = 18;
inline constexpr std::size_t sharpenColorDetail = 19;
inline constexpr std::size_t edgeSmoothing = 20;
inline constexpr std::size_t reserved21 = 21;
inline constexpr std::size_t reserved25 = 25;
// The matte filter's own names for the slots it uses differently.
inline constexpr std::size_t lowThreshold = 12;
inline constexpr std::size_t highThreshold = 19;
}  // namespace real

// Slot numbers of the flags.
namespace flag {
inline constexpr std::size_t spareFlag0 = 0;
inline constexpr std::size_t despeckle = 1;
inline constexpr std::size_t previewWithoutDetailMix = 2;
inline constexpr std::size_t profileDigitalOnLoad = 3;
inline constexpr std::size_t profileFilmOnLoad = 4;
inline constexpr std::size_t spareFlag5 = 5;
inline constexpr std::size_t protectShadows = 6;
inline constexpr std::size_t alwaysProfile = 7;
inline constexpr std::size_t cleanerSmoothAreas = 8;
// The matte filter's name for flag 2.
inline constexpr std::size_t invertMatte = 2;
}  // namespace flag

}  // namespace veltrane
