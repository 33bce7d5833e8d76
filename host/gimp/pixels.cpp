#include "pixels.h"

#include <cstring>
#include <stdexcept>

#include "host/imageio/image_file.h"
#include "hostapi/constants.h"

namespace veltrane::gimp {
namespace {

std::int16_t imageMode(std::int32_t colours, SampleKind kind) {
  const bool grey = colours == 1;
  switch (kind) {
    case SampleKind::u8: return grey ? hostapi::modeGrayScale : hostapi::modeRGBColor;
    case SampleKind::u16: return grey ? hostapi::modeGray16 : hostapi::modeRGB48;
    case SampleKind::f32: return grey ? hostapi::modeGray32 : hostapi::modeRGB96;
  }
  return hostapi::modeRGBColor;
}

void checkShape(const DrawablePixels& p) {
  if (p.colours != 1 && p.colours != 3) throw std::invalid_argument("a drawable has 1 or 3 colour channels");
  if (p.width <= 0 || p.height <= 0 || static_cast<std::int64_t>(p.data.size()) != p.byteCount())
    throw std::invalid_argument("drawable samples do not match its size");
}

}  // namespace

host::SimImage toHostImage(const DrawablePixels& p) {
  checkShape(p);
  host::SimImage image;
  image.width = p.width;
  image.height = p.height;
  image.planes = p.colours;
  image.depth = static_cast<std::int32_t>(p.bytesPerSample() * 8);
  image.imageMode = imageMode(p.colours, p.kind);
  const std::int64_t pixelCount = std::int64_t{p.width} * p.height;
  const std::size_t size = static_cast<std::size_t>(p.bytesPerSample());
  const std::size_t colourBytes = static_cast<std::size_t>(p.colours) * size;
  const std::size_t stride = static_cast<std::size_t>(p.samplesPerPixel()) * size;
  image.pixels.resize(static_cast<std::size_t>(pixelCount) * colourBytes);
  const std::uint8_t* from = p.data.data();
  std::uint8_t* to = image.pixels.data();
  for (std::int64_t i = 0; i < pixelCount; ++i, from += stride, to += colourBytes) {
    if (p.kind != SampleKind::u16) {
      std::memcpy(to, from, colourBytes);
      continue;
    }
    for (std::size_t c = 0; c < colourBytes; c += 2) {
      std::uint16_t v;
      std::memcpy(&v, from + c, 2);
      v = host::fileToHost16(v);
      std::memcpy(to + c, &v, 2);
    }
  }
  return image;
}

void fromHostImage(const host::SimImage& filtered, DrawablePixels& p) {
  checkShape(p);
  const std::size_t size = static_cast<std::size_t>(p.bytesPerSample());
  const std::size_t colourBytes = static_cast<std::size_t>(p.colours) * size;
  const std::int64_t pixelCount = std::int64_t{p.width} * p.height;
  if (filtered.width != p.width || filtered.height != p.height || filtered.planes != p.colours ||
      filtered.pixels.size() != static_cast<std::size_t>(pixelCount) * colourBytes)
    throw std::invalid_argument("the filtered image does not match the drawable");
  const std::size_t stride = static_cast<std::size_t>(p.samplesPerPixel()) * size;
  const std::uint8_t* from = filtered.pixels.data();
  std::uint8_t* to = p.data.data();
  for (std::int64_t i = 0; i < pixelCount; ++i, from += colourBytes, to += stride) {
    if (p.kind != SampleKind::u16) {
      std::memcpy(to, from, colourBytes);
      continue;
    }
    for (std::size_t c = 0; c < colourBytes; c += 2) {
      std::uint16_t hostValue, stored;
      std::memcpy(&hostValue, from + c, 2);
      std::memcpy(&stored, to + c, 2);
      if (hostValue == host::fileToHost16(stored)) continue;
      stored = host::hostToFile16(hostValue);
      std::memcpy(to + c, &stored, 2);
    }
  }
}

}  // namespace veltrane::gimp
