#pragma once
#include <cstddef>
#include <cstdint>

#include "image/cspace_buffer.h"

namespace veltrane {

// One rectangle to write back. All row bytes are in bytes. Source,
// destination and mask are addressed at (x0 + j, y0 + i) for j < width and
// i < height; the engine's result at (bx + j, by + i) of engine's inner area.
// samplesPerPixel is the pixel stride of source and destination: 1 is the
// one-plane layout (the sample is read as all three channels and receives the
// result of channel 2), 3 or more carries channels 0..2 in the first three
// samples.
struct WriteRegion {
  void* dst = nullptr;
  std::ptrdiff_t dstRowBytes = 0;
  const void* src = nullptr;
  std::ptrdiff_t srcRowBytes = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t x0 = 0;
  std::int32_t y0 = 0;
  const cspaceBuffer* engine = nullptr;
  std::int32_t bx = 0;
  std::int32_t by = 0;
  bool useMask = false;  // weight each pixel by its mask byte (when mask is set)
  const std::uint8_t* mask = nullptr;
  std::ptrdiff_t maskRowBytes = 0;
  bool hostHasMask = false;  // selects the masked weights of blendWithSource
  std::int32_t samplesPerPixel = 3;
};

}  // namespace veltrane
