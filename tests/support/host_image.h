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
