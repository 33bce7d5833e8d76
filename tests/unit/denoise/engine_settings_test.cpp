#include "denoise/engine_settings.h"

#include <gtest/gtest.h>

#include <cmath>

#include "shell/parameter_tables.h"

namespace veltrane {
namespace {

FilterParameters factory() {
  const ParameterDefaults& d = halvaneDeliverable().factoryDefaults;
  return FilterParameters{d.flags, d.reals};
}

TEST(EngineSettings, FactoryDefaultsGiveTheFourLevelThresholdsAndFixedSettings) {
  FilterParameters p = factory();
  const EngineSettings s = computeEngineSettings(p, 3, false);
  // O = 1.5 * 40 = 60; per-level factors 1.5, 0.5, 0.25, 0.125.
  EXPECT_EQ(s.T[0], 90.0f);
  EXPECT_EQ(s.T[1], 30.0f);
  EXPECT_EQ(s.T[2], 15.0f);
  EXPECT_EQ(s.T[3], 7.5f);
  EXPECT_EQ(s.SB[0], 0.0025f);
  EXPECT_EQ(s.SB[1], 0.0025f);
  EXPECT_EQ(s.SB[2], 0.0025f);
  EXPECT_EQ(s.SB[3], 0.00125f);
  EXPECT_EQ(s.SC[3], 0.00125f);
  EXPECT_EQ(s.H, 0.8f);
  EXPECT_EQ(s.keepBW, 0.7f);
  EXPECT_EQ(s.keepColor, 1.0f);
  EXPECT_EQ(s.smoothVariant, 1);
  EXPECT_EQ(s.labImage, 0);
  // Highlight protection at threshold 255 with no feather: full effect up to
  // 255, none above.
  EXPECT_EQ(s.protectLow, 255.0f);
  EXPECT_EQ(s.protectHigh, 255.0f);
  EXPECT_EQ(s.protectBelow, 1.0f);
  EXPECT_EQ(s.protectAbove, 0.0f);
}

TEST(EngineSettings, ClampsStoredParametersInPlace) {
  FilterParameters p = factory();
  p.reals[real::overallNoiseLevel] = 0.0;
  p.reals[real::highlightsNoiseLevel] = 0.005;
  p.reals[real::protectFeather] = -3.0;
  p.reals[real::sharpenBWDetail] = 5000.0;
  p.reals[real::fineSharpening] = -0.0000005;
  p.reals[real::broadSharpening] = -2000.0;
  const EngineSettings s = computeEngineSettings(p, 3, false);

  EXPECT_EQ(p.reals[real::overallNoiseLevel], static_cast<double>(0.00001f));
  EXPECT_LT(s.T[0], 0.0001f);
  EXPECT_EQ(p.reals[real::highlightsNoiseLevel], static_cast<double>(0.0099999905f));
  EXPECT_EQ(s.H, 0.99f);
  EXPECT_EQ(p.reals[real::protectFeather], 0.0);
  EXPECT_EQ(p.reals[real::sharpenBWDetail], 1000.0);
  EXPECT_EQ(p.reals[real::fineSharpening], 0.0);
  EXPECT_EQ(p.reals[real::broadSharpening], -1000.0);
  EXPECT_EQ(s.SB[0], 12.5f);  // 0.0125 * 1000 * 1.0

  p.reals[real::highlightsNoiseLevel] = 1.0;
  EXPECT_EQ(computeEngineSettings(p, 3, false).H, 0.0f);
}

TEST(EngineSettings, ProtectionRampRunsBetweenThresholdAndFeather) {
  FilterParameters p = factory();
  p.reals[real::protectThreshold] = 200.0;
  p.reals[real::protectFeather] = 50.0;
  EngineSettings s = computeEngineSettings(p, 3, false);
  auto m = [&](float Y) { return s.protectSlope * Y + s.protectIntercept; };
  EXPECT_FLOAT_EQ(m(200.0f), 1.0f);
  EXPECT_FLOAT_EQ(m(225.0f), 0.5f);
  EXPECT_NEAR(m(250.0f), 0.0f, 1e-5f);

  p.flags[flag::protectShadows] = 1;
  s = computeEngineSettings(p, 3, false);
  EXPECT_EQ(s.protectBelow, 0.0f);
  EXPECT_EQ(s.protectAbove, 1.0f);
  EXPECT_NEAR(m(200.0f), 0.0f, 1e-5f);
  EXPECT_FLOAT_EQ(m(225.0f), 0.5f);
  EXPECT_FLOAT_EQ(m(250.0f), 1.0f);
}

TEST(EngineSettings, PreviewWithoutDetailMixOnlyWhileTheDialogIsOpen) {
  FilterParameters p = factory();
  p.reals[real::mixColorDetail] = 0.4;
  p.flags[flag::previewWithoutDetailMix] = 1;
  const EngineSettings open = computeEngineSettings(p, 3, true);
  EXPECT_EQ(open.keepBW, 1.0f);
  EXPECT_EQ(open.keepColor, 1.0f);
  const EngineSettings closed = computeEngineSettings(p, 3, false);
  EXPECT_EQ(closed.keepBW, 0.7f);
  EXPECT_EQ(closed.keepColor, 0.6f);
}

TEST(EngineSettings, LabIsRecognisedAtEveryDepth) {
  FilterParameters p = factory();
  EXPECT_EQ(computeEngineSettings(p, 9, false).labImage, 1);   // Lab
  EXPECT_EQ(computeEngineSettings(p, 12, false).labImage, 1);  // 16-bit Lab
  for (int mode : {1, 3, 4, 10, 11, 13, 16, 17}) EXPECT_EQ(computeEngineSettings(p, mode, false).labImage, 0) << mode;
}

}  // namespace
}  // namespace veltrane
