#include "denoise/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "denoise/engine_settings.h"
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

// ---- a cheap piece engine with a known reach --------------------------------

// The sizes of the pieces the driver handed to the engine, in order.
std::vector<std::pair<std::int32_t, std::int32_t>>& pieces() {
  static std::vector<std::pair<std::int32_t, std::int32_t>> v;
  return v;
}

// Writes the engine's result unchanged: full filtered luminance and chroma,
// no protection.
void passThroughSettings() {
  EngineSettings s;
  s.keepBW = 1.0f;
  s.keepColor = 1.0f;
  s.protectLow = 1e9f;
  s.protectBelow = 1.0f;
  engineSettings() = s;
}

// Output = mean of the 3 x 3 neighbourhood (mirrored at the piece's edges).
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

// Output = input.
ResultCode identity(cspaceBuffer& in, cspaceBuffer& out) {
  pieces().emplace_back(in.width, in.height);
  out.copyFrom(in);
  return noErr;
}

// Leaves garbage in the output and reports running out of memory.
ResultCode failingEngine(cspaceBuffer& in, cspaceBuffer& out) {
  pieces().emplace_back(in.width, in.height);
  for (std::int32_t y = 0; y < out.height; ++y)
    for (std::int32_t x = 0; x < out.width; ++x)
      for (int c = 0; c < 3; ++c) out.at(x, y)[c] = 1000.0f;
  return outOfMemory;
}

constexpr PieceEngine boxEngine{&passThroughSettings, &boxMean,       &writeResult8,
                                &writeResult16,       &writeResult32, "box: too small"};
constexpr PieceEngine identityEngine{&passThroughSettings, &identity,      &writeResult8,
                                     &writeResult16,       &writeResult32, "identity: too small"};
constexpr PieceEngine brokenEngine{&passThroughSettings, &failingEngine, &writeResult8,
                                   &writeResult16,       &writeResult32, "broken: too small"};

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

// Host tiles of `tile` pixels: blocks of 4 * tile.
SimOptions tiledBy(int tile) {
  SimOptions o;
  o.tileWidth = static_cast<std::int16_t>(tile);
  o.tileHeight = static_cast<std::int16_t>(tile);
  return o;
}

bool sameImage(const SimImage& a, const SimImage& b) { return a.pixels == b.pixels; }

// Largest difference between a and b over pixels inside `keep`.
template <typename Keep>
float maxDifference(const SimImage& a, const SimImage& b, Keep keep) {
  float worst = 0.0f;
  for (std::int32_t y = 0; y < a.height; ++y)
    for (std::int32_t x = 0; x < a.width; ++x)
      if (keep(x, y))
        for (std::int32_t p = 0; p < a.planes; ++p)
          worst = std::max(worst, std::fabs(sampleAt(a, x, y, p) - sampleAt(b, x, y, p)));
  return worst;
}

// Mean absolute difference between horizontal neighbours of plane p: the
// high-frequency energy that noise reduction removes.
double roughness(const SimImage& img, std::int32_t p) {
  double sum = 0.0;
  for (std::int32_t y = 0; y < img.height; ++y)
    for (std::int32_t x = 1; x < img.width; ++x)
      sum += std::fabs(static_cast<double>(sampleAt(img, x, y, p)) -
                       static_cast<double>(sampleAt(img, x - 1, y, p)));
  return sum / (static_cast<double>(img.width - 1) * img.height);
}

double meanOf(const SimImage& img, std::int32_t p) {
  double sum = 0.0;
  for (std::int32_t y = 0; y < img.height; ++y)
    for (std::int32_t x = 0; x < img.width; ++x) sum += static_cast<double>(sampleAt(img, x, y, p));
  return sum / (static_cast<double>(img.width) * img.height);
}

// ---- cutting the rectangle --------------------------------------------------

TEST_F(Driver, LayoutFollowsPixelCountSidesAndHostTiles) {
  SimImage img = makeRgb8(8, 8);
  {
    SimSession s(img);  // no host tiles: blocks of 1024
    EXPECT_EQ(processingBlockSize().width, 1024);
    EXPECT_EQ(choosePieceLayout(1000, 1000), PieceLayout::whole);
    EXPECT_EQ(choosePieceLayout(1001, 1000), PieceLayout::quadrants);
    EXPECT_EQ(choosePieceLayout(2047, 2047), PieceLayout::quadrants);
    EXPECT_EQ(choosePieceLayout(2048, 30), PieceLayout::tiles);
    EXPECT_EQ(choosePieceLayout(30, 2048), PieceLayout::tiles);
  }
  {
    SimSession s(img, tiledBy(1024));
    EXPECT_EQ(choosePieceLayout(7500, 134), PieceLayout::whole);  // height not above 134
    EXPECT_EQ(choosePieceLayout(134, 7500), PieceLayout::whole);
    EXPECT_EQ(choosePieceLayout(7500, 135), PieceLayout::quadrants);
  }
  SimSession s(img);
  lowerBlockScales();
  EXPECT_EQ(choosePieceLayout(511, 100), PieceLayout::whole);
  EXPECT_EQ(choosePieceLayout(512, 100), PieceLayout::tiles);
  EXPECT_EQ(blockScaleH(), 1);
  EXPECT_EQ(blockScaleV(), 1);
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
  EXPECT_STREQ(halvaneEngine().tooSmallMessage, halvaneDeliverable().tooSmallMessage);

  SimImage img = makeRgb8(25, 25);
  const SimImage before = img;
  const RunOutcome r = runFilter(img);
  EXPECT_EQ(r.code, noErr);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.stats.liveBuffers, 0);
  EXPECT_FALSE(sameImage(img, before));
  EXPECT_EQ(messages.count(), 2u);
}

TEST_F(Driver, MegapixelRectanglesAreCutIntoQuadrants) {
  // With an engine that returns its input, every cell written from a wrong
  // buffer position or source position would show as a changed pixel.
  SimImage whole = makeRgb8(1000, 1000, 3);
  const SimImage wholeBefore = whole;
  ASSERT_EQ(runFilter(whole, {}, identityEngine).code, noErr);
  EXPECT_EQ(pieces(), (std::vector<std::pair<std::int32_t, std::int32_t>>{{1000, 1000}}));
  EXPECT_TRUE(sameImage(whole, wholeBefore));

  pieces().clear();
  SimImage quads = makeRgb8(1001, 1000, 3);
  const SimImage quadsBefore = quads;
  std::int32_t lastDone = -1, lastTotal = -1;
  SimOptions o;
  o.onProgress = [&](std::int32_t done, std::int32_t total) {
    lastDone = done;
    lastTotal = total;
  };
  ASSERT_EQ(runFilter(quads, o, identityEngine).code, noErr);
  // J = 500 and K = 500: the right quadrants are a column wider.
  EXPECT_EQ(pieces(), (std::vector<std::pair<std::int32_t, std::int32_t>>{
                          {564, 564}, {565, 564}, {564, 564}, {565, 564}}));
  EXPECT_EQ(lastDone, 4);
  EXPECT_EQ(lastTotal, 4);
  EXPECT_TRUE(sameImage(quads, quadsBefore));
}

TEST_F(Driver, WholeAndTiledRunsOfAShortReachEngineAreIdentical) {
  SimImage whole = makeRgb8(300, 200, 4);
  const SimImage original = whole;
  SimImage tiled = whole;
  ASSERT_EQ(runFilter(whole, {}, boxEngine).code, noErr);
  pieces().clear();
  ASSERT_EQ(runFilter(tiled, tiledBy(32), boxEngine).code, noErr);  // blocks of 128: 3 x 2
  // Interior blocks are read with 64 pixels of context on each inner side.
  EXPECT_EQ(pieces(), (std::vector<std::pair<std::int32_t, std::int32_t>>{
                          {192, 192}, {236, 192}, {108, 192}, {192, 136}, {236, 136}, {108, 136}}));
  EXPECT_TRUE(sameImage(whole, tiled));

  // And the result is the engine's: the mean of the neighbourhood.
  float mean = 0.0f;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) mean += sampleAt(original, 150 + dx, 100 + dy, 1);
  EXPECT_NEAR(sampleAt(whole, 150, 100, 1), mean / 9.0f, 0.51f);
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
  auto top = [&](std::int32_t x, std::int32_t y) { return y < 490 && awayFromSeams(x, y); };
  auto bottom = [&](std::int32_t x, std::int32_t y) { return y >= 490 && awayFromSeams(x, y); };
  // 64 pixels of context cover the pyramid's reach (3 pixels per level at
  // scales 1, 2, 4 and 8, and the guided expansions): pieces whose read
  // origins are multiples of 8 decimate at the same pixels and agree exactly.
  EXPECT_EQ(maxDifference(quads, tiles, top), 0.0f);
  // The bottom quadrants start at row 426, not a multiple of 8, so their
  // coarser levels sample other pixels: the same image, filtered at another
  // decimation phase, differs by a level or two.
  EXPECT_LE(maxDifference(quads, tiles, bottom), 2.0f);
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

// ---- selections -------------------------------------------------------------

// Counts the pixels inside r that differ from before; fails on any change
// outside r.
template <typename Rectangle>
std::int64_t changedInsideOnly(const SimImage& after, const SimImage& before, const Rectangle& r) {
  std::int64_t changed = 0;
  for (std::int32_t y = 0; y < after.height; ++y)
    for (std::int32_t x = 0; x < after.width; ++x) {
      const bool inside = y >= r.top && y < r.bottom && x >= r.left && x < r.right;
      const bool same = samePixel(after, before, x, y);
      if (!inside) {
        EXPECT_TRUE(same) << "outside the filter rectangle at " << x << ", " << y;
      }
      if (inside && !same) ++changed;
      if (!inside && !same) return -1;
    }
  return changed;
}

TEST_F(Driver, SelectionAwayFromTheCornerChangesOnlyItsPixels) {
  const hostapi::VRect rect{40, 50, 160, 200};  // 150 x 120
  for (int tile : {0, 12}) {                    // whole, then blocks of 48
    SimImage img = makeRgb8(220, 180, 7);
    const SimImage before = img;
    SimOptions o = tiledBy(tile);
    o.filterRect = rect;
    const RunOutcome r = runFilter(img, o);
    ASSERT_EQ(r.code, noErr);
    EXPECT_EQ(r.stats.liveBuffers, 0);
    EXPECT_GT(changedInsideOnly(img, before, rect), 150 * 120 / 2) << "tile " << tile;
  }
}

// Selected (255) and unselected (0) cells of 7 x 5 pixels.
std::vector<std::uint8_t> chequeredMask(std::int32_t w, std::int32_t h) {
  std::vector<std::uint8_t> m(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      m[static_cast<std::size_t>(y * w + x)] = (x / 7 + y / 5) % 2 ? 255 : 0;
  return m;
}

void expectMaskRespected(const SimImage& after, const SimImage& before,
                         const std::vector<std::uint8_t>& mask) {
  std::int64_t unselectedChanged = 0, selectedChanged = 0, selected = 0;
  for (std::int32_t y = 0; y < after.height; ++y)
    for (std::int32_t x = 0; x < after.width; ++x) {
      const bool same = samePixel(after, before, x, y);
      if (mask[static_cast<std::size_t>(y * after.width + x)] == 0) {
        unselectedChanged += same ? 0 : 1;
      } else {
        ++selected;
        selectedChanged += same ? 0 : 1;
      }
    }
  EXPECT_EQ(unselectedChanged, 0);
  EXPECT_GT(selectedChanged, selected / 2);
}

TEST_F(Driver, QuadrantsAreMeasuredFromTheSelectionsCorner) {
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
  EXPECT_GT(changedInsideOnly(quads, before, rect), 400000);
  EXPECT_GT(changedInsideOnly(tiles, before, rect), 400000);
  expectMaskRespected(quads, before, o.mask);
  expectMaskRespected(tiles, before, o.mask);
  // The engine reaches one pixel, well inside the context, so the seams
  // leave no trace. Blocks take their left and top context from the image
  // outside the selection, quadrants mirror at its edge: only the first row
  // and column may differ.
  EXPECT_EQ(maxDifference(quads, tiles,
                          [&](std::int32_t x, std::int32_t y) {
                            return x > rect.left && y > rect.top && x < rect.right &&
                                   y < rect.bottom;
                          }),
            0.0f);
}

TEST_F(Driver, UnselectedPixelsStayUnchangedInEveryLayout) {
  struct Case {
    std::int32_t w, h;
    int tile;
    const PieceEngine* engine;
  };
  for (const Case& c : {Case{90, 70, 0, &halvaneEngine()}, Case{160, 100, 16, &halvaneEngine()}}) {
    SimImage img = makeRgb8(c.w, c.h, 9);
    const SimImage before = img;
    SimOptions o = tiledBy(c.tile);
    o.mask = chequeredMask(c.w, c.h);
    ASSERT_EQ(runFilter(img, o, *c.engine).code, noErr);
    expectMaskRespected(img, before, o.mask);
  }
}

// ---- image formats ----------------------------------------------------------

TEST_F(Driver, RgbAndLabAtEveryDepthAreFiltered) {
  struct Format {
    std::int16_t mode;
    std::int32_t depth;
  };
  for (const Format& f :
       {Format{3, 8}, Format{11, 16}, Format{16, 32}, Format{9, 8}, Format{12, 16}}) {
    SCOPED_TRACE(testing::Message() << "mode " << f.mode << ", depth " << f.depth);
    for (int tile : {0, 8}) {  // whole, then blocks of 32
      SimImage img = makeImage(72, 48, f.mode, 3, f.depth, 10, 0.06f);
      const SimImage before = img;
      const RunOutcome r = runFilter(img, tiledBy(tile));
      ASSERT_EQ(r.code, noErr);
      EXPECT_EQ(r.result, 0);
      EXPECT_EQ(r.stats.liveBuffers, 0);
      const double fullScale = f.depth == 8 ? 255.0 : f.depth == 16 ? 32768.0 : 1.0;
      for (std::int32_t p = 0; p < 3; ++p) {
        EXPECT_LT(roughness(img, p), 0.75 * roughness(before, p)) << "plane " << p;
        EXPECT_NEAR(meanOf(img, p), meanOf(before, p), 0.03 * fullScale) << "plane " << p;
      }
    }
  }
}

TEST_F(Driver, GreyImagesAreFilteredAsThreeEqualChannels) {
  struct Format {
    std::int16_t greyMode, rgbMode;
    std::int32_t depth;
  };
  for (const Format& f : {Format{1, 3, 8}, Format{10, 11, 16}, Format{17, 16, 32}}) {
    SCOPED_TRACE(testing::Message() << "depth " << f.depth);
    for (int tile : {0, 8}) {
      SimImage grey = makeImage(72, 48, f.greyMode, 1, f.depth, 18, 0.06f);
      const SimImage before = grey;
      // The same samples in all three planes of a colour image.
      SimImage rgb = makeImage(72, 48, f.rgbMode, 3, f.depth);
      const auto bytes = static_cast<std::size_t>(f.depth / 8);
      for (std::size_t i = 0; i < grey.pixels.size() / bytes; ++i)
        for (std::size_t p = 0; p < 3; ++p)
          std::memcpy(&rgb.pixels[(3 * i + p) * bytes], &grey.pixels[i * bytes], bytes);

      ASSERT_EQ(runFilter(grey, tiledBy(tile)).code, noErr);
      ASSERT_EQ(runFilter(rgb, tiledBy(tile)).code, noErr);
      EXPECT_FALSE(sameImage(grey, before));
      // One sample per pixel, holding the third channel's result.
      float worst = 0.0f;
      for (std::int32_t y = 0; y < grey.height; ++y)
        for (std::int32_t x = 0; x < grey.width; ++x)
          worst = std::max(worst, std::fabs(sampleAt(grey, x, y, 0) - sampleAt(rgb, x, y, 2)));
      EXPECT_EQ(worst, 0.0f);
    }
  }
}

// ---- failures ---------------------------------------------------------------

struct TileGrid {
  std::vector<hostapi::VRect> cells;
};

// Whether every cell of the image is wholly as in `clean` or wholly as in
// `original` (nothing half-written, nothing from a failed piece); counts the
// cells as in `clean`.
bool cellsCleanOrOriginal(const SimImage& img, const SimImage& clean, const SimImage& original,
                          const TileGrid& grid, int* cleanCells) {
  *cleanCells = 0;
  for (const hostapi::VRect& c : grid.cells) {
    bool asClean = true, asOriginal = true;
    for (std::int32_t y = c.top; y < c.bottom; ++y)
      for (std::int32_t x = c.left; x < c.right; ++x) {
        asClean = asClean && samePixel(img, clean, x, y);
        asOriginal = asOriginal && samePixel(img, original, x, y);
      }
    if (!asClean && !asOriginal) return false;
    if (asClean) ++*cleanCells;
  }
  return true;
}

struct FailureCase {
  std::int32_t w, h;
  int tile;
  TileGrid grid;
};

// The whole run (one cell) and a run in two blocks of 32.
std::vector<FailureCase> failureCases() {
  return {{40, 32, 0, {{{0, 0, 32, 40}}}}, {64, 30, 8, {{{0, 0, 30, 32}, {0, 32, 30, 64}}}}};
}

TEST_F(Driver, OutOfMemoryAtEveryAllocationReleasesEverythingAndStops) {
  for (const FailureCase& fc : failureCases()) {
    const SimImage original = makeRgb8(fc.w, fc.h, 11);
    SimImage clean = original;
    const RunOutcome ok = runFilter(clean, tiledBy(fc.tile));
    ASSERT_EQ(ok.code, noErr);
    constexpr int tableAllocations = 2;
    ASSERT_GT(ok.stats.bufferAllocations, tableAllocations + 2);

    for (int k = tableAllocations + 1; k <= ok.stats.bufferAllocations; ++k) {
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
      int cleanCells = 0;
      EXPECT_TRUE(cellsCleanOrOriginal(img, clean, original, fc.grid, &cleanCells));
      EXPECT_LT(cleanCells, static_cast<int>(fc.grid.cells.size()));
    }
  }
}

TEST_F(Driver, CancelAtEveryPollReleasesEverythingAndStops) {
  for (const FailureCase& fc : failureCases()) {
    const SimImage original = makeRgb8(fc.w, fc.h, 12);
    SimImage clean = original;
    const RunOutcome ok = runFilter(clean, tiledBy(fc.tile));
    ASSERT_EQ(ok.code, noErr);
    ASSERT_GT(ok.stats.abortPolls, 2);

    for (int k = 1; k <= ok.stats.abortPolls; ++k) {
      SCOPED_TRACE(testing::Message() << fc.w << " x " << fc.h << ", poll " << k);
      SimImage img = original;
      SimOptions o = tiledBy(fc.tile);
      o.abortAtPoll = k;
      const RunOutcome r = runFilter(img, o);
      EXPECT_EQ(r.code, userCancelled);
      EXPECT_EQ(r.result, userCancelled);
      EXPECT_EQ(r.stats.liveBuffers, 0);
      int cleanCells = 0;
      EXPECT_TRUE(cellsCleanOrOriginal(img, clean, original, fc.grid, &cleanCells));
    }
    // A cancelled run does not cancel the next one.
    SimImage again = original;
    const RunOutcome next = runFilter(again, tiledBy(fc.tile));
    EXPECT_EQ(next.code, noErr);
    EXPECT_EQ(next.result, 0);
    EXPECT_TRUE(sameImage(again, clean));
  }
  EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Driver, APieceTheEngineFailedOnIsNeverWritten) {
  for (int tile : {0, 8}) {
    SimImage img = makeRgb8(70, 40, 13);
    const SimImage before = img;
    const RunOutcome r = runFilter(img, tiledBy(tile), brokenEngine);
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
    EXPECT_EQ(filterImage(halvaneEngine(), 40, 40, true, r, nullptr, 0, 12, true, nullptr, 0),
              badParameters);
    EXPECT_EQ(s.result, badParameters);
    EXPECT_EQ(filterImage(halvaneEngine(), 30, 40, true, r, nullptr, 0, 8, true, nullptr, 0),
              badParameters);
    EXPECT_EQ(s.finish().advanceStateCalls, 0);
  }
  EXPECT_TRUE(sameImage(img, before));

  // One host sample per pixel cannot be written to a caller's buffer of three.
  SimImage grey = makeImage(40, 40, 1, 1, 8);
  SimSession s(grey);
  std::vector<std::uint8_t> out(40 * 40 * 3);
  EXPECT_EQ(filterImage(halvaneEngine(), 40, 40, true, getFilterRect(), nullptr, 0, 8, false,
                        out.data(), 40 * 3),
            badParameters);
}

TEST_F(Driver, CallersBuffersGiveTheHostRunsResult) {
  SimImage img = makeImage(48, 40, 11, 3, 16, 15);
  std::vector<std::uint8_t> src = img.pixels;
  std::vector<std::uint8_t> dst(src.size(), 0);
  {
    SimSession s(img);
    const Rect r = getFilterRect();
    ASSERT_EQ(filterImage(halvaneEngine(), 48, 40, false, r, src.data(), img.rowBytes(), 16, false,
                          dst.data(), img.rowBytes()),
              noErr);
    EXPECT_EQ(s.finish().advanceStateCalls, 0);
  }
  ASSERT_EQ(runFilter(img).code, noErr);
  EXPECT_EQ(dst, img.pixels);
}

// ---- preview ----------------------------------------------------------------

TEST_F(Driver, PreviewFiltersAnInterleavedBufferWithoutTheHostsImage) {
  SimImage img = makeRgb8(40, 30, 16, 0.06f);  // its pixels double as the preview's source
  const SimImage host = makeRgb8(30, 30, 17);
  SimImage hostImage = host;
  SimImage out = img;
  std::fill(out.pixels.begin(), out.pixels.end(), std::uint8_t{0});
  {
    SimSession s(hostImage);
    ASSERT_EQ(previewFilter(halvaneEngine(), 40, 30, {0, 0, 30, 40}, img.pixels.data(), 120,
                            out.pixels.data(), 120),
              noErr);
    const auto stats = s.finish();
    EXPECT_EQ(stats.advanceStateCalls, 0);
    EXPECT_EQ(stats.progressReports, 0);  // no progress before the first full run
    EXPECT_EQ(stats.liveBuffers, 0);
  }
  EXPECT_TRUE(sameImage(hostImage, host));
  for (std::int32_t p = 0; p < 3; ++p) {
    EXPECT_LT(roughness(out, p), 0.75 * roughness(img, p));
    EXPECT_NEAR(meanOf(out, p), meanOf(img, p), 8.0);
  }

  // Once progress is on, a cancel leaves the destination as it was.
  progressEnable();
  std::fill(out.pixels.begin(), out.pixels.end(), std::uint8_t{7});
  SimOptions o;
  o.abortAtPoll = 1;
  SimSession s(hostImage, o);
  EXPECT_EQ(previewFilter(halvaneEngine(), 24, 30, {0, 0, 30, 24}, img.pixels.data(), 72,
                          out.pixels.data(), 72),
            imageTooSmall);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, "Halvane error: Image is too small.");
  EXPECT_EQ(previewFilter(halvaneEngine(), 40, 30, {0, 0, 30, 40}, img.pixels.data(), 120,
                          out.pixels.data(), 120),
            userCancelled);
  EXPECT_TRUE(
      std::all_of(out.pixels.begin(), out.pixels.end(), [](std::uint8_t v) { return v == 7; }));
  EXPECT_EQ(s.finish().liveBuffers, 0);
}

}  // namespace
}  // namespace veltrane
