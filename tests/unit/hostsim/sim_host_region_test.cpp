// Advance-state driven in-process through the host's record: what a request
// delivers, and which requests are refused.
#include <gtest/gtest.h>

#include <limits>

#include "fake_plugin.h"

namespace veltrane::host::testing {
namespace {

using namespace hostapi;

std::uint8_t sampleAt(const FilterRecord& r, std::int32_t row, std::int32_t column) {
  return static_cast<const std::uint8_t*>(r.inData)[std::int64_t{row} * r.inRowBytes + column];
}

// A 4 x 3 grey image whose sample at (x, y) is 10 * y + x + 1.
SimImage smallGrey() {
  SimImage image = makeImage(4, 3, 1, 8);
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 4; ++x) image.pixels[static_cast<std::size_t>(y * 4 + x)] = static_cast<std::uint8_t>(10 * y + x + 1);
  return image;
}

TEST(RegionTest, InputOutsideTheImageFollowsThePaddingRule) {
  SimImage image = smallGrey();
  SimHost host(image);
  FilterRecord& r = host.record();
  const VRect around{-1, -1, 4, 5};  // one pixel beyond every edge
  requestRegions(r, around, {}, {}, false);

  r.inputPadding = paddingErrorOnBounds;
  EXPECT_EQ(r.advanceState(), filterBadParameters);
  EXPECT_EQ(field(r.inData), nullptr);

  r.inputPadding = paddingEdgeReplication;
  ASSERT_EQ(r.advanceState(), 0);
  EXPECT_EQ(sampleAt(r, 0, 0), 1);    // corner replicated
  EXPECT_EQ(sampleAt(r, 0, 5), 4);
  EXPECT_EQ(sampleAt(r, 2, 0), 11);   // left edge of row 1
  EXPECT_EQ(sampleAt(r, 4, 3), 23);   // bottom edge below (x 2, y 2)
  EXPECT_EQ(sampleAt(r, 2, 2), 12);   // inside

  r.inputPadding = 77;
  ASSERT_EQ(r.advanceState(), 0);
  EXPECT_EQ(sampleAt(r, 0, 3), 77);
  EXPECT_EQ(sampleAt(r, 2, 5), 77);
  EXPECT_EQ(sampleAt(r, 3, 4), 24);

  r.inputPadding = paddingNone;
  ASSERT_EQ(r.advanceState(), 0);
  EXPECT_EQ(sampleAt(r, 4, 4), 0);
  EXPECT_EQ(sampleAt(r, 1, 1), 1);

  r.inputPadding = 256;
  EXPECT_EQ(r.advanceState(), filterBadParameters);
}

TEST(RegionTest, RefusedRequestsDeliverNothing) {
  SimImage image = smallGrey();
  SimOptions options;
  options.mask.assign(12, 255);
  SimHost host(image, options);
  FilterRecord& r = host.record();

  requestRegions(r, {}, {0, 0, 4, 4}, {}, false);  // output below the image
  EXPECT_EQ(r.advanceState(), filterBadParameters);
  EXPECT_EQ(field(r.outData), nullptr);

  requestRegions(r, {0, 0, 3, 4}, {0, 0, 3, 4}, {}, false);
  r.inHiPlane = 1;  // a grey image has one plane
  EXPECT_EQ(r.advanceState(), filterBadParameters);

  requestRegions(r, {0, 0, 3, 4}, {0, 0, 3, 4}, {-1, 0, 3, 4}, false);
  r.inputPadding = paddingEdgeReplication;  // the mask still refuses out-of-bounds reads
  EXPECT_EQ(r.advanceState(), filterBadParameters);
  EXPECT_EQ(field(r.inData), nullptr);

  requestRegions(r, {}, {}, {}, false);
  ASSERT_EQ(r.advanceState(), 0);
  EXPECT_EQ(field(r.inData), nullptr);
  EXPECT_EQ(field(r.outData), nullptr);
  EXPECT_EQ(field(r.maskData), nullptr);
}

TEST(RegionTest, PlaneRangeRowBytesAndSampling) {
  SimImage image = makeImage(8, 4, 3, 16);
  SimHost host(image);
  FilterRecord& r = host.record();
  requestRegions(r, {1, 2, 3, 7}, {}, {}, false);
  r.inLoPlane = r.inHiPlane = 2;
  ASSERT_EQ(r.advanceState(), 0);
  ASSERT_GE(r.inRowBytes, 5 * 2);
  EXPECT_EQ(r.inRowBytes % 2, 0);
  const auto sample = [&](std::int32_t x, std::int32_t y, std::int32_t p) {
    std::uint16_t v;
    std::memcpy(&v, &image.pixels[static_cast<std::size_t>((y * 8 + x) * 6 + p * 2)], 2);
    return v;
  };
  const auto* in = static_cast<const std::uint8_t*>(r.inData);
  std::uint16_t v;
  std::memcpy(&v, in + r.inRowBytes + 4 * 2, 2);
  EXPECT_EQ(v, sample(6, 2, 2));

  // Every second pixel: a 4 x 3 rectangle gives 2 x 2 samples.
  requestRegions(r, {0, 0, 3, 4}, {}, {}, false);
  r.inputRate = 2 * fixedOne;
  ASSERT_EQ(r.advanceState(), 0);
  in = static_cast<const std::uint8_t*>(r.inData);
  std::memcpy(&v, in + r.inRowBytes + 3 * 2, 2);  // second row, second pixel (3 planes of 2 bytes)
  EXPECT_EQ(v, sample(2, 2, 0));
}

TEST(RegionTest, BigDocumentCoordinatesAndClampedSmallFields) {
  SimImage image = makeImage(40000, 2, 1, 8);
  SimHost host(image);
  FilterRecord& r = host.record();
  EXPECT_EQ(r.imageSize.h, 32767);
  EXPECT_EQ(r.filterRect.right, 32767);
  ASSERT_NE(field(r.bigDocumentData), nullptr);
  EXPECT_EQ(r.bigDocumentData->imageSize32.h, 40000);
  EXPECT_EQ(r.bigDocumentData->filterRect32.right, 40000);

  requestRegions(r, {1, 39990, 2, 40000}, {1, 39990, 2, 40000}, {}, true);
  ASSERT_EQ(r.advanceState(), 0);
  EXPECT_EQ(sampleAt(r, 0, 9), image.pixels[40000 + 39999]);
  static_cast<std::uint8_t*>(r.outData)[9] = 0xAB;
  requestRegions(r, {}, {}, {}, true);
  ASSERT_EQ(r.advanceState(), 0);
  EXPECT_EQ(image.pixels[40000 + 39999], 0xAB);

  SimOptions small;
  small.bigDocument = false;
  small.maxSpace = std::int64_t{5} << 30;
  SimHost old(image, small);
  EXPECT_EQ(field(old.record().bigDocumentData), nullptr);
  EXPECT_EQ(old.record().maxSpace, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(old.record().maxSpace64, std::int64_t{5} << 30);
  EXPECT_EQ(old.record().bufferProcs->spaceProc(), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(old.record().bufferProcs->spaceProc64(), std::int64_t{5} << 30);
}

TEST(RegionTest, OutputIsKeptWhenTheHostGoesAway) {
  SimImage image = smallGrey();
  {
    SimHost host(image);
    FilterRecord& r = host.record();
    requestRegions(r, {}, {0, 0, 1, 1}, {}, false);
    ASSERT_EQ(r.advanceState(), 0);
    *static_cast<std::uint8_t*>(r.outData) = 99;
  }
  EXPECT_EQ(image.pixels[0], 99);
}

}  // namespace
}  // namespace veltrane::host::testing
