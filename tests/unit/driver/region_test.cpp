#include "image/region.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "sim_session.h"

namespace veltrane {
namespace {

using testsupport::makeImage;
using testsupport::makeRgb8;
using testsupport::MessageCapture;
using testsupport::SimImage;
using testsupport::SimOptions;
using testsupport::SimSession;

class RegionAccess : public ::testing::Test {
 protected:
  void SetUp() override { progressResetAll(); }
  MessageCapture messages;
};

TEST_F(RegionAccess, DeclaredBigDocumentCoordinatesUseThe32BitFields) {
  SimImage img = makeRgb8(60, 50);
  SimOptions o;
  o.filterRect = hostapi::VRect{5, 6, 45, 56};
  SimSession s(img, o);
  ASSERT_TRUE(usingBigDocument());
  EXPECT_EQ(getFilterRect(), (Rect{5, 6, 45, 56}));

  const hostapi::Rect16 before = s.record().inRect;
  ASSERT_TRUE(setInRect({1, 2, 3, 4}));
  EXPECT_EQ(getInRect(), (Rect{1, 2, 3, 4}));
  EXPECT_EQ(s.record().bigDocumentData->inRect32.right, 4);
  EXPECT_EQ(s.record().inRect.right, before.right);

  // Beyond the 16-bit range there is nothing to refuse.
  ASSERT_TRUE(setOutRect({0, 0, 40000, 70000}));
  EXPECT_EQ(s.record().bigDocumentData->outRect32.right, 70000);
}

TEST_F(RegionAccess, Without32BitCoordinatesRectanglesAreRangeCheckedNotTruncated) {
  SimImage img = makeRgb8(60, 50);
  SimOptions o;
  o.filterRect = hostapi::VRect{5, 6, 45, 56};
  // The host offers big-document data, but the plug-in has not declared it.
  SimSession s(img, o, false);
  ASSERT_FALSE(usingBigDocument());
  EXPECT_EQ(getFilterRect(), (Rect{5, 6, 45, 56}));

  ASSERT_TRUE(setMaskRect({-3, 0, 32767, 10}));
  EXPECT_EQ(s.record().maskRect.top, -3);
  EXPECT_EQ(s.record().maskRect.bottom, 32767);

  ASSERT_TRUE(setInRect({1, 2, 3, 4}));
  EXPECT_FALSE(setInRect({0, 0, 32768, 10}));
  EXPECT_EQ(getInRect(), (Rect{1, 2, 3, 4}));

  // Such a region never reaches the host.
  const int calls = s.host().statistics().advanceStateCalls;
  EXPECT_EQ(requestRegion({0, 0, 40000, 10}), badParameters);
  EXPECT_EQ(s.host().statistics().advanceStateCalls, calls);
  EXPECT_EQ(s.result, badParameters);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, "(Veltrane) Advance state error:-30100");
  EXPECT_EQ(messages.messages()[0].caption, "Veltrane");
}

TEST_F(RegionAccess, RequestDeliversPixelsAndMaskOfTheRectangle) {
  SimImage img = makeRgb8(40, 30);
  SimOptions o;
  o.mask.resize(40 * 30);
  for (std::size_t i = 0; i < o.mask.size(); ++i) o.mask[i] = static_cast<std::uint8_t>(i * 7);
  const std::vector<std::uint8_t> mask = o.mask;
  SimSession s(img, o);
  s.record().inputPadding = hostapi::paddingEdgeReplication;

  ASSERT_EQ(requestRegion({4, 5, 14, 25}), noErr);
  EXPECT_EQ(s.record().inputPadding, hostapi::paddingEdgeReplication);
  EXPECT_EQ(s.record().inHiPlane, 2);
  EXPECT_EQ(s.record().outHiPlane, 2);
  ASSERT_TRUE(haveMask());
  const auto* in = static_cast<const std::uint8_t*>(inData());
  ASSERT_NE(in, nullptr);
  ASSERT_NE(outData(), nullptr);
  ASSERT_NE(maskData(), nullptr);
  EXPECT_GE(outRowBytes(), 60);
  for (std::int32_t y = 0; y < 10; ++y)
    for (std::int32_t x = 0; x < 20; ++x) {
      for (std::int32_t p = 0; p < 3; ++p)
        ASSERT_EQ(in[y * inRowBytes() + x * 3 + p], testsupport::sampleAt(img, 5 + x, 4 + y, p));
      ASSERT_EQ(maskData()[y * maskRowBytes() + x],
                mask[static_cast<std::size_t>((4 + y) * 40 + 5 + x)]);
    }

  // A read cut at the image's left edge asks the host to refuse
  // out-of-bounds reads.
  ASSERT_EQ(requestRegion({0, 0, 10, 10}, true), noErr);
  EXPECT_EQ(s.record().inputPadding, hostapi::paddingErrorOnBounds);
  EXPECT_TRUE(messages.messages().empty());
}

TEST_F(RegionAccess, PlaneCountsFollowTheImageMode) {
  SimImage grey = makeImage(30, 30, 1, 1, 8);
  {
    SimSession s(grey);
    ASSERT_EQ(requestRegion({0, 0, 10, 10}), noErr);
    EXPECT_EQ(s.record().inHiPlane, 0);
    EXPECT_EQ(s.record().outHiPlane, 0);
    EXPECT_EQ(messages.count(), 0u);
  }
  SimImage rgb = makeRgb8(30, 30);
  SimSession s(rgb);
  // CMYK is processed as three planes, multichannel as one; each with the
  // message, once per request.
  callContext().imageMode = hostapi::modeCMYKColor;
  ASSERT_EQ(requestRegion({0, 0, 10, 10}), noErr);
  EXPECT_EQ(s.record().inHiPlane, 2);
  callContext().imageMode = hostapi::modeMultichannel;
  EXPECT_EQ(checkPlanes(), 1);
  ASSERT_EQ(messages.count(), 2u);
  EXPECT_EQ(messages.messages()[0].text, unexpectedPlanesMessage);
  EXPECT_EQ(planesToRequest(), 1);
  EXPECT_EQ(messages.count(), 2u);

  EXPECT_EQ(planesForMode(hostapi::modeLab48), 3);
  EXPECT_EQ(planesForMode(hostapi::modeCMYK64), 4);
  EXPECT_EQ(planesForMode(18), 0);
  EXPECT_EQ(planesForMode(-1), 0);
  EXPECT_EQ(eightBitMode(hostapi::modeLab48), hostapi::modeLabColor);
  EXPECT_EQ(eightBitMode(hostapi::modeRGB96), hostapi::modeRGBColor);
  EXPECT_EQ(eightBitMode(hostapi::modeGray32), hostapi::modeGrayScale);
  EXPECT_EQ(eightBitMode(hostapi::modeDuotone16), hostapi::modeDuotone);

  s.record().depth = 0;
  EXPECT_EQ(depth(), 8);
}

TEST_F(RegionAccess, HostRefusalIsReportedWithItsCodeAndStored) {
  SimImage img = makeRgb8(30, 30);
  SimSession s(img);
  // Outside the image, with errors on out-of-bounds reads.
  EXPECT_EQ(requestRegion({0, -10, 10, 10}), badParameters);
  EXPECT_EQ(s.result, badParameters);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, "(Veltrane) Advance state error:-30100");
}

class Uint8Proxy : public RegionAccess {};

TEST_F(Uint8Proxy, EightBitImagesAreReadInPlace) {
  SimImage img = makeRgb8(30, 20);
  SimSession s(img);
  uint8ImageProxyFromAdvanceState p;
  p.init(3, 2, 3, 12, 23);
  ASSERT_EQ(p.error, 0);
  EXPECT_EQ(p.data, inData());
  EXPECT_EQ(p.rowStride, inRowBytes());
  EXPECT_EQ(p.bytesPerSample, 1);
  EXPECT_EQ(p.width, 20);
  EXPECT_EQ(p.height, 10);
  EXPECT_EQ(p.data[1 * p.rowStride + 4 * 3 + 2], testsupport::sampleAt(img, 3 + 4, 2 + 1, 2));
  EXPECT_EQ(s.host().statistics().bufferAllocations, s.lutsAllocations);
  p.release();
  EXPECT_EQ(p.data, nullptr);
}

TEST_F(Uint8Proxy, SixteenBitSamplesAreScaledToBytes) {
  SimImage img = makeImage(8, 4, hostapi::modeGray16, 1, 16);
  const std::uint16_t row1[5] = {32768, 16384, 0, 128, 65535};  // the last beyond the host's range
  std::memcpy(&img.pixels[static_cast<std::size_t>(img.rowBytes())], row1, sizeof row1);
  SimSession s(img);
  uint8ImageProxyFromAdvanceState p;
  p.init(1, 0, 0, 4, 8);
  ASSERT_EQ(p.error, 0);
  EXPECT_EQ(p.bytesPerSample, 2);
  EXPECT_EQ(p.rowStride, inRowBytes() / 2);
  const std::uint8_t expected[5] = {255, 128, 0, 1, 255};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(p.data[p.rowStride + i], expected[i]) << i;
  EXPECT_EQ(s.host().statistics().liveBuffers, s.lutsAllocations + 1);
  p.release();
  EXPECT_EQ(s.finish().liveBuffers, 0);
}

TEST_F(Uint8Proxy, FloatSamplesAreEncodedAndClamped) {
  SimImage img = makeImage(8, 3, hostapi::modeGray32, 1, 32);
  const float row2[6] = {1.5f, -0.2f, 1.0f, 0.0f, 0.2f, std::numeric_limits<float>::quiet_NaN()};
  std::memcpy(&img.pixels[static_cast<std::size_t>(2 * img.rowBytes())], row2, sizeof row2);
  SimSession s(img);
  uint8ImageProxyFromAdvanceState p;
  p.init(1, 0, 0, 3, 8);
  ASSERT_EQ(p.error, 0);
  EXPECT_EQ(p.bytesPerSample, 4);
  EXPECT_EQ(p.rowStride, inRowBytes() / 4);
  // 0.2 in linear light is 123.56 on the encoded scale.
  const std::uint8_t expected[6] = {255, 0, 255, 0, 124, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p.data[2 * p.rowStride + i], expected[i]) << i;
  p.release();
  EXPECT_EQ(s.finish().liveBuffers, 0);
}

TEST_F(Uint8Proxy, FailuresLeaveNoDataAndSayWhy) {
  {
    SimImage img = makeImage(8, 3, hostapi::modeGray16, 1, 16);
    SimOptions o;
    o.failBufferAllocationAt = 3;  // the two tables take the first two
    SimSession s(img, o);
    uint8ImageProxyFromAdvanceState p;
    p.init(1, 0, 0, 3, 8);
    EXPECT_EQ(p.error, outOfMemory);
    EXPECT_EQ(p.data, nullptr);
    p.release();
    EXPECT_EQ(s.finish().liveBuffers, 0);
  }
  {
    SimImage img = makeImage(8, 3, hostapi::modeGray32, 1, 32);
    SimOptions o;
    o.failBufferAllocationAt = 3;
    SimSession s(img, o);
    uint8ImageProxyFromAdvanceState p;
    p.init(1, 0, 0, 3, 8);
    EXPECT_EQ(p.error, outOfMemory);
    p.release();
  }
  ASSERT_EQ(messages.count(), 2u);
  EXPECT_EQ(messages.messages()[0].text, proxyUint16AllocationMessage);
  EXPECT_EQ(messages.messages()[1].text, proxyFloatAllocationMessage);
  messages.clear();

  SimImage img = makeRgb8(10, 10);
  SimSession s(img);
  uint8ImageProxyFromAdvanceState p;
  p.init(3, 0, 5, 10, 15);  // beyond the right edge
  EXPECT_EQ(p.error, badParameters);
  EXPECT_EQ(p.data, nullptr);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text,
            "(Veltrane) uint8ImageProxyFromAdvanceState::init error code: -30100");
  messages.clear();

  s.record().depth = 64;  // unsupported: no message
  p.init(3, 0, 0, 10, 10);
  EXPECT_EQ(p.error, badParameters);
  EXPECT_EQ(p.data, nullptr);
  EXPECT_EQ(messages.count(), 0u);
  p.release();
  EXPECT_EQ(s.finish().liveBuffers, 0);
}

}  // namespace
}  // namespace veltrane
