#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "denoise/engine_settings.h"
#include "image/cspace_buffer.h"
#include "platform/platform.h"
#include "shell/parameter_tables.h"
#include "shell/progress.h"
#include "support/engine_host.h"
#include "support/message_capture.h"

namespace veltrane::testsupport {

// The in-memory host installed as the call context, the noise reducer's
// factory parameters, fresh progress state and captured message boxes.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.parameters = FilterParameters{halvaneDeliverable().factoryDefaults.flags,
                                       halvaneDeliverable().factoryDefaults.reals};
    host.install();
    progressResetAll();
  }
  void TearDown() override {
    platform::setProcessorCountOverride(0);
    progressResetAll();
  }

  FilterParameters& params() { return host.parameters; }
  void derive() { deriveEngineSettings(); }

  // A buffer of the given size with margin 3 (asserts that it was allocated).
  cspaceBuffer makeBuffer(std::int32_t w, std::int32_t h, std::int32_t margin = 3) {
    cspaceBuffer b;
    b.create(margin, margin, w, h);
    EXPECT_NE(b.data, nullptr);
    return b;
  }

  EngineHost host;
  MessageCapture messages;
};

// Deterministic pseudo-random numbers for test images.
class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : state_(seed) {}
  float next01() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<float>(state_ >> 8) / 16777216.0f;
  }

 private:
  std::uint32_t state_;
};

// A photograph-like test scene: smooth gradients, a bright disc with a hard
// edge, a few thin lines and per-channel noise of the given amplitude.
inline void fillScene(cspaceBuffer& b, std::uint32_t seed, float noise) {
  Lcg rng(seed);
  for (std::int32_t y = 0; y < b.height; ++y)
    for (std::int32_t x = 0; x < b.width; ++x) {
      float* p = b.at(x, y);
      const float fx = static_cast<float>(x) / static_cast<float>(b.width);
      const float fy = static_cast<float>(y) / static_cast<float>(b.height);
      float base[3] = {40.0f + 150.0f * fx, 60.0f + 100.0f * fy, 120.0f - 80.0f * fx * fy};
      const float dx = fx - 0.6f, dy = fy - 0.4f;
      if (dx * dx + dy * dy < 0.04f) base[0] = base[1] = base[2] = 230.0f;
      if (x % 37 == 5) base[1] = 20.0f;
      for (int c = 0; c < 3; ++c) p[c] = base[c] + (rng.next01() - 0.5f) * 2.0f * noise;
    }
  b.marginsValid = 0;
}

// The inner pixels of a buffer, for exact comparisons.
inline std::vector<float> innerPixels(const cspaceBuffer& b) {
  std::vector<float> v;
  v.reserve(static_cast<std::size_t>(b.width) * static_cast<std::size_t>(b.height) * 3);
  for (std::int32_t y = 0; y < b.height; ++y) {
    const float* p = b.at(0, y);
    v.insert(v.end(), p, p + static_cast<std::ptrdiff_t>(b.width) * 3);
  }
  return v;
}

inline bool bitIdentical(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace veltrane::testsupport
