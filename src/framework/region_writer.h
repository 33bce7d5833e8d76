#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "framework/row_bands.h"
#include "framework/write_region.h"
#include "image/sample_conversion.h"

// The writer shell: walks a WriteRegion in the host's sample format and hands
// each pixel to the engine's pixel rule. A rule is a callable
//   void (const float F[3], const float U[3], float e, float out[3])
// with a member `static constexpr bool readsSource`: F is the engine's result,
// U the source pixel and e its mask weight (0..1, 1 without a mask), all on
// the 0..255 working scale; out is stored. A rule that does not read the
// source gets neither U nor e filled, and neither source nor mask is read.
namespace veltrane {

// Conversions between one host sample type and the working scale.
template <typename Sample>
struct HostSamples;
template <>
struct HostSamples<std::uint8_t> {
  static float toWorking(std::uint8_t v) noexcept { return workingFrom8(v); }
  static std::uint8_t fromWorking(float v) noexcept { return workingTo8(v); }
};
template <>
struct HostSamples<std::uint16_t> {
  static float toWorking(std::uint16_t v) noexcept { return workingFrom16(v); }
  static std::uint16_t fromWorking(float v) noexcept { return workingTo16(v); }
};
// Needs the look-up tables of this host call (buildLUTs).
template <>
struct HostSamples<float> {
  static float toWorking(float v) noexcept { return workingFrom32(v); }
  static float fromWorking(float v) noexcept { return workingTo32(v); }
};

// The rows or columns of the rectangle, relative to its top-left pixel, whose
// engine pixels lie in the buffer's inner area: [begin, end) on one axis for
// a rectangle side of n placed at buffer position b. begin is kept in
// [0, max(n, 0)], so it fits a pointer difference on every target (the end
// is only compared).
struct CoveredSpan {
  std::int64_t begin;
  std::int64_t end;
};
inline CoveredSpan coveredSpan(std::int32_t n, std::int32_t b, std::int32_t inner) noexcept {
  return {std::max<std::int64_t>(0, std::min<std::int64_t>(n, -std::int64_t{b})),
          std::min<std::int64_t>(n, std::int64_t{inner} - b)};
}

// Whether the region has an engine result to write.
inline bool hasEngineResult(const WriteRegion& r) noexcept { return r.engine && r.engine->data; }

namespace detail {

template <bool OnePlane, typename Sample, typename Rule>
void writeCoveredRows(const WriteRegion& r, CoveredSpan cols, CoveredSpan rows, const Rule& rule) {
  using Samples = HostSamples<Sample>;
  constexpr float maskScale = 0.003921569f;  // 1 / 255
  const cspaceBuffer& engine = *r.engine;
  const std::ptrdiff_t step = r.samplesPerPixel;
  const bool weighted = Rule::readsSource && r.useMask && r.mask;
  const auto* srcBytes = static_cast<const std::uint8_t*>(r.src);
  auto* dstBytes = static_cast<std::uint8_t*>(r.dst);

  // Rows are independent: they are written in bands on all threads.
  const auto rowCount = static_cast<std::int32_t>(rows.end - rows.begin);
  runRowBands(rowCount, [&](std::int32_t firstRow, std::int32_t endRow, int) {
    for (std::int64_t i = rows.begin + firstRow; i < rows.begin + endRow; ++i) {
      const std::ptrdiff_t row = std::ptrdiff_t{r.y0} + static_cast<std::ptrdiff_t>(i);
      const std::ptrdiff_t col = std::ptrdiff_t{r.x0} + static_cast<std::ptrdiff_t>(cols.begin);
      const Sample* u = nullptr;
      if constexpr (Rule::readsSource)
        u = reinterpret_cast<const Sample*>(srcBytes + row * r.srcRowBytes) + col * step;
      auto* d = reinterpret_cast<Sample*>(dstBytes + row * r.dstRowBytes) + col * step;
      const std::uint8_t* m = weighted ? r.mask + row * r.maskRowBytes + col : nullptr;
      const float* F = engine.at(static_cast<std::int32_t>(r.bx + cols.begin),
                                 static_cast<std::int32_t>(r.by + i));

      for (std::int64_t j = cols.begin; j < cols.end; ++j, d += step, F += 3) {
        float U[3];
        float e = 1.0f;
        if constexpr (Rule::readsSource) {
          if constexpr (OnePlane) {
            U[0] = U[1] = U[2] = Samples::toWorking(u[0]);
          } else {
            U[0] = Samples::toWorking(u[0]);
            U[1] = Samples::toWorking(u[1]);
            U[2] = Samples::toWorking(u[2]);
          }
          u += step;
          e = m ? static_cast<float>(*m++) * maskScale : 1.0f;
        }
        float out[3];
        rule(F, U, e, out);
        if constexpr (OnePlane) {
          // Channels 0, 1, 2 go to the same sample in turn; channel 2's stays.
          d[0] = Samples::fromWorking(out[2]);
        } else {
          d[0] = Samples::fromWorking(out[0]);
          d[1] = Samples::fromWorking(out[1]);
          d[2] = Samples::fromWorking(out[2]);
        }
      }
    }
  });
}

}  // namespace detail

// Writes the part of the rectangle that the engine buffer's inner area
// covers, never reading the engine's result outside it. Does nothing when
// the engine buffer holds no memory, the destination (or a source the rule
// reads) is missing or samplesPerPixel is below 1.
template <typename Sample, typename Rule>
void writeRegion(const WriteRegion& r, const Rule& rule) {
  if (!hasEngineResult(r) || !r.dst || r.samplesPerPixel < 1) return;
  if (Rule::readsSource && !r.src) return;
  const CoveredSpan cols = coveredSpan(r.width, r.bx, r.engine->width);
  const CoveredSpan rows = coveredSpan(r.height, r.by, r.engine->height);
  if (cols.begin >= cols.end || rows.begin >= rows.end) return;

  if (r.samplesPerPixel < 3)
    detail::writeCoveredRows<true, Sample>(r, cols, rows, rule);
  else
    detail::writeCoveredRows<false, Sample>(r, cols, rows, rule);
}

}  // namespace veltrane
