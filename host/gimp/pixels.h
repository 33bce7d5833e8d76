#pragma once
#include <cstdint>
#include <vector>

#include "host/sim/sim_host.h"

// A drawable's samples as GIMP stores them and the image the in-memory host
// hands to a module, in both directions. Nothing here knows GIMP.
namespace veltrane::gimp {

enum class SampleKind { u8, u16, f32 };

// Interleaved samples, row-major, with no padding: `colours` colour samples
// (1 grey, 3 RGB) and then, when `alpha` is set, one alpha sample per pixel.
// 16-bit samples span 0..65535, floats are as stored.
struct DrawablePixels {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t colours = 3;
  bool alpha = false;
  SampleKind kind = SampleKind::u8;
  std::vector<std::uint8_t> data;

  std::int64_t bytesPerSample() const { return kind == SampleKind::u8 ? 1 : kind == SampleKind::u16 ? 2 : 4; }
  std::int64_t samplesPerPixel() const { return colours + (alpha ? 1 : 0); }
  std::int64_t byteCount() const {
    return std::int64_t{width} * height * samplesPerPixel() * bytesPerSample();
  }
};

// The colour samples as the host holds them (16-bit in 0..32768), with the
// image mode for grey or RGB at the drawable's depth; alpha is left out.
host::SimImage toHostImage(const DrawablePixels& pixels);

// Puts the filtered colour samples back into `pixels`, which still holds
// the samples toHostImage() read. Alpha is never touched. A 16-bit sample
// the module left at the host value it was given keeps its stored value
// (the trip through the host's range could otherwise move it by one step).
void fromHostImage(const host::SimImage& filtered, DrawablePixels& pixels);

}  // namespace veltrane::gimp
