#include "noise_threshold.h"

#include <algorithm>

namespace veltrane {

NoiseThresholdBase deriveNoiseThresholdBase(FilterParameters& p) {
  auto& r = p.reals;
  NoiseThresholdBase t;

  const float minLevel = 0.00001f;
  if (r[real::overallNoiseLevel] < static_cast<double>(minLevel))
    r[real::overallNoiseLevel] = static_cast<double>(minLevel);
  t.base = 1.5f * std::max(static_cast<float>(r[real::overallNoiseLevel]), minLevel);

  r[real::highlightsNoiseLevel] =
      std::clamp(r[real::highlightsNoiseLevel], static_cast<double>(0.0099999905f), 1.0);
  t.H = static_cast<float>(std::clamp(1.0 - r[real::highlightsNoiseLevel], 0.0, 0.99));
  return t;
}

}  // namespace veltrane
