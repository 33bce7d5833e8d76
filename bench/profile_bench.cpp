// Speed of the noise profiler on a 24-megapixel RGB image (6000 x 4000, 8
// and 16 bits per sample) served by the in-memory host block by block, as an
// editor serves it: the time includes the host's deliveries.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/sim/sim_host.h"
#include "hostapi/constants.h"
#include "image/color_luts.h"
#include "profile/profiler.h"
#include "shell/call_context.h"
#include "shell/host_call.h"
#include "shell/parameter_tables.h"
#include "shell/parameters.h"

namespace {

using namespace veltrane;

constexpr std::int32_t benchWidth = 6000;
constexpr std::int32_t benchHeight = 4000;

// A noisy scene of gradients and a checkerboard, 8 bits (mode 3) or 16 bits
// (mode 11, host range 0..32768) per sample.
host::SimImage noisyScene(std::int32_t depth) {
  host::SimImage img{benchWidth, benchHeight, static_cast<std::int16_t>(depth == 8 ? 3 : 11), 3, depth, {}};
  img.pixels.resize(static_cast<std::size_t>(img.rowBytes()) * benchHeight);
  std::uint32_t state = 12345u;
  std::uint8_t* p = img.pixels.data();
  for (std::int32_t y = 0; y < benchHeight; ++y)
    for (std::int32_t x = 0; x < benchWidth; ++x)
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

void BM_Profile24MP(benchmark::State& state) {
  setActiveDeliverable(halvaneDeliverable());
  host::SimImage image = noisyScene(static_cast<std::int32_t>(state.range(0)));
  host::SimHost simHost(image);
  hostapi::FilterRecord& r = simHost.record();
  if (r.bigDocumentData) r.bigDocumentData->PluginUsing32BitCoordinates = 1;
  std::int16_t result = 0;
  bindHostCall(hostapi::selectorStart, &r, &simHost.dataCell(), &result);
  if (!buildLUTs()) {
    state.SkipWithError("out of memory");
    return;
  }
  const ParameterDefaults& d = halvaneDeliverable().factoryDefaults;
  FilterParameters parameters{d.flags, d.reals};
  callContext().parameters = &parameters;
  for (auto _ : state) {
    profileImage(digitalProfile);
    benchmark::ClobberMemory();
  }
  state.SetLabel("overallNoiseLevel " + std::to_string(parameters.reals[real::overallNoiseLevel]));
  freeLUTs();
  callContext() = CallContext{};
  const double megapixels = static_cast<double>(benchWidth) * benchHeight / 1e6;
  state.counters["MP/s"] = benchmark::Counter(megapixels, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_Profile24MP)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
