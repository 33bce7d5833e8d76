#include "blend.h"

#include <algorithm>

#include "framework/row_bands.h"
#include "image/sample_conversion.h"
#include "shell/progress.h"

namespace veltrane {
namespace {

constexpr float maskScale = 0.003921569f;  // 1 / 255
constexpr float invGreen = 1.0f / 0.587f;

// The rows and columns of the rectangle, relative to its top-left pixel,
// whose engine pixels lie in the buffer's inner area: [begin, end) on one
// axis for a rectangle of size n placed at buffer position b.
struct Span {
  std::int64_t begin;
  std::int64_t end;
};

// begin is kept in [0, max(n, 0)], so it fits a pointer difference on every
// target (the end is only compared).
Span coveredSpan(std::int32_t n, std::int32_t b, std::int32_t inner) {
  return {std::max<std::int64_t>(0, std::min<std::int64_t>(n, -std::int64_t{b})),
          std::min<std::int64_t>(n, std::int64_t{inner} - b)};
}

template <bool OnePlane, typename Sample, typename ToWorking, typename FromWorking>
void writeRows(const WriteRegion& r, Span cols, Span rows, ToWorking toWorking,
               FromWorking fromWorking) {
  const EngineSettings& s = engineSettings();
  const cspaceBuffer& engine = *r.engine;
  const std::ptrdiff_t step = r.samplesPerPixel;
  const bool weighted = r.useMask && r.mask;
  const auto* srcBytes = static_cast<const std::uint8_t*>(r.src);
  auto* dstBytes = static_cast<std::uint8_t*>(r.dst);

  // Rows are independent: they are written in bands on all threads.
  const auto rowCount = static_cast<std::int32_t>(rows.end - rows.begin);
  runRowBands(rowCount, [&](std::int32_t firstRow, std::int32_t endRow, int) {
    for (std::int64_t i = rows.begin + firstRow; i < rows.begin + endRow; ++i) {
      const std::ptrdiff_t row = std::ptrdiff_t{r.y0} + static_cast<std::ptrdiff_t>(i);
      const std::ptrdiff_t col = std::ptrdiff_t{r.x0} + static_cast<std::ptrdiff_t>(cols.begin);
      const auto* u = reinterpret_cast<const Sample*>(srcBytes + row * r.srcRowBytes) + col * step;
      auto* d = reinterpret_cast<Sample*>(dstBytes + row * r.dstRowBytes) + col * step;
      const std::uint8_t* m = weighted ? r.mask + row * r.maskRowBytes + col : nullptr;
      const float* F = engine.at(static_cast<std::int32_t>(r.bx + cols.begin),
                                 static_cast<std::int32_t>(r.by + i));

      for (std::int64_t j = cols.begin; j < cols.end; ++j, u += step, d += step, F += 3) {
        float U[3];
        if constexpr (OnePlane) {
          U[0] = U[1] = U[2] = toWorking(u[0]);
        } else {
          U[0] = toWorking(u[0]);
          U[1] = toWorking(u[1]);
          U[2] = toWorking(u[2]);
        }
        const float e = m ? static_cast<float>(*m++) * maskScale : 1.0f;
        float out[3];
        blendWithSource(F, U, e, r.hostHasMask, s, out);
        if constexpr (OnePlane) {
          // Channels 0, 1, 2 go to the same sample in turn; channel 2's stays.
          d[0] = fromWorking(out[2]);
        } else {
          d[0] = fromWorking(out[0]);
          d[1] = fromWorking(out[1]);
          d[2] = fromWorking(out[2]);
        }
      }
    }
  });
}

template <typename Sample, typename ToWorking, typename FromWorking>
void writeResult(const WriteRegion& r, ToWorking toWorking, FromWorking fromWorking) {
  if (!r.engine || !r.engine->data) return;
  if (progressStep(0)) return;
  if (!r.dst || !r.src || r.samplesPerPixel < 1) return;

  // Never read the engine's result outside its inner area, whatever the
  // rectangle asks for.
  const Span cols = coveredSpan(r.width, r.bx, r.engine->width);
  const Span rows = coveredSpan(r.height, r.by, r.engine->height);
  if (cols.begin >= cols.end || rows.begin >= rows.end) return;

  if (r.samplesPerPixel < 3)
    writeRows<true, Sample>(r, cols, rows, toWorking, fromWorking);
  else
    writeRows<false, Sample>(r, cols, rows, toWorking, fromWorking);
}

// A 32-bit image may hold samples outside 0..1 (high dynamic range); the
// engine works on them clamped, so each such sample (and one that is not a
// number) is put back as the source had it, over what the writer wrote.
void keepSamplesOutsideUnitRange(const WriteRegion& r) {
  if (!r.engine || !r.engine->data || !r.dst || !r.src || r.samplesPerPixel < 1) return;
  if (progressCancelled()) return;  // the writer wrote nothing either
  const Span cols = coveredSpan(r.width, r.bx, r.engine->width);
  const Span rows = coveredSpan(r.height, r.by, r.engine->height);
  const std::ptrdiff_t step = r.samplesPerPixel;
  const std::ptrdiff_t written = r.samplesPerPixel < 3 ? 1 : 3;
  const auto* srcBytes = static_cast<const std::uint8_t*>(r.src);
  auto* dstBytes = static_cast<std::uint8_t*>(r.dst);
  for (std::int64_t i = rows.begin; i < rows.end; ++i) {
    const std::ptrdiff_t row = std::ptrdiff_t{r.y0} + static_cast<std::ptrdiff_t>(i);
    const std::ptrdiff_t col = std::ptrdiff_t{r.x0} + static_cast<std::ptrdiff_t>(cols.begin);
    const auto* u = reinterpret_cast<const float*>(srcBytes + row * r.srcRowBytes) + col * step;
    auto* d = reinterpret_cast<float*>(dstBytes + row * r.dstRowBytes) + col * step;
    for (std::int64_t j = cols.begin; j < cols.end; ++j, u += step, d += step)
      for (std::ptrdiff_t c = 0; c < written; ++c)
        if (!(u[c] >= 0.0f && u[c] <= 1.0f)) d[c] = u[c];
  }
}

}  // namespace

void blendWithSource(const float F[3], const float U[3], float e, bool hostHasMask,
                     const EngineSettings& s, float out[3]) {
  float Yf, Af, Bf, Yu, Au, Bu;
  if (s.labImage) {
    Yf = F[0];
    Af = F[1];
    Bf = F[2];
    Yu = U[0];
    Au = U[1];
    Bu = U[2];
  } else {
    Yf = 0.299f * F[0] + 0.114f * F[2] + 0.587f * F[1];
    Af = F[0] - Yf;
    Bf = F[2] - Yf;
    Yu = 0.299f * U[0] + 0.587f * U[1] + 0.114f * U[2];
    Au = U[0] - Yu;
    Bu = U[2] - Yu;
  }

  float m;
  if (Yf <= s.protectLow)
    m = s.protectBelow;
  else if (Yf >= s.protectHigh)
    m = s.protectAbove;
  else
    m = s.protectSlope * Yf + s.protectIntercept;

  float o, t, a;
  if (hostHasMask) {
    o = s.keepBW * m * e;
    t = s.keepColor * e;
    a = 1.0f - t;
  } else {
    o = s.keepBW * m;
    t = s.keepColor;
    a = 1.0f - s.keepColor;
  }

  const float Yout = (1.0f - o) * Yu + o * Yf;
  const float Aout = t * Af + a * Au;
  const float Bout = t * Bf + a * Bu;

  if (s.labImage) {
    out[0] = Yout;
    out[1] = Aout;
    out[2] = Bout;
  } else {
    const float red = Aout + Yout;
    const float blue = Bout + Yout;
    out[0] = red;
    out[1] = (Yout - 0.299f * red - 0.114f * blue) * invGreen;
    out[2] = blue;
  }
}

void writeResult8(const WriteRegion& r) {
  writeResult<std::uint8_t>(
      r, [](std::uint8_t v) { return workingFrom8(v); }, [](float v) { return workingTo8(v); });
}

void writeResult16(const WriteRegion& r) {
  writeResult<std::uint16_t>(
      r, [](std::uint16_t v) { return workingFrom16(v); }, [](float v) { return workingTo16(v); });
}

void writeResult32(const WriteRegion& r) {
  writeResult<float>(
      r, [](float v) { return workingFrom32(v); }, [](float v) { return workingTo32(v); });
  keepSamplesOutsideUnitRange(r);
}

}  // namespace veltrane
