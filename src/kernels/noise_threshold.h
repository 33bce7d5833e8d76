#pragma once
#include "shell/filter_parameters.h"

namespace veltrane {

// What the directional filter's noise threshold starts from, in single
// precision: base is 1.5 times the overall noise level (each level's
// threshold is a multiple of it), H the highlights factor that lowers the
// threshold in bright areas, 0..0.99.
struct NoiseThresholdBase {
  float base = 0.0f;
  float H = 0.0f;
};

// Derives both from the parameter block, flooring the overall level at the
// single-precision 0.00001 and clamping the highlights level to
// 0.0099999905..1 in place.
NoiseThresholdBase deriveNoiseThresholdBase(FilterParameters& p);

}  // namespace veltrane
