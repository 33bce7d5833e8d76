// The selector sequence and what a plug-in's output does to the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

#include "fake_plugin.h"

namespace veltrane::host::testing {
namespace {

using namespace hostapi;

// Inverts the filter rectangle band by band through the continue selector
// (or copies the mask into every plane when asked).
struct InvertPlugin {
  bool use32 = false;
  std::int32_t bandRows = 0;  // 0: the whole filter rectangle in one region
  bool copyMask = false;
  std::int16_t failAt = -1;   // selector that fails with -30100
  int passes = 1;             // times each band is requested
  int pass = 0;
  VRect filter{};
  VRect band{};
  std::int32_t nextTop = 0;
  std::vector<std::int16_t> selectors;

  std::int16_t operator()(std::int16_t selector, void* rec, std::intptr_t&) {
    selectors.push_back(selector);
    if (selector == failAt) return filterBadParameters;
    FilterRecord& r = filterRecord(rec);
    switch (selector) {
      case selectorParameters:
        if (!r.parameters) r.parameters = r.handleProcs->newProc(4);
        return r.parameters ? noErr : memFullErr;
      case selectorStart:
        filter = filterRectOf(r, use32);
        nextTop = filter.top;
        nextBand(r);
        return noErr;
      case selectorContinue:
        processBand(r);
        nextBand(r);
        return noErr;
      default:
        return noErr;
    }
  }

  void nextBand(FilterRecord& r) {
    if (nextTop > filter.top && ++pass < passes) {
      requestRegions(r, band, band, copyMask && r.haveMask ? band : VRect{}, use32);
      return;
    }
    pass = 0;
    if (nextTop >= filter.bottom) {
      requestRegions(r, {}, {}, {}, use32);
      return;
    }
    const std::int32_t rows = bandRows > 0 ? bandRows : filter.bottom - filter.top;
    band = {nextTop, filter.left, std::min(nextTop + rows, filter.bottom), filter.right};
    nextTop = band.bottom;
    requestRegions(r, band, band, copyMask && r.haveMask ? band : VRect{}, use32);
  }

  void processBand(FilterRecord& r) const {
    const std::int32_t bps = r.depth / 8;
    auto* in = static_cast<std::uint8_t*>(r.inData);
    auto* out = static_cast<std::uint8_t*>(r.outData);
    const auto* mask = static_cast<const std::uint8_t*>(r.maskData);
    for (std::int32_t y = 0; y < band.bottom - band.top; ++y) {
      for (std::int32_t x = 0; x < band.right - band.left; ++x) {
        for (std::int32_t p = 0; p < r.planes; ++p) {
          const std::int64_t at = (std::int64_t{x} * r.planes + p) * bps;
          std::uint8_t* o = out + std::int64_t{y} * r.outRowBytes + at;
          if (copyMask) {
            *o = mask[std::int64_t{y} * r.maskRowBytes + x];
          } else {
            std::memcpy(o, in + std::int64_t{y} * r.inRowBytes + at, static_cast<std::size_t>(bps));
            invertSample(o, r.depth);
          }
        }
      }
    }
  }
};

class RunTest : public ::testing::Test {
 protected:
  void TearDown() override { behaviour() = nullptr; }
  void install(InvertPlugin& p) { behaviour() = std::ref(p); }
};

// depth, planes, 32-bit coordinates, rows per band
class InvertImageTest : public ::testing::TestWithParam<std::tuple<int, int, bool, int>> {
 protected:
  void TearDown() override { behaviour() = nullptr; }
};

TEST_P(InvertImageTest, InvertsExactlyTheFilterRectangle) {
  const auto [depth, planes, use32, bandRows] = GetParam();
  SimImage image = makeImage(13, 11, planes, depth);
  const VRect rect{2, 3, 9, 11};
  const std::vector<std::uint8_t> expected = invertedInside(image, rect);
  InvertPlugin plugin;
  plugin.use32 = use32;
  plugin.bandRows = bandRows;
  behaviour() = std::ref(plugin);
  SimOptions options;
  options.filterRect = rect;
  SimHost host(image, options);

  ASSERT_EQ(host.runFilter(&fakeEntry, false), 0);
  EXPECT_EQ(image.pixels, expected);
  const auto continues = std::count(plugin.selectors.begin(), plugin.selectors.end(), selectorContinue);
  EXPECT_EQ(continues, bandRows > 0 ? (7 + bandRows - 1) / bandRows : 1);
}

INSTANTIATE_TEST_SUITE_P(DepthsPlanesCoordinates, InvertImageTest,
                         ::testing::Combine(::testing::Values(8, 16, 32), ::testing::Values(1, 3),
                                            ::testing::Bool(), ::testing::Values(0, 3)));

TEST_F(RunTest, SelectorSequenceAndParameterHandleAcrossRuns) {
  SimImage image = makeImage(4, 4, 3, 8);
  InvertPlugin plugin;
  plugin.bandRows = 2;
  install(plugin);
  SimHost host(image);

  ASSERT_EQ(host.runFilter(&fakeEntry, false), 0);
  EXPECT_EQ(plugin.selectors, (std::vector<std::int16_t>{1, 2, 3, 4, 4, 5}));
  ASSERT_NE(field(host.record().parameters), nullptr);
  EXPECT_EQ(host.parameterBlock().size(), 4u);

  // Used before and no dialog wanted: no parameters selector.
  plugin.selectors.clear();
  ASSERT_EQ(host.runFilter(&fakeEntry, false), 0);
  EXPECT_EQ(plugin.selectors, (std::vector<std::int16_t>{2, 3, 4, 4, 5}));

  plugin.selectors.clear();
  ASSERT_EQ(host.runFilter(&fakeEntry, true), 0);
  EXPECT_EQ(plugin.selectors.front(), selectorParameters);
  EXPECT_EQ(host.statistics().selectors.size(), 6u + 5u + 6u);
  // Inverted three times.
  EXPECT_EQ(image.pixels, invertedInside(makeImage(4, 4, 3, 8), {0, 0, 4, 4}));
}

TEST_F(RunTest, FinishOnlyAfterSuccessfulStartAndFirstErrorWins) {
  SimImage image = makeImage(4, 4, 1, 8);
  InvertPlugin plugin;
  plugin.bandRows = 1;
  install(plugin);
  // A failing continue stops the loop, and finish still comes.
  const std::vector<std::pair<std::int16_t, std::vector<std::int16_t>>> cases{
      {selectorPrepare, {1, 2}}, {selectorStart, {1, 2, 3}}, {selectorContinue, {1, 2, 3, 4, 5}}};
  for (const auto& [failAt, expected] : cases) {
    plugin.selectors.clear();
    plugin.failAt = failAt;
    SimHost host(image);
    EXPECT_EQ(host.runFilter(&fakeEntry, false), filterBadParameters);
    EXPECT_EQ(plugin.selectors, expected) << failAt;
  }
}

TEST_F(RunTest, MaskIsDeliveredForTheRequestedRectangle) {
  SimImage image = makeImage(9, 7, 3, 8);
  SimOptions options;
  options.filterRect = VRect{1, 2, 6, 8};
  options.mask.resize(9 * 7);
  for (std::size_t i = 0; i < options.mask.size(); ++i) options.mask[i] = static_cast<std::uint8_t>(i * 3);
  InvertPlugin plugin;
  plugin.copyMask = true;
  plugin.bandRows = 2;
  install(plugin);
  SimHost host(image, options);
  EXPECT_EQ(host.record().filterCase, 2);
  ASSERT_EQ(host.runFilter(&fakeEntry, false), 0);
  for (std::int32_t y = 1; y < 6; ++y)
    for (std::int32_t x = 2; x < 8; ++x)
      for (std::int32_t p = 0; p < 3; ++p)
        ASSERT_EQ(image.pixels[static_cast<std::size_t>((y * 9 + x) * 3 + p)], options.mask[std::size_t(y * 9 + x)])
            << x << "," << y;
}

TEST_F(RunTest, InputIsTheOriginalEvenWhenARegionIsFilteredTwice) {
  SimImage image = makeImage(6, 5, 3, 16);
  const std::vector<std::uint8_t> expected = invertedInside(image, {0, 0, 5, 6});
  InvertPlugin plugin;
  plugin.bandRows = 2;
  plugin.passes = 2;  // inverting already inverted pixels would give the original back
  install(plugin);
  SimHost host(image);
  ASSERT_EQ(host.runFilter(&fakeEntry, false), 0);
  EXPECT_EQ(image.pixels, expected);
}

TEST_F(RunTest, EndlessRegionRequestsAreStopped) {
  SimImage image = makeImage(2, 2, 1, 8);
  int continues = 0;
  behaviour() = [&](std::int16_t selector, void* rec, std::intptr_t&) -> std::int16_t {
    if (selector == selectorStart || selector == selectorContinue) {
      if (selector == selectorContinue) ++continues;
      requestRegions(filterRecord(rec), {0, 0, 1, 1}, {}, {}, false);
    }
    return 0;
  };
  SimHost host(image);
  EXPECT_EQ(host.runFilter(&fakeEntry, false), filterBadParameters);
  EXPECT_EQ(continues, 1'000'000);
  EXPECT_EQ(host.statistics().selectors.back(), selectorFinish);
}

TEST_F(RunTest, DataCellPersistsAndAboutGetsItsOwnRecord) {
  SimImage image = makeImage(2, 2, 1, 8);
  bool aboutCalled = false;
  std::vector<std::intptr_t> seen;
  behaviour() = [&](std::int16_t selector, void* rec, std::intptr_t& data) -> std::int16_t {
    if (selector == selectorAbout) {
      const auto* about = static_cast<const AboutRecord*>(rec);
      aboutCalled = true;
      EXPECT_NE(about->sSPBasic, nullptr);
      EXPECT_EQ(static_cast<const PlatformData*>(about->platformData)->hwnd, 0);
      return 0;
    }
    seen.push_back(data);
    data = selector;
    if (selector == selectorParameters) filterRecord(rec).parameters = filterRecord(rec).handleProcs->newProc(1);
    return 0;
  };
  SimHost host(image);
  ASSERT_EQ(host.about(&fakeEntry), 0);
  EXPECT_TRUE(aboutCalled);
  ASSERT_EQ(host.runFilter(&fakeEntry, false), 0);
  EXPECT_EQ(seen, (std::vector<std::intptr_t>{0, 1, 2, 3}));
  EXPECT_EQ(host.dataCell(), selectorFinish);
}

}  // namespace
}  // namespace veltrane::host::testing
