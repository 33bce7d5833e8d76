#pragma once
#include <cstdint>

#include "shell/filter_parameters.h"

namespace veltrane {

// Single-precision values the noise-reduction engine works with, derived from
// the parameter block before every engine or preview run.
struct EngineSettings {
  float T[4] = {};   // noise threshold per level, 0 = very fine .. 3 = very broad
  float D[4] = {};   // detail-NR strength per level
  float SB[4] = {};  // luminance sharpening amount per level
  float SC[4] = {};  // chroma sharpening amount per level
  float H = 0.0f;    // highlights factor of the noise threshold, 0..0.99
  float protectLow = 0.0f;
  float protectHigh = 0.0f;
  float protectSlope = 0.0f;
  float protectIntercept = 0.0f;
  float protectBelow = 0.0f;
  float protectAbove = 0.0f;
  float keepBW = 1.0f;
  float keepColor = 1.0f;
  std::uint8_t smoothVariant = 0;
  std::uint8_t labImage = 0;
};

// The settings of the loaded plug-in.
EngineSettings& engineSettings();

// Fills engineSettings() from the parameter block of the call context, its
// image mode and whether the dialog is open; clamps some parameters in place.
void deriveEngineSettings();

// The same computation on explicit inputs.
EngineSettings computeEngineSettings(FilterParameters& p, std::int32_t imageMode, bool dialogOpen);

inline constexpr std::int32_t labColorMode = 9;

}  // namespace veltrane
