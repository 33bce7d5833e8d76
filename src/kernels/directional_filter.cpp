#include "directional_filter.h"

#include <cmath>
#include <cstddef>

#include "neighbourhoods.h"
#include "simd/kernel_dispatch.h"

namespace veltrane {
namespace {

constexpr float oneNinth = 0.11111111f;
constexpr float inv765 = 0.0013071896f;

// |g0 - h0| + |g1 - h1| + |g2 - h2|, added left to right.
inline float dist(const float* g, const float* h) noexcept {
  return (std::fabs(g[0] - h[0]) + std::fabs(g[1] - h[1])) + std::fabs(g[2] - h[2]);
}

// Neighbour offsets in floats from a pixel's address, for one row stride.
struct OffsetTables {
  std::ptrdiff_t decision[directionCount][6];
  std::ptrdiff_t pattern[directionCount][patternLength];
  std::ptrdiff_t window[49];
  std::ptrdiff_t block3[9];

  explicit OffsetTables(std::ptrdiff_t stride) {
    auto at = [stride](Offset o) { return static_cast<std::ptrdiff_t>(o.dy) * stride + o.dx * 3; };
    for (int k = 0; k < directionCount; ++k) {
      const auto ks = static_cast<std::size_t>(k);
      for (std::size_t i = 0; i < 6; ++i) decision[k][i] = at(decisionSets[ks][i]);
      for (std::size_t i = 0; i < patternLength; ++i) pattern[k][i] = at(neighbourhoodPatterns[ks][i]);
    }
    int n = 0;
    for (int dy = -3; dy <= 3; ++dy)
      for (int dx = -3; dx <= 3; ++dx) window[n++] = at({dx, dy});
    n = 0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) block3[n++] = at({dx, dy});
  }
};

// What both variants compute first for a pixel: the chosen direction (0-based)
// and the local threshold with its reciprocal.
struct PixelFrame {
  int direction;
  float W;
  float invW;
};

inline PixelFrame framePixel(const float* P, const OffsetTables& t, float T, bool finest,
                             float H) noexcept {
  float r[3];
  if (finest) {
    float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f;
    for (std::ptrdiff_t o : t.block3) {
      s0 += P[o];
      s1 += P[o + 1];
      s2 += P[o + 2];
    }
    r[0] = s0 * oneNinth;
    r[1] = s1 * oneNinth;
    r[2] = s2 * oneNinth;
  } else {
    r[0] = P[0];
    r[1] = P[1];
    r[2] = P[2];
  }

  float D[directionCount];
  for (int k = 0; k < directionCount; ++k) {
    float sum = 0.0f;
    for (std::ptrdiff_t o : t.decision[k]) sum += dist(r, P + o);
    D[k] = sum;
  }

  float U = (P[0] + P[1]) + P[2];
  if (!(U > 0.0f)) U = 0.0f;
  if (U > 765.0f) U = 765.0f;
  const float W = (1.0f - U * inv765 * H) * T;
  return PixelFrame{chooseDirection(D) - 1, W, 1.0f / W};
}


template <bool WithWeights>
void directionalRows(const cspaceBuffer& image, cspaceBuffer& result, cspaceBuffer* weights, float T,
                     bool finest, float s, float H, std::int32_t firstRow, std::int32_t endRow) {
  const OffsetTables t(image.stride());
  for (std::int32_t y = firstRow; y < endRow; ++y) {
    const float* P = image.at(0, y);
    float* out = result.at(0, y);
    float* wout = WithWeights ? weights->at(0, y) : nullptr;
    for (std::int32_t x = 0; x < image.width; ++x, P += 3, out += 3) {
      const PixelFrame fr = framePixel(P, t, T, finest, H);
      float S = 0.0f, A0 = 0.0f, A1 = 0.0f, A2 = 0.0f;
      for (std::ptrdiff_t o : t.pattern[fr.direction]) {
        const float* n = P + o;
        const float d = dist(P, n);
        const float w = d > fr.W ? 0.0f : 1.0f - d * fr.invW;
        S += w;
        A0 += w * n[0];
        A1 += w * n[1];
        A2 += w * n[2];
      }
      if (S == 0.0f) {
        out[0] = P[0];
        out[1] = P[1];
        out[2] = P[2];
        if constexpr (WithWeights) {
          wout[0] = 0.0f;
          wout += 3;
        }
        continue;
      }
      const float f = (1.0f - 1.0f / (S + 1.0f)) * s;
      const float keep = 1.0f - f;
      out[0] = P[0] * keep + f * (A0 / S);
      out[1] = P[1] * keep + f * (A1 / S);
      out[2] = P[2] * keep + f * (A2 / S);
      if constexpr (WithWeights) {
        wout[0] = f;
        wout += 3;
      }
    }
  }
}

// The arguments of the vector kernels for one filter pass.
RowKernelArgs filterArgs(const cspaceBuffer& image, cspaceBuffer& result, cspaceBuffer* weights,
                         float T, bool finest, float H) {
  RowKernelArgs a;
  a.image = image.at(0, 0);
  a.imageStride = image.stride();
  a.result = result.at(0, 0);
  a.resultStride = result.stride();
  if (weights) {
    a.weights = weights->at(0, 0);
    a.weightsStride = weights->stride();
  }
  a.width = image.width;
  a.T = T;
  a.H = H;
  a.finest = finest;
  return a;
}

}  // namespace

int chooseDirection(const float D[8]) noexcept {
  const int a = D[0] < D[1] ? 1 : 2;
  const int b = D[2] < D[3] ? 3 : 4;
  const int e = D[4] < D[5] ? 5 : 6;
  const int f = D[6] < D[7] ? 7 : 8;
  const int g = D[a - 1] < D[b - 1] ? a : b;
  const int h = D[e - 1] < D[f - 1] ? e : f;
  return D[g - 1] < D[h - 1] ? g : h;
}

void directionalDenoiseRows(const cspaceBuffer& image, cspaceBuffer& result, cspaceBuffer* weights,
                            float T, bool finest, float s, float H, std::int32_t firstRow,
                            std::int32_t endRow, SimdLevel level) {
  RowKernelArgs a = filterArgs(image, result, weights, T, finest, H);
  a.strength = s;
  if (runVectorKernel(level, &RowKernelSet::directional, a, firstRow, endRow)) return;
  if (weights)
    directionalRows<true>(image, result, weights, T, finest, s, H, firstRow, endRow);
  else
    directionalRows<false>(image, result, nullptr, T, finest, s, H, firstRow, endRow);
}

void smoothAreaDenoiseRows(const cspaceBuffer& image, cspaceBuffer& result, cspaceBuffer& weights,
                           float T, bool finest, float H, std::int32_t firstRow,
                           std::int32_t endRow, SimdLevel level) {
  if (runVectorKernel(level, &RowKernelSet::smoothArea,
                      filterArgs(image, result, &weights, T, finest, H), firstRow, endRow))
    return;
  const OffsetTables t(image.stride());
  for (std::int32_t y = firstRow; y < endRow; ++y) {
    const float* P = image.at(0, y);
    float* out = result.at(0, y);
    float* wout = weights.at(0, y);
    for (std::int32_t x = 0; x < image.width; ++x, P += 3, out += 3, wout += 3) {
      const PixelFrame fr = framePixel(P, t, T, finest, H);
      float S = 0.0f, A0 = 0.0f, A1 = 0.0f, A2 = 0.0f;
      for (std::ptrdiff_t o : t.window) {
        const float* n = P + o;
        const float d = dist(P, n);
        const float w = d > fr.W ? 0.0f : 1.0f - d * fr.invW;
        S += w;
        A0 += w * n[0];
        A1 += w * n[1];
        A2 += w * n[2];
      }
      for (int i = 0; i < patternHeadLength; ++i) {
        const float* n = P + t.pattern[fr.direction][i];
        const float d = dist(P, n);
        const float w4 = d > fr.W ? 0.0f : 4.0f * (1.0f - d * fr.invW);
        S += w4;
        A0 += w4 * n[0];
        A1 += w4 * n[1];
        A2 += w4 * n[2];
      }
      out[0] = A0 / S;
      out[1] = A1 / S;
      out[2] = A2 / S;
      wout[0] = (S - 0.9f) / S;
    }
  }
}

}  // namespace veltrane
