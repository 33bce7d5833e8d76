#pragma once
#include <cstddef>
#include <cstdint>

// The vector schedules of the row kernels: the directional filter, the
// smooth-area filter, sharpening, the guided expansion and the smooth-area
// matte. Each instruction-set level is compiled in a file of its
// own with that level's flags; this header is shared with them and therefore
// holds plain data only (no inline functions, no library headers), so that no
// code built for a wider instruction set can end up in the rest of the module.
namespace veltrane {

// The directional filter's neighbours as (dx, dy) pairs, per direction.
struct TapTables {
  std::int8_t decision[8][6][2];
  std::int8_t pattern[8][20][2];
};

// Everything a row kernel reads, by value. Buffers are interleaved RGB
// floats addressed at inner pixel (0, 0), with at least 3 pixels of valid
// margin around the inner area; strides are in floats.
struct RowKernelArgs {
  const float* image = nullptr;  // the level (for sharpening: the denoised copy)
  std::ptrdiff_t imageStride = 0;
  float* result = nullptr;  // the filtered copy (for sharpening: the level)
  std::ptrdiff_t resultStride = 0;
  float* weights = nullptr;  // channel 0: detail weight; written by the filters, read by sharpening
  std::ptrdiff_t weightsStride = 0;
  std::int32_t width = 0;
  // directional and smooth-area filters
  float T = 0.0f;
  float H = 0.0f;
  float strength = 0.0f;  // directional only
  bool finest = false;
  const TapTables* taps = nullptr;
  // sharpening
  float SB = 0.0f;
  float SC = 0.0f;
  float invGreen = 0.0f;
  bool lab = false;
  // smooth-area matte: the low threshold, white / high threshold, inversion
  float L = 0.0f;
  float matteScale = 0.0f;
  bool invert = false;
  // guided expansion: image is the guide, result the expanded level
  const float* coarse = nullptr;
  std::ptrdiff_t coarseStride = 0;
  // Working memory of the kernel (runVectorKernel supplies it).
  float* scratch = nullptr;
};

using RowKernel = void (*)(const RowKernelArgs& args, std::int32_t firstRow, std::int32_t endRow);

struct RowKernelSet {
  RowKernel smoothArea;
  RowKernel directional;
  RowKernel sharpen;
  RowKernel expandGuided;
  RowKernel matte;
  std::int32_t lanes;  // pixels per vector
};

// Rows of deinterleaved (planar) copies the kernels keep: 7 rows of each of
// the three channels, each row the inner width plus 3 margin pixels on each
// side plus one vector of padding.
inline constexpr std::int32_t planarRingRows = 7;

extern const RowKernelSet rowKernelsSse2;
extern const RowKernelSet rowKernelsAvx2;
extern const RowKernelSet rowKernelsAvx512;

}  // namespace veltrane
