#include "engine_settings.h"

#include <algorithm>
#include <cmath>

#include "image/region.h"
#include "kernels/noise_threshold.h"
#include "shell/call_context.h"

namespace veltrane {
namespace {

// Sharpening inputs are limited to -1000..1000 and tiny magnitudes become 0.
void limitSharpening(double& v) {
  v = std::clamp(v, -1000.0, 1000.0);
  if (std::fabs(v) < 0.000001) v = 0.0;
}

}  // namespace

EngineSettings& engineSettings() {
  static EngineSettings s;
  return s;
}

EngineSettings computeEngineSettings(FilterParameters& p, std::int32_t imageMode, bool dialogOpen) {
  EngineSettings s;
  auto& r = p.reals;

  const NoiseThresholdBase base = deriveNoiseThresholdBase(p);
  const float O = base.base;
  s.H = base.H;

  // Protection ramp, in single precision from the stored floats.
  s.protectLow = static_cast<float>(r[real::protectThreshold]);
  if (r[real::protectFeather] < 0.0) r[real::protectFeather] = 0.0;
  s.protectHigh = static_cast<float>(r[real::protectThreshold] + r[real::protectFeather]);
  if (p.flags[flag::protectShadows]) {
    s.protectSlope = 1.0f / (s.protectHigh - s.protectLow);
    s.protectBelow = 0.0f;
    s.protectAbove = 1.0f;
    s.protectIntercept = -s.protectSlope * s.protectLow;
  } else {
    s.protectSlope = -1.0f / (s.protectHigh - s.protectLow);
    s.protectBelow = 1.0f;
    s.protectAbove = 0.0f;
    s.protectIntercept = 1.0f - s.protectSlope * s.protectLow;
  }

  s.keepBW = static_cast<float>(1.0 - r[real::mixBWDetail]);
  s.keepColor = static_cast<float>(1.0 - r[real::mixColorDetail]);

  s.D[0] = static_cast<float>(r[real::veryFineDetailNR]);
  s.D[1] = static_cast<float>(r[real::fineDetailNR]);
  s.D[2] = static_cast<float>(r[real::broadDetailNR]);
  s.D[3] = static_cast<float>(r[real::veryBroadDetailNR]);

  const double o = static_cast<double>(O);
  s.T[0] = static_cast<float>(o * r[real::veryFineNoiseLevel] * 1.5);
  s.T[1] = static_cast<float>(o * r[real::fineNoiseLevel] * 0.5);
  s.T[2] = static_cast<float>(o * r[real::broadNoiseLevel] * 0.25);
  s.T[3] = static_cast<float>(o * r[real::veryBroadNoiseLevel] * 0.125);

  for (std::size_t slot : {real::veryFineSharpening, real::fineSharpening, real::broadSharpening,
                           real::veryBroadSharpening, real::sharpenBWDetail,
                           real::sharpenColorDetail})
    limitSharpening(r[slot]);

  const double levels[4] = {r[real::veryFineSharpening], r[real::fineSharpening],
                            r[real::broadSharpening], r[real::veryBroadSharpening]};
  const double sb = 0.0125 * r[real::sharpenBWDetail];
  const double sc = 0.0125 * r[real::sharpenColorDetail];
  for (int k = 0; k < 3; ++k) {
    s.SB[k] = static_cast<float>(sb * levels[k]);
    s.SC[k] = static_cast<float>(sc * levels[k]);
  }
  s.SB[3] = static_cast<float>(0.5 * sb * levels[3]);
  s.SC[3] = static_cast<float>(0.5 * sc * levels[3]);

  s.smoothVariant = p.flags[flag::cleanerSmoothAreas];

  // The live preview may show the filtered image without unfiltered detail.
  if (p.flags[flag::previewWithoutDetailMix] && dialogOpen) {
    s.keepBW = 1.0f;
    s.keepColor = 1.0f;
  }

  s.labImage = eightBitMode(imageMode) == labColorMode ? 1 : 0;
  return s;
}

void deriveEngineSettings() {
  CallContext& c = callContext();
  engineSettings() = computeEngineSettings(*c.parameters, c.imageMode, c.dialogOpen);
}

}  // namespace veltrane
