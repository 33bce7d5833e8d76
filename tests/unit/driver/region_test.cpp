#include "image/region.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "sim_session.h"

namespace veltrane {
namespace {

using testsupport::makeImage;
using testsupport::MessageCapture;
using testsupport::sampleAt;
using testsupport::SimImage;
using testsupport::SimOptions;
using testsupport::SimSession;

class RegionAccess : public ::testing::Test {
 protected:
  void SetUp() override { progressResetAll(); }
  MessageCapture messages;
};

TEST_F(RegionAccess, RectanglesTravelAs32BitOnceDeclaredElseRangeChecked16Bit) {
  SimImage img = makeImage(60, 50, 3, 3, 8);
  SimOptions o;
  o.filterRect = hostapi::VRect{5, 6, 45, 56};
  {
    SimSession s(img, o);
    EXPECT_EQ(getFilterRect(), (Rect{5, 6, 45, 56}));
    ASSERT_TRUE(setOutRect({0, 0, 40000, 70000}));
    EXPECT_EQ(s.record().bigDocumentData->outRect32.right, 70000);
    EXPECT_EQ(s.record().outRect.right, 0);
  }
  SimSession s(img, o, false);  // offered, not declared
  EXPECT_EQ(getFilterRect(), (Rect{5, 6, 45, 56}));
  ASSERT_TRUE(setInRect({-3, 2, 32767, 4}));
  EXPECT_EQ(s.record().inRect.bottom, 32767);
  EXPECT_FALSE(setInRect({0, 0, 32768, 10}));  // no wrap to -32768
  EXPECT_EQ(getInRect(), (Rect{-3, 2, 32767, 4}));

  // Such a region never reaches the host; it fails like a host refusal.
  EXPECT_EQ(requestRegion({0, 0, 40000, 10}), badParameters);
  EXPECT_EQ(s.host().statistics().advanceStateCalls, 0);
  EXPECT_EQ(s.result, badParameters);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, "(Veltrane) Advance state error:-30100");
}

TEST_F(RegionAccess, RequestDeliversPixelsAndMaskOfTheRectangle) {
  SimImage img = makeImage(40, 30, 3, 3, 8);
  SimOptions o;
  o.mask.resize(40 * 30);
  for (std::size_t i = 0; i < o.mask.size(); ++i) o.mask[i] = static_cast<std::uint8_t>(i * 7);
  const std::vector<std::uint8_t> mask = o.mask;
  SimSession s(img, o);
  s.record().inputPadding = hostapi::paddingEdgeReplication;

  ASSERT_EQ(requestRegion({4, 5, 14, 25}), noErr);
  EXPECT_EQ(s.record().inputPadding, hostapi::paddingEdgeReplication);
  EXPECT_EQ(s.record().inHiPlane, 2);
  ASSERT_TRUE(haveMask());
  ASSERT_NE(outData(), nullptr);
  const auto* in = static_cast<const std::uint8_t*>(inData());
  for (std::int32_t y = 0; y < 10; ++y)
    for (std::int32_t x = 0; x < 20; ++x) {
      for (std::int32_t p = 0; p < 3; ++p)
        ASSERT_EQ(in[y * inRowBytes() + x * 3 + p], sampleAt(img, 5 + x, 4 + y, p));
      ASSERT_EQ(maskData()[y * maskRowBytes() + x],
                mask[static_cast<std::size_t>((4 + y) * 40 + 5 + x)]);
    }

  // A read cut at the image's left edge asks for errors on out-of-bounds reads.
  ASSERT_EQ(requestRegion({0, 0, 10, 10}, true), noErr);
  EXPECT_EQ(s.record().inputPadding, hostapi::paddingErrorOnBounds);

  // Outside the image the host refuses: reported with its code, and stored.
  EXPECT_EQ(requestRegion({0, -10, 10, 10}), badParameters);
  EXPECT_EQ(s.result, badParameters);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, "(Veltrane) Advance state error:-30100");
}

TEST_F(RegionAccess, PlaneCountsFollowTheImageMode) {
  SimImage grey = makeImage(30, 30, 1, 1, 8);
  SimSession s(grey);
  ASSERT_EQ(requestRegion({0, 0, 10, 10}), noErr);
  EXPECT_EQ(s.record().inHiPlane, 0);
  EXPECT_EQ(s.record().outHiPlane, 0);
  EXPECT_EQ(messages.count(), 0u);

  // CMYK is processed as three planes, multichannel as one, each with the
  // message.
  callContext().imageMode = hostapi::modeCMYKColor;
  EXPECT_EQ(checkPlanes(), 3);
  callContext().imageMode = hostapi::modeMultichannel;
  EXPECT_EQ(checkPlanes(), 1);
  ASSERT_EQ(messages.count(), 2u);
  EXPECT_EQ(messages.messages()[1].text, unexpectedPlanesMessage);

  EXPECT_EQ(planesForMode(hostapi::modeLab48), 3);
  EXPECT_EQ(planesForMode(18), 0);
  EXPECT_EQ(eightBitMode(hostapi::modeLab48), hostapi::modeLabColor);
  EXPECT_EQ(eightBitMode(hostapi::modeGray32), hostapi::modeGrayScale);
  s.record().depth = 0;
  EXPECT_EQ(depth(), 8);
}

// Proxy bytes of row 1 of a one-plane image whose row 1 starts with `row`.
template <typename Sample, std::size_t N>
std::vector<std::uint8_t> proxyRow(std::int16_t mode, std::int32_t depth, const Sample (&row)[N],
                                   SimOptions o = {}, ResultCode* error = nullptr) {
  SimImage img = makeImage(8, 3, mode, 1, depth);
  std::memcpy(&img.pixels[static_cast<std::size_t>(img.rowBytes())], row, sizeof row);
  SimSession s(img, o);
  uint8ImageProxyFromAdvanceState p;
  p.init(1, 0, 0, 3, 8);
  std::vector<std::uint8_t> out;
  if (p.data) {
    EXPECT_EQ(p.rowStride, inRowBytes() / static_cast<std::ptrdiff_t>(sizeof(Sample)));
    out.assign(p.data + p.rowStride, p.data + p.rowStride + N);
  }
  if (error) *error = p.error;
  p.release();
  EXPECT_EQ(s.finish().liveBuffers, 0);
  return out;
}

TEST_F(RegionAccess, ProxyConvertsEveryDepthToBytes) {
  const std::uint8_t bytes[3] = {0, 128, 255};
  EXPECT_EQ(proxyRow(hostapi::modeGrayScale, 8, bytes), (std::vector<std::uint8_t>{0, 128, 255}));
  // 65535 lies beyond the host's 16-bit range.
  const std::uint16_t words[5] = {32768, 16384, 0, 128, 65535};
  EXPECT_EQ(proxyRow(hostapi::modeGray16, 16, words),
            (std::vector<std::uint8_t>{255, 128, 0, 1, 255}));
  // Linear 0.2 is 123.56 on the encoded scale.
  const float floats[6] = {1.5f, -0.2f, 1.0f, 0.0f, 0.2f, std::numeric_limits<float>::quiet_NaN()};
  EXPECT_EQ(proxyRow(hostapi::modeGray32, 32, floats),
            (std::vector<std::uint8_t>{255, 0, 255, 0, 124, 0}));
  EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RegionAccess, ProxyFailuresLeaveNoDataAndSayWhy) {
  SimOptions o;
  o.failBufferAllocationAt = 3;  // the two tables take the first two
  ResultCode error = 0;
  const std::uint16_t words[1] = {1};
  EXPECT_TRUE(proxyRow(hostapi::modeGray16, 16, words, o, &error).empty());
  EXPECT_EQ(error, outOfMemory);
  const float floats[1] = {0.5f};
  EXPECT_TRUE(proxyRow(hostapi::modeGray32, 32, floats, o, &error).empty());
  EXPECT_EQ(error, outOfMemory);
  ASSERT_EQ(messages.count(), 2u);
  EXPECT_EQ(messages.messages()[0].text, proxyUint16AllocationMessage);
  EXPECT_EQ(messages.messages()[1].text, proxyFloatAllocationMessage);
  messages.clear();

  SimImage img = makeImage(10, 10, 3, 3, 8);
  SimSession s(img);
  uint8ImageProxyFromAdvanceState p;
  p.init(3, 0, 5, 10, 15);  // beyond the right edge
  EXPECT_EQ(p.error, badParameters);
  EXPECT_EQ(p.data, nullptr);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text,
            "(Veltrane) uint8ImageProxyFromAdvanceState::init error code: -30100");

  s.record().depth = 64;  // unsupported: no message
  p.init(3, 0, 0, 10, 10);
  EXPECT_EQ(p.error, badParameters);
  EXPECT_EQ(p.data, nullptr);
  EXPECT_EQ(messages.count(), 1u);
}

}  // namespace
}  // namespace veltrane
