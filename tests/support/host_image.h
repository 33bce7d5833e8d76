#pragma once
// Building host images and viewing their sample bytes, and a scratch folder,
// for the image file tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
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

// Smooth ramps in each channel (JPEG keeps them closely) reaching both ends
// of the range, with an alpha ramp that is zero in the last column; floats
// run from -0.25 to 1.25.
inline HostImage patternImage(std::int32_t w, std::int32_t h, std::int32_t channels, SampleDepth depth, bool alpha) {
  const auto fileValue = [w, h](std::int32_t x, std::int32_t y, std::int32_t c) {
    return static_cast<std::uint32_t>((x * 65535 / (w - 1) * (3 - c) + y * 65535 / (h - 1) * (1 + c)) / 4);
  };
  const auto put = [depth](std::vector<std::uint8_t>& out, std::uint32_t v, bool isAlpha) {
    if (depth == SampleDepth::u8) {
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    } else if (depth == SampleDepth::u16) {
      const auto u = isAlpha ? static_cast<std::uint16_t>(v) : fileToHost16(static_cast<std::uint16_t>(v));
      std::uint8_t b[2];
      std::memcpy(b, &u, 2);
      out.insert(out.end(), b, b + 2);
    } else {
      const float f = static_cast<float>(v) / 65535.0f * (isAlpha ? 1.0f : 1.5f) - (isAlpha ? 0.0f : 0.25f);
      std::uint8_t b[4];
      std::memcpy(b, &f, 4);
      out.insert(out.end(), b, b + 4);
    }
  };
  std::vector<std::uint8_t> pixels, alphas;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      for (std::int32_t c = 0; c < channels; ++c) put(pixels, fileValue(x, y, c), false);
      if (alpha) put(alphas, static_cast<std::uint32_t>(65535 - x * 65535 / (w - 1)), true);
    }
  return makeImage(w, h, channels, depth, std::move(pixels), std::move(alphas));
}

// A fresh folder of its own for each test, removed afterwards.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("veltrane-imageio-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string file(const std::string& name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

}  // namespace veltrane::host::test_support
