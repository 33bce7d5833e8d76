#include "profiler.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <vector>

#include "hostapi/constants.h"
#include "hostapi/filter_record.h"
#include "image/region.h"
#include "shell/call_context.h"
#include "shell/host_call.h"
#include "shell/messages.h"
#include "shell/parameters.h"

namespace veltrane {
namespace {

// Sizes of the per-block accumulators and of the pooled selection.
constexpr std::int32_t maxPlanes = 3;
constexpr std::size_t blocksPerTonalHalf = 32;
constexpr std::size_t pooledValues = 4;
constexpr std::int32_t lowestMidtone = 4;
constexpr std::int32_t highestMidtone = 255 - 4;
constexpr double veryLowNoise = 0.35;
constexpr double lowestNoiseLevel = 15.0;

bool validPlanes(std::int32_t planes) { return planes >= 1 && planes <= maxPlanes; }

bool clipped(std::uint8_t v) { return v == 0 || v == 255; }

// Usable by the fine measure: strictly between 1 and 254.
bool unclippedForFineMeasure(std::uint8_t v) { return v > 1 && v < 254; }

// The modelled noise at brightness b relative to the noise at black.
double brightnessFactor(double kind, std::int32_t brightness) {
  return 1.0 - (1.0 - kind) * brightness * (1.0 / 255.0);
}

// One block read through its own 8-bit proxy, released when it goes.
class BlockRead {
 public:
  BlockRead(std::int32_t planes, const BlockSample& b)
      : BlockRead(planes, b.row * profileBlockSize, b.column * profileBlockSize) {}
  BlockRead(std::int32_t planes, std::int32_t top, std::int32_t left) {
    proxy_.init(static_cast<std::int16_t>(planes), top, left, top + profileBlockSize,
                left + profileBlockSize);
  }
  ~BlockRead() { proxy_.release(); }
  BlockRead(const BlockRead&) = delete;
  BlockRead& operator=(const BlockRead&) = delete;

  bool ok() const {
    return proxy_.error == noErr && proxy_.data && proxy_.width >= profileBlockSize &&
           proxy_.height >= profileBlockSize;
  }
  const std::uint8_t* data() const { return proxy_.data; }
  std::ptrdiff_t rowStride() const { return proxy_.rowStride; }

 private:
  uint8ImageProxyFromAdvanceState proxy_;
};

struct GridSize {
  std::int32_t columns = 0;
  std::int32_t rows = 0;
};

// Blocks counted from the image's corner, as many as fit the filter
// rectangle's width and height, but never more than fit the image itself.
GridSize blockGrid() {
  const Rect f = getFilterRect();
  std::int64_t columns =
      std::max<std::int64_t>(0, (std::int64_t{f.right} - f.left) / profileBlockSize);
  std::int64_t rows =
      std::max<std::int64_t>(0, (std::int64_t{f.bottom} - f.top) / profileBlockSize);
  if (const hostapi::FilterRecord* r = filterRecord()) {
    std::int64_t imageWidth = r->imageSize.h;
    std::int64_t imageHeight = r->imageSize.v;
    if (usingBigDocument()) {
      imageWidth = r->bigDocumentData->imageSize32.h;
      imageHeight = r->bigDocumentData->imageSize32.v;
    }
    if (imageWidth > 0) columns = std::min(columns, imageWidth / profileBlockSize);
    if (imageHeight > 0) rows = std::min(rows, imageHeight / profileBlockSize);
  }
  return {static_cast<std::int32_t>(columns), static_cast<std::int32_t>(rows)};
}

template <typename Key>
void sortBy(std::vector<BlockSample>& blocks, Key key) {
  // Stable, so that equal keys keep raster order on every platform.
  std::stable_sort(blocks.begin(), blocks.end(),
                   [key](const BlockSample& a, const BlockSample& b) { return key(a) < key(b); });
}

const char* internalErrorText() {
  try {
    return activeDeliverable().profilerInternalError;
  } catch (const std::logic_error&) {
    return nullptr;
  }
}

// The noise level of a set of compensated block measures: the mean of the
// lowest few, scaled for grey and Lab images. `values` must not be empty.
double pooledNoiseLevel(std::vector<double>& values, std::int32_t planes) {
  std::sort(values.begin(), values.end());
  const std::size_t pooled = std::min(values.size(), pooledValues);
  double sum = 0.0;
  for (std::size_t i = 0; i < pooled; ++i) sum += values[i];
  double x = sum / static_cast<double>(pooled);
  if (planes == 1) {
    x *= static_cast<double>(1.45f);
  } else if (eightBitMode(callContext().imageMode) == hostapi::modeLabColor) {
    x *= 2.0;
  }
  return x;
}

void profile(double kind) {
  FilterParameters* p = callContext().parameters;
  if (!p) return;
  p->reals[real::highlightsNoiseLevel] = kind;
  const std::int32_t planes = checkPlanes();

  // Coarse pass, column by column, each column top to bottom.
  const GridSize grid = blockGrid();
  std::vector<BlockSample> blocks(static_cast<std::size_t>(grid.columns) *
                                  static_cast<std::size_t>(grid.rows));
  for (std::int32_t c = 0; c < grid.columns; ++c) {
    for (std::int32_t r = 0; r < grid.rows; ++r) {
      BlockSample& b = blocks[static_cast<std::size_t>(r) * static_cast<std::size_t>(grid.columns) +
                              static_cast<std::size_t>(c)];
      b.column = c;
      b.row = r;
      const BlockRead read(planes, b);
      if (!read.ok()) return;  // the proxy has told the user
      const GridSample s = sampleBlockGrid(read.data(), read.rowStride(), planes);
      b.noise = s.noise;
      b.brightness = s.brightness;
    }
  }

  std::vector<BlockSample> midtones;
  for (BlockSample& b : blocks) {
    b.noise = std::trunc(b.noise / brightnessFactor(kind, b.brightness));
    if (b.brightness >= lowestMidtone && b.brightness <= highestMidtone) midtones.push_back(b);
  }
  blocks = {};
  if (midtones.empty()) {
    reportMessage(noMidtonesMessage);
    return;
  }

  // Split at the median brightness into a dark and a bright half.
  sortBy(midtones, [](const BlockSample& b) { return b.brightness; });
  const std::int32_t median = midtones[midtones.size() / 2].brightness;
  const auto split =
      std::partition_point(midtones.begin(), midtones.end(),
                           [median](const BlockSample& b) { return b.brightness < median; });
  std::vector<BlockSample> dark(midtones.begin(), split);
  std::vector<BlockSample> bright(split, midtones.end());
  midtones = {};
  if (dark.empty()) {
    messageWithCode(tonalRangeMissingMessage, 0);
    return;
  }
  if (bright.empty()) {
    messageWithCode(tonalRangeMissingMessage, 1);
    return;
  }

  // The smoothest blocks of each half, measured again in full.
  const auto byNoise = [](const BlockSample& b) { return b.noise; };
  sortBy(dark, byNoise);
  sortBy(bright, byNoise);
  const std::size_t count = std::min({dark.size(), bright.size(), blocksPerTonalHalf});
  std::vector<BlockSample> selected(dark.begin(),
                                    dark.begin() + static_cast<std::ptrdiff_t>(count));
  selected.insert(selected.end(), bright.begin(),
                  bright.begin() + static_cast<std::ptrdiff_t>(count));
  dark = {};
  bright = {};
  for (BlockSample& b : selected) {
    const BlockRead read(planes, b);
    if (read.ok()) b.noise = measureBlockNoise(read.data(), read.rowStride(), planes);
  }

  // Pool the lowest few compensated measures.
  const double D = static_cast<double>(planes) * 1922.0 * 3.0 / static_cast<double>(planes);
  std::vector<double> values;
  values.reserve(selected.size());
  for (const BlockSample& b : selected)
    values.push_back(b.noise / brightnessFactor(kind, b.brightness) / D);
  applyProfileResult(kind, pooledNoiseLevel(values, planes));
}

bool measureArea(double kind, const Rect& area) {
  FilterParameters* p = callContext().parameters;
  if (!p) return false;
  const std::int64_t columns = std::max<std::int64_t>(0, (std::int64_t{area.right} - area.left) / profileBlockSize);
  const std::int64_t rows = std::max<std::int64_t>(0, (std::int64_t{area.bottom} - area.top) / profileBlockSize);
  if (columns == 0 || rows == 0) {
    reportMessage(areaTooSmallMessage);
    return false;
  }
  const std::int32_t planes = checkPlanes();
  constexpr double noPairs = 50000.0;
  // Compensated for brightness and scaled as the profile scales its pool.
  const double D = static_cast<double>(planes) * 1922.0 * 3.0 / static_cast<double>(planes);
  std::vector<double> values;
  values.reserve(static_cast<std::size_t>(columns * rows));
  for (std::int64_t r = 0; r < rows; ++r) {
    for (std::int64_t c = 0; c < columns; ++c) {
      const BlockRead read(planes, area.top + static_cast<std::int32_t>(r * profileBlockSize),
                           area.left + static_cast<std::int32_t>(c * profileBlockSize));
      if (!read.ok()) return false;  // the proxy has told the user
      const GridSample s = sampleBlockGrid(read.data(), read.rowStride(), planes);
      if (s.brightness < lowestMidtone || s.brightness > highestMidtone) continue;
      const double noise = measureBlockNoise(read.data(), read.rowStride(), planes);
      if (noise >= noPairs) continue;
      values.push_back(noise / brightnessFactor(kind, s.brightness) / D);
    }
  }
  if (values.empty()) {
    reportMessage(areaClippedMessage);
    return false;
  }
  p->reals[real::highlightsNoiseLevel] = kind;
  applyProfileResult(kind, pooledNoiseLevel(values, planes));
  return true;
}

}  // namespace

GridSample sampleBlockGrid(const std::uint8_t* block, std::ptrdiff_t rowStride,
                           std::int32_t planes) {
  if (!block || !validPlanes(planes)) return {};
  std::int64_t sum[maxPlanes] = {};
  std::int64_t diff[maxPlanes] = {};
  std::int32_t excluded = 0;
  std::int32_t samples = 0;
  for (std::int32_t y = 0; y < profileBlockSize; y += 8) {
    for (std::int32_t x = 0; x < profileBlockSize; x += 8) {
      samples += planes;
      const std::uint8_t* at = block + y * rowStride + x * planes;
      for (std::int32_t i = 0; i < planes; ++i) {
        const int v = at[i];
        const int right = at[planes + i];
        const int below = at[rowStride + i];
        sum[i] += v;
        if (clipped(at[i])) {
          excluded += 2;
          continue;
        }
        if (clipped(at[planes + i]))
          ++excluded;
        else
          diff[i] += std::abs(v - right);
        if (clipped(at[rowStride + i]))
          ++excluded;
        else
          diff[i] += std::abs(v - below);
      }
    }
  }

  const std::int32_t total = 2 * planes * samples;
  const double f = total - excluded > 0
                       ? static_cast<double>(total) / static_cast<double>(total - excluded)
                       : 0.0;
  std::int64_t mean[maxPlanes] = {};
  for (std::int32_t i = 0; i < planes; ++i) {
    mean[i] = sum[i] / 16;
    diff[i] = static_cast<std::int64_t>(std::trunc(static_cast<double>(diff[i]) * f));
  }

  GridSample s;
  s.brightness = static_cast<std::int32_t>((mean[0] + mean[1] + mean[2]) / planes);
  s.noise = static_cast<double>(diff[0] + diff[1] + diff[2]) * 3.0 / planes;
  if (s.noise == 0.0) s.brightness = 0;
  return s;
}

double measureBlockNoise(const std::uint8_t* block, std::ptrdiff_t rowStride, std::int32_t planes) {
  constexpr double noPairs = 50000.0;
  if (!block || !validPlanes(planes)) return noPairs;
  std::int64_t differences = 0;
  std::int32_t excluded = 0;
  const auto pair = [&](std::uint8_t a, std::uint8_t b) {
    if (unclippedForFineMeasure(a) && unclippedForFineMeasure(b))
      differences += std::abs(int{a} - int{b});
    else
      ++excluded;
  };
  constexpr std::int32_t lines[] = {7, 15, 23};
  for (std::int32_t y = 0; y < profileBlockSize; ++y) {
    const std::uint8_t* row = block + y * rowStride;
    for (std::int32_t i = 0; i < planes; ++i)
      for (const std::int32_t x : lines) pair(row[x * planes + i], row[(x + 1) * planes + i]);
  }
  for (std::int32_t x = 0; x < profileBlockSize; ++x) {
    for (std::int32_t i = 0; i < planes; ++i)
      for (const std::int32_t y : lines)
        pair(block[y * rowStride + x * planes + i], block[(y + 1) * rowStride + x * planes + i]);
  }

  const std::int32_t total = planes * 192;
  const std::int32_t k = 3 / planes;
  if (excluded == total) return noPairs;
  return static_cast<double>(differences) *
         (static_cast<double>(total) / static_cast<double>(total - excluded)) * 10.0 * k;
}

double GetNewNoiseLevel(double x, double kind) {
  double level = 0.0;
  if (kind == filmProfile) {
    level = 18.0 * x - 15.0;
  } else {
    level = 35.0 * x - 15.0;
    if (kind != digitalProfile) {
      if (const char* text = internalErrorText()) reportMessage(text);
    }
  }
  if (x < veryLowNoise) {
    // Bounded so that the truncation to an integer is defined.
    const double shown = std::clamp(level, static_cast<double>(std::numeric_limits<int>::min()),
                                    static_cast<double>(std::numeric_limits<int>::max()));
    messageWithCode(veryLowNoiseMessage, static_cast<int>(shown));
  }
  return level >= lowestNoiseLevel ? level : lowestNoiseLevel;
}

void applyProfileResult(double kind, double x) {
  FilterParameters* p = callContext().parameters;
  if (!p) return;
  const double level = GetNewNoiseLevel(x, kind);
  p->reals[real::overallNoiseLevel] = level;
  if (kind == filmProfile) {
    p->reals[real::protectThreshold] = 255.0;
    p->reals[real::protectFeather] = 0.0;
  } else if (kind == digitalProfile) {
    p->reals[real::protectThreshold] = 100.0;
    p->reals[real::protectFeather] = std::clamp(2.0 * level + 45.0, 0.0, 155.0);
  }
  p->flags[flag::protectShadows] = 0;

  ParameterDefaults& defaults = parameterDefaults();
  defaults.reals[real::overallNoiseLevel] = p->reals[real::overallNoiseLevel];
  defaults.reals[real::highlightsNoiseLevel] = p->reals[real::highlightsNoiseLevel];
}

void profileImage(double kind) noexcept {
  try {
    profile(kind);
  } catch (...) {
    // Out of memory for the block lists: the parameters keep what was
    // written so far, as for any other failed profile.
  }
}

bool profileArea(double kind, const Rect& area) noexcept {
  try {
    return measureArea(kind, area);
  } catch (...) {
    return false;  // out of memory for the measures: nothing was changed
  }
}

}  // namespace veltrane
