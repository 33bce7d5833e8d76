#include "image/sample_conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "image/cspace_buffer.h"
#include "support/engine_host.h"

namespace veltrane {
namespace {

class SampleConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.install();
    ASSERT_TRUE(buildLUTs());
  }
  void TearDown() override { freeLUTs(); }
  testsupport::EngineHost host;
};

TEST_F(SampleConversionTest, EightAndSixteenBitRoundTrips) {
  EXPECT_EQ(workingTo8(127.49f), 127);
  EXPECT_EQ(workingTo8(127.5f), 128);
  EXPECT_EQ(workingTo8(-4.0f), 0);
  EXPECT_EQ(workingTo8(300.0f), 255);
  EXPECT_EQ(workingTo8(std::numeric_limits<float>::quiet_NaN()), 0);
  for (int s = 0; s <= 255; ++s)
    ASSERT_EQ(workingTo8(workingFrom8(static_cast<std::uint8_t>(s))), s);

  EXPECT_EQ(workingFrom16(32768), 255.0f);
  EXPECT_EQ(workingTo16(255.0f), 32768);
  EXPECT_EQ(workingTo16(1000.0f), 32768);
  for (int s = 0; s <= 32768; ++s)
    ASSERT_EQ(workingTo16(workingFrom16(static_cast<std::uint16_t>(s))), s);
}

TEST_F(SampleConversionTest, ThirtyTwoBitClampsAndRoundTrips) {
  EXPECT_EQ(workingFrom32(1.7f), 255.0f);
  EXPECT_EQ(workingTo32(workingFrom32(1.7f)), decode(255.0f));
  EXPECT_EQ(workingFrom32(-0.25f), 0.0f);
  EXPECT_EQ(workingTo32(-3.0f), 0.0f);
  EXPECT_EQ(workingTo32(400.0f), decode(255.0f));
  for (float x : {0.001f, 0.02f, 0.18f, 0.5f, 0.9f})
    EXPECT_NEAR(workingTo32(workingFrom32(x)), x, 5e-5f) << x;
}

// A 5 x 5 host tile with padded rows (rowBytes in bytes at every depth),
// read from column 1, row 2 into a 3 x 2 buffer.
template <typename Sample, typename Fill, typename Convert>
void checkFill(std::int32_t spp, std::ptrdiff_t rowBytes, Sample (*make)(int), Fill fill,
               Convert convert) {
  const std::ptrdiff_t perRow = rowBytes / static_cast<std::ptrdiff_t>(sizeof(Sample));
  std::vector<Sample> tile(static_cast<std::size_t>(perRow * 5));
  for (std::size_t i = 0; i < tile.size(); ++i) tile[i] = make(static_cast<int>(i));
  cspaceBuffer b;
  b.create(3, 3, 3, 2);
  ASSERT_NE(b.data, nullptr);
  fill(b, tile.data(), rowBytes, spp);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int k = 0; k < 3; ++k) {
        const auto i = (y + 2) * perRow + (x + 1) * spp + (spp == 1 ? 0 : k);
        ASSERT_EQ(b.at(x, y)[k], convert(tile[static_cast<std::size_t>(i)])) << x << y << k;
      }
  b.release();
}

TEST_F(SampleConversionTest, FillsReadTheRequestedRegionAtEveryDepth) {
  checkFill<std::uint8_t>(
      1, 7, [](int i) { return static_cast<std::uint8_t>(i * 7); },
      [](cspaceBuffer& b, auto* s, auto rb, int spp) { b.fillFromHost8(s, rb, 1, 2, 3, 2, spp); },
      workingFrom8);
  checkFill<std::uint16_t>(
      4, 48, [](int i) { return static_cast<std::uint16_t>(i * 317); },
      [](cspaceBuffer& b, auto* s, auto rb, int spp) { b.fillFromHost16(s, rb, 1, 2, 3, 2, spp); },
      workingFrom16);
  checkFill<float>(
      3, 64, [](int i) { return static_cast<float>(i) / 70.0f - 0.1f; },
      [](cspaceBuffer& b, auto* s, auto rb, int spp) { b.fillFromHost32(s, rb, 1, 2, 3, 2, spp); },
      workingFrom32);

  cspaceBuffer b;
  b.create(3, 3, 3, 2);
  std::vector<std::uint8_t> rgb(20);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(3 * i);
  b.fillFromInterleaved8(rgb.data(), 10, 3, 2);
  EXPECT_EQ(b.at(2, 1)[1], static_cast<float>(3 * (10 + 2 * 3 + 1)));
  b.release();
}

}  // namespace
}  // namespace veltrane
