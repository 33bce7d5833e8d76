#include "framework/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include "denoise/blend.h"
#include "denoise/engine_settings.h"
#include "denoise/halvane_engine.h"
#include "sim_session.h"

namespace veltrane {
namespace {

using testsupport::makeImage;
using testsupport::makeRgb8;
using testsupport::MessageCapture;
using testsupport::runFilter;
using testsupport::RunOutcome;
using testsupport::samePixel;
using testsupport::sampleAt;
using testsupport::SimImage;
using testsupport::SimOptions;
using testsupport::SimSession;
using Sizes = std::vector<std::pair<std::int32_t, std::int32_t>>;

// ---- cheap piece engines whose reach is known --------------------------------

// The sizes of the pieces handed to the engines below, in order.
Sizes& pieces() {
  static Sizes v;
  return v;
}

// The writers store the engine's result unchanged: full filtered luminance
// and chroma, no protection.
void passThroughSettings() {
  EngineSettings s;
  s.protectLow = 1e9f;
  s.protectBelow = 1.0f;
  engineSettings() = s;
}

ResultCode identity(cspaceBuffer& in, cspaceBuffer& out) {
  pieces().emplace_back(in.width, in.height);
  out.copyFrom(in);
  return noErr;
}

// Mean of the 3 x 3 neighbourhood (mirrored at the piece's edges).
ResultCode boxMean(cspaceBuffer& in, cspaceBuffer& out) {
  pieces().emplace_back(in.width, in.height);
  in.mirrorMargins();
  for (std::int32_t y = 0; y < in.height; ++y)
    for (std::int32_t x = 0; x < in.width; ++x)
      for (int c = 0; c < 3; ++c) {
        float sum = 0.0f;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) sum += in.at(x + dx, y + dy)[c];
        out.at(x, y)[c] = sum / 9.0f;
      }
  return noErr;
}

// Leaves garbage in the output and reports running out of memory.
ResultCode failing(cspaceBuffer& in, cspaceBuffer& out) {
  pieces().emplace_back(in.width, in.height);
  std::fill(out.data, out.data + out.stride() * out.fullHeight, 1000.0f);
  return outOfMemory;
}

constexpr PieceEngine identityEngine{&passThroughSettings, &identity,      &writeResult8,
                                     &writeResult16,       &writeResult32, "too small"};
constexpr PieceEngine boxEngine{&passThroughSettings, &boxMean,       &writeResult8,
                                &writeResult16,       &writeResult32, "too small"};
constexpr PieceEngine failingEngine{&passThroughSettings, &failing,       &writeResult8,
                                    &writeResult16,       &writeResult32, "too small"};

class Driver : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    progressResetAll();
    resetBlockScales();
    platform::setProcessorCountOverride(0);
    pieces().clear();
  }
  MessageCapture messages;
};

// Host tiles of `tile` pixels, that is blocks of 4 * tile (0: no tiles).
SimOptions tiledBy(int tile) {
  SimOptions o;
  o.tileWidth = o.tileHeight = static_cast<std::int16_t>(tile);
  return o;
}

bool sameImage(const SimImage& a, const SimImage& b) { return a.pixels == b.pixels; }

template <typename Keep>
float maxDifference(const SimImage& a, const SimImage& b, Keep keep) {
  float worst = 0.0f;
  for (std::int32_t y = 0; y < a.height; ++y)
    for (std::int32_t x = 0; x < a.width; ++x)
      for (std::int32_t p = 0; p < a.planes && keep(x, y); ++p)
        worst = std::max(worst, std::fabs(sampleAt(a, x, y, p) - sampleAt(b, x, y, p)));
  return worst;
}

// Mean absolute difference of horizontal neighbours: what noise reduction
// lowers.
double roughness(const SimImage& img, std::int32_t p) {
  double sum = 0.0;
  for (std::int32_t y = 0; y < img.height; ++y)
    for (std::int32_t x = 1; x < img.width; ++x)
      sum += static_cast<double>(std::fabs(sampleAt(img, x, y, p) - sampleAt(img, x - 1, y, p)));
  return sum / (static_cast<double>(img.width - 1) * img.height);
}

double meanOf(const SimImage& img, std::int32_t p) {
  double sum = 0.0;
  for (std::int32_t y = 0; y < img.height; ++y)
    for (std::int32_t x = 0; x < img.width; ++x) sum += static_cast<double>(sampleAt(img, x, y, p));
  return sum / (static_cast<double>(img.width) * img.height);
}

// Selected (255) and unselected (0) cells of 7 x 5 pixels.
std::vector<std::uint8_t> chequeredMask(std::int32_t w, std::int32_t h) {
  std::vector<std::uint8_t> m(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      m[static_cast<std::size_t>(y * w + x)] = (x / 7 + y / 5) % 2 ? 255 : 0;
  return m;
}

// Fails on any changed pixel outside r or unselected by the mask (when
// given); returns how many of the others changed.
std::int64_t changedWhereAllowed(const SimImage& after, const SimImage& before,
                                 const hostapi::VRect& r, const std::vector<std::uint8_t>& mask) {
  std::int64_t changed = 0, forbidden = 0;
  for (std::int32_t y = 0; y < after.height; ++y)
    for (std::int32_t x = 0; x < after.width; ++x) {
      const bool allowed = y >= r.top && y < r.bottom && x >= r.left && x < r.right &&
                           (mask.empty() || mask[static_cast<std::size_t>(y * after.width + x)]);
      const bool same = samePixel(after, before, x, y);
      (allowed ? changed : forbidden) += same ? 0 : 1;
    }
  EXPECT_EQ(forbidden, 0);
  return changed;
}

// ---- cutting the rectangle --------------------------------------------------

TEST_F(Driver, LayoutFollowsPixelCountSidesAndHostTiles) {
  SimImage img = makeRgb8(8, 8);
  {
    SimSession s(img);  // no host tiles: blocks of 1024
    EXPECT_EQ(choosePieceLayout(1000, 1000), PieceLayout::whole);
    EXPECT_EQ(choosePieceLayout(1001, 1000), PieceLayout::quadrants);
    EXPECT_EQ(choosePieceLayout(2047, 2047), PieceLayout::quadrants);
    EXPECT_EQ(choosePieceLayout(2048, 30), PieceLayout::tiles);
    EXPECT_EQ(choosePieceLayout(30, 2048), PieceLayout::tiles);
  }
  {
    SimSession s(img, tiledBy(1024));
    EXPECT_EQ(choosePieceLayout(7500, 134), PieceLayout::whole);  // height not above 134
    EXPECT_EQ(choosePieceLayout(7500, 135), PieceLayout::quadrants);
  }
  SimSession s(img);
  lowerBlockScales();
  EXPECT_EQ(choosePieceLayout(511, 100), PieceLayout::whole);
  EXPECT_EQ(choosePieceLayout(512, 100), PieceLayout::tiles);
}

TEST_F(Driver, SidesOf24OrLessAreRefused) {
  for (auto [w, h] : {std::pair{24, 100}, std::pair{100, 24}}) {
    SimImage img = makeRgb8(w, h);
    const SimImage before = img;
    const RunOutcome r = runFilter(img);
    EXPECT_EQ(r.code, imageTooSmall);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.stats.bufferAllocations, 2);  // the look-up tables only
    EXPECT_TRUE(sameImage(img, before));
  }
  ASSERT_EQ(messages.count(), 2u);
  EXPECT_EQ(messages.messages()[0].text, "Halvane error: Image is too small.");
  EXPECT_EQ(messages.messages()[0].caption, "Veltrane");

  SimImage img = makeRgb8(25, 25);
  const SimImage before = img;
  const RunOutcome r = runFilter(img);
  EXPECT_EQ(r.code, noErr);
  EXPECT_EQ(r.stats.liveBuffers, 0);
  EXPECT_FALSE(sameImage(img, before));
}

TEST_F(Driver, MegapixelRectanglesAreCutIntoQuadrants) {
  // The engine returns its input: a cell written from a wrong buffer or
  // source position shows as a changed pixel.
  SimImage whole = makeRgb8(1000, 1000, 3);
  const SimImage wholeBefore = whole;
  ASSERT_EQ(runFilter(whole, {}, identityEngine).code, noErr);
  EXPECT_EQ(pieces(), (Sizes{{1000, 1000}}));
  EXPECT_TRUE(sameImage(whole, wholeBefore));

  pieces().clear();
  SimImage quads = makeRgb8(1001, 1000, 3);
  const SimImage quadsBefore = quads;
  std::pair<std::int32_t, std::int32_t> last{-1, -1};
  SimOptions o;
  o.onProgress = [&](std::int32_t done, std::int32_t total) { last = {done, total}; };
  ASSERT_EQ(runFilter(quads, o, identityEngine).code, noErr);
  // J = 500, K = 500: the right quadrants are a column wider.
  EXPECT_EQ(pieces(), (Sizes{{564, 564}, {565, 564}, {564, 564}, {565, 564}}));
  EXPECT_EQ(last, (std::pair<std::int32_t, std::int32_t>{4, 4}));
  EXPECT_TRUE(sameImage(quads, quadsBefore));
}

TEST_F(Driver, QuadrantsOfASelectionAwayFromTheCornerMatchBlocks) {
  const hostapi::VRect rect{30, 50, 1030, 1051};  // 1001 x 1000: quadrants
  SimImage quads = makeRgb8(1100, 1060, 8);
  const SimImage before = quads;
  SimImage tiles = quads;
  SimOptions o;
  o.filterRect = rect;
  o.mask = chequeredMask(1100, 1060);
  ASSERT_EQ(runFilter(quads, o, boxEngine).code, noErr);
  o.tileWidth = o.tileHeight = 64;
  ASSERT_EQ(runFilter(tiles, o, boxEngine).code, noErr);
  EXPECT_EQ(pieces().size(), 4u + 16u);
  EXPECT_GT(changedWhereAllowed(quads, before, rect, o.mask), 400000);
  EXPECT_GT(changedWhereAllowed(tiles, before, rect, o.mask), 400000);
  // The blocks' first column took its left neighbours from the image.
  for (std::int32_t y = rect.top + 1; y < rect.bottom - 1; y += 97) {
    if (!o.mask[static_cast<std::size_t>(y * 1100 + rect.left)]) continue;
    float mean = 0.0f;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) mean += sampleAt(before, rect.left + dx, y + dy, 1);
    EXPECT_NEAR(sampleAt(tiles, rect.left, y, 1), mean / 9.0f, 0.51f) << y;
  }
  // A one-pixel reach lies well inside the context: seams leave no trace.
  // Blocks take their left and top context from the image outside the
  // selection, quadrants mirror at its edge: only its first row and column
  // may differ.
  EXPECT_EQ(maxDifference(quads, tiles,
                          [&](std::int32_t x, std::int32_t y) {
                            return x > rect.left && y > rect.top && x < rect.right &&
                                   y < rect.bottom;
                          }),
            0.0f);
}

TEST_F(Driver, NoiseReducerAgreesAcrossQuadrantAndTiledRunsAwayFromSeams) {
  // Quadrants: J = 520, K = 490, read origins 456 (right) and 426 (bottom).
  // Host tiles of 120: blocks of 480, read origins 416 and 896.
  SimImage quads = makeRgb8(1040, 980, 5, 0.04f);
  SimImage tiles = quads;
  ASSERT_EQ(runFilter(quads).code, noErr);
  ASSERT_EQ(runFilter(tiles, tiledBy(120)).code, noErr);

  auto awayFromSeams = [](std::int32_t x, std::int32_t y) {
    for (std::int32_t s : {480, 520, 960})
      if (std::abs(x - s) < pieceContext) return false;
    for (std::int32_t s : {480, 490, 960})
      if (std::abs(y - s) < pieceContext) return false;
    return true;
  };
  // 64 pixels of context cover the pyramid's reach (3 pixels per level at
  // scales 1, 2, 4 and 8, and the guided expansions): pieces whose read
  // origins are multiples of 8 decimate at the same pixels and agree exactly.
  EXPECT_EQ(
      maxDifference(quads, tiles, [&](auto x, auto y) { return y < 490 && awayFromSeams(x, y); }),
      0.0f);
  // The bottom quadrants start at row 426, not a multiple of 8: their coarser
  // levels sample other pixels, and the result differs by a level or two.
  EXPECT_LE(
      maxDifference(quads, tiles, [&](auto x, auto y) { return y >= 490 && awayFromSeams(x, y); }),
      2.0f);
}

TEST_F(Driver, TiledResultDoesNotDependOnTheThreadCount) {
  SimImage one = makeRgb8(200, 150, 6);
  SimImage three = one;
  platform::setProcessorCountOverride(1);
  ASSERT_EQ(runFilter(one, tiledBy(16)).code, noErr);
  platform::setProcessorCountOverride(3);
  ASSERT_EQ(runFilter(three, tiledBy(16)).code, noErr);
  EXPECT_TRUE(sameImage(one, three));
}

TEST_F(Driver, OnlySelectedPixelsOfTheFilterRectangleChange) {
  const hostapi::VRect rect{40, 50, 160, 200};  // 150 x 120
  for (int tile : {0, 12}) {                    // whole, then blocks of 48
    for (bool masked : {false, true}) {
      SimImage img = makeRgb8(220, 180, 7);
      const SimImage before = img;
      SimOptions o = tiledBy(tile);
      o.filterRect = rect;
      if (masked) o.mask = chequeredMask(220, 180);
      ASSERT_EQ(runFilter(img, o).code, noErr);
      EXPECT_GT(changedWhereAllowed(img, before, rect, o.mask), 150 * 120 / 3) << tile;
    }
  }
}

// ---- image formats ----------------------------------------------------------

TEST_F(Driver, RgbAndLabAtEveryDepthAreFiltered) {
  for (auto [mode, depth] :
       {std::pair<std::int16_t, int>{3, 8}, {11, 16}, {16, 32}, {9, 8}, {12, 16}}) {
    for (int tile : {0, 8}) {  // whole, then blocks of 32
      SCOPED_TRACE(testing::Message() << "mode " << mode << ", tile " << tile);
      SimImage img = makeImage(72, 48, mode, 3, depth, 10, 0.06f);
      const SimImage before = img;
      const RunOutcome r = runFilter(img, tiledBy(tile));
      ASSERT_EQ(r.code, noErr);
      EXPECT_EQ(r.stats.liveBuffers, 0);
      const double fullScale = depth == 8 ? 255.0 : depth == 16 ? 32768.0 : 1.0;
      for (std::int32_t p = 0; p < 3; ++p) {
        EXPECT_LT(roughness(img, p), 0.75 * roughness(before, p));
        EXPECT_NEAR(meanOf(img, p), meanOf(before, p), 0.03 * fullScale);
      }
    }
  }
}

TEST_F(Driver, GreyImagesAreFilteredAsThreeEqualChannels) {
  for (auto [grey, rgb, depth] :
       {std::tuple<std::int16_t, std::int16_t, int>{1, 3, 8}, {10, 11, 16}, {17, 16, 32}}) {
    for (int tile : {0, 8}) {
      SCOPED_TRACE(testing::Message() << "depth " << depth << ", tile " << tile);
      SimImage g = makeImage(72, 48, grey, 1, depth, 18, 0.06f);
      const SimImage before = g;
      SimImage c = makeImage(72, 48, rgb, 3, depth);
      const auto n = static_cast<std::size_t>(depth / 8);
      for (std::size_t i = 0; i < g.pixels.size() / n; ++i)
        for (std::size_t p = 0; p < 3; ++p)
          std::memcpy(&c.pixels[(3 * i + p) * n], &g.pixels[i * n], n);
      ASSERT_EQ(runFilter(g, tiledBy(tile)).code, noErr);
      ASSERT_EQ(runFilter(c, tiledBy(tile)).code, noErr);
      EXPECT_FALSE(sameImage(g, before));
      // One sample per pixel, holding the third channel's result.
      float worst = 0.0f;
      for (std::int32_t y = 0; y < g.height; ++y)
        for (std::int32_t x = 0; x < g.width; ++x)
          worst = std::max(worst, std::fabs(sampleAt(g, x, y, 0) - sampleAt(c, x, y, 2)));
      EXPECT_EQ(worst, 0.0f);
    }
  }
}

// ---- failures ---------------------------------------------------------------

struct FailureCase {
  std::int32_t w, h;
  int tile;
  std::vector<hostapi::VRect> cells;  // what the pieces write
};

// The whole run, and a run in two blocks of 32.
const FailureCase failureCases[] = {{40, 32, 0, {{0, 0, 32, 40}}},
                                    {64, 30, 8, {{0, 0, 30, 32}, {0, 32, 30, 64}}}};

// Every cell must be wholly as in the clean run or wholly as it was: nothing
// half-written, nothing from a failed piece. Returns the cells as clean.
std::size_t cellsCleanOrOriginal(const SimImage& img, const SimImage& clean,
                                 const SimImage& original, const FailureCase& fc) {
  std::size_t cleanCells = 0;
  for (const hostapi::VRect& c : fc.cells) {
    bool asClean = true, asOriginal = true;
    for (std::int32_t y = c.top; y < c.bottom; ++y)
      for (std::int32_t x = c.left; x < c.right; ++x) {
        asClean = asClean && samePixel(img, clean, x, y);
        asOriginal = asOriginal && samePixel(img, original, x, y);
      }
    EXPECT_TRUE(asClean || asOriginal);
    cleanCells += asClean ? 1 : 0;
  }
  return cleanCells;
}

TEST_F(Driver, OutOfMemoryAtEveryAllocationReleasesEverythingAndStops) {
  for (const FailureCase& fc : failureCases) {
    const SimImage original = makeRgb8(fc.w, fc.h, 11);
    SimImage clean = original;
    const int allocations = runFilter(clean, tiledBy(fc.tile)).stats.bufferAllocations;
    for (int k = 3; k <= allocations; ++k) {  // the two tables come first
      SCOPED_TRACE(testing::Message() << fc.w << " x " << fc.h << ", allocation " << k);
      messages.clear();
      SimImage img = original;
      SimOptions o = tiledBy(fc.tile);
      o.failBufferAllocationAt = k;
      const RunOutcome r = runFilter(img, o);
      EXPECT_EQ(r.code, outOfMemory);
      EXPECT_EQ(r.result, userCancelled);
      EXPECT_EQ(r.stats.liveBuffers, 0);
      ASSERT_EQ(messages.count(), 1u);
      EXPECT_EQ(messages.messages()[0].text, notEnoughMemoryMessage);
      EXPECT_LT(cellsCleanOrOriginal(img, clean, original, fc), fc.cells.size());
    }
  }
}

TEST_F(Driver, CancelAtEveryPollReleasesEverythingAndStops) {
  for (const FailureCase& fc : failureCases) {
    const SimImage original = makeRgb8(fc.w, fc.h, 12);
    SimImage clean = original;
    const int polls = runFilter(clean, tiledBy(fc.tile)).stats.abortPolls;
    ASSERT_GT(polls, 2);
    for (int k = 1; k <= polls; ++k) {
      SCOPED_TRACE(testing::Message() << fc.w << " x " << fc.h << ", poll " << k);
      SimImage img = original;
      SimOptions o = tiledBy(fc.tile);
      o.abortAtPoll = k;
      const RunOutcome r = runFilter(img, o);
      EXPECT_EQ(r.code, userCancelled);
      EXPECT_EQ(r.result, userCancelled);
      EXPECT_EQ(r.stats.liveBuffers, 0);
      cellsCleanOrOriginal(img, clean, original, fc);
    }
    // A cancelled run does not cancel the next one.
    SimImage again = original;
    EXPECT_EQ(runFilter(again, tiledBy(fc.tile)).code, noErr);
    EXPECT_TRUE(sameImage(again, clean));
  }
  EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Driver, APieceTheEngineFailedOnIsNeverWritten) {
  for (int tile : {0, 8}) {
    SimImage img = makeRgb8(70, 40, 13);
    const SimImage before = img;
    const RunOutcome r = runFilter(img, tiledBy(tile), failingEngine);
    EXPECT_EQ(r.code, outOfMemory);
    EXPECT_EQ(r.stats.liveBuffers, 0);
    EXPECT_EQ(pieces().size(), 1u);  // the run stops at the failed piece
    EXPECT_TRUE(sameImage(img, before));
    pieces().clear();
  }
}

TEST_F(Driver, ArgumentsItCannotProcessAreRefusedUntouched) {
  SimImage img = makeRgb8(40, 40, 14);
  const SimImage before = img;
  {
    SimSession s(img);
    const Rect r = getFilterRect();
    EXPECT_EQ(filterImage(halvaneEngine(), FilterImageRun::onHost(r, 12)), badParameters);  // no such depth
    EXPECT_EQ(s.result, badParameters);
    FilterImageRun narrower = FilterImageRun::onHost(r, 8);
    narrower.width = 30;
    EXPECT_EQ(filterImage(halvaneEngine(), narrower), badParameters);  // not the rectangle's size
    EXPECT_EQ(s.finish().advanceStateCalls, 0);
  }
  EXPECT_TRUE(sameImage(img, before));

  // One host sample per pixel cannot go to a caller's buffer of three.
  SimImage grey = makeImage(40, 40, 1, 1, 8);
  SimSession s(grey);
  std::vector<std::uint8_t> out(40 * 40 * 3);
  FilterImageRun toCaller = FilterImageRun::onHost(getFilterRect(), 8);
  toCaller.writeToHost = false;
  toCaller.destination = out.data();
  toCaller.destinationRowBytes = 40 * 3;
  EXPECT_EQ(filterImage(halvaneEngine(), toCaller), badParameters);
}

TEST_F(Driver, CallersBuffersGiveTheHostRunsResult) {
  SimImage img = makeImage(48, 40, 11, 3, 16, 15);
  const std::vector<std::uint8_t> src = img.pixels;
  std::vector<std::uint8_t> dst(src.size(), 0);
  {
    SimSession s(img);
    const auto rowBytes = static_cast<std::ptrdiff_t>(img.rowBytes());
    FilterImageRun callers = FilterImageRun::onHost(getFilterRect(), 16);
    callers.fetchFromHost = false;
    callers.source = src.data();
    callers.sourceRowBytes = rowBytes;
    callers.writeToHost = false;
    callers.destination = dst.data();
    callers.destinationRowBytes = rowBytes;
    ASSERT_EQ(filterImage(halvaneEngine(), callers), noErr);
    EXPECT_EQ(s.finish().advanceStateCalls, 0);
  }
  ASSERT_EQ(runFilter(img).code, noErr);
  EXPECT_EQ(dst, img.pixels);
}

// ---- preview ----------------------------------------------------------------

TEST_F(Driver, PreviewFiltersAnInterleavedBufferWithoutTheHostsImage) {
  const SimImage in = makeRgb8(40, 30, 16, 0.06f);  // 40 x 30 interleaved RGB
  SimImage out = in;
  const SimImage host = makeRgb8(30, 30, 17);
  SimImage hostImage = host;
  auto preview = [&](std::int32_t w) {
    return previewFilter(halvaneEngine(), w, 30, {0, 0, 30, w}, in.pixels.data(), 120,
                         out.pixels.data(), 120);
  };
  {
    SimSession s(hostImage);
    ASSERT_EQ(preview(40), noErr);
    const auto stats = s.finish();
    EXPECT_EQ(stats.advanceStateCalls, 0);
    EXPECT_EQ(stats.progressReports, 0);  // no progress before the first full run
    EXPECT_EQ(stats.liveBuffers, 0);
  }
  EXPECT_TRUE(sameImage(hostImage, host));
  for (std::int32_t p = 0; p < 3; ++p) {
    EXPECT_LT(roughness(out, p), 0.75 * roughness(in, p));
    EXPECT_NEAR(meanOf(out, p), meanOf(in, p), 8.0);
  }

  // Once progress is on, a cancel leaves the destination as it was.
  progressEnable();
  std::fill(out.pixels.begin(), out.pixels.end(), std::uint8_t{7});
  SimOptions o;
  o.abortAtPoll = 1;
  SimSession s(hostImage, o);
  EXPECT_EQ(preview(24), imageTooSmall);
  EXPECT_EQ(messages.count(), 1u);
  EXPECT_EQ(preview(40), userCancelled);
  EXPECT_TRUE(std::all_of(out.pixels.begin(), out.pixels.end(), [](auto v) { return v == 7; }));
  EXPECT_EQ(s.finish().liveBuffers, 0);
}

}  // namespace
}  // namespace veltrane
