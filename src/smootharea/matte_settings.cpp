#include "matte_settings.h"

#include <algorithm>

#include "kernels/noise_threshold.h"
#include "shell/call_context.h"

namespace veltrane {

MatteSettings& matteSettings() {
  static MatteSettings s;
  return s;
}

MatteSettings computeMatteSettings(FilterParameters& p) {
  MatteSettings s;
  auto& r = p.reals;

  const NoiseThresholdBase t = deriveNoiseThresholdBase(p);
  const float base = t.base;
  s.H = t.H;

  // The very-fine level has no control here and stays at its default 1.0.
  s.T = static_cast<float>(r[real::veryFineNoiseLevel] * static_cast<double>(base) * 1.5);
  s.L = static_cast<float>(r[real::lowThreshold]);

  r[real::highThreshold] = std::clamp(r[real::highThreshold], 0.1, 2550.0);
  s.G = static_cast<float>(r[real::highThreshold]);

  s.invert = p.flags[flag::invertMatte];
  return s;
}

void deriveMatteSettings() { matteSettings() = computeMatteSettings(*callContext().parameters); }

}  // namespace veltrane
