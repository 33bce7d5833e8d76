#pragma once
#include <cstddef>
#include <cstdint>

#include "denoise/engine_settings.h"
#include "image/cspace_buffer.h"

namespace veltrane {

// Mixes one filtered pixel F (the engine's result) with the unfiltered source
// pixel U, both on the 0..255 working scale, separately for luminance and
// chroma: keepBW and the protection ramp (taken at the filtered luminance)
// weight the filtered luminance, keepColor the filtered chroma. With a host
// selection mask, e (0..1) scales both weights, so that e = 0 gives U.
// labImage: channels are L, a, b and pass through without a conversion.
void blendWithSource(const float F[3], const float U[3], float e, bool hostHasMask,
                     const EngineSettings& s, float out[3]);

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

// Blend with engineSettings() and store in the host's sample format: 8-bit,
// 16-bit (0..32768) or 32-bit linear floats. Each writer does nothing when the
// engine buffer holds no memory, and polls for cancel once (progressStep(0))
// before writing anything; a cancelled run writes nothing. Only the part of
// the rectangle that the engine buffer's inner area covers is written.
void writeResult8(const WriteRegion& r);
void writeResult16(const WriteRegion& r);
// Needs the look-up tables of this host call (buildLUTs).
void writeResult32(const WriteRegion& r);

}  // namespace veltrane
