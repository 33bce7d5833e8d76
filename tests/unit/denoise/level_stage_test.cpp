#include "denoise/level_stage.h"

#include <gtest/gtest.h>

#include "support/engine_fixture.h"

namespace veltrane {
namespace {

using testsupport::EngineTest;

class LevelStage : public EngineTest {};

TEST_F(LevelStage, OutOfMemoryForEitherWorkingBufferLeavesTheImage) {
  derive();
  for (int failing : {1, 2}) {
    cspaceBuffer img = makeBuffer(40, 30);
    testsupport::fillScene(img, 11, 12.0f);
    const auto before = testsupport::innerPixels(img);
    host.resetCounters();
    host.failAllocationAt(failing);
    messages.clear();
    host.result = 0;
    EXPECT_EQ(runLevelStage(img, 50.0f, true, 1.0f, 0.01f, 0.01f), outOfMemory);
    EXPECT_EQ(host.result, -128);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.messages()[0].text, notEnoughMemoryMessage);
    EXPECT_EQ(messages.messages()[0].caption, "Veltrane");
    EXPECT_TRUE(testsupport::bitIdentical(before, testsupport::innerPixels(img)));
    EXPECT_EQ(host.liveBuffers(), 1);  // only the image itself
    img.release();
  }
}

TEST_F(LevelStage, CancelBetweenThePassesReturnsZeroAndLeavesTheImage) {
  derive();
  progressEnable();
  cspaceBuffer img = makeBuffer(40, 30);
  testsupport::fillScene(img, 12, 12.0f);
  const auto before = testsupport::innerPixels(img);
  host.abortAtPoll(1);
  EXPECT_EQ(runLevelStage(img, 50.0f, true, 1.0f, 0.01f, 0.01f), noErr);
  EXPECT_TRUE(progressCancelled());
  EXPECT_EQ(host.result, -128);
  EXPECT_TRUE(testsupport::bitIdentical(before, testsupport::innerPixels(img)));
  EXPECT_EQ(host.liveBuffers(), 1);
  img.release();
}

TEST_F(LevelStage, FiltersAndLeavesMarginsInvalid) {
  derive();
  cspaceBuffer img = makeBuffer(40, 30);
  testsupport::fillScene(img, 13, 12.0f);
  const auto before = testsupport::innerPixels(img);
  EXPECT_EQ(runLevelStage(img, 50.0f, true, 1.0f, 0.01f, 0.01f), noErr);
  EXPECT_FALSE(testsupport::bitIdentical(before, testsupport::innerPixels(img)));
  EXPECT_EQ(img.marginsValid, 0);
  EXPECT_EQ(host.liveBuffers(), 1);
  img.release();
}

}  // namespace
}  // namespace veltrane
