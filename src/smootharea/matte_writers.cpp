#include "matte_writers.h"

#include <algorithm>

#include "image/sample_conversion.h"

namespace veltrane {
namespace {

// [begin, end) of a rectangle side of n placed at buffer position b that
// falls inside the buffer's inner extent.
struct Span {
  std::int64_t begin;
  std::int64_t end;
};

Span coveredSpan(std::int32_t n, std::int32_t b, std::int32_t inner) {
  return {std::max<std::int64_t>(0, -std::int64_t{b}),
          std::min<std::int64_t>(n, std::int64_t{inner} - b)};
}

template <typename Sample, typename FromWorking>
void writeMatte(const WriteRegion& r, FromWorking fromWorking) {
  if (!r.engine || !r.engine->data || !r.dst || r.samplesPerPixel < 1) return;
  const cspaceBuffer& engine = *r.engine;
  const Span cols = coveredSpan(r.width, r.bx, engine.width);
  const Span rows = coveredSpan(r.height, r.by, engine.height);
  if (cols.begin >= cols.end || rows.begin >= rows.end) return;

  const std::ptrdiff_t step = r.samplesPerPixel;
  const bool onePlane = step < 3;
  auto* dstBytes = static_cast<std::uint8_t*>(r.dst);
  for (std::int64_t i = rows.begin; i < rows.end; ++i) {
    // Both spans are non-empty here, so they lie in [0, n) and fit a pointer
    // difference on every target.
    const std::ptrdiff_t row = std::ptrdiff_t{r.y0} + static_cast<std::ptrdiff_t>(i);
    const std::ptrdiff_t col = std::ptrdiff_t{r.x0} + static_cast<std::ptrdiff_t>(cols.begin);
    auto* d = reinterpret_cast<Sample*>(dstBytes + row * r.dstRowBytes) + col * step;
    const float* F = engine.at(static_cast<std::int32_t>(r.bx + cols.begin),
                               static_cast<std::int32_t>(r.by + i));
    for (std::int64_t j = cols.begin; j < cols.end; ++j, d += step, F += 3) {
      if (onePlane) {
        d[0] = fromWorking(F[2]);
      } else {
        d[0] = fromWorking(F[0]);
        d[1] = fromWorking(F[1]);
        d[2] = fromWorking(F[2]);
      }
    }
  }
}

}  // namespace

void writeMatte8(const WriteRegion& r) {
  writeMatte<std::uint8_t>(r, [](float v) { return workingTo8(v); });
}

void writeMatte16(const WriteRegion& r) {
  writeMatte<std::uint16_t>(r, [](float v) { return workingTo16(v); });
}

void writeMatte32(const WriteRegion& r) {
  writeMatte<float>(r, [](float v) { return workingTo32(v); });
}

}  // namespace veltrane
