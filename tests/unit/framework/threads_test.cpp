#include "framework/row_bands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "framework/thread_pool.h"
#include "platform/platform.h"

namespace veltrane {
namespace {

TEST(RowBands, EqualBandsWithTheRestInTheLast) {
  EXPECT_EQ(rowBand(10, 4, 0).first, 0);
  EXPECT_EQ(rowBand(10, 4, 0).end, 2);
  EXPECT_EQ(rowBand(10, 4, 2).first, 4);
  EXPECT_EQ(rowBand(10, 4, 2).end, 6);
  EXPECT_EQ(rowBand(10, 4, 3).first, 6);
  EXPECT_EQ(rowBand(10, 4, 3).end, 10);
  // More threads than rows: the last thread takes them all.
  EXPECT_EQ(rowBand(3, 7, 0).end, 0);
  EXPECT_EQ(rowBand(3, 7, 6).first, 0);
  EXPECT_EQ(rowBand(3, 7, 6).end, 3);

  platform::setProcessorCountOverride(64);
  EXPECT_EQ(passThreadCount(), 32);
  platform::setProcessorCountOverride(1);
  EXPECT_EQ(passThreadCount(), 1);
  platform::setProcessorCountOverride(0);
}

TEST(RowBands, EveryRowIsVisitedOnceAndTheHostThreadTakesTheFirstBand) {
  for (int threads : {1, 2, 3, 7, 32}) {
    platform::setProcessorCountOverride(threads);
    std::vector<int> owner(101, -99);
    runRowBands(101, [&](std::int32_t first, std::int32_t end, int index) {
      for (std::int32_t y = first; y < end; ++y) owner[static_cast<std::size_t>(y)] = index;
    });
    for (std::size_t y = 0; y < owner.size(); ++y) EXPECT_NE(owner[y], -99) << threads;
    EXPECT_EQ(owner[0], -1);
    EXPECT_EQ(owner[100], threads == 1 ? -1 : threads - 1);
  }
  platform::setProcessorCountOverride(0);
}

TEST(ThreadPool, EveryIndexRunsOnceInEveryRunAndTheCallerTakesIndexZero) {
  struct Run {
    std::atomic<int> calls[9];
    std::thread::id callerOfZero;
  };
  ThreadPool pool(3);
  for (int count : {1, 2, 9, 5}) {
    for (int repeat = 0; repeat < 50; ++repeat) {
      Run run{};
      pool.run(
          count,
          [](void* context, int index) {
            Run& r = *static_cast<Run*>(context);
            r.calls[index].fetch_add(1);
            if (index == 0) r.callerOfZero = std::this_thread::get_id();
          },
          &run);
      for (int i = 0; i < 9; ++i) ASSERT_EQ(run.calls[i].load(), i < count ? 1 : 0) << count;
      EXPECT_EQ(run.callerOfZero, std::this_thread::get_id());
    }
  }
}

TEST(ThreadPool, PassesInsideAScopeUseItsPoolWhateverTheirBandCount) {
  const EnginePoolScope scope;
  for (int threads : {2, 5, 1}) {
    platform::setProcessorCountOverride(threads);
    std::vector<int> owner(40, -99);
    runRowBands(40, [&](std::int32_t first, std::int32_t end, int index) {
      for (std::int32_t y = first; y < end; ++y) owner[static_cast<std::size_t>(y)] = index;
    });
    EXPECT_EQ(owner[0], -1);
    EXPECT_EQ(owner[39], threads == 1 ? -1 : threads - 1);
    for (int o : owner) EXPECT_NE(o, -99);
  }
  platform::setProcessorCountOverride(0);
}

}  // namespace
}  // namespace veltrane
