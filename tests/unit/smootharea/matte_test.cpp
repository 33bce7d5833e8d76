#include "smootharea/matte_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../driver/sim_session.h"
#include "image/sample_conversion.h"
#include "smootharea/matte_settings.h"
#include "smootharea/matte_writers.h"
#include "support/engine_fixture.h"

namespace veltrane {
namespace {

using testsupport::SimImage;
using testsupport::SimOptions;

class Matte : public testsupport::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params() = FilterParameters{mirelleDeliverable().factoryDefaults.flags,
                                mirelleDeliverable().factoryDefaults.reals};
    image = makeBuffer(W, Hh);
    out = makeBuffer(W, Hh);
  }
  void TearDown() override {
    image.release();
    out.release();
    EngineTest::TearDown();
  }
  // Pixel (x, y) gets f(x, y) in all three channels.
  template <typename F>
  void fill(F f) {
    for (std::int32_t y = 0; y < Hh; ++y)
      for (std::int32_t x = 0; x < W; ++x) std::fill_n(image.at(x, y), 3, f(x, y));
    image.marginsValid = 0;
  }
  ResultCode build() {
    deriveMatteSettings();
    return buildSmoothAreaMatte(image, out);
  }

  static constexpr std::int32_t W = 30;
  static constexpr std::int32_t Hh = 27;
  cspaceBuffer image, out;
};

TEST_F(Matte, SettingsFollowTheParametersAndClampInPlace) {
  deriveMatteSettings();
  const MatteSettings& s = matteSettings();
  EXPECT_EQ(s.T, 90.0f);
  EXPECT_FLOAT_EQ(s.H, 0.8f);
  EXPECT_EQ(s.L, 4.0f);
  EXPECT_EQ(s.G, 10.0f);
  EXPECT_EQ(s.invert, 0);

  auto& r = params().reals;
  r[real::highThreshold] = 0.0;
  r[real::highlightsNoiseLevel] = 0.0;
  r[real::overallNoiseLevel] = 0.0;
  deriveMatteSettings();
  EXPECT_EQ(r[real::highThreshold], 0.1);
  EXPECT_EQ(r[real::highlightsNoiseLevel], 0.0099999905f);
  EXPECT_EQ(r[real::overallNoiseLevel], 0.00001f);
  EXPECT_FLOAT_EQ(matteSettings().H, 0.99f);
  r[real::highThreshold] = 3000.0;
  deriveMatteSettings();
  EXPECT_EQ(r[real::highThreshold], 2550.0);
  EXPECT_EQ(matteSettings().G, 2550.0f);
}

TEST_F(Matte, FlatImageIsBlackAndWhiteWhenInverted) {
  for (bool invert : {false, true}) {
    params().flags[flag::invertMatte] = invert ? 1 : 0;
    fill([](auto, auto) { return 123.0f; });
    ASSERT_EQ(build(), noErr);
    for (float v : testsupport::innerPixels(out)) ASSERT_EQ(v, invert ? 255.0f : 0.0f);
  }
}

TEST_F(Matte, StepBesideItsEdgeScalesWithTheHighThreshold) {
  fill([](std::int32_t x, auto) { return x < 15 ? 50.0f : 150.0f; });
  image.mirrorMargins();
  deriveMatteSettings();
  // Three neighbours across the step in each channel: S = 9 x (100 - 4) = 864.
  const float M2550 = 864.0f * 0.041666668f * (255.0f / 2550.0f);
  EXPECT_FLOAT_EQ(M2550, 3.6f);
  for (auto [G, invert, expected] : {std::tuple{10.0f, 0, 255.0f}, std::tuple{30.0f, 0, 255.0f},
                                     std::tuple{2550.0f, 0, M2550},
                                     std::tuple{2550.0f, 1, 255.0f - M2550}}) {
    matteSettings().G = G;
    matteSettings().invert = static_cast<std::uint8_t>(invert);
    matteRows(image, out, 0, Hh);
    for (std::int32_t y = 0; y < Hh; ++y) {
      EXPECT_EQ(out.at(14, y)[0], expected);
      EXPECT_EQ(out.at(15, y)[2], expected);
      EXPECT_EQ(out.at(13, y)[1], invert ? 255.0f : 0.0f);
    }
  }
}

TEST_F(Matte, LowThresholdRemovesWeakTextureFirst) {
  params().reals[real::overallNoiseLevel] = 0.0;  // no smoothing to speak of
  testsupport::Lcg rng(3);
  std::vector<float> texture(static_cast<std::size_t>(W * Hh));
  for (float& t : texture) t = rng.next01() - 0.5f;
  auto textured = [&](std::int32_t x, std::int32_t y) {
    const float amplitude = x < W / 2 ? 3.9f : 39.0f;  // peak-to-peak
    return 100.0f + amplitude * texture[static_cast<std::size_t>(y * W + x)];
  };
  auto mean = [&](std::int32_t x0, std::int32_t x1) {
    double sum = 0.0;
    for (std::int32_t y = 0; y < Hh; ++y)
      for (std::int32_t x = x0; x < x1; ++x) sum += static_cast<double>(out.at(x, y)[0]);
    return sum / ((x1 - x0) * Hh);
  };
  for (double L : {0.0, 4.0, 39.0}) {
    params().reals[real::lowThreshold] = L;
    fill(textured);
    ASSERT_EQ(build(), noErr);
    // Columns whose neighbours all lie in one half.
    EXPECT_EQ(mean(0, W / 2 - 1) > 0.0, L < 4.0) << L;
    EXPECT_EQ(mean(W / 2 + 1, W) > 0.0, L < 39.0) << L;
  }
}

TEST_F(Matte, EveryInstructionSetGivesTheScalarMatte) {
  testsupport::Lcg rng(8);
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) {
        const float r = rng.next01();
        image.at(x, y)[c] = x < 10 ? (r < 0.5f ? 0.0f : 255.0f) : 100.0f + 20.0f * r;
      }
  image.mirrorMargins();
  deriveMatteSettings();
  cspaceBuffer vec = makeBuffer(W, Hh);
  for (auto [L, G, invert] : {std::tuple{0.0f, 10.0f, 0}, std::tuple{4.0f, 2550.0f, 1},
                              std::tuple{39.0f, 300.0f, 0}}) {
    matteSettings().L = L;
    matteSettings().G = G;
    matteSettings().invert = static_cast<std::uint8_t>(invert);
    matteRows(image, out, 0, Hh, SimdLevel::scalar);
    for (SimdLevel level : {SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512}) {
      if (!cpuSupports(level)) continue;
      matteRows(image, vec, 0, Hh, level);
      EXPECT_TRUE(testsupport::bitIdentical(testsupport::innerPixels(out),
                                            testsupport::innerPixels(vec)))
          << simdLevelName(level) << " L " << L;
    }
  }
  vec.release();
}

TEST_F(Matte, PixelsDoNotDependOnTheThreadCount) {
  std::vector<float> first;
  for (int n : {1, 2, 3, 7}) {
    platform::setProcessorCountOverride(n);
    testsupport::fillScene(image, 5, 12.0f);
    ASSERT_EQ(build(), noErr);
    if (first.empty())
      first = testsupport::innerPixels(out);
    else
      EXPECT_TRUE(testsupport::bitIdentical(testsupport::innerPixels(out), first)) << n;
  }
}

TEST_F(Matte, WritersReplaceTheDestinationAndOnePlaneTakesChannelTwo) {
  const float values[4] = {254.5f, 254.49f, 255.0f, -3.0f};
  for (std::int32_t x = 0; x < 4; ++x) std::fill_n(out.at(x, 0), 3, values[x]);
  out.at(4, 0)[2] = 77.0f;
  WriteRegion r;  // no source, no mask: neither is read
  r.width = 4;
  r.height = 1;
  r.engine = &out;
  std::uint8_t d8[12] = {};
  r.dst = d8;
  writeMatte8(r);
  EXPECT_EQ(std::vector<std::uint8_t>(d8, d8 + 12),
            (std::vector<std::uint8_t>{255, 255, 255, 254, 254, 254, 255, 255, 255, 0, 0, 0}));
  std::uint16_t d16[12] = {};
  r.dst = d16;
  writeMatte16(r);
  EXPECT_EQ(d16[6], 32768);
  EXPECT_EQ(d16[11], 0);
  float d32[12] = {};
  r.dst = d32;
  writeMatte32(r);
  EXPECT_FLOAT_EQ(d32[8], 1.0f);
  EXPECT_EQ(d32[0], decode(254.5f));

  std::uint8_t onePlane[2] = {};
  r.dst = onePlane;
  r.samplesPerPixel = 1;
  r.width = 2;
  r.bx = 3;
  writeMatte8(r);
  EXPECT_EQ(onePlane[0], 0);
  EXPECT_EQ(onePlane[1], 77);
}

// ---- through the driver and the in-memory host -------------------------------

testsupport::RunOutcome runMatte(SimImage& img, SimOptions o = {}, bool invert = false) {
  testsupport::RunOutcome r;
  testsupport::SimSession s(img, std::move(o));
  s.parameters = FilterParameters{mirelleDeliverable().factoryDefaults.flags,
                                  mirelleDeliverable().factoryDefaults.reals};
  s.parameters.flags[flag::invertMatte] = invert ? 1 : 0;
  r.code = s.filter(mirelleEngine());
  r.result = s.result;
  r.stats = s.finish();
  return r;
}

class MatteRun : public ::testing::Test {
 protected:
  void TearDown() override {
    progressResetAll();
    resetBlockScales();
  }
  testsupport::MessageCapture messages;
};

TEST_F(MatteRun, EveryDepthGetsTheFullRangeAndSmallImagesAreRefused) {
  for (std::int32_t depth : {8, 16, 32})
    for (std::int32_t planes : {1, 3}) {
      SimImage img = testsupport::makeImage(40, 30, planes == 1 ? 1 : 3, planes, depth, 1, 0.0f);
      std::fill(img.pixels.begin(), img.pixels.end(), std::uint8_t{0});
      ASSERT_EQ(runMatte(img, {}, true).code, noErr);
      EXPECT_EQ(testsupport::sampleAt(img, 39, 29, planes - 1),
                depth == 8 ? 255.0f : depth == 16 ? 32768.0f : decode(255.0f));
    }
  SimImage small = testsupport::makeRgb8(24, 100);
  const SimImage before = small;
  EXPECT_EQ(runMatte(small).code, imageTooSmall);
  EXPECT_EQ(small.pixels, before.pixels);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, "Mirelle Matte Finder error: Image is too small.");
}

// Out of memory at each allocation and a cancel at each poll, for a whole
// run and a run in two blocks: nothing stays allocated, and each block is
// either the clean matte or untouched.
TEST_F(MatteRun, FailuresReleaseEverythingAndNeverWriteUnfilledBuffers) {
  SimOptions blocks;
  blocks.tileWidth = blocks.tileHeight = 8;
  for (const SimOptions& layout : {SimOptions{}, blocks}) {
    const SimImage original = testsupport::makeRgb8(64, 30, 9);
    SimImage clean = original;
    const testsupport::RunOutcome c = runMatte(clean, layout);
    ASSERT_EQ(c.code, noErr);
    auto cellsCleanOrOriginal = [&](const SimImage& img) {
      for (std::int32_t x0 : {0, 32}) {
        bool asClean = true, asOriginal = true;
        for (std::int32_t y = 0; y < 30; ++y)
          for (std::int32_t x = x0; x < x0 + 32; ++x) {
            asClean = asClean && testsupport::samePixel(img, clean, x, y);
            asOriginal = asOriginal && testsupport::samePixel(img, original, x, y);
          }
        EXPECT_TRUE(asClean || asOriginal);
      }
    };
    for (int k = 3; k <= c.stats.bufferAllocations; ++k) {  // the two tables come first
      SimImage img = original;
      SimOptions o = layout;
      o.failBufferAllocationAt = k;
      const testsupport::RunOutcome r = runMatte(img, o);
      EXPECT_EQ(r.code, outOfMemory) << k;
      EXPECT_EQ(r.result, userCancelled) << k;
      EXPECT_EQ(r.stats.liveBuffers, 0) << k;
      cellsCleanOrOriginal(img);
    }
    for (int k = 1; k <= c.stats.abortPolls; ++k) {
      SimImage img = original;
      SimOptions o = layout;
      o.abortAtPoll = k;
      const testsupport::RunOutcome r = runMatte(img, o);
      EXPECT_EQ(r.code, userCancelled) << k;
      EXPECT_EQ(r.stats.liveBuffers, 0) << k;
      cellsCleanOrOriginal(img);
    }
  }
}

}  // namespace
}  // namespace veltrane
