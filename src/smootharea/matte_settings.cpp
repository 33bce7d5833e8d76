#include "matte_settings.h"

#include <algorithm>

#include "shell/call_context.h"

namespace veltrane {

MatteSettings& matteSettings() {
  static MatteSettings s;
  return s;
}

MatteSettings computeMatteSettings(FilterParameters& p) {
  MatteSettings s;
  auto& r = p.reals;

  // Overall level, floored at the single-precision 0.00001.
  const float minLevel = 0.00001f;
  if (r[real::overallNoiseLevel] < static_cast<double>(minLevel))
    r[real::overallNoiseLevel] = static_cast<double>(minLevel);
  const float base = 1.5f * std::max(static_cast<float>(r[real::overallNoiseLevel]), minLevel);

  r[real::highlightsNoiseLevel] =
      std::clamp(r[real::highlightsNoiseLevel], static_cast<double>(0.0099999905f), 1.0);
  s.H = static_cast<float>(std::clamp(1.0 - r[real::highlightsNoiseLevel], 0.0, 0.99));

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
