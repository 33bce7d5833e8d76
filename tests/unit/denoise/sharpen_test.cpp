#include "denoise/sharpen.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/engine_fixture.h"

namespace veltrane {
namespace {

class Sharpen : public testsupport::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    denoised = makeBuffer(W, Hh);
    image = makeBuffer(W, Hh);
    weights = makeBuffer(W, Hh);
    setWeights(1.0f);
  }
  void TearDown() override {
    denoised.release();
    image.release();
    weights.release();
    EngineTest::TearDown();
  }
  void setWeights(float e) {
    for (std::int32_t y = 0; y < Hh; ++y)
      for (std::int32_t x = 0; x < W; ++x) weights.at(x, y)[0] = e;
  }
  void prepare() {
    denoised.mirrorMargins();
    image.copyFrom(denoised);
  }

  static constexpr std::int32_t W = 12;
  static constexpr std::int32_t Hh = 10;
  cspaceBuffer denoised, image, weights;
};

TEST_F(Sharpen, ZeroAmountsLeaveTheImageAlone) {
  testsupport::fillScene(denoised, 3, 10.0f);
  prepare();
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) image.at(x, y)[0] = -1.0f;
  progressEnable();
  sharpenRows(denoised, image, weights, 0.0f, 0.0f, false, 0, Hh, -1);
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) EXPECT_EQ(image.at(x, y)[0], -1.0f);
  EXPECT_EQ(host.pollCount(), 0);
}

TEST_F(Sharpen, LuminanceOfABrightCentreIsPushedAway) {
  // Lab: channel 0 is luminance. A 110 pixel on a flat 100 field with
  // weight 1 and SB 0.1: Y' = 110 + (110 - 100) * 0.1 * 11.6.
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) std::fill_n(denoised.at(x, y), 3, 100.0f);
  denoised.at(5, 5)[0] = 110.0f;
  prepare();
  sharpenRows(denoised, image, weights, 0.1f, 0.0f, true, 0, Hh, -1);
  EXPECT_NEAR(image.at(5, 5)[0], 121.6f, 1e-3f);
  EXPECT_EQ(image.at(5, 5)[1], 100.0f);  // chroma amount 0
  // Its neighbours see a brighter blur and are pushed down.
  EXPECT_LT(image.at(4, 5)[0], 100.0f);
  EXPECT_EQ(image.at(0, 0)[0], 100.0f);
}

TEST_F(Sharpen, UniformGreyAndUnweightedPixelsKeepTheirValues) {
  testsupport::fillScene(denoised, 5, 15.0f);
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) {
      float* p = denoised.at(x, y);
      p[1] = p[2] = p[0];
    }
  prepare();
  sharpenRows(denoised, image, weights, 0.05f, 0.05f, false, 0, Hh, -1);
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) {
      const float* p = image.at(x, y);
      EXPECT_NEAR(p[0], p[1], 1e-3f);
      EXPECT_NEAR(p[0], p[2], 1e-3f);
    }

  // Weight 0 or negative: only the rounding of the colour round trip.
  testsupport::fillScene(denoised, 6, 15.0f);
  prepare();
  setWeights(-0.5f);
  sharpenRows(denoised, image, weights, 0.5f, 0.5f, false, 0, Hh, -1);
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(image.at(x, y)[c], denoised.at(x, y)[c], 1e-3f);

  // A uniform colour area is its own blur.
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) {
      float* p = denoised.at(x, y);
      p[0] = 30.0f;
      p[1] = 140.0f;
      p[2] = 200.0f;
    }
  prepare();
  setWeights(1.0f);
  sharpenRows(denoised, image, weights, 2.0f, 2.0f, false, 0, Hh, -1);
  EXPECT_NEAR(image.at(6, 4)[0], 30.0f, 1e-3f);
  EXPECT_NEAR(image.at(6, 4)[1], 140.0f, 1e-3f);
  EXPECT_NEAR(image.at(6, 4)[2], 200.0f, 1e-3f);
}

TEST(SharpenProgress, PollsAfterRowsFiftyModuloHundredOnTheHostThreadOnly) {
  testsupport::EngineHost host;
  host.install();
  progressResetAll();
  progressEnable();
  cspaceBuffer d, img, w;
  d.create(3, 3, 8, 170);
  img.create(3, 3, 8, 170);
  w.create(3, 3, 8, 170);
  for (std::int32_t y = 0; y < 170; ++y)
    for (std::int32_t x = 0; x < 8; ++x) {
      std::fill_n(d.at(x, y), 3, 50.0f);
      w.at(x, y)[0] = 1.0f;
    }
  d.mirrorMargins();
  img.copyFrom(d);

  sharpenRows(d, img, w, 0.1f, 0.1f, false, 40, 160, -1);
  EXPECT_EQ(host.pollCount(), 2);  // after rows 50 and 150
  sharpenRows(d, img, w, 0.1f, 0.1f, false, 0, 50, -1);
  EXPECT_EQ(host.pollCount(), 2);
  sharpenRows(d, img, w, 0.1f, 0.1f, false, 40, 160, 3);  // a worker never polls
  EXPECT_EQ(host.pollCount(), 2);

  // A cancel on the first poll stops the band after row 50.
  host.abortAtPoll(3);
  for (std::int32_t x = 0; x < 8; ++x) img.at(x, 51)[0] = -1.0f;
  sharpenRows(d, img, w, 0.1f, 0.1f, false, 0, 170, -1);
  EXPECT_TRUE(progressCancelled());
  EXPECT_EQ(host.result, -128);
  EXPECT_EQ(img.at(0, 51)[0], -1.0f);
  const int polls = host.pollCount();
  sharpenRows(d, img, w, 0.1f, 0.1f, false, 0, 170, -1);
  EXPECT_EQ(host.pollCount(), polls);  // the latch answers without asking the host

  d.release();
  img.release();
  w.release();
  progressResetAll();
}

}  // namespace
}  // namespace veltrane
