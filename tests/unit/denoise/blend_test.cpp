#include "denoise/blend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "image/color_luts.h"
#include "support/engine_fixture.h"

namespace veltrane {
namespace {

class Blend : public testsupport::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    saved_ = engineSettings();
    ASSERT_TRUE(buildLUTs());
  }
  void TearDown() override {
    freeLUTs();
    engineSettings() = saved_;
    EngineTest::TearDown();
  }

  // The noise reducer's settings for the given sliders, installed as the
  // plug-in's settings (which the writers use) and returned.
  EngineSettings use(double mixBW, double mixColor, double threshold = 255.0, double feather = 0.0,
                     bool shadows = false, std::int32_t mode = 3) {
    FilterParameters& p = params();
    p.reals[real::mixBWDetail] = mixBW;
    p.reals[real::mixColorDetail] = mixColor;
    p.reals[real::protectThreshold] = threshold;
    p.reals[real::protectFeather] = feather;
    p.flags[flag::protectShadows] = shadows ? 1 : 0;
    return engineSettings() = computeEngineSettings(p, mode, false);
  }

  static void expectPixel(const float* got, float r, float g, float b, float tol = 1e-3f) {
    EXPECT_NEAR(got[0], r, tol);
    EXPECT_NEAR(got[1], g, tol);
    EXPECT_NEAR(got[2], b, tol);
  }

  // A margin-3 engine buffer whose inner pixels are given row by row.
  cspaceBuffer engineOf(std::int32_t w, std::int32_t h, const std::vector<float>& rgb) {
    cspaceBuffer b = makeBuffer(w, h);
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k)
          b.at(x, y)[k] = rgb[static_cast<std::size_t>((y * w + x) * 3 + k)];
    return b;
  }

  // A whole-rectangle write of w x h pixels at the origin.
  static WriteRegion region(void* dst, const void* src, std::ptrdiff_t rowBytes, std::int32_t w,
                            std::int32_t h, const cspaceBuffer& engine, std::int32_t spp = 3) {
    WriteRegion r;
    r.dst = dst;
    r.dstRowBytes = rowBytes;
    r.src = src;
    r.srcRowBytes = rowBytes;
    r.width = w;
    r.height = h;
    r.engine = &engine;
    r.samplesPerPixel = spp;
    return r;
  }

 private:
  EngineSettings saved_;
};

TEST_F(Blend, MixSlidersChooseBetweenEngineResultAndSource) {
  const float F[3] = {200.0f, 100.0f, 50.0f};
  const float U[3] = {10.0f, 20.0f, 30.0f};
  float out[3];

  blendWithSource(F, U, 1.0f, false, use(0.0, 0.0), out);
  expectPixel(out, 200.0f, 100.0f, 50.0f);

  blendWithSource(F, U, 1.0f, false, use(1.0, 1.0), out);
  expectPixel(out, 10.0f, 20.0f, 30.0f);

  // With a host mask, weight 1 is the unmasked blend and weight 0 the source.
  blendWithSource(F, U, 1.0f, true, use(0.0, 0.0), out);
  expectPixel(out, 200.0f, 100.0f, 50.0f);
  blendWithSource(F, U, 0.0f, true, use(0.0, 0.0), out);
  expectPixel(out, 10.0f, 20.0f, 30.0f);
}

// Grey filtered pixels of luminance v over the source (120, 100, 80), whose
// luminance is 103.7 and whose chroma offsets from it are (16.3, -3.7, -23.7).
// With mixColorDetail 0.25 a quarter of those offsets comes back on top of
// the blended luminance, whatever the protection does.
TEST_F(Blend, ProtectionRampActsOnFilteredLuminanceOnly) {
  const float U[3] = {120.0f, 100.0f, 80.0f};
  struct Case {
    float v, highlights, shadows;
  };
  const Case cases[] = {
      {150.0f, 150.0f, 103.7f},   // below the ramp
      {200.0f, 200.0f, 103.7f},   // at its start
      {225.0f, 164.35f, 164.35f}, // half-way: half the luminance change
      {240.0f, 130.96f, 212.74f}, // 0.2 / 0.8 of the way
      {250.0f, 103.7f, 250.0f},   // at its end
      {254.0f, 103.7f, 254.0f},
  };
  for (const bool shadows : {false, true}) {
    const EngineSettings s = use(0.0, 0.25, 200.0, 50.0, shadows);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "shadows " << shadows << " v " << c.v);
      const float F[3] = {c.v, c.v, c.v};
      float out[3];
      blendWithSource(F, U, 1.0f, false, s, out);
      const float Y = shadows ? c.shadows : c.highlights;
      expectPixel(out, Y + 4.075f, Y - 0.925f, Y - 5.925f);
    }
  }
}

TEST_F(Blend, LabChannelsAreMixedWithoutConversion) {
  const float F[3] = {50.0f, 130.0f, 120.0f};
  const float U[3] = {60.0f, 128.0f, 128.0f};
  float out[3];
  blendWithSource(F, U, 1.0f, false, use(0.0, 0.5, 255.0, 0.0, false, labColorMode), out);
  EXPECT_EQ(out[0], 50.0f);
  EXPECT_EQ(out[1], 129.0f);
  EXPECT_EQ(out[2], 124.0f);
}

TEST_F(Blend, Writer8RoundsToNearestAndStoresNaNAsZero) {
  use(0.0, 0.0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  cspaceBuffer engine = engineOf(5, 1, {100.4f, 100.4f, 100.4f, 100.6f, 100.6f, 100.6f, -5.0f,
                                        -5.0f, -5.0f, 254.7f, 254.7f, 254.7f, 7.0f, nan, 7.0f});
  const std::vector<std::uint8_t> src(15, 0);
  std::vector<std::uint8_t> dst(15, 33);
  writeResult8(region(dst.data(), src.data(), 15, 5, 1, engine));
  EXPECT_EQ(dst, (std::vector<std::uint8_t>{100, 100, 100, 101, 101, 101, 0, 0, 0, 255, 255, 255,
                                            0, 0, 0}));
  engine.release();
}

TEST_F(Blend, Writer8PlacesRectangleAndKeepsEverythingElse) {
  use(0.0, 0.0);
  // Engine pixel (x, y) = grey 10 + 20x + 50y; rectangle 3 x 2 written at
  // (2, 1) of a 6 x 4 tile from engine position (1, 2).
  cspaceBuffer engine = makeBuffer(5, 4);
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 5; ++x)
      for (int k = 0; k < 3; ++k) engine.at(x, y)[k] = static_cast<float>(10 + 20 * x + 50 * y);
  constexpr std::ptrdiff_t rowBytes = 6 * 3 + 5;
  const std::vector<std::uint8_t> src(rowBytes * 4, 0);
  std::vector<std::uint8_t> dst(rowBytes * 4, 7);
  WriteRegion r = region(dst.data(), src.data(), rowBytes, 3, 2, engine);
  r.x0 = 2;
  r.y0 = 1;
  r.bx = 1;
  r.by = 2;
  writeResult8(r);
  for (std::ptrdiff_t y = 0; y < 4; ++y)
    for (std::ptrdiff_t c = 0; c < rowBytes; ++c) {
      const std::ptrdiff_t x = c / 3;
      const bool inside = y >= 1 && y < 3 && x >= 2 && x < 5 && c < 18;
      const std::ptrdiff_t want = inside ? 10 + 20 * (x - 1) + 50 * (y + 1) : 7;
      EXPECT_EQ(dst[static_cast<std::size_t>(y * rowBytes + c)], want) << "x " << x << " y " << y;
    }

  // A rectangle reaching past the engine's inner area (no margin here, so
  // any read beyond it leaves the buffer) is written only where covered.
  cspaceBuffer small = makeBuffer(2, 2, 0);
  for (std::int32_t y = 0; y < 2; ++y)
    for (std::int32_t x = 0; x < 2; ++x)
      for (int k = 0; k < 3; ++k) small.at(x, y)[k] = 90.0f;
  std::vector<std::uint8_t> out(rowBytes * 4, 7);
  r = region(out.data(), src.data(), rowBytes, 6, 4, small);
  r.bx = 1;
  writeResult8(r);
  for (std::ptrdiff_t y = 0; y < 4; ++y)
    for (std::ptrdiff_t c = 0; c < rowBytes; ++c)
      EXPECT_EQ(out[static_cast<std::size_t>(y * rowBytes + c)], y < 2 && c < 3 ? 90 : 7)
          << "c " << c << " y " << y;
  small.release();
  engine.release();
}

TEST_F(Blend, MaskBytesFadeTheEffect) {
  use(0.0, 0.0);
  cspaceBuffer engine = engineOf(3, 1, std::vector<float>(9, 200.0f));
  const std::vector<std::uint8_t> src(9, 100);
  const std::uint8_t mask[3] = {0, 255, 128};
  std::vector<std::uint8_t> dst(9, 0);
  WriteRegion r = region(dst.data(), src.data(), 9, 3, 1, engine);
  r.hostHasMask = true;
  r.mask = mask;
  r.maskRowBytes = 3;

  r.useMask = true;
  writeResult8(r);
  EXPECT_EQ(dst, (std::vector<std::uint8_t>{100, 100, 100, 200, 200, 200, 150, 150, 150}));

  r.useMask = false;  // e.g. the preview: the mask is ignored
  writeResult8(r);
  EXPECT_EQ(dst, std::vector<std::uint8_t>(9, 200));
  engine.release();
}

TEST_F(Blend, OnePlaneDestinationKeepsChannelTwo) {
  use(0.0, 0.0);
  cspaceBuffer engine = engineOf(2, 1, {200.0f, 100.0f, 50.0f, 30.0f, 60.0f, 90.0f});
  const std::uint8_t src[3] = {100, 100, 100};
  std::uint8_t dst[3] = {1, 2, 3};
  writeResult8(region(dst, src, 3, 2, 1, engine, 1));
  EXPECT_EQ(dst[0], 50);
  EXPECT_EQ(dst[1], 90);
  EXPECT_EQ(dst[2], 3);
  engine.release();
}

// Where the engine changed nothing, the default mix gives the source back.
TEST_F(Blend, Writer16RoundTripsUnchangedArea) {
  use(0.3, 0.0);
  constexpr std::ptrdiff_t rowBytes = 3 * 3 * 2 + 4;  // padded rows, in bytes
  std::vector<std::uint16_t> src(rowBytes, 9);        // two rows of rowBytes / 2 samples
  const std::uint16_t values[2][9] = {{32768, 32768, 32768, 12345, 16384, 1, 0, 32767, 20000},
                                      {16384, 16384, 16384, 100, 200, 300, 32000, 5, 7}};
  for (std::size_t y = 0; y < 2; ++y)
    for (std::size_t k = 0; k < 9; ++k) src[y * rowBytes / 2 + k] = values[y][k];
  cspaceBuffer engine = makeBuffer(3, 2);
  engine.fillFromHost16(src.data(), rowBytes, 0, 0, 3, 2, 3);
  std::vector<std::uint16_t> dst(rowBytes, 9);
  writeResult16(region(dst.data(), src.data(), rowBytes, 3, 2, engine));
  EXPECT_EQ(dst, src);

  engine.at(1, 0)[0] = std::numeric_limits<float>::quiet_NaN();
  writeResult16(region(dst.data(), src.data(), rowBytes, 3, 2, engine));
  EXPECT_EQ(dst[3], 0);
  EXPECT_EQ(dst[4], 0);
  EXPECT_EQ(dst[5], 0);
  engine.release();
}

TEST_F(Blend, Writer32RoundTripsUnchangedAreaAndKeepsSamplesOutsideUnitRange) {
  use(0.3, 0.0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> src = {0.0f, 0.002f, 0.18f, 0.5f, 0.75f, 1.0f, 1.5f, -0.2f, nan};
  cspaceBuffer engine = makeBuffer(3, 1);
  engine.fillFromHost32(src.data(), 36, 0, 0, 3, 1, 3);
  std::vector<float> dst(9, 9.0f);
  writeResult32(region(dst.data(), src.data(), 36, 3, 1, engine));
  // High-dynamic-range samples (and one that is no number) come back as they were.
  const float want[6] = {0.0f, 0.002f, 0.18f, 0.5f, 0.75f, 1.0f};
  for (std::size_t k = 0; k < 6; ++k) EXPECT_NEAR(dst[k], want[k], 2e-4f) << k;
  EXPECT_EQ(dst[6], 1.5f);
  EXPECT_EQ(dst[7], -0.2f);
  EXPECT_TRUE(std::isnan(dst[8]));

  // One-plane images: the single sample of each pixel, likewise.
  const std::vector<float> grey = {100.0f, 0.5f, -3.0f};
  cspaceBuffer one = makeBuffer(3, 1);
  one.fillFromHost32(grey.data(), 12, 0, 0, 3, 1, 1);
  std::vector<float> out(3, 9.0f);
  writeResult32(region(out.data(), grey.data(), 12, 3, 1, one, 1));
  EXPECT_EQ(out[0], 100.0f);
  EXPECT_NEAR(out[1], 0.5f, 2e-4f);
  EXPECT_EQ(out[2], -3.0f);
  one.release();
  engine.release();
}

TEST_F(Blend, NothingIsWrittenWhenCancelledOrWithoutEngineMemory) {
  use(0.0, 0.0);
  cspaceBuffer engine = engineOf(2, 1, std::vector<float>(6, 200.0f));
  const std::vector<std::uint8_t> src(6, 100);
  std::vector<std::uint8_t> dst(6, 7);
  const WriteRegion r = region(dst.data(), src.data(), 6, 2, 1, engine);

  progressEnable();
  host.abortAtPoll(1);  // the writer's own cancel check answers yes
  writeResult8(r);
  EXPECT_EQ(dst, std::vector<std::uint8_t>(6, 7));
  EXPECT_EQ(host.result, userCancelled);
  writeResult8(r);  // the latch stays set for the rest of the run
  EXPECT_EQ(dst, std::vector<std::uint8_t>(6, 7));
  engine.release();

  progressResetAll();
  host.failAllocationAt(host.allocationCount() + 1);
  cspaceBuffer empty;
  empty.create(3, 3, 2, 1);
  ASSERT_EQ(empty.data, nullptr);
  writeResult8(region(dst.data(), src.data(), 6, 2, 1, empty));
  EXPECT_EQ(dst, std::vector<std::uint8_t>(6, 7));
}

}  // namespace
}  // namespace veltrane
