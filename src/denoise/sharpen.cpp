#include "sharpen.h"

#include <cstddef>

#include "shell/progress.h"
#include "kernels/simd/kernel_dispatch.h"

namespace veltrane {
namespace {

constexpr float blurNorm = 0.0862069f;  // 1 / 11.6
constexpr float amountScale = 11.6f;
constexpr float wR = 0.299f;
constexpr float wG = 0.587f;
constexpr float wB = 0.114f;

// 5 x 5 blur kernel without its centre, row by row (dy -2..2), dx -2..2.
constexpr float kernel[25] = {
    0.1f, 0.3f, 0.5f, 0.3f, 0.1f,  //
    0.3f, 0.7f, 1.0f, 0.7f, 0.3f,  //
    0.5f, 1.0f, 0.0f, 1.0f, 0.5f,  //
    0.3f, 0.7f, 1.0f, 0.7f, 0.3f,  //
    0.1f, 0.3f, 0.5f, 0.3f, 0.1f,
};

struct BlurTaps {
  std::ptrdiff_t offset[24];
  float weight[24];

  explicit BlurTaps(std::ptrdiff_t stride) {
    int n = 0;
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        if (dx == 0 && dy == 0) continue;
        offset[n] = dy * stride + dx * 3;
        weight[n] = kernel[(dy + 2) * 5 + (dx + 2)];
        ++n;
      }
  }
};

// Returns true when the band must stop because the run was cancelled.
bool checkCancel(int threadIndex) {
  if (threadIndex == -1) return progressStep(0);
  return progressCancelled();
}

// The definition of the pass, row by row; the cancel checks are the caller's.
void scalarSharpenRows(const cspaceBuffer& denoised, cspaceBuffer& image,
                       const cspaceBuffer& weights, float SB, float SC, bool labImage,
                       std::int32_t firstRow, std::int32_t endRow) {
  const BlurTaps taps(denoised.stride());
  const float invG = 1.0f / wG;

  for (std::int32_t y = firstRow; y < endRow; ++y) {
    const float* P = denoised.at(0, y);
    const float* wrow = weights.at(0, y);
    float* out = image.at(0, y);
    for (std::int32_t x = 0; x < denoised.width; ++x, P += 3, wrow += 3, out += 3) {
      float e = wrow[0];
      if (e < 0.0f) e = 0.0f;
      const float aB = e * SB;
      const float aC = e * SC;

      float b0 = 0.0f, b1 = 0.0f, b2 = 0.0f;
      for (int i = 0; i < 24; ++i) {
        const float* n = P + taps.offset[i];
        const float k = taps.weight[i];
        b0 += k * n[0];
        b1 += k * n[1];
        b2 += k * n[2];
      }
      b0 *= blurNorm;
      b1 *= blurNorm;
      b2 *= blurNorm;

      float Yb, Ab, Bb, Y, A, B;
      if (labImage) {
        Yb = b0;
        Ab = b1;
        Bb = b2;
        Y = P[0];
        A = P[1];
        B = P[2];
      } else {
        Yb = wB * b2 + wG * b1 + wR * b0;
        Ab = b0 - Yb;
        Bb = b2 - Yb;
        Y = wG * P[1] + wR * P[0] + wB * P[2];
        A = P[0] - Y;
        B = P[2] - Y;
      }

      const float Y2 = Y + (Y - Yb) * aB * amountScale;
      const float A2 = A + (A - Ab) * aC * amountScale;
      const float B2 = B + (B - Bb) * aC * amountScale;

      if (labImage) {
        out[0] = Y2;
        out[1] = A2;
        out[2] = B2;
      } else {
        const float red = Y2 + A2;
        const float blue = Y2 + B2;
        out[0] = red;
        out[1] = (Y2 - red * wR - blue * wB) * invG;
        out[2] = blue;
      }
    }
  }
}

}  // namespace

void sharpenRows(const cspaceBuffer& denoised, cspaceBuffer& image, const cspaceBuffer& weights,
                 float SB, float SC, bool labImage, std::int32_t firstRow, std::int32_t endRow,
                 int threadIndex, SimdLevel level) {
  if (SB == 0.0f && SC == 0.0f) return;
  RowKernelArgs a;
  a.image = denoised.at(0, 0);
  a.imageStride = denoised.stride();
  a.result = image.at(0, 0);
  a.resultStride = image.stride();
  a.weights = const_cast<float*>(weights.at(0, 0));  // only read by this kernel
  a.weightsStride = weights.stride();
  a.width = denoised.width;
  a.SB = SB;
  a.SC = SC;
  a.invGreen = 1.0f / wG;
  a.lab = labImage;
  // Pieces of rows, each ending after a row whose index leaves 50 when
  // divided by 100, with the cancel check after each.
  for (std::int32_t y = firstRow; y < endRow;) {
    const std::int32_t toNextCheck = ((50 - y) % 100 + 100) % 100;
    const std::int32_t end = endRow - y > toNextCheck ? y + toNextCheck + 1 : endRow;
    if (!runVectorKernel(level, &RowKernelSet::sharpen, a, y, end))
      scalarSharpenRows(denoised, image, weights, SB, SC, labImage, y, end);
    if ((end - 1) % 100 == 50 && checkCancel(threadIndex)) return;
    y = end;
  }
}

}  // namespace veltrane
