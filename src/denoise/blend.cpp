#include "blend.h"

#include "framework/region_writer.h"
#include "shell/progress.h"

namespace veltrane {
namespace {

constexpr float invGreen = 1.0f / 0.587f;

// The pixel rule of the writer shell: the engine's result blended with the
// source.
struct BlendRule {
  static constexpr bool readsSource = true;
  const EngineSettings& s;
  bool hostHasMask;
  void operator()(const float F[3], const float U[3], float e, float out[3]) const {
    blendWithSource(F, U, e, hostHasMask, s, out);
  }
};

template <typename Sample>
void writeResult(const WriteRegion& r) {
  if (!hasEngineResult(r)) return;
  if (progressStep(0)) return;
  writeRegion<Sample>(r, BlendRule{engineSettings(), r.hostHasMask});
}

// A 32-bit image may hold samples outside 0..1 (high dynamic range); the
// engine works on them clamped, so each such sample (and one that is not a
// number) is put back as the source had it, over what the writer wrote.
void keepSamplesOutsideUnitRange(const WriteRegion& r) {
  if (!hasEngineResult(r) || !r.dst || !r.src || r.samplesPerPixel < 1) return;
  if (progressCancelled()) return;  // the writer wrote nothing either
  const CoveredSpan cols = coveredSpan(r.width, r.bx, r.engine->width);
  const CoveredSpan rows = coveredSpan(r.height, r.by, r.engine->height);
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

void writeResult8(const WriteRegion& r) { writeResult<std::uint8_t>(r); }

void writeResult16(const WriteRegion& r) { writeResult<std::uint16_t>(r); }

void writeResult32(const WriteRegion& r) {
  writeResult<float>(r);
  keepSamplesOutsideUnitRange(r);
}

}  // namespace veltrane
