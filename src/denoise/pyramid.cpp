#include "pyramid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine_settings.h"
#include "framework/row_bands.h"
#include "level_stage.h"
#include "kernels/simd/kernel_dispatch.h"
#include "shell/call_context.h"
#include "shell/progress.h"

namespace veltrane {
namespace {

constexpr float minThreshold = 0.00001f;

inline float dist(const float* g, const float* h) noexcept {
  return (std::fabs(g[0] - h[0]) + std::fabs(g[1] - h[1])) + std::fabs(g[2] - h[2]);
}

// Weight of a guide neighbour q for the guide pixel p.
inline float similarity(const float* p, const float* q) noexcept {
  constexpr float inv200 = 1.0f / 200.0f;
  const float d = dist(p, q);
  if (d <= 10.0f) return 1.0f;
  if (d > 210.0f) return 0.0f;
  return 1.0f - (d - 10.0f) * inv200;
}

// Unlocks a buffer's memory so the host may move it while it is not needed.
void unlockForLater(cspaceBuffer& b) {
  const HostServices& h = callContext().services;
  if (b.bufferID && b.locked) h.unlockBuffer(h.host, b.bufferID);
  b.locked = 0;
  b.data = nullptr;
}

// Locks it again; data stays null when the host cannot.
void lockAgain(cspaceBuffer& b) {
  const HostServices& h = callContext().services;
  if (!b.bufferID) return;
  b.data = static_cast<float*>(h.lockBuffer(h.host, b.bufferID, true));
  b.locked = b.data ? 1 : 0;
}

}  // namespace

void halveImage(cspaceBuffer& source, cspaceBuffer& destination) {
  if (!source.marginsValid) source.mirrorMargins();
  runRowBands(destination.height, [&](std::int32_t first, std::int32_t end, int) {
    for (std::int32_t y = first; y < end; ++y) {
      const float* s = source.at(0, 2 * y);
      float* d = destination.at(0, y);
      for (std::int32_t x = 0; x < destination.width; ++x, s += 6, d += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
    }
  });
}

namespace {

// Even rows: coarse samples, and horizontal interpolation between them.
void expandEvenRow(const cspaceBuffer& coarse, cspaceBuffer& destination, const cspaceBuffer& guide,
                   std::int32_t y) {
  const std::int32_t W = guide.width;
  const float* F = guide.at(0, y);
  const float* K = coarse.at(0, y / 2);
  float* E = destination.at(0, y);
  for (std::int32_t x = 0; x < W; ++x, F += 3, E += 3) {
    const float* k = K + (x / 2) * 3;
    if ((x & 1) == 0) {
      E[0] = k[0];
      E[1] = k[1];
      E[2] = k[2];
      continue;
    }
    float wl = similarity(F, F - 3);
    float wr = similarity(F, F + 3);
    if (wl == 0.0f && wr == 0.0f) {
      wl = wr = 0.5f;
    } else {
      const float sum = wl + wr;
      wl = wl / sum;
      wr = wr / sum;
    }
    const float* kl = k;      // K((x - 1) / 2, y / 2)
    const float* kr = k + 3;  // K((x + 1) / 2, y / 2)
    for (int c = 0; c < 3; ++c) E[c] = kr[c] * wr + kl[c] * wl;
  }
}

// Odd rows: vertical interpolation below even columns, diagonal below odd.
void expandOddRow(const cspaceBuffer& coarse, cspaceBuffer& destination, const cspaceBuffer& guide,
                  std::int32_t y) {
  const std::int32_t W = guide.width;
  const std::ptrdiff_t gs = guide.stride();
  const float* F = guide.at(0, y);
  const float* Ku = coarse.at(0, (y - 1) / 2);
  const float* Kd = coarse.at(0, (y + 1) / 2);
  float* E = destination.at(0, y);
  for (std::int32_t x = 0; x < W; ++x, F += 3, E += 3) {
    if ((x & 1) == 0) {
      const float* ku = Ku + (x / 2) * 3;
      const float* kd = Kd + (x / 2) * 3;
      float wu = similarity(F, F - gs);
      float wd = similarity(F, F + gs);
      if (wu == 0.0f && wd == 0.0f) {
        wu = wd = 0.5f;
      } else {
        const float sum = wu + wd;
        wu = wu / sum;
        wd = wd / sum;
      }
      for (int c = 0; c < 3; ++c) E[c] = kd[c] * wd + ku[c] * wu;
      continue;
    }
    float wul = similarity(F, F - gs - 3);
    float wur = similarity(F, F - gs + 3);
    float wdl = similarity(F, F + gs - 3);
    float wdr = similarity(F, F + gs + 3);
    if (wul == 0.0f && wur == 0.0f && wdl == 0.0f && wdr == 0.0f) {
      wul = wur = wdl = wdr = 0.25f;
    } else {
      const float sum = ((wul + wur) + wdl) + wdr;
      wul = wul / sum;
      wur = wur / sum;
      wdl = wdl / sum;
      wdr = wdr / sum;
    }
    const float* kul = Ku + ((x - 1) / 2) * 3;
    const float* kur = kul + 3;
    const float* kdl = Kd + ((x - 1) / 2) * 3;
    const float* kdr = kdl + 3;
    for (int c = 0; c < 3; ++c)
      E[c] = kdl[c] * wdl + kdr[c] * wdr + kur[c] * wur + kul[c] * wul;
  }
}

}  // namespace

void expandImageGuided(cspaceBuffer& coarse, cspaceBuffer& destination, cspaceBuffer& guide,
                       SimdLevel level) {
  if (!coarse.marginsValid) coarse.mirrorMargins();
  if (!guide.marginsValid) guide.mirrorMargins();
  RowKernelArgs a;
  a.image = guide.at(0, 0);
  a.imageStride = guide.stride();
  a.result = destination.at(0, 0);
  a.resultStride = destination.stride();
  a.coarse = coarse.at(0, 0);
  a.coarseStride = coarse.stride();
  a.width = guide.width;
  // Every row depends only on the coarse level and the guide.
  runRowBands(guide.height, [&](std::int32_t first, std::int32_t end, int) {
    if (runVectorKernel(level, &RowKernelSet::expandGuided, a, first, end)) return;
    for (std::int32_t y = first; y < end; ++y) {
      if ((y & 1) == 0)
        expandEvenRow(coarse, destination, guide, y);
      else
        expandOddRow(coarse, destination, guide, y);
    }
  });
}

void storeDifference(const cspaceBuffer& expanded, cspaceBuffer& band, const cspaceBuffer& level) {
  const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(level.width) * 3;
  runRowBands(level.height, [&](std::int32_t first, std::int32_t end, int) {
    for (std::int32_t y = first; y < end; ++y) {
      const float* e = expanded.at(0, y);
      const float* l = level.at(0, y);
      float* b = band.at(0, y);
      for (std::ptrdiff_t i = 0; i < n; ++i) b[i] = e[i] - l[i];
    }
  });
}

void restoreFromDifference(const cspaceBuffer& expanded, cspaceBuffer& level,
                           const cspaceBuffer& band) {
  const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(level.width) * 3;
  runRowBands(level.height, [&](std::int32_t first, std::int32_t end, int) {
    for (std::int32_t y = first; y < end; ++y) {
      const float* e = expanded.at(0, y);
      const float* b = band.at(0, y);
      float* l = level.at(0, y);
      for (std::ptrdiff_t i = 0; i < n; ++i) l[i] = e[i] - b[i];
    }
  });
}

ResultCode reduceNoise(cspaceBuffer& input, cspaceBuffer& output) {
  const EngineSettings& s = engineSettings();
  cspaceBuffer& G0 = input;
  // E is the working memory of the whole run: the level stages' filtered
  // copy and every expansion, made once at full size and reshaped for the
  // smaller levels, so that no level starts on fresh pages. W holds the
  // stages' weights and is released after each stage.
  cspaceBuffer G1, G2, G3, B0, B1, B2, E, W;

  // Every path out releases what is still held; release is idempotent.
  struct Holder {
    cspaceBuffer* held[9];
    ~Holder() {
      for (cspaceBuffer* b : held) b->releaseIfLocked();
    }
  } holder{{&G1, &G2, &G3, &B0, &B1, &B2, &E, &W, &G0}};

  auto create = [](cspaceBuffer& b, const cspaceBuffer& like) {
    b.create(like.marginX, like.marginY, like.width, like.height);
    return b.allocatedOrReported();
  };
  auto createHalf = [](cspaceBuffer& b, const cspaceBuffer& finer) {
    b.create(pyramidMargin, pyramidMargin, halfSize(finer.width), halfSize(finer.height));
    return b.allocatedOrReported();
  };
  // E with the geometry of like, on its own memory when that is large enough.
  auto working = [&](const cspaceBuffer& like) {
    if (E.reshape(like.marginX, like.marginY, like.width, like.height)) return true;
    E.releaseIfLocked();
    E.create(like.marginX, like.marginY, like.width, like.height);
    return E.allocatedOrReported();
  };
  auto level = [&](cspaceBuffer& g, int k) -> ResultCode {
    const ResultCode rc = runLevelStage(g, E, W, std::max(s.T[k], minThreshold), k == 0, s.D[k],
                                        s.SB[k], s.SC[k]);
    W.release();
    if (rc != noErr) return rc;
    return progressStep(0) ? userCancelled : noErr;
  };

  // Level 0 is filtered in place; the output's memory is given back while
  // the pyramid is built.
  output.releaseIfLocked();
  if (output.width != G0.width || output.height != G0.height || output.marginX != G0.marginX ||
      output.marginY != G0.marginY)
    return badParameters;
  if (!create(B0, G0)) return outOfMemory;
  if (ResultCode rc = level(G0, 0); rc != noErr) return rc;

  // Level 1 (G1) halved from level 0, and band 0 (G1 expanded minus G0);
  // band 0 is unlocked until the rebuild needs it.
  if (!createHalf(G1, G0)) return outOfMemory;
  halveImage(G0, G1);
  if (!working(G0)) return outOfMemory;
  expandImageGuided(G1, E, G0);
  storeDifference(E, B0, G0);
  unlockForLater(B0);

  // Level 1 filtered; level 2 and band 1 made from it.
  if (ResultCode rc = level(G1, 1); rc != noErr) return rc;
  if (!createHalf(G2, G1)) return outOfMemory;
  halveImage(G1, G2);
  if (!create(B1, G1) || !working(G1)) return outOfMemory;
  expandImageGuided(G2, E, G1);
  storeDifference(E, B1, G1);

  // Level 2 filtered; level 3 and band 2 made from it.
  if (ResultCode rc = level(G2, 2); rc != noErr) return rc;
  if (!createHalf(G3, G2)) return outOfMemory;
  halveImage(G2, G3);
  if (!create(B2, G2) || !working(G2)) return outOfMemory;
  expandImageGuided(G3, E, G2);
  storeDifference(E, B2, G2);

  // Level 3, the coarsest, filtered.
  if (ResultCode rc = level(G3, 3); rc != noErr) return rc;

  // Rebuild from the coarsest level up: each level expanded and its band
  // added back, the finest into the output.
  if (!working(G2)) return outOfMemory;
  expandImageGuided(G3, E, G2);
  restoreFromDifference(E, G2, B2);
  B2.release();
  G3.release();

  if (!working(G1)) return outOfMemory;
  expandImageGuided(G2, E, G1);
  restoreFromDifference(E, G1, B1);
  B1.release();
  G2.release();

  if (!working(G0)) return outOfMemory;
  expandImageGuided(G1, E, G0);
  G1.releaseIfLocked();
  output.reacquire();
  if (!output.allocatedOrReported()) return outOfMemory;
  lockAgain(B0);
  if (!B0.allocatedOrReported()) {
    output.release();
    return outOfMemory;
  }
  restoreFromDifference(E, output, B0);
  E.releaseIfLocked();
  B0.releaseIfLocked();
  G0.releaseIfLocked();
  return noErr;
}

}  // namespace veltrane
