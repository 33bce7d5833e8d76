#pragma once
#include <cstdint>

#include "shell/filter_parameters.h"

namespace veltrane {

// Single-precision values the matte engine works with, derived from the
// parameter block before every run and preview.
struct MatteSettings {
  float T = 0.0f;  // noise threshold of the denoise pass
  float H = 0.0f;  // highlights factor of the noise threshold, 0..0.99
  float L = 0.0f;  // neighbour differences up to this add nothing
  float G = 0.1f;  // mean excess that gives full white, 0.1..2550
  std::uint8_t invert = 0;
};

// The settings of the loaded plug-in.
MatteSettings& matteSettings();

// Fills matteSettings() from the parameter block of the call context;
// clamps the noise levels and the high threshold in place.
void deriveMatteSettings();

// The same computation on an explicit parameter block.
MatteSettings computeMatteSettings(FilterParameters& p);

}  // namespace veltrane
