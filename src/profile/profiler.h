#pragma once
#include <cstddef>
#include <cstdint>

// The noise profiler: measures the noise of the current image block by block
// and turns the measure into the noise settings of the parameter block.
namespace veltrane {

struct Rect;

// The profile kinds; the kind doubles as highlightsNoiseLevel, the noise at
// white relative to the noise at black.
inline constexpr double digitalProfile = 0.2;
inline constexpr double filmProfile = 1.0;

// Side of the square blocks the image is measured in.
inline constexpr std::int32_t profileBlockSize = 32;

// One block of the grid: its current noise measure, its mean brightness on
// the 0..255 scale, and its place in the grid.
struct BlockSample {
  double noise = 0.0;
  std::int32_t brightness = 0;
  std::int32_t column = 0;
  std::int32_t row = 0;
};

// What the coarse pass finds in one block.
struct GridSample {
  double noise = 0.0;
  std::int32_t brightness = 0;
};

// The coarse measure of one 32 x 32 block of 8-bit samples (planes 1 or 3,
// interleaved per pixel; rowStride in samples): differences to the right and
// lower neighbours at 16 grid points, clipped samples left out and made up
// for. A block without any difference gets brightness 0.
GridSample sampleBlockGrid(const std::uint8_t* block, std::ptrdiff_t rowStride,
                           std::int32_t planes);

// The fine measure of one block: the differences across its internal
// 8-pixel lines; 50000 when no pair of samples can be used.
double measureBlockNoise(const std::uint8_t* block, std::ptrdiff_t rowStride, std::int32_t planes);

// The overall noise level for a pooled measure x (at least 15). Warns about
// a very low measure, and about a kind that is neither digital nor film
// (which is then treated as digital).
double GetNewNoiseLevel(double x, double kind);

// Writes the profiled levels (and, for the two known kinds, the highlight
// protection pair) into the current parameter block, clears protectShadows,
// and makes the two levels the defaults that "Reset All" restores.
void applyProfileResult(double kind, double x);

// Profiles the current host image as digital (0.2) or film (1.0). Failures
// are reported to the user; nothing is thrown.
void profileImage(double kind) noexcept;

// Measures the noise inside `area` (image coordinates, right and bottom
// exclusive), an area the user chose because it holds only noise: every
// whole 32 x 32 block laid from its top-left corner gets the fine measure,
// and the lowest measures are pooled as profileImage pools them; the
// levels are then set as a profile of that kind sets them. An area without
// a whole block, or whose blocks are all clipped, is reported to the user
// and changes nothing. Returns whether the levels were set; nothing is
// thrown.
bool profileArea(double kind, const Rect& area) noexcept;

inline constexpr const char* noMidtonesMessage =
    "Profiling error: no midtones.  Or, image may be extremely small.";
inline constexpr const char* tonalRangeMissingMessage = "Profiling error.  Tonal range missing: ";
inline constexpr const char* areaTooSmallMessage =
    "The selected area is too small to measure its noise: drag a rectangle of at least 32 x 32 image pixels "
    "over an area that holds only noise.";
inline constexpr const char* areaClippedMessage =
    "The selected area is too dark or too bright to measure its noise: select an area of mid tones.";
inline constexpr const char* veryLowNoiseMessage =
    "Possible error: very low noise detected.  If the image does not have extremely low noise, "
    "manually adjust the Overall Noise Size setting higher.  Noise level detected:";

}  // namespace veltrane
