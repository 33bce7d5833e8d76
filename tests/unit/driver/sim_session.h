#pragma once
// Drives the plug-in's code in-process against the in-memory host, the way
// one start call would: the call context bound to the host's record, the
// look-up tables built, the noise reducer's factory parameters in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "denoise/halvane_engine.h"
#include "host/sim/sim_host.h"
#include "hostapi/constants.h"
#include "image/color_luts.h"
#include "image/region.h"
#include "platform/platform.h"
#include "shell/call_context.h"
#include "shell/host_call.h"
#include "shell/parameter_tables.h"
#include "shell/progress.h"
#include "support/message_capture.h"

namespace veltrane::testsupport {

using host::SimHost;
using host::SimImage;
using host::SimOptions;
using host::SimStatistics;

// One host call's worth of plug-in state over a SimHost. The host writes
// the output tiles into the image when it is destroyed (or at the next
// region delivery), so pixels are inspected after the session ends.
class SimSession {
 public:
  explicit SimSession(SimImage& image, SimOptions options = {}, bool declare32BitCoordinates = true)
      : host_(image, std::move(options)) {
    hostapi::FilterRecord& r = host_.record();
    if (declare32BitCoordinates && r.bigDocumentData)
      r.bigDocumentData->PluginUsing32BitCoordinates = 1;
    bindHostCall(hostapi::selectorStart, &r, &host_.dataCell(), &result);
    lutsAllocations = buildLUTs() ? 2 : 0;
    parameters = FilterParameters{halvaneDeliverable().factoryDefaults.flags,
                                  halvaneDeliverable().factoryDefaults.reals};
    callContext().parameters = &parameters;
  }
  ~SimSession() {
    freeLUTs();
    callContext() = CallContext{};
  }
  SimSession(const SimSession&) = delete;
  SimSession& operator=(const SimSession&) = delete;

  // filterImage over the host's filter rectangle, fetching from and writing
  // to the host, as the start call does.
  ResultCode filter(const PieceEngine& engine = halvaneEngine()) {
    return filterImage(engine, FilterImageRun::onHost(getFilterRect(), depth()));
  }

  // The host's counters once the tables are given back.
  SimStatistics finish() {
    freeLUTs();
    return host_.statistics();
  }

  SimHost& host() { return host_; }
  hostapi::FilterRecord& record() { return host_.record(); }

  std::int16_t result = 0;
  FilterParameters parameters{};
  int lutsAllocations = 0;

 private:
  SimHost host_;
};

// What one filterImage run left behind.
struct RunOutcome {
  ResultCode code = 0;
  std::int16_t result = 0;
  SimStatistics stats;
};

// Runs filterImage in a fresh session; the image holds the result afterwards.
inline RunOutcome runFilter(SimImage& image, SimOptions options = {},
                            const PieceEngine& engine = halvaneEngine()) {
  RunOutcome out;
  SimSession session(image, std::move(options));
  out.code = session.filter(engine);
  out.result = session.result;
  out.stats = session.finish();
  return out;
}

// A noisy photograph-like scene: gradients, a bright disc, thin dark lines
// and noise; 8-bit samples 0..255, 16-bit 0..32768, 32-bit linear floats
// (a few slightly out of range). Grey images take plane 0.
inline SimImage makeImage(std::int32_t w, std::int32_t h, std::int16_t mode, std::int32_t planes,
                          std::int32_t depth, std::uint32_t seed = 1, float noise = 0.05f) {
  SimImage img{w, h, mode, planes, depth, {}};
  img.pixels.assign(static_cast<std::size_t>(img.rowBytes() * h), 0);
  std::uint8_t* out = img.pixels.data();
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      for (std::int32_t p = 0; p < planes; ++p, out += depth / 8) {
        seed = seed * 1664525u + 1013904223u;
        const float fx = static_cast<float>(x) / static_cast<float>(w);
        const float fy = static_cast<float>(y) / static_cast<float>(h);
        float v = p == 0 ? 0.15f + 0.6f * fx : p == 1 ? 0.25f + 0.4f * fy : 0.5f - 0.3f * fx * fy;
        if ((fx - 0.6f) * (fx - 0.6f) + (fy - 0.4f) * (fy - 0.4f) < 0.04f) v = 0.9f;
        if (x % 37 == 5) v = 0.08f;
        v += (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) * 2.0f * noise;
        const float c = std::clamp(v, 0.0f, 1.0f);
        if (depth == 8) {
          *out = static_cast<std::uint8_t>(c * 255.0f + 0.5f);
        } else if (depth == 16) {
          const auto s = static_cast<std::uint16_t>(c * 32768.0f + 0.5f);
          std::memcpy(out, &s, 2);
        } else {
          const float linear = v * v * 1.1f - 0.02f;
          std::memcpy(out, &linear, 4);
        }
      }
  return img;
}

inline SimImage makeRgb8(std::int32_t w, std::int32_t h, std::uint32_t seed = 1,
                         float noise = 0.05f) {
  return makeImage(w, h, 3, 3, 8, seed, noise);
}

// Sample (x, y, p) of an image as a float on its own scale.
inline float sampleAt(const SimImage& img, std::int32_t x, std::int32_t y, std::int32_t p) {
  const std::size_t i =
      static_cast<std::size_t>((std::int64_t{y} * img.width + x) * img.planes + p) *
      static_cast<std::size_t>(img.depth / 8);
  if (img.depth == 8) return img.pixels[i];
  if (img.depth == 16) {
    std::uint16_t s;
    std::memcpy(&s, &img.pixels[i], 2);
    return s;
  }
  float f;
  std::memcpy(&f, &img.pixels[i], 4);
  return f;
}

// Whether every sample of pixel (x, y) is bit-identical in a and b.
inline bool samePixel(const SimImage& a, const SimImage& b, std::int32_t x, std::int32_t y) {
  const std::size_t n = static_cast<std::size_t>(a.planes * (a.depth / 8));
  const std::size_t i = static_cast<std::size_t>(std::int64_t{y} * a.width + x) * n;
  return std::memcmp(&a.pixels[i], &b.pixels[i], n) == 0;
}

}  // namespace veltrane::testsupport
