#include "image/cspace_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/interleaved_byte_buffer.h"
#include "support/engine_host.h"
#include "support/message_capture.h"

namespace veltrane {
namespace {

class CspaceBufferTest : public ::testing::Test {
 protected:
  void SetUp() override { host.install(); }
  testsupport::EngineHost host;
  testsupport::MessageCapture messages;
};

// Every float of the buffer gets a value unique to its position.
void fillDistinct(cspaceBuffer& b, float offset) {
  for (std::int64_t i = 0; i < b.sizeBytes / 4; ++i) b.data[i] = static_cast<float>(i) + offset;
}

TEST_F(CspaceBufferTest, MemoryFollowsCreateReleaseAndReacquire) {
  cspaceBuffer b;
  b.create(3, 2, 4, 5);
  EXPECT_EQ(b.fullWidth, 10);
  EXPECT_EQ(b.fullHeight, 9);
  EXPECT_EQ(b.rowBytes, 120);
  EXPECT_EQ(b.sizeBytes, 1080);
  EXPECT_EQ(b.kind, 2);
  EXPECT_EQ(b.marginsValid, 0);
  ASSERT_TRUE(b.allocatedOrReported());
  EXPECT_EQ(host.lockedBuffers(), 1);

  b.release();
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(host.liveBuffers(), 0);
  b.reacquire();
  EXPECT_EQ(b.fullWidth, 10);
  EXPECT_EQ(host.lockedBuffers(), 1);
  b.releaseIfLocked();
  EXPECT_EQ(host.liveBuffers(), 0);
  EXPECT_EQ(messages.count(), 0u);
}

TEST_F(CspaceBufferTest, FailedAllocationIsReportedOnceChecked) {
  host.failAllocationAt(1);
  cspaceBuffer b;
  b.create(3, 3, 20000, 20000);
  EXPECT_EQ(b.sizeBytes, std::int64_t{20006} * 20006 * 12);  // past 2^32
  EXPECT_EQ(b.rowBytes, 20006 * 12);
  EXPECT_EQ(b.bufferID, nullptr);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.locked, 0);
  EXPECT_EQ(messages.count(), 0u);  // create never reports by itself

  EXPECT_FALSE(b.allocatedOrReported());
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].caption, "Veltrane");
  EXPECT_EQ(messages.messages()[0].text,
            "(Veltrane) Not enough memory to run this plugin.  Go to Edit -> Preferences -> "
            "Performance to increase memory allocation.");
  EXPECT_EQ(host.result, -128);
  b.release();  // harmless without memory
  EXPECT_EQ(host.liveBuffers(), 0);
}

// Reflection about the edge pixel in both directions, against the formula for
// every pixel, for margins that differ per axis and for margins wider than the
// image allows (edge pixel beyond the reflection).
TEST_F(CspaceBufferTest, MirrorMarginsReflectsAboutTheEdgePixel) {
  struct Case {
    std::int32_t mX, mY, w, h;
  };
  for (const Case c : {Case{3, 3, 4, 5}, Case{2, 4, 3, 5}, Case{3, 2, 2, 1}}) {
    cspaceBuffer b;
    b.create(c.mX, c.mY, c.w, c.h);
    ASSERT_NE(b.data, nullptr);
    fillDistinct(b, 0.0f);
    const std::vector<float> before(b.data, b.data + b.sizeBytes / 4);
    b.mirrorMargins();
    EXPECT_EQ(b.marginsValid, 1);
    auto source = [](std::int32_t n, std::int32_t m, std::int32_t size) {
      std::int32_t s = n < m ? 2 * m - n : n >= m + size ? 2 * (m + size - 1) - n : n;
      return s < m ? m : s > m + size - 1 ? m + size - 1 : s;
    };
    for (std::int32_t row = 0; row < b.fullHeight; ++row)
      for (std::int32_t col = 0; col < b.fullWidth; ++col)
        for (std::int32_t k = 0; k < 3; ++k) {
          const auto from =
              (source(row, c.mY, c.h) * std::int64_t{b.fullWidth} + source(col, c.mX, c.w)) * 3 + k;
          ASSERT_EQ(b.data[(row * std::int64_t{b.fullWidth} + col) * 3 + k],
                    before[static_cast<std::size_t>(from)])
              << c.mX << "," << c.mY << " " << c.w << "x" << c.h << " at " << col << "," << row;
        }
    if (c.mX == 3 && c.w == 4) {
      for (std::int32_t col = 0; col < 3; ++col)
        EXPECT_EQ(b.at(col - 3, 1)[0], b.at(3 - col, 1)[0]);  // columns 0,1,2 = 6,5,4
    }
    b.release();
  }
}

TEST_F(CspaceBufferTest, CopyFromTakesTheCommonTopLeftRectangle) {
  cspaceBuffer src, dst;
  src.create(1, 1, 6, 4);  // full 8 x 6
  dst.create(2, 2, 3, 7);  // full 7 x 11
  ASSERT_TRUE(src.data && dst.data);
  fillDistinct(src, 0.0f);
  fillDistinct(dst, 0.5f);
  const std::vector<float> old(dst.data, dst.data + dst.sizeBytes / 4);
  dst.copyFrom(src);
  for (std::int64_t row = 0; row < 11; ++row)
    for (std::int64_t f = 0; f < 21; ++f) {
      const float expected =
          row < 6 ? src.data[row * 24 + f] : old[static_cast<std::size_t>(row * 21 + f)];
      ASSERT_EQ(dst.data[row * 21 + f], expected) << row << "," << f;
    }
  src.release();
  dst.release();
}

TEST_F(CspaceBufferTest, ReshapeAndSwapKeepTheMemoryWithinItsCapacity) {
  cspaceBuffer big, small;
  big.create(3, 3, 20, 10);
  small.create(3, 3, 8, 8);
  ASSERT_TRUE(big.allocatedOrReported() && small.allocatedOrReported());
  float* const bigMemory = big.data;
  // Same geometry only: memory and capacity change hands.
  EXPECT_FALSE(big.swapMemoryWith(small));
  // Smaller (or a different shape of the same size) on the same memory; no
  // host allocation.
  const int allocations = host.allocationCount();
  ASSERT_TRUE(big.reshape(3, 3, 8, 8));
  EXPECT_EQ(big.data, bigMemory);
  EXPECT_EQ(big.fullWidth, 14);
  EXPECT_EQ(big.sizeBytes, 14 * 14 * 12);
  EXPECT_TRUE(big.swapMemoryWith(small));
  EXPECT_EQ(small.data, bigMemory);
  EXPECT_TRUE(small.reshape(3, 3, 20, 10));  // the capacity went with the memory
  EXPECT_FALSE(big.reshape(3, 3, 20, 10));   // 14 x 14 pixels cannot hold 26 x 16
  EXPECT_FALSE(big.reshape(3, 3, 0x7fffffff, 0x7fffffff));
  EXPECT_EQ(big.width, 8);
  EXPECT_EQ(host.allocationCount(), allocations);
  big.release();
  EXPECT_FALSE(big.reshape(0, 0, 1, 1));  // no memory held
  small.release();
}

TEST_F(CspaceBufferTest, InterleavedBufferJoinsThreePlanes) {
  // Planes of 2 rows, 5 bytes apart, 4 bytes used per row.
  std::vector<std::uint8_t> planes(30);
  for (std::size_t i = 0; i < planes.size(); ++i) planes[i] = static_cast<std::uint8_t>(i);
  InterleavedByteBuffer ib;
  ib.makeInterleaved(4, 5, 30, planes.data());
  ASSERT_EQ(ib.error, 0);
  EXPECT_EQ(ib.rows, 2);
  EXPECT_EQ(ib.sizeBytes, 24);
  for (int row = 0; row < 2; ++row)
    for (int x = 0; x < 4; ++x)
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(ib.data[row * 12 + x * 3 + k],
                  planes[static_cast<std::size_t>(k * 10 + row * 5 + x)]);
  ib.releaseInterleaved();
  EXPECT_EQ(host.liveBuffers(), 0);

  host.failAllocationAt(2);
  ib.makeInterleaved(4, 5, 30, planes.data());
  EXPECT_EQ(ib.error, -108);
  EXPECT_EQ(ib.data, nullptr);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, "Veltrane: Error making interleaved buffer. Code: -108");

  // A zero row step or rows wider than the step are refused, not divided by or overrun.
  ib.makeInterleaved(4, 0, 30, planes.data());
  EXPECT_NE(ib.error, 0);
  ib.makeInterleaved(6, 5, 30, planes.data());
  EXPECT_NE(ib.error, 0);
  EXPECT_EQ(host.liveBuffers(), 0);
}

}  // namespace
}  // namespace veltrane
