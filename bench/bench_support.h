#pragma once
// What the benchmarks share: a noisy test document, one start call's worth
// of plug-in state over the in-memory host, and the page-pool setting.
#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "host/sim/sim_host.h"
#include "hostapi/constants.h"
#include "image/color_luts.h"
#include "shell/call_context.h"
#include "shell/host_call.h"
#include "shell/parameter_tables.h"

namespace veltrane::bench {

// Gradients and a checkerboard with noise, RGB at 8 bits (mode 3) or 16 bits
// (mode 11, host range 0..32768) per sample.
inline host::SimImage noisyScene(std::int32_t width, std::int32_t height, std::int32_t depth) {
  host::SimImage img{width, height, static_cast<std::int16_t>(depth == 8 ? 3 : 11), 3, depth, {}};
  img.pixels.resize(static_cast<std::size_t>(img.rowBytes()) * static_cast<std::size_t>(height));
  std::uint32_t state = 12345u;
  std::uint8_t* p = img.pixels.data();
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        state = state * 1664525u + 1013904223u;
        const int base = c == 0 ? x % 200 + 30 : c == 1 ? y % 180 + 40 : ((x / 100 + y / 100) % 2 ? 180 : 70);
        const int v = base + static_cast<int>(state >> 28) - 8;
        if (depth == 8) {
          *p++ = static_cast<std::uint8_t>(v);
        } else {
          const auto s = static_cast<std::uint16_t>((v * 32768 + 127) / 255);
          std::memcpy(p, &s, 2);
          p += 2;
        }
      }
  return img;
}

// The plug-in's state during a start call over `image`: the call context
// bound to the host's record, the look-up tables built, the noise reducer's
// factory parameters in place. ready() is false when the tables could not
// be had.
class StartCallSession {
 public:
  explicit StartCallSession(host::SimImage& image) : host_(image) {
    hostapi::FilterRecord& r = host_.record();
    if (r.bigDocumentData) r.bigDocumentData->PluginUsing32BitCoordinates = 1;
    bindHostCall(hostapi::selectorStart, &r, &host_.dataCell(), &result_);
    ready_ = buildLUTs();
    callContext().parameters = &parameters;
  }
  ~StartCallSession() {
    freeLUTs();
    callContext() = CallContext{};
  }
  StartCallSession(const StartCallSession&) = delete;
  StartCallSession& operator=(const StartCallSession&) = delete;

  bool ready() const { return ready_; }

  FilterParameters parameters{halvaneDeliverable().factoryDefaults.flags,
                              halvaneDeliverable().factoryDefaults.reals};

 private:
  host::SimHost host_;
  std::int16_t result_ = 0;
  bool ready_ = false;
};

// Takes --fresh-pages out of the arguments and returns whether it was given.
// Without it, freed buffer memory stays with the process, as a host keeps a
// pool of it; glibc's default of returning every large block to the system
// would make each run measure page faults.
inline bool keepPagesUnlessFresh(int& argc, char** argv) {
  bool freshPages = false;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--fresh-pages")
      freshPages = true;
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
  if (!freshPages) {
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, -1);
  }
  return freshPages;
}

}  // namespace veltrane::bench
