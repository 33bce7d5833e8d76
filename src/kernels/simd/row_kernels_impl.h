// The vector schedules of the row kernels, compiled once per instruction-set
// level: the including file defines VELTRANE_LANES (pixels per vector) and
// VELTRANE_KERNEL_SET (the name of its RowKernelSet) and is built with that
// level's compiler flags.
//
// Each lane is one pixel and does exactly the scalar kernel's operations in
// the scalar kernel's order (kernels/directional_filter.cpp,
// denoise/sharpen.cpp, denoise/pyramid.cpp and smootharea/matte_engine.cpp
// are the definition), so every lane's result is the scalar result to the bit. The
// image is read through a ring of planar copies of the rows around the
// current one. Everything here has internal linkage except the kernel set:
// nothing built for this level may be shared with the rest of the program.
#include <cstddef>
#include <cstdint>

#include "kernels/simd/row_kernels.h"

namespace veltrane {
namespace {

constexpr int N = VELTRANE_LANES;
using vf = float __attribute__((vector_size(N * sizeof(float))));
using vi = std::int32_t __attribute__((vector_size(N * sizeof(float))));
using vfUnaligned = float __attribute__((vector_size(N * sizeof(float)), aligned(alignof(float)),
                                         may_alias));

inline vf load(const float* p) { return *reinterpret_cast<const vfUnaligned*>(p); }
inline void store(float* p, vf v) { *reinterpret_cast<vfUnaligned*>(p) = v; }
inline vf splat(float v) {
  vf r;
  for (int l = 0; l < N; ++l) r[l] = v;
  return r;
}
inline vi splatInt(std::int32_t v) {
  vi r;
  for (int l = 0; l < N; ++l) r[l] = v;
  return r;
}
inline vf vabs(vf v) {
  return __builtin_bit_cast(vf, __builtin_bit_cast(vi, v) & splatInt(0x7fffffff));
}

// |g0 - h0| + |g1 - h1| + |g2 - h2|, added left to right.
inline vf dist(vf g0, vf g1, vf g2, vf h0, vf h1, vf h2) {
  return (vabs(g0 - h0) + vabs(g1 - h1)) + vabs(g2 - h2);
}

// Planar copies of image rows y - 3 .. y + 3: row y of channel c lives in
// slot (y + 3) mod 7 of plane c. Index 0 of a row is inner column 0; the
// row holds columns -3 .. width + 2 and a vector of zero padding after them
// (the padding feeds lanes whose results are dropped).
struct PlanarRing {
  float* base;
  std::ptrdiff_t rowFloats;
  std::ptrdiff_t planeFloats;

  float* row(int c, std::int32_t y) const {
    return base + c * planeFloats + ((y + 3) % planarRingRows) * rowFloats + 3;
  }

  void load(const float* image, std::ptrdiff_t stride, std::int32_t width, std::int32_t y) const {
    const float* src = image + static_cast<std::ptrdiff_t>(y) * stride;
    float* d0 = row(0, y);
    float* d1 = row(1, y);
    float* d2 = row(2, y);
    for (std::ptrdiff_t x = -3; x < std::ptrdiff_t{width} + 3; ++x) {
      d0[x] = src[3 * x];
      d1[x] = src[3 * x + 1];
      d2[x] = src[3 * x + 2];
    }
  }
};

// The ring in the kernel's working memory, with its padding zeroed.
PlanarRing ringFor(const RowKernelArgs& a) {
  const std::ptrdiff_t rowFloats = std::ptrdiff_t{a.width} + 6 + N;
  const PlanarRing ring{a.scratch, rowFloats, rowFloats * planarRingRows};
  for (int c = 0; c < 3; ++c)
    for (std::int32_t slot = 0; slot < planarRingRows; ++slot) {
      float* pad = ring.row(c, slot - 3) + a.width + 3;
      for (int l = 0; l < N; ++l) pad[l] = 0.0f;
    }
  return ring;
}

// Stores the first `count` lanes of q0, q1, q2 as interleaved pixels.
inline void storePixels(float* out, vf q0, vf q1, vf q2, int count) {
  alignas(64) float t0[N], t1[N], t2[N];
  store(t0, q0);
  store(t1, q1);
  store(t2, q2);
  for (int l = 0; l < count; ++l) {
    out[3 * l] = t0[l];
    out[3 * l + 1] = t1[l];
    out[3 * l + 2] = t2[l];
  }
}

// Channel 0 of `count` interleaved pixels; the rest of the lanes are zero.
inline vf loadChannel0(const float* in, int count) {
  alignas(64) float t[N] = {};
  for (int l = 0; l < count; ++l) t[l] = in[3 * l];
  return load(t);
}

inline void storeChannel0(float* out, vf q, int count) {
  alignas(64) float t[N];
  store(t, q);
  for (int l = 0; l < count; ++l) out[3 * l] = t[l];
}

// Three channels at one neighbour per lane: lane l reads plane offset
// offsets[l] (from the ring's base).
inline void gather(const PlanarRing& ring, const std::ptrdiff_t* offsets, vf& n0, vf& n1,
                   vf& n2) {
  alignas(64) float t0[N], t1[N], t2[N];
  for (int l = 0; l < N; ++l) {
    const float* p = ring.base + offsets[l];
    t0[l] = p[0];
    t1[l] = p[ring.planeFloats];
    t2[l] = p[2 * ring.planeFloats];
  }
  n0 = load(t0);
  n1 = load(t1);
  n2 = load(t2);
}

// The pixels of one vector: the centre values, and plane rows dy = -3..3.
struct Window {
  const float* rows[3][7];
  std::int32_t x;

  vf at(int c, int dx, int dy) const { return load(rows[c][dy + 3] + x + dx); }
};

// What both filters compute first for a pixel: the direction (0-based), the
// local threshold and its reciprocal.
struct Frame {
  vi direction;
  vf W;
  vf invW;
};

constexpr float oneNinth = 0.11111111f;
constexpr float inv765 = 0.0013071896f;

Frame framePixels(const Window& w, const RowKernelArgs& a) {
  const vf P0 = w.at(0, 0, 0), P1 = w.at(1, 0, 0), P2 = w.at(2, 0, 0);
  vf r0 = P0, r1 = P1, r2 = P2;
  if (a.finest) {
    vf s0 = splat(0.0f), s1 = splat(0.0f), s2 = splat(0.0f);
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        s0 += w.at(0, dx, dy);
        s1 += w.at(1, dx, dy);
        s2 += w.at(2, dx, dy);
      }
    r0 = s0 * oneNinth;
    r1 = s1 * oneNinth;
    r2 = s2 * oneNinth;
  }

  vf D[8];
  for (int k = 0; k < 8; ++k) {
    vf sum = splat(0.0f);
    for (int i = 0; i < 6; ++i) {
      const int dx = a.taps->decision[k][i][0];
      const int dy = a.taps->decision[k][i][1];
      sum += dist(r0, r1, r2, w.at(0, dx, dy), w.at(1, dx, dy), w.at(2, dx, dy));
    }
    D[k] = sum;
  }

  // The tournament of chooseDirection: the smaller of each pair, lower
  // number first; ties go to the higher number.
  const vi ma = D[0] < D[1], mb = D[2] < D[3], me = D[4] < D[5], mf = D[6] < D[7];
  const vi da = ma ? splatInt(1) : splatInt(2), db = mb ? splatInt(3) : splatInt(4);
  const vi de = me ? splatInt(5) : splatInt(6), df = mf ? splatInt(7) : splatInt(8);
  const vf Da = ma ? D[0] : D[1], Db = mb ? D[2] : D[3];
  const vf De = me ? D[4] : D[5], Df = mf ? D[6] : D[7];
  const vi mg = Da < Db, mh = De < Df;
  const vi dg = mg ? da : db, dh = mh ? de : df;
  const vf Dg = mg ? Da : Db, Dh = mh ? De : Df;
  const vi direction = (Dg < Dh ? dg : dh) - 1;

  vf U = (P0 + P1) + P2;
  U = U > 0.0f ? U : splat(0.0f);
  U = U > 765.0f ? splat(765.0f) : U;
  const vf W = (1.0f - U * inv765 * a.H) * a.T;
  return Frame{direction, W, 1.0f / W};
}

// Plane offsets of the directional patterns for the current rows, per
// direction and tap, relative to column 0.
struct PatternOffsets {
  std::ptrdiff_t at[8][20];

  PatternOffsets(const Window& w, const PlanarRing& ring, const TapTables& taps, int length) {
    for (int k = 0; k < 8; ++k)
      for (int i = 0; i < length; ++i) {
        const int dx = taps.pattern[k][i][0];
        const int dy = taps.pattern[k][i][1];
        at[k][i] = (w.rows[0][dy + 3] - ring.base) + dx;
      }
  }
};

void windowRows(Window& w, const PlanarRing& ring, std::int32_t y) {
  for (int c = 0; c < 3; ++c)
    for (int dy = -3; dy <= 3; ++dy) w.rows[c][dy + 3] = ring.row(c, y + dy);
}

// For each lane, the offset of its direction's pattern tap i at column x + l.
inline void laneOffsets(const PatternOffsets& po, const vi& direction, int i, std::int32_t x,
                        std::ptrdiff_t* out) {
  for (int l = 0; l < N; ++l) out[l] = po.at[direction[l]][i] + x + l;
}

void smoothAreaRows(const RowKernelArgs& a, std::int32_t firstRow, std::int32_t endRow) {
  const PlanarRing ring = ringFor(a);
  for (std::int32_t y = firstRow - 3; y < firstRow + 3; ++y)
    ring.load(a.image, a.imageStride, a.width, y);
  Window w{};
  for (std::int32_t y = firstRow; y < endRow; ++y) {
    ring.load(a.image, a.imageStride, a.width, y + 3);
    windowRows(w, ring, y);
    const PatternOffsets po(w, ring, *a.taps, 6);
    float* out = a.result + static_cast<std::ptrdiff_t>(y) * a.resultStride;
    float* wout = a.weights + static_cast<std::ptrdiff_t>(y) * a.weightsStride;
    for (std::int32_t x = 0; x < a.width; x += N) {
      w.x = x;
      const Frame fr = framePixels(w, a);
      const vf P0 = w.at(0, 0, 0), P1 = w.at(1, 0, 0), P2 = w.at(2, 0, 0);
      vf S = splat(0.0f), A0 = splat(0.0f), A1 = splat(0.0f), A2 = splat(0.0f);
      for (int dy = -3; dy <= 3; ++dy)
        for (int dx = -3; dx <= 3; ++dx) {
          const vf n0 = w.at(0, dx, dy), n1 = w.at(1, dx, dy), n2 = w.at(2, dx, dy);
          const vf d = dist(P0, P1, P2, n0, n1, n2);
          const vf wt = d > fr.W ? splat(0.0f) : 1.0f - d * fr.invW;
          S += wt;
          A0 += wt * n0;
          A1 += wt * n1;
          A2 += wt * n2;
        }
      for (int i = 0; i < 6; ++i) {
        std::ptrdiff_t offsets[N];
        laneOffsets(po, fr.direction, i, x, offsets);
        vf n0, n1, n2;
        gather(ring, offsets, n0, n1, n2);
        const vf d = dist(P0, P1, P2, n0, n1, n2);
        const vf w4 = d > fr.W ? splat(0.0f) : 4.0f * (1.0f - d * fr.invW);
        S += w4;
        A0 += w4 * n0;
        A1 += w4 * n1;
        A2 += w4 * n2;
      }
      const int count = a.width - x < N ? a.width - x : N;
      storePixels(out + 3 * std::ptrdiff_t{x}, A0 / S, A1 / S, A2 / S, count);
      storeChannel0(wout + 3 * std::ptrdiff_t{x}, (S - 0.9f) / S, count);
    }
  }
}

void directionalRows(const RowKernelArgs& a, std::int32_t firstRow, std::int32_t endRow) {
  const PlanarRing ring = ringFor(a);
  for (std::int32_t y = firstRow - 3; y < firstRow + 3; ++y)
    ring.load(a.image, a.imageStride, a.width, y);
  Window w{};
  for (std::int32_t y = firstRow; y < endRow; ++y) {
    ring.load(a.image, a.imageStride, a.width, y + 3);
    windowRows(w, ring, y);
    const PatternOffsets po(w, ring, *a.taps, 20);
    float* out = a.result + static_cast<std::ptrdiff_t>(y) * a.resultStride;
    float* wout = a.weights ? a.weights + static_cast<std::ptrdiff_t>(y) * a.weightsStride : nullptr;
    for (std::int32_t x = 0; x < a.width; x += N) {
      w.x = x;
      const Frame fr = framePixels(w, a);
      const vf P0 = w.at(0, 0, 0), P1 = w.at(1, 0, 0), P2 = w.at(2, 0, 0);
      vf S = splat(0.0f), A0 = splat(0.0f), A1 = splat(0.0f), A2 = splat(0.0f);
      for (int i = 0; i < 20; ++i) {
        std::ptrdiff_t offsets[N];
        laneOffsets(po, fr.direction, i, x, offsets);
        vf n0, n1, n2;
        gather(ring, offsets, n0, n1, n2);
        const vf d = dist(P0, P1, P2, n0, n1, n2);
        const vf wt = d > fr.W ? splat(0.0f) : 1.0f - d * fr.invW;
        S += wt;
        A0 += wt * n0;
        A1 += wt * n1;
        A2 += wt * n2;
      }
      // No similar neighbour: the pixel and a weight of 0.
      const vi none = S == 0.0f;
      const vf f = (1.0f - 1.0f / (S + 1.0f)) * a.strength;
      const vf keep = 1.0f - f;
      const vf q0 = none ? P0 : P0 * keep + f * (A0 / S);
      const vf q1 = none ? P1 : P1 * keep + f * (A1 / S);
      const vf q2 = none ? P2 : P2 * keep + f * (A2 / S);
      const int count = a.width - x < N ? a.width - x : N;
      storePixels(out + 3 * std::ptrdiff_t{x}, q0, q1, q2, count);
      if (wout) storeChannel0(wout + 3 * std::ptrdiff_t{x}, none ? splat(0.0f) : f, count);
    }
  }
}

constexpr float blurNorm = 0.0862069f;  // 1 / 11.6
constexpr float amountScale = 11.6f;
constexpr float wR = 0.299f;
constexpr float wG = 0.587f;
constexpr float wB = 0.114f;
// 5 x 5 blur kernel without its centre, row by row (dy -2..2), dx -2..2.
constexpr float blurKernel[25] = {
    0.1f, 0.3f, 0.5f, 0.3f, 0.1f,  //
    0.3f, 0.7f, 1.0f, 0.7f, 0.3f,  //
    0.5f, 1.0f, 0.0f, 1.0f, 0.5f,  //
    0.3f, 0.7f, 1.0f, 0.7f, 0.3f,  //
    0.1f, 0.3f, 0.5f, 0.3f, 0.1f,
};

void sharpenRows(const RowKernelArgs& a, std::int32_t firstRow, std::int32_t endRow) {
  const PlanarRing ring = ringFor(a);
  for (std::int32_t y = firstRow - 2; y < firstRow + 2; ++y)
    ring.load(a.image, a.imageStride, a.width, y);
  Window w{};
  for (std::int32_t y = firstRow; y < endRow; ++y) {
    ring.load(a.image, a.imageStride, a.width, y + 2);
    for (int c = 0; c < 3; ++c)
      for (int dy = -2; dy <= 2; ++dy) w.rows[c][dy + 3] = ring.row(c, y + dy);
    const float* wrow = a.weights + static_cast<std::ptrdiff_t>(y) * a.weightsStride;
    float* out = a.result + static_cast<std::ptrdiff_t>(y) * a.resultStride;
    for (std::int32_t x = 0; x < a.width; x += N) {
      w.x = x;
      const int count = a.width - x < N ? a.width - x : N;
      vf e = loadChannel0(wrow + 3 * std::ptrdiff_t{x}, count);
      e = e < 0.0f ? splat(0.0f) : e;
      const vf aB = e * a.SB;
      const vf aC = e * a.SC;

      vf b0 = splat(0.0f), b1 = splat(0.0f), b2 = splat(0.0f);
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
          if (dx == 0 && dy == 0) continue;
          const float k = blurKernel[(dy + 2) * 5 + (dx + 2)];
          b0 += k * w.at(0, dx, dy);
          b1 += k * w.at(1, dx, dy);
          b2 += k * w.at(2, dx, dy);
        }
      b0 *= blurNorm;
      b1 *= blurNorm;
      b2 *= blurNorm;

      const vf P0 = w.at(0, 0, 0), P1 = w.at(1, 0, 0), P2 = w.at(2, 0, 0);
      vf Yb, Ab, Bb, Y, A, B;
      if (a.lab) {
        Yb = b0;
        Ab = b1;
        Bb = b2;
        Y = P0;
        A = P1;
        B = P2;
      } else {
        Yb = wB * b2 + wG * b1 + wR * b0;
        Ab = b0 - Yb;
        Bb = b2 - Yb;
        Y = wG * P1 + wR * P0 + wB * P2;
        A = P0 - Y;
        B = P2 - Y;
      }

      const vf Y2 = Y + (Y - Yb) * aB * amountScale;
      const vf A2 = A + (A - Ab) * aC * amountScale;
      const vf B2 = B + (B - Bb) * aC * amountScale;

      if (a.lab) {
        storePixels(out + 3 * std::ptrdiff_t{x}, Y2, A2, B2, count);
      } else {
        const vf red = Y2 + A2;
        const vf blue = Y2 + B2;
        storePixels(out + 3 * std::ptrdiff_t{x}, red, (Y2 - red * wR - blue * wB) * a.invGreen, blue, count);
      }
    }
  }
}

// Weight of a guide neighbour q for the guide pixel p (pyramid.cpp).
inline vf similarity(vf p0, vf p1, vf p2, vf q0, vf q1, vf q2) {
  constexpr float inv200 = 1.0f / 200.0f;
  const vf d = dist(p0, p1, p2, q0, q1, q2);
  return d <= 10.0f ? splat(1.0f) : (d > 210.0f ? splat(0.0f) : 1.0f - (d - 10.0f) * inv200);
}

// A guide row split by column parity, planar: even[c][j] is channel c of
// column 2j, odd[c][j] of column 2j + 1.
struct SplitRow {
  float* even[3];
  float* odd[3];

  vf evenAt(int c, std::int32_t j) const { return load(even[c] + j); }
  vf oddAt(int c, std::int32_t j) const { return load(odd[c] + j); }
};

void splitRow(const float* src, std::int32_t pairs, const SplitRow& r) {
  for (std::ptrdiff_t j = 0; j < pairs; ++j)
    for (int c = 0; c < 3; ++c) {
      r.even[c][j] = src[6 * j + c];
      r.odd[c][j] = src[6 * j + 3 + c];
    }
}

void planarRow(const float* src, std::int32_t count, float* const* out) {
  for (std::ptrdiff_t j = 0; j < count; ++j)
    for (int c = 0; c < 3; ++c) out[c][j] = src[3 * j + c];
}

// Normalises two weights to a sum of 1; both 0 gives 1/2 each.
inline void normalise(vf& a, vf& b) {
  const vi none = (a == 0.0f) & (b == 0.0f);
  const vf sum = a + b;
  const vf na = a / sum;
  const vf nb = b / sum;
  a = none ? splat(0.5f) : na;
  b = none ? splat(0.5f) : nb;
}

// Writes columns 2j (from e0..e2) and 2j + 1 (from o0..o2) of lanes j0 + l
// that lie inside the row.
inline void storePairs(float* out, std::int32_t j0, std::int32_t width, const vf* e, const vf* o) {
  alignas(64) float te[3][N], to[3][N];
  for (int c = 0; c < 3; ++c) {
    store(te[c], e[c]);
    store(to[c], o[c]);
  }
  for (int l = 0; l < N; ++l) {
    const std::ptrdiff_t x = 2 * (std::ptrdiff_t{j0} + l);
    if (x >= width) break;
    for (int c = 0; c < 3; ++c) out[3 * x + c] = te[c][l];
    if (x + 1 >= width) break;
    for (int c = 0; c < 3; ++c) out[3 * x + 3 + c] = to[c][l];
  }
}

// Rows [firstRow, endRow) of the guided expansion of the coarse level to
// the guide's size (pyramid.cpp: expandEvenRow, expandOddRow).
void expandGuidedRows(const RowKernelArgs& a, std::int32_t firstRow, std::int32_t endRow) {
  const std::int32_t pairs = (a.width + 1) / 2 + 1;  // column pairs read, with one to the right
  const std::ptrdiff_t length = std::ptrdiff_t{pairs} + N;
  float* next = a.scratch;
  auto take = [&]() {
    float* p = next;
    next += length;
    for (std::ptrdiff_t j = pairs; j < length; ++j) p[j] = 0.0f;  // padding
    return p;
  };
  // Split guide rows in slots by row mod 4 and planar coarse rows by row mod
  // 2, each made once for the rows of the band that read it.
  SplitRow guideSlots[4];
  std::int32_t guideTags[4] = {-9, -9, -9, -9};
  float* coarseSlots[2][3];
  std::int32_t coarseTags[2] = {-9, -9};
  for (SplitRow& r : guideSlots)
    for (int c = 0; c < 3; ++c) {
      r.even[c] = take();
      r.odd[c] = take();
    }
  for (auto& slot : coarseSlots)
    for (float*& p : slot) p = take();
  auto guide = [&](std::int32_t y) -> const SplitRow& {
    const int i = (y + 4) & 3;
    if (guideTags[i] != y) {
      splitRow(a.image + static_cast<std::ptrdiff_t>(y) * a.imageStride, pairs, guideSlots[i]);
      guideTags[i] = y;
    }
    return guideSlots[i];
  };
  auto coarseRow = [&](std::int32_t y) -> float* const* {
    const int i = y & 1;
    if (coarseTags[i] != y) {
      planarRow(a.coarse + static_cast<std::ptrdiff_t>(y) * a.coarseStride, pairs, coarseSlots[i]);
      coarseTags[i] = y;
    }
    return coarseSlots[i];
  };

  for (std::int32_t y = firstRow; y < endRow; ++y) {
    float* out = a.result + static_cast<std::ptrdiff_t>(y) * a.resultStride;
    if ((y & 1) == 0) {
      const SplitRow& mid = guide(y);
      float* const* Ku = coarseRow(y / 2);
      for (std::int32_t j = 0; 2 * j < a.width; j += N) {
        vf e[3], o[3];
        for (int c = 0; c < 3; ++c) e[c] = load(Ku[c] + j);
        const vf F0 = mid.oddAt(0, j), F1 = mid.oddAt(1, j), F2 = mid.oddAt(2, j);
        vf wl = similarity(F0, F1, F2, mid.evenAt(0, j), mid.evenAt(1, j), mid.evenAt(2, j));
        vf wr = similarity(F0, F1, F2, mid.evenAt(0, j + 1), mid.evenAt(1, j + 1),
                           mid.evenAt(2, j + 1));
        normalise(wl, wr);
        for (int c = 0; c < 3; ++c) o[c] = load(Ku[c] + j + 1) * wr + load(Ku[c] + j) * wl;
        storePairs(out, j, a.width, e, o);
      }
      continue;
    }
    const SplitRow& up = guide(y - 1);
    const SplitRow& mid = guide(y);
    const SplitRow& down = guide(y + 1);
    float* const* Ku = coarseRow((y - 1) / 2);
    float* const* Kd = coarseRow((y + 1) / 2);
    for (std::int32_t j = 0; 2 * j < a.width; j += N) {
      vf e[3], o[3];
      {
        const vf F0 = mid.evenAt(0, j), F1 = mid.evenAt(1, j), F2 = mid.evenAt(2, j);
        vf wu = similarity(F0, F1, F2, up.evenAt(0, j), up.evenAt(1, j), up.evenAt(2, j));
        vf wd = similarity(F0, F1, F2, down.evenAt(0, j), down.evenAt(1, j), down.evenAt(2, j));
        normalise(wu, wd);
        for (int c = 0; c < 3; ++c) e[c] = load(Kd[c] + j) * wd + load(Ku[c] + j) * wu;
      }
      const vf F0 = mid.oddAt(0, j), F1 = mid.oddAt(1, j), F2 = mid.oddAt(2, j);
      vf wul = similarity(F0, F1, F2, up.evenAt(0, j), up.evenAt(1, j), up.evenAt(2, j));
      vf wur = similarity(F0, F1, F2, up.evenAt(0, j + 1), up.evenAt(1, j + 1), up.evenAt(2, j + 1));
      vf wdl = similarity(F0, F1, F2, down.evenAt(0, j), down.evenAt(1, j), down.evenAt(2, j));
      vf wdr = similarity(F0, F1, F2, down.evenAt(0, j + 1), down.evenAt(1, j + 1),
                          down.evenAt(2, j + 1));
      const vi none = (wul == 0.0f) & (wur == 0.0f) & (wdl == 0.0f) & (wdr == 0.0f);
      const vf sum = ((wul + wur) + wdl) + wdr;
      wul = none ? splat(0.25f) : wul / sum;
      wur = none ? splat(0.25f) : wur / sum;
      wdl = none ? splat(0.25f) : wdl / sum;
      wdr = none ? splat(0.25f) : wdr / sum;
      for (int c = 0; c < 3; ++c)
        o[c] = load(Kd[c] + j) * wdl + load(Kd[c] + j + 1) * wdr + load(Ku[c] + j + 1) * wur +
               load(Ku[c] + j) * wul;
      storePairs(out, j, a.width, e, o);
    }
  }
}

// Rows [firstRow, endRow) of the smooth-area matte (smootharea/matte_engine.cpp).
void matteRowsKernel(const RowKernelArgs& a, std::int32_t firstRow, std::int32_t endRow) {
  constexpr float oneTwentyFourth = 0.041666668f;
  constexpr float white = 255.0f;
  // Right, left, below, above, above-left, below-left, below-right, above-right.
  constexpr int neighbours[8][2] = {{1, 0},   {-1, 0}, {0, 1}, {0, -1},
                                    {-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
  const PlanarRing ring = ringFor(a);
  for (std::int32_t y = firstRow - 1; y < firstRow + 1; ++y)
    ring.load(a.image, a.imageStride, a.width, y);
  Window w{};
  for (std::int32_t y = firstRow; y < endRow; ++y) {
    ring.load(a.image, a.imageStride, a.width, y + 1);
    for (int c = 0; c < 3; ++c)
      for (int dy = -1; dy <= 1; ++dy) w.rows[c][dy + 3] = ring.row(c, y + dy);
    float* out = a.result + static_cast<std::ptrdiff_t>(y) * a.resultStride;
    for (std::int32_t x = 0; x < a.width; x += N) {
      w.x = x;
      vf S = splat(0.0f);
      for (int k = 0; k < 3; ++k) {
        const vf P = w.at(k, 0, 0);
        for (const auto& o : neighbours) {
          const vf e = vabs(P - w.at(k, o[0], o[1])) - a.L;
          S = e > 0.0f ? S + e : S;
        }
      }
      vf M = S * oneTwentyFourth * a.matteScale;
      M = M < white ? M : splat(white);
      if (a.invert) M = white - M;
      storePixels(out + 3 * std::ptrdiff_t{x}, M, M, M, a.width - x < N ? a.width - x : N);
    }
  }
}

}  // namespace

extern const RowKernelSet VELTRANE_KERNEL_SET;
const RowKernelSet VELTRANE_KERNEL_SET{&smoothAreaRows, &directionalRows, &sharpenRows,
                                       &expandGuidedRows, &matteRowsKernel, N};

}  // namespace veltrane
