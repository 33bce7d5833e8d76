#include <gtest/gtest.h>

#include "shell/call_context.h"
#include "shell/progress.h"
#include "shell/result_codes.h"
#include "support/engine_host.h"

namespace veltrane {
namespace {

class Progress : public ::testing::Test {
 protected:
  void SetUp() override {
    progressResetAll();
    host.install();
  }
  void TearDown() override { progressResetAll(); }

  testsupport::EngineHost host;
};

TEST_F(Progress, DisabledReportsNothingAndNeverCancels) {
  EXPECT_FALSE(progressEnabled());
  EXPECT_FALSE(progressStep(5));
  EXPECT_FALSE(progressTick());
  EXPECT_FALSE(progressStep(0));
  EXPECT_EQ(0, progressDone());
  EXPECT_EQ(0, host.progressReports());
  EXPECT_EQ(0, host.pollCount());
  EXPECT_EQ(noErr, host.result);
}

TEST_F(Progress, EnabledReportsAndPollsOncePerStep) {
  progressEnable();
  progressStart(4);
  EXPECT_EQ(1, host.progressReports());
  EXPECT_EQ(0, host.lastProgressDone);
  EXPECT_EQ(4, host.lastProgressTotal);
  EXPECT_EQ(0, host.pollCount());

  EXPECT_FALSE(progressStep(1));
  EXPECT_EQ(1, host.lastProgressDone);
  EXPECT_EQ(4, host.lastProgressTotal);
  EXPECT_EQ(1, host.pollCount());

  EXPECT_FALSE(progressTick());
  EXPECT_FALSE(progressStep(0));  // the pure cancel check still polls
  EXPECT_EQ(2, progressDone());
  EXPECT_EQ(2, host.lastProgressDone);
  EXPECT_EQ(3, host.pollCount());
  EXPECT_EQ(noErr, host.result);
}

TEST_F(Progress, CancelLatchesUntilTheNextRun) {
  host.abortAtPoll(2);
  progressEnable();
  progressStart(4);
  EXPECT_FALSE(progressStep(1));
  EXPECT_TRUE(progressStep(1));
  EXPECT_EQ(userCancelled, host.result);
  EXPECT_TRUE(progressCancelled());

  // Later checks answer from the latch without calling the host.
  const int reports = host.progressReports();
  EXPECT_TRUE(progressStep(1));
  EXPECT_TRUE(progressStep(0));
  EXPECT_TRUE(progressTick());
  EXPECT_EQ(reports, host.progressReports());
  EXPECT_EQ(2, host.pollCount());

  // The next run: the host has released its cancel, the latch is cleared.
  host.resetCounters();
  progressBeginRun();
  EXPECT_FALSE(progressCancelled());
  host.result = noErr;
  EXPECT_FALSE(progressStep(1));
  EXPECT_EQ(1, host.pollCount());
  EXPECT_EQ(noErr, host.result);
}

TEST(CallContext, ResultCellFollowsTheInstalledHost) {
  {
    testsupport::EngineHost host;
    host.install();
    EXPECT_EQ(&host.result, callContext().result);
    EXPECT_EQ(&host.parameters, callContext().parameters);
    setResult(outOfMemory);
    EXPECT_EQ(outOfMemory, host.result);
    EXPECT_EQ(outOfMemory, currentResult());
  }
  // The host's destructor leaves no dangling pointers behind.
  EXPECT_EQ(nullptr, callContext().services.host);
  EXPECT_EQ(nullptr, callContext().result);
  setResult(outOfMemory);  // no cell: nothing to write
  EXPECT_EQ(noErr, currentResult());
}

// The bound buffer services go through the host's buffer suite; failures are
// injected and counted from the last reset.
TEST(HostCallBuffers, InjectedFailureAndBookkeeping) {
  testsupport::EngineHost host;
  host.install();
  host.failAllocationAt(2);
  const HostServices& s = callContext().services;
  ASSERT_TRUE(s.hasBufferSuite());

  HostBufferId a = nullptr, b = &host, c = nullptr;
  EXPECT_EQ(noErr, s.allocateBuffer(s.host, 64, &a));
  EXPECT_EQ(outOfMemory, s.allocateBuffer(s.host, 64, &b));
  EXPECT_EQ(nullptr, b);
  EXPECT_EQ(noErr, s.allocateBuffer(s.host, 64, &c));
  EXPECT_EQ(3, host.allocationCount());
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(2, host.liveBuffers());

  void* memory = s.lockBuffer(s.host, a, true);
  ASSERT_NE(nullptr, memory);
  static_cast<unsigned char*>(memory)[63] = 1;  // the whole block is usable
  EXPECT_EQ(1, host.lockedBuffers());
  s.unlockBuffer(s.host, a);
  EXPECT_EQ(0, host.lockedBuffers());

  s.freeBuffer(s.host, a);
  EXPECT_EQ(1, host.liveBuffers());
  EXPECT_EQ(nullptr, s.lockBuffer(s.host, a, true));  // freed ids are gone
  // c is left for the host's destructor to free (the leak checker watches).

  host.install();  // counts start again
  EXPECT_EQ(0, host.allocationCount());
  HostBufferId d = nullptr;
  EXPECT_EQ(noErr, s.allocateBuffer(s.host, 8, &d));
  EXPECT_EQ(outOfMemory, s.allocateBuffer(s.host, 8, &b));
  EXPECT_EQ(outOfMemory, s.allocateBuffer(s.host, 0, &b));
  s.freeBuffer(s.host, d);
  EXPECT_EQ(1, host.liveBuffers());
}

}  // namespace
}  // namespace veltrane
