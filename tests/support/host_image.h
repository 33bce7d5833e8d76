#pragma once
// Building host images and viewing their sample bytes, for the image file tests.
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "host/imageio/image_file.h"

namespace veltrane::host::test_support {

template <typename T>
std::vector<std::uint8_t> bytesOf(const std::vector<T>& values) {
  std::vector<std::uint8_t> out(values.size() * sizeof(T));
  std::memcpy(out.data(), values.data(), out.size());
  return out;
}

template <typename T>
std::vector<T> valuesOf(const std::vector<std::uint8_t>& bytes) {
  std::vector<T> out(bytes.size() / sizeof(T));
  std::memcpy(out.data(), bytes.data(), bytes.size());
  return out;
}

inline HostImage makeImage(std::int32_t w, std::int32_t h, std::int32_t channels, SampleDepth depth,
                           std::vector<std::uint8_t> pixels, std::vector<std::uint8_t> alpha = {}) {
  HostImage image;
  image.width = w;
  image.height = h;
  image.channels = channels;
  image.depth = depth;
  image.pixels = std::move(pixels);
  image.alpha = std::move(alpha);
  return image;
}

}  // namespace veltrane::host::test_support
