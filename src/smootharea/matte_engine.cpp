#include "matte_engine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "framework/stage_runner.h"
#include "kernels/directional_filter.h"
#include "kernels/simd/kernel_dispatch.h"
#include "matte_settings.h"
#include "matte_writers.h"
#include "shell/progress.h"

namespace veltrane {
namespace {

constexpr float oneTwentyFourth = 0.041666668f;
constexpr float white = 255.0f;
constexpr float minThreshold = 0.00001f;

ResultCode runMatteFinder(cspaceBuffer& input, cspaceBuffer& output) {
  return buildSmoothAreaMatte(input, output);
}

constexpr PieceEngine mirelle{
    &deriveMatteSettings, &runMatteFinder, &writeMatte8,
    &writeMatte16,        &writeMatte32,   "Mirelle Matte Finder error: Image is too small.",
};

}  // namespace

void matteRows(const cspaceBuffer& image, cspaceBuffer& result, std::int32_t firstRow,
               std::int32_t endRow, SimdLevel level) {
  const MatteSettings& s = matteSettings();
  const float L = s.L;
  const float scale = white / s.G;
  const bool invert = s.invert != 0;
  RowKernelArgs a;
  a.image = image.at(0, 0);
  a.imageStride = image.stride();
  a.result = result.at(0, 0);
  a.resultStride = result.stride();
  a.width = image.width;
  a.L = L;
  a.matteScale = scale;
  a.invert = invert;
  if (runVectorKernel(level, &RowKernelSet::matte, a, firstRow, endRow)) return;
  const std::ptrdiff_t row = image.stride();
  // Right, left, below, above, above-left, below-left, below-right, above-right.
  const std::ptrdiff_t neighbours[8] = {3, -3, row, -row, -row - 3, row - 3, row + 3, 3 - row};

  for (std::int32_t y = firstRow; y < endRow; ++y) {
    const float* P = image.at(0, y);
    float* out = result.at(0, y);
    for (std::int32_t x = 0; x < image.width; ++x, P += 3, out += 3) {
      float S = 0.0f;
      for (int k = 0; k < 3; ++k)
        for (std::ptrdiff_t o : neighbours) {
          const float e = std::fabs(P[k] - P[o + k]) - L;
          if (e > 0.0f) S += e;
        }
      float M = S * oneTwentyFourth * scale;
      if (!(M < white)) M = white;
      if (invert) M = white - M;
      out[0] = M;
      out[1] = M;
      out[2] = M;
    }
  }
}

ResultCode runMattePass(cspaceBuffer& image, MattePassKind kind, float T) {
  // Both passes write every inner pixel of the result.
  if (kind == MattePassKind::denoise) {
    const float H = matteSettings().H;
    return runReplacingPass(image, [&](cspaceBuffer& result, std::int32_t first, std::int32_t end,
                                       int) {
      directionalDenoiseRows(image, result, nullptr, T, true, 1.0f, H, first, end);
    });
  }
  return runReplacingPass(image, [&](cspaceBuffer& result, std::int32_t first, std::int32_t end,
                                     int) { matteRows(image, result, first, end); });
}

ResultCode buildSmoothAreaMatte(cspaceBuffer& input, cspaceBuffer& output) {
  const float T = std::max(matteSettings().T, minThreshold);
  if (ResultCode rc = runMattePass(input, MattePassKind::denoise, T); rc != noErr) return rc;
  if (progressStep(0)) return userCancelled;
  if (ResultCode rc = runMattePass(input, MattePassKind::matte, T); rc != noErr) return rc;
  if (progressStep(0)) return userCancelled;
  // The driver releases both buffers: the output may take the input's memory.
  if (!output.swapMemoryWith(input)) output.copyFrom(input);
  return noErr;
}

const PieceEngine& mirelleEngine() { return mirelle; }

}  // namespace veltrane
