#include "image/color_luts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/engine_host.h"
#include "support/message_capture.h"

namespace veltrane {
namespace {

class ColorLutsTest : public ::testing::Test {
 protected:
  void SetUp() override { host.install(); }
  void TearDown() override { freeLUTs(); }
  testsupport::EngineHost host;
  testsupport::MessageCapture messages;
};

TEST_F(ColorLutsTest, TablesFollowTheTransferCurves) {
  ASSERT_TRUE(buildLUTs());
  const float* e = encodeLUT();
  const float* d = decodeLUT();
  // Spot values against the curves worked in double precision.
  EXPECT_NEAR(e[2048], 255.0 * (1.055 * std::pow(0.5, 1.0 / 2.4) - 0.055), 1e-3);
  EXPECT_NEAR(e[10], 255.0 * 12.92 * 10.0 / 4096.0, 1e-4);
  EXPECT_NEAR(d[128 * 16], std::pow((128.0 / 255.0 + 0.055) / 1.055, 2.4), 1e-6);
  EXPECT_NEAR(d[5 * 16], 5.0 / 255.0 / 12.92, 1e-8);

  EXPECT_EQ(encode(0.0f), 0.0f);
  EXPECT_EQ(encode(1.0f), 255.0f);  // entry 4096, weight 0 on entry 4097
  const float nearOne = encode(4095.5f / 4096.0f);
  EXPECT_GT(nearOne, e[4095]);
  EXPECT_LT(nearOne, e[4096]);
  EXPECT_EQ(decode(0.0f), 0.0f);
  EXPECT_NEAR(decode(255.0f), 1.0f, 2e-7f);

  for (int i = 1; i < encodeLUTSize; ++i) ASSERT_GT(e[i], e[i - 1]) << i;
  for (int i = 1; i < decodeLUTSize; ++i) ASSERT_GT(d[i], d[i - 1]) << i;
  for (int i = 0; i <= 2000; ++i) {
    const float x = static_cast<float>(i) / 2000.0f;
    ASSERT_NEAR(decode(encode(x)), x, 5e-6f) << x;
  }
}

TEST_F(ColorLutsTest, OutOfRangeInputsStayInsideTheTables) {
  ASSERT_TRUE(buildLUTs());
  EXPECT_EQ(encode(-0.5f), 0.0f);
  EXPECT_EQ(encode(std::numeric_limits<float>::quiet_NaN()), 0.0f);
  EXPECT_EQ(encode(7.0f), encodeLUT()[encodeLUTSize - 1]);
  EXPECT_EQ(decode(-1.0f), 0.0f);
  EXPECT_EQ(decode(1e9f), decodeLUT()[decodeLUTSize - 1]);
}

TEST_F(ColorLutsTest, LifecycleHoldsExactlyTwoBuffers) {
  ASSERT_TRUE(buildLUTs());
  EXPECT_EQ(host.liveBuffers(), 2);
  EXPECT_EQ(messages.count(), 0u);
  const float withTables = encode(0.3f) + decode(100.3f);

  // Built again without being freed: one message, the old tables not lost.
  ASSERT_TRUE(buildLUTs());
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text,
            "(Veltrane)Internal error: cspaceBufferID_LUT2 already created.");
  EXPECT_EQ(messages.messages()[0].caption, "Veltrane");
  EXPECT_EQ(host.liveBuffers(), 2);

  freeLUTs();
  EXPECT_FALSE(lutsBuilt());
  EXPECT_EQ(host.liveBuffers(), 0);
  EXPECT_EQ(encode(0.3f) + decode(100.3f), withTables);  // same answers without the tables
}

TEST_F(ColorLutsTest, AllocationFailureHoldsNothing) {
  for (int failing = 1; failing <= 2; ++failing) {
    host.failAllocationAt(failing);
    host.resetCounters();
    EXPECT_FALSE(buildLUTs()) << failing;
    EXPECT_FALSE(lutsBuilt());
    EXPECT_EQ(host.liveBuffers(), 0);
  }
  EXPECT_EQ(messages.count(), 0u);
}

}  // namespace
}  // namespace veltrane
