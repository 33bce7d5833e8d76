#include "profile/profiler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "shell/messages.h"
#include "shell/parameters.h"
#include "unit/driver/sim_session.h"

namespace veltrane {
namespace {

using testsupport::MessageCapture;
using testsupport::SimImage;
using testsupport::SimOptions;
using testsupport::SimSession;

// A 32 x 32 block whose samples alternate between base and base + d like a
// checkerboard, so that every neighbouring pair differs by d; rows are
// padded to check that the row stride is honoured.
struct Block {
  std::int32_t planes;
  std::ptrdiff_t stride;
  std::vector<std::uint8_t> samples;

  Block(std::int32_t planeCount, int base, int d)
      : planes(planeCount),
        stride(32 * planeCount + 5),
        samples(static_cast<std::size_t>(stride * 32), 0) {
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        for (int i = 0; i < planes; ++i)
          at(x, y, i) = static_cast<std::uint8_t>(base + d * ((x + y) % 2));
  }
  std::uint8_t& at(int x, int y, int i) {
    return samples[static_cast<std::size_t>(y * stride + x * planes + i)];
  }
  GridSample grid() const { return sampleBlockGrid(samples.data(), stride, planes); }
  double fine() const { return measureBlockNoise(samples.data(), stride, planes); }
};

TEST(BlockMeasures, CheckerboardGivesTheSameMeasureForOneAndThreeChannels) {
  for (const std::int32_t planes : {1, 3}) {
    const Block b(planes, 100, 3);
    EXPECT_EQ(b.grid().noise, 96.0 * 3) << planes;  // 32 pairs of 3 per channel, x 3 / planes
    EXPECT_EQ(b.grid().brightness, 100) << planes;  // grid points all hold the base
    EXPECT_EQ(b.fine(), 5760.0 * 3) << planes;      // 192 pairs per channel, x 10 x (3 div planes)
  }
}

TEST(BlockMeasures, CoarseMeasureLeavesOutClippedSamples) {
  // Channel 0 clipped at the four grid points of column 0: 8 pairs left out
  // of T = 32 x 3 x 3 = 288, and every channel is scaled by 288 / 280:
  // trunc(48 x 288 / 280) = 49 and trunc(64 x 288 / 280) = 65.
  Block b(3, 100, 2);
  for (int y = 0; y < 32; y += 8) b.at(0, y, 0) = 255;
  EXPECT_EQ(b.grid().noise, 49.0 + 65.0 + 65.0);
  // Clipped samples still count in the mean: (12 x 100 + 4 x 255) div 16 = 138.
  EXPECT_EQ(b.grid().brightness, (138 + 100 + 100) / 3);

  // A clipped neighbour drops only its own pair.
  Block n(1, 100, 2);
  n.at(1, 0, 0) = 0;
  n.at(8, 1, 0) = 255;
  // 30 pairs of 2 counted, scaled by T / (T - E) = 32 / 30: exactly 64.
  EXPECT_EQ(n.grid().noise, 64.0 * 3);

  // Every grid sample clipped: noise 0 and brightness 0, whatever the
  // neighbours hold.
  for (const std::int32_t planes : {1, 3}) {
    Block c(planes, 120, 7);
    for (int y = 0; y < 32; y += 8)
      for (int x = 0; x < 32; x += 8)
        for (int i = 0; i < planes; ++i) c.at(x, y, i) = 255;
    EXPECT_EQ(c.grid().noise, 0.0);
    EXPECT_EQ(c.grid().brightness, 0);
  }
}

TEST(BlockMeasures, FineMeasureCountsOnlySamplesFrom2To253) {
  // Column 8 at 1 or 254: its 32 horizontal pairs and 3 vertical pairs are
  // left out, and the rest is scaled up to the full count again.
  for (const int edge : {1, 254}) {
    Block b(1, 100, 2);
    for (int y = 0; y < 32; ++y) b.at(8, y, 0) = static_cast<std::uint8_t>(edge);
    EXPECT_NEAR(b.fine(), 5760.0 * 2, 1e-9) << edge;
  }
  // 2 counts: 64 other horizontal pairs of 2, 32 pairs (7, 8) of 98 or 100,
  // 93 vertical pairs of 2 and 3 of 0; x 10 x 3.
  Block b(1, 100, 2);
  for (int y = 0; y < 32; ++y) b.at(8, y, 0) = 2;
  EXPECT_EQ(b.fine(), (128.0 + 3168.0 + 186.0) * 30.0);

  // Nothing usable at all.
  EXPECT_EQ(Block(3, 255, 0).fine(), 50000.0);
  EXPECT_EQ(Block(1, 0, 1).fine(), 50000.0);
  // A flat usable block measures 0.
  EXPECT_EQ(Block(3, 90, 0).fine(), 0.0);
}

class ProfileResult : public ::testing::Test {
 protected:
  void SetUp() override {
    setActiveDeliverable(halvaneDeliverable());
    setDefaults(p);
    callContext().parameters = &p;
  }
  void TearDown() override { callContext() = CallContext{}; }
  FilterParameters p{};
  MessageCapture messages;
};

TEST_F(ProfileResult, NoiseLevelFormulasAndFloor) {
  EXPECT_DOUBLE_EQ(GetNewNoiseLevel(2.0, filmProfile), 21.0);
  EXPECT_DOUBLE_EQ(GetNewNoiseLevel(2.0, digitalProfile), 55.0);
  EXPECT_DOUBLE_EQ(GetNewNoiseLevel(0.5, digitalProfile), 15.0);  // 2.5 floored, no warning
  EXPECT_DOUBLE_EQ(GetNewNoiseLevel(0.35, filmProfile), 15.0);
  EXPECT_EQ(messages.count(), 0u);

  EXPECT_DOUBLE_EQ(GetNewNoiseLevel(0.3, digitalProfile), 15.0);
  EXPECT_DOUBLE_EQ(GetNewNoiseLevel(0.3, filmProfile), 15.0);
  ASSERT_EQ(messages.count(), 2u);
  EXPECT_EQ(messages.messages()[0].text, std::string(veryLowNoiseMessage) + "-4");  // -4.5
  EXPECT_EQ(messages.messages()[1].text, std::string(veryLowNoiseMessage) + "-9");  // -9.6
  EXPECT_EQ(messages.messages()[1].caption, "Veltrane");
}

TEST_F(ProfileResult, UnknownKindIsReportedPerDeliverableAndTreatedAsDigital) {
  EXPECT_DOUBLE_EQ(GetNewNoiseLevel(2.0, 0.5), 55.0);
  setActiveDeliverable(mirelleDeliverable());
  p.reals[real::protectThreshold] = 7.0;
  p.reals[real::protectFeather] = 8.0;
  applyProfileResult(0.5, 2.0);
  EXPECT_EQ(p.reals[real::overallNoiseLevel], 55.0);
  EXPECT_EQ(p.reals[real::protectThreshold], 7.0);
  EXPECT_EQ(p.reals[real::protectFeather], 8.0);
  ASSERT_EQ(messages.count(), 2u);
  EXPECT_EQ(messages.messages()[0].text, "(Halvane) GetNewNoiseLevel internal error.");
  EXPECT_EQ(messages.messages()[1].text, "(Veltrane) GetNewNoiseLevel internal error.");
}

TEST_F(ProfileResult, ProtectionPairAndResetAllDefaults) {
  p.flags[flag::protectShadows] = 1;
  p.reals[real::highlightsNoiseLevel] = filmProfile;
  applyProfileResult(filmProfile, 3.0);  // 18 x 3 - 15 = 39
  EXPECT_EQ(p.reals[real::overallNoiseLevel], 39.0);
  EXPECT_EQ(p.reals[real::protectThreshold], 255.0);
  EXPECT_EQ(p.reals[real::protectFeather], 0.0);
  EXPECT_EQ(p.flags[flag::protectShadows], 0);

  p.reals[real::highlightsNoiseLevel] = digitalProfile;
  applyProfileResult(digitalProfile, 75.0 / 35.0);  // level 60: 2 x 60 + 45 clamped
  EXPECT_NEAR(p.reals[real::overallNoiseLevel], 60.0, 1e-12);
  EXPECT_EQ(p.reals[real::protectThreshold], 100.0);
  EXPECT_EQ(p.reals[real::protectFeather], 155.0);
  applyProfileResult(digitalProfile, 1.0);  // level 20
  EXPECT_EQ(p.reals[real::protectFeather], 85.0);
  applyProfileResult(digitalProfile, 0.4);  // floored to 15
  EXPECT_EQ(p.reals[real::protectFeather], 75.0);

  // Reset All brings back the profiled levels, but the factory protection.
  p.reals[real::overallNoiseLevel] = 200.0;
  p.reals[real::highlightsNoiseLevel] = 0.7;
  resetAll(p);
  EXPECT_EQ(p.reals[real::overallNoiseLevel], 15.0);
  EXPECT_EQ(p.reals[real::highlightsNoiseLevel], digitalProfile);
  EXPECT_EQ(p.reals[real::protectThreshold], 255.0);
  EXPECT_EQ(p.reals[real::protectFeather], 0.0);
}

// An image of 32 x 32 checkerboard blocks (Block above), one (base, d) per
// block in raster order, in any mode and depth; pixels beyond the blocks
// are flat mid grey.
struct BlockSpec {
  int base;
  int d;
};

SimImage blockImage(std::int32_t width, std::int32_t height, std::int32_t columns,
                    const std::vector<BlockSpec>& blocks, std::int16_t mode = 3,
                    std::int32_t planes = 3, std::int32_t depth = 8) {
  SimImage img{width, height, mode, planes, depth, {}};
  img.pixels.assign(static_cast<std::size_t>(img.rowBytes() * height), 0);
  const std::int32_t rows = static_cast<std::int32_t>(blocks.size()) / columns;
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) {
      int v = 128;
      if (x / 32 < columns && y / 32 < rows) {
        const BlockSpec& b = blocks[static_cast<std::size_t>(y / 32 * columns + x / 32)];
        v = b.base + b.d * ((x + y) % 2);
      }
      for (std::int32_t i = 0; i < planes; ++i) {
        const std::size_t at = static_cast<std::size_t>((std::int64_t{y} * width + x) * planes + i);
        if (depth == 8) {
          img.pixels[at] = static_cast<std::uint8_t>(v);
        } else {
          const auto s = static_cast<std::uint16_t>((v * 32768 + 127) / 255);
          std::memcpy(&img.pixels[at * 2], &s, 2);
        }
      }
    }
  return img;
}

// Two rows of four blocks. Dark half 60, 70, 80; the bright half is five
// blocks at 160 (the median), so c = 3: the two d = 9 blocks are never
// measured again. Pooled are the four lowest values 5760 d / (1 - 0.8 b / 255)
// / 5766, for (60, 1), (80, 1) and two (160, 1): x = 1.6439651921328178.
const std::vector<BlockSpec> handCase = {{60, 1},  {70, 5},  {80, 1},  {160, 9},
                                         {160, 1}, {160, 1}, {160, 1}, {160, 9}};
constexpr double handCaseX = 1.6439651921328178;

// Records every region the plug-in asks the host for, and can make one
// request fail.
struct AdvanceSpy {
  static inline hostapi::AdvanceStateProc original = nullptr;
  static inline std::vector<Rect> reads;
  static inline std::size_t failAt = 0;  // 1-based; 0 = never

  static hostapi::OSErr VELTRANE_HOSTAPI_CDECL advance() {
    const hostapi::VRect& in = filterRecord()->bigDocumentData->inRect32;
    reads.push_back({in.top, in.left, in.bottom, in.right});
    if (reads.size() == failAt) return hostapi::filterBadParameters;
    return original();
  }
  explicit AdvanceSpy(hostapi::FilterRecord& r, std::size_t failing = 0) {
    reads.clear();
    failAt = failing;
    original = r.advanceState;
    r.advanceState = &advance;
  }
};

Rect blockAt(std::int32_t row, std::int32_t column) {
  return {row * 32, column * 32, row * 32 + 32, column * 32 + 32};
}

class Profile : public ::testing::Test {
 protected:
  void SetUp() override { setActiveDeliverable(halvaneDeliverable()); }

  // Profiles img in a fresh session; the parameters are left in `after`.
  void run(SimImage& img, double kind = digitalProfile, SimOptions o = {},
           std::size_t failRead = 0) {
    SimSession s(img, std::move(o));
    AdvanceSpy spy(s.record(), failRead);
    before = s.parameters;
    profileImage(kind);
    after = s.parameters;
    result = s.result;
    stats = s.finish();
  }
  double level() const { return after.reals[real::overallNoiseLevel]; }
  // Everything but highlightsNoiseLevel as it was.
  void expectOnlyHighlightsChanged(double kind) {
    FilterParameters expected = before;
    expected.reals[real::highlightsNoiseLevel] = kind;
    EXPECT_EQ(std::memcmp(&expected, &after, sizeof after), 0);
    EXPECT_EQ(parameterDefaults().reals[real::overallNoiseLevel], 40.0);
    EXPECT_EQ(parameterDefaults().reals[real::highlightsNoiseLevel], 0.2);
  }

  MessageCapture messages;
  FilterParameters before{}, after{};
  std::int16_t result = 0;
  testsupport::SimStatistics stats;
};

TEST_F(Profile, HandWorkedImageGivesItsLevelReadingEachBlockOncePerPass) {
  SimImage img = blockImage(128, 64, 4, handCase);
  run(img);
  EXPECT_EQ(messages.count(), 0u);
  EXPECT_NEAR(level(), 35.0 * handCaseX - 15.0, 1e-9);
  EXPECT_EQ(after.reals[real::highlightsNoiseLevel], digitalProfile);
  EXPECT_EQ(after.reals[real::protectThreshold], 100.0);
  EXPECT_NEAR(after.reals[real::protectFeather], 2.0 * level() + 45.0, 1e-12);
  EXPECT_EQ(parameterDefaults().reals[real::overallNoiseLevel], level());
  EXPECT_EQ(stats.liveBuffers, 0);

  // Coarse pass column by column, top to bottom; then the three smoothest
  // blocks of each half, once each.
  ASSERT_EQ(AdvanceSpy::reads.size(), 8u + 6u);
  for (std::int32_t i = 0; i < 8; ++i)
    EXPECT_EQ(AdvanceSpy::reads[static_cast<std::size_t>(i)], blockAt(i % 2, i / 2));
  std::vector<Rect> fine(AdvanceSpy::reads.begin() + 8, AdvanceSpy::reads.end());
  for (const Rect& r :
       {blockAt(0, 0), blockAt(0, 1), blockAt(0, 2), blockAt(1, 0), blockAt(1, 1), blockAt(1, 2)})
    EXPECT_EQ(std::count(fine.begin(), fine.end(), r), 1);

  // Film: no brightness compensation, so the five d = 1 blocks pool to
  // x = 5760 / 5766 and the level is floored.
  SimImage again = blockImage(128, 64, 4, handCase);
  run(again, filmProfile);
  EXPECT_EQ(level(), 15.0);
  EXPECT_EQ(after.reals[real::protectThreshold], 255.0);
  EXPECT_EQ(after.reals[real::protectFeather], 0.0);
  EXPECT_EQ(parameterDefaults().reals[real::highlightsNoiseLevel], filmProfile);
}

TEST_F(Profile, ModeFactorsAndSixteenBitImages) {
  struct Case {
    std::int16_t mode;
    std::int32_t planes, depth;
    double factor;
  };
  for (const Case c : {Case{3, 3, 8, 1.0}, Case{11, 3, 16, 1.0}, Case{1, 1, 8, 1.45f},
                       Case{10, 1, 16, 1.45f}, Case{9, 3, 8, 2.0}, Case{12, 3, 16, 2.0}}) {
    SimImage img = blockImage(128, 64, 4, handCase, c.mode, c.planes, c.depth);
    run(img);
    EXPECT_NEAR(level(), 35.0 * handCaseX * c.factor - 15.0, 1e-9) << "mode " << c.mode;
    EXPECT_EQ(stats.liveBuffers, 0);
  }
  EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Profile, MoreNoiseGivesAHigherLevel) {
  double previous = 15.0;  // above the floor from the start
  for (const float noise : {0.02f, 0.04f, 0.08f, 0.16f}) {
    SimImage img = testsupport::makeRgb8(256, 192, 3, noise);
    run(img);
    EXPECT_GT(level(), previous) << noise;
    previous = level();
  }
}

TEST_F(Profile, FlatNarrowAndOneBrightnessImagesEndWithTheirMessages) {
  SimImage flat = blockImage(96, 64, 1, {});
  run(flat);
  SimImage narrow = blockImage(31, 200, 1, {{100, 3}});
  run(narrow);
  SimImage single =
      blockImage(96, 64, 3, {{100, 3}, {100, 2}, {100, 4}, {100, 1}, {100, 3}, {100, 1}});
  run(single, filmProfile);
  expectOnlyHighlightsChanged(filmProfile);
  ASSERT_EQ(messages.count(), 3u);
  EXPECT_EQ(messages.messages()[0].text, noMidtonesMessage);
  EXPECT_EQ(messages.messages()[1].text, noMidtonesMessage);
  EXPECT_EQ(messages.messages()[2].text, "Profiling error.  Tonal range missing: 0");
}

TEST_F(Profile, GridStartsAtTheImageCornerAndStaysInsideTheImage) {
  // The blocks sit in the top-left corner; the selection (bottom right) is
  // flat and has the blocks' size.
  SimImage img = blockImage(192, 128, 4, handCase);
  SimOptions o;
  o.filterRect = hostapi::VRect{64, 64, 128, 192};
  run(img, digitalProfile, o);
  EXPECT_NEAR(level(), 35.0 * handCaseX - 15.0, 1e-9);
  for (const Rect& r : AdvanceSpy::reads) EXPECT_TRUE(r.bottom <= 64 && r.right <= 128);

  // A host whose filter rectangle is larger than the image: only the blocks
  // inside the image are read.
  SimImage small = blockImage(128, 64, 4, handCase);
  SimSession s(small);
  s.record().bigDocumentData->filterRect32 = hostapi::VRect{0, 0, 200, 300};
  profileImage(digitalProfile);
  EXPECT_EQ(messages.count(), 0u);
  EXPECT_NEAR(s.parameters.reals[real::overallNoiseLevel], 35.0 * handCaseX - 15.0, 1e-9);
}

TEST_F(Profile, FailedReadsFollowTheFailureTable) {
  // Coarse pass: the proxy reports, the profiler stops silently.
  SimImage img = blockImage(128, 64, 4, handCase);
  run(img, filmProfile, {}, 3);
  expectOnlyHighlightsChanged(filmProfile);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, std::string(proxyInitErrorMessage) + "-30100");
  EXPECT_EQ(AdvanceSpy::reads.size(), 3u);

  // Fine pass: the block keeps its coarse measure (here far below the fine
  // ones), and the profile is applied.
  messages.clear();
  run(img, digitalProfile, {}, 9);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(AdvanceSpy::reads.size(), 14u);
  EXPECT_GE(level(), 15.0);
  EXPECT_LT(level(), 35.0 * handCaseX - 15.0);
  EXPECT_EQ(after.reals[real::protectThreshold], 100.0);
}

TEST_F(Profile, OutOfMemoryInTheSixteenBitProxyLeaksNothing) {
  SimImage img = blockImage(128, 64, 4, handCase, 11, 3, 16);
  int tables = 0;
  {
    SimSession probe(img);
    tables = probe.finish().bufferAllocations;
  }
  // The first coarse block: only the proxy's message.
  SimOptions o;
  o.failBufferAllocationAt = tables + 1;
  run(img, digitalProfile, o);
  expectOnlyHighlightsChanged(digitalProfile);
  EXPECT_EQ(stats.liveBuffers, 0);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, proxyUint16AllocationMessage);

  // The first fine block: the profile still completes.
  messages.clear();
  o.failBufferAllocationAt = tables + 8 + 1;
  run(img, digitalProfile, o);
  EXPECT_EQ(stats.liveBuffers, 0);
  EXPECT_EQ(messages.count(), 1u);
  EXPECT_EQ(after.reals[real::protectThreshold], 100.0);
  EXPECT_EQ(result, 0);
}

// A selected area: every whole block in it is read once and measured in
// full, and the lowest four pool as in a profile. Over the hand-worked image
// those are the four the profile pools.
TEST_F(Profile, AreaMeasuresItsWholeBlocksOrChangesNothing) {
  SimImage img = blockImage(128, 64, 4, handCase);
  const auto measure = [&](const Rect& area, bool expected) {
    SimSession s(img);
    AdvanceSpy spy(s.record());
    before = s.parameters;
    EXPECT_EQ(profileArea(digitalProfile, area), expected);
    after = s.parameters;
    stats = s.finish();
    EXPECT_EQ(stats.liveBuffers, 0);
  };
  measure({0, 0, 64, 128}, true);
  EXPECT_EQ(messages.count(), 0u);
  EXPECT_NEAR(level(), 35.0 * handCaseX - 15.0, 1e-9);
  EXPECT_EQ(after.reals[real::protectThreshold], 100.0);
  EXPECT_EQ(parameterDefaults().reals[real::overallNoiseLevel], level());
  EXPECT_EQ(AdvanceSpy::reads.size(), 8u);

  // One block laid from the area's corner (40, 32), across two blocks of
  // the image that hold the same noise.
  measure({32, 40, 64, 80}, true);
  EXPECT_NEAR(level(), 35.0 * (5760.0 / (1.0 - 0.8 * 160 / 255) / 5766.0) - 15.0, 1e-9);
  EXPECT_EQ(AdvanceSpy::reads, (std::vector<Rect>{{32, 40, 64, 72}}));

  measure({0, 0, 64, 31}, false);  // no whole block
  SimImage white = blockImage(64, 64, 2, {{255, 0}, {255, 0}, {255, 0}, {255, 0}});
  img = white;
  measure({0, 0, 64, 64}, false);  // clipped
  EXPECT_EQ(std::memcmp(&before, &after, sizeof after), 0);
  ASSERT_EQ(messages.count(), 2u);
  EXPECT_EQ(messages.messages()[0].text, areaTooSmallMessage);
  EXPECT_EQ(messages.messages()[1].text, areaClippedMessage);
}

}  // namespace
}  // namespace veltrane
