#include "kernels/directional_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>

#include "kernels/neighbourhoods.h"
#include "support/engine_fixture.h"

namespace veltrane {
namespace {

using testsupport::EngineTest;

TEST(Neighbourhoods, PatternsAreTwentyDistinctWindowPixelsAndHeadsMatchDecisionSets) {
  for (std::size_t k = 0; k < neighbourhoodPatterns.size(); ++k) {
    std::set<std::pair<int, int>> seen;
    for (const Offset& o : neighbourhoodPatterns[k]) {
      EXPECT_TRUE(o.dx >= -3 && o.dx <= 3 && o.dy >= -3 && o.dy <= 3) << k;
      EXPECT_FALSE(o.dx == 0 && o.dy == 0) << k;
      seen.insert({o.dx, o.dy});
    }
    EXPECT_EQ(seen.size(), 20u) << "direction " << k + 1;
    // Every decision set is point-symmetric about the pixel.
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(decisionSets[k][i].dx, -decisionSets[k][i + 3].dx) << k;
      EXPECT_EQ(decisionSets[k][i].dy, -decisionSets[k][i + 3].dy) << k;
    }
  }
  // For the four main directions the list head is the decision set.
  for (std::size_t k = 0; k < 4; ++k) {
    std::set<std::pair<int, int>> head, decision;
    for (std::size_t i = 0; i < 6; ++i) {
      head.insert({neighbourhoodPatterns[k][i].dx, neighbourhoodPatterns[k][i].dy});
      decision.insert({decisionSets[k][i].dx, decisionSets[k][i].dy});
    }
    EXPECT_EQ(head, decision) << "direction " << k + 1;
  }
}

TEST(Neighbourhoods, TournamentPicksASmallestSumAndTheHighestNumberOnTies) {
  const float flat[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(chooseDirection(flat), 8);
  const float one[8] = {5, 4, 3, 0.5f, 9, 9, 9, 9};
  EXPECT_EQ(chooseDirection(one), 4);
  const float tie35[8] = {5, 4, 1, 2, 1, 7, 9, 9};
  EXPECT_EQ(chooseDirection(tie35), 5);
  const float first[8] = {0, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(chooseDirection(first), 1);
}

class DirectionalFilter : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    image = makeBuffer(W, Hh);
    copy = makeBuffer(W, Hh);
    weights = makeBuffer(W, Hh);
  }
  void TearDown() override {
    image.release();
    copy.release();
    weights.release();
    EngineTest::TearDown();
  }
  void fill(float v) {
    for (std::int32_t y = 0; y < Hh; ++y)
      for (std::int32_t x = 0; x < W; ++x) std::fill_n(image.at(x, y), 3, v);
  }
  void fillScenePixels() { testsupport::fillScene(image, 7, 20.0f); }
  void prepare() {
    image.mirrorMargins();
    copy.copyFrom(image);
  }

  static constexpr std::int32_t W = 16;
  static constexpr std::int32_t Hh = 12;
  cspaceBuffer image, copy, weights;
};

TEST_F(DirectionalFilter, FlatAreaKeepsItsValueAndNearlyFullDetailWeight) {
  fill(100.0f);
  prepare();
  directionalDenoiseRows(image, copy, &weights, 40.0f, true, 1.0f, 0.8f, 0, Hh);
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) {
      EXPECT_FLOAT_EQ(copy.at(x, y)[0], 100.0f);
      EXPECT_FLOAT_EQ(weights.at(x, y)[0], 20.0f / 21.0f);
    }

  smoothAreaDenoiseRows(image, copy, weights, 40.0f, true, 0.8f, 0, Hh);
  EXPECT_FLOAT_EQ(copy.at(5, 5)[1], 100.0f);
  EXPECT_FLOAT_EQ(weights.at(5, 5)[0], 72.1f / 73.0f);
}

TEST_F(DirectionalFilter, IsolatedBrightPixelIsKept) {
  fill(0.0f);
  std::fill_n(image.at(7, 6), 3, 255.0f);
  prepare();
  directionalDenoiseRows(image, copy, &weights, 90.0f, true, 1.0f, 0.8f, 0, Hh);
  EXPECT_EQ(copy.at(7, 6)[0], 255.0f);
  EXPECT_EQ(weights.at(7, 6)[0], 0.0f);

  smoothAreaDenoiseRows(image, copy, weights, 90.0f, true, 0.8f, 0, Hh);
  EXPECT_EQ(copy.at(7, 6)[2], 255.0f);
  EXPECT_FLOAT_EQ(weights.at(7, 6)[0], 0.1f);
}

// One neighbour above the pixel differs by 10 per channel (distance 30);
// every other window pixel equals the pixel. The vertical direction then has
// the only non-zero decision sum, the tournament picks direction 8, whose
// pattern holds that neighbour with weight 1 - 30/40.
TEST_F(DirectionalFilter, HandWorkedNeighbourWeighting) {
  fill(100.0f);
  std::fill_n(image.at(8, 5), 3, 110.0f);
  prepare();
  for (std::int32_t x = 0; x < W; ++x) weights.at(x, 5)[0] = -7.0f;
  directionalDenoiseRows(image, copy, &weights, 40.0f, false, 1.0f, 0.0f, 6, 7);
  const float S = 19.25f;
  const float mean = (19.0f * 100.0f + 0.25f * 110.0f) / S;
  const float f = 1.0f - 1.0f / (S + 1.0f);
  EXPECT_NEAR(copy.at(8, 6)[0], 100.0f * (1.0f - f) + f * mean, 1e-4f);
  EXPECT_NEAR(weights.at(8, 6)[0], f, 1e-6f);
  // Rows outside the band are not written.
  EXPECT_EQ(copy.at(8, 5)[0], 110.0f);
  EXPECT_EQ(weights.at(8, 5)[0], -7.0f);
}

TEST_F(DirectionalFilter, StepEdgeIsNotCrossedAndStrengthZeroChangesNothing) {
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) std::fill_n(image.at(x, y), 3, x < 8 ? 0.0f : 200.0f);
  prepare();
  directionalDenoiseRows(image, copy, &weights, 60.0f, false, 1.0f, 0.5f, 0, Hh);
  for (std::int32_t y = 0; y < Hh; ++y) {
    EXPECT_EQ(copy.at(7, y)[0], 0.0f);
    EXPECT_EQ(copy.at(8, y)[0], 200.0f);
  }

  fillScenePixels();
  prepare();
  directionalDenoiseRows(image, copy, &weights, 60.0f, true, 0.0f, 0.5f, 0, Hh);
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) {
      EXPECT_EQ(copy.at(x, y)[1], image.at(x, y)[1]);
      EXPECT_EQ(weights.at(x, y)[0], 0.0f);
    }
}

TEST_F(DirectionalFilter, WithoutAWeightBufferTheResultIsTheSame) {
  fillScenePixels();
  prepare();
  directionalDenoiseRows(image, copy, &weights, 50.0f, true, 1.0f, 0.8f, 0, Hh);
  const auto withWeights = testsupport::innerPixels(copy);
  const auto weightsBefore = testsupport::innerPixels(weights);
  copy.copyFrom(image);
  directionalDenoiseRows(image, copy, nullptr, 50.0f, true, 1.0f, 0.8f, 0, Hh);
  EXPECT_TRUE(testsupport::bitIdentical(testsupport::innerPixels(copy), withWeights));
  EXPECT_TRUE(testsupport::bitIdentical(testsupport::innerPixels(weights), weightsBefore));
}

TEST_F(DirectionalFilter, GreyStaysGreyAndChannelsDoNotMix) {
  fillScenePixels();
  // Grey version: all channels equal to channel 0.
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) image.at(x, y)[1] = image.at(x, y)[2] = image.at(x, y)[0];
  prepare();
  for (bool smooth : {false, true}) {
    if (smooth)
      smoothAreaDenoiseRows(image, copy, weights, 50.0f, true, 0.8f, 0, Hh);
    else
      directionalDenoiseRows(image, copy, &weights, 50.0f, true, 1.0f, 0.8f, 0, Hh);
    for (std::int32_t y = 0; y < Hh; ++y)
      for (std::int32_t x = 0; x < W; ++x) {
        EXPECT_EQ(copy.at(x, y)[0], copy.at(x, y)[1]);
        EXPECT_EQ(copy.at(x, y)[0], copy.at(x, y)[2]);
      }
  }

  // Swapping channels 0 and 2 of the input swaps them in the output.
  fillScenePixels();
  prepare();
  directionalDenoiseRows(image, copy, &weights, 50.0f, true, 1.0f, 0.8f, 0, Hh);
  const auto before = testsupport::innerPixels(copy);
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x) std::swap(image.at(x, y)[0], image.at(x, y)[2]);
  prepare();
  directionalDenoiseRows(image, copy, &weights, 50.0f, true, 1.0f, 0.8f, 0, Hh);
  const auto after = testsupport::innerPixels(copy);
  for (std::size_t i = 0; i < before.size(); i += 3) {
    EXPECT_NEAR(before[i], after[i + 2], 1e-3f);
    EXPECT_NEAR(before[i + 1], after[i + 1], 1e-3f);
  }
}

TEST_F(DirectionalFilter, DefaultVariantStaysWithinItsNeighbourhood) {
  fillScenePixels();
  prepare();
  directionalDenoiseRows(image, copy, &weights, 80.0f, true, 1.0f, 0.8f, 0, Hh);
  for (std::int32_t y = 0; y < Hh; ++y)
    for (std::int32_t x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) {
        float lo = 1e9f, hi = -1e9f;
        for (int dy = -3; dy <= 3; ++dy)
          for (int dx = -3; dx <= 3; ++dx) {
            lo = std::min(lo, image.at(x + dx, y + dy)[c]);
            hi = std::max(hi, image.at(x + dx, y + dy)[c]);
          }
        EXPECT_GE(copy.at(x, y)[c], lo - 1e-3f);
        EXPECT_LE(copy.at(x, y)[c], hi + 1e-3f);
        EXPECT_GE(weights.at(x, y)[0], 0.0f);
        EXPECT_LE(weights.at(x, y)[0], 1.0f);
      }
}

}  // namespace
}  // namespace veltrane
