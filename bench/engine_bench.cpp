// Speed of the noise-reduction engine on a 12-megapixel RGB piece (4000 x
// 3000) with the factory settings, with the cleaner smooth-area variant on
// and off. Reports megapixels per second.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <string_view>

#include "denoise/engine_settings.h"
#include "denoise/pyramid.h"
#include "shell/parameter_tables.h"
#include "shell/progress.h"
#include "shell/standalone_host.h"

namespace {

using namespace veltrane;

constexpr std::int32_t benchWidth = 4000;
constexpr std::int32_t benchHeight = 3000;

void fillNoisyScene(cspaceBuffer& b) {
  std::uint32_t state = 12345u;
  for (std::int32_t y = 0; y < b.height; ++y) {
    float* p = b.at(0, y);
    for (std::int32_t x = 0; x < b.width; ++x, p += 3) {
      const float base[3] = {static_cast<float>(x % 256), static_cast<float>(y % 200) + 20.0f,
                             (x / 100 + y / 100) % 2 ? 180.0f : 70.0f};
      for (int c = 0; c < 3; ++c) {
        state = state * 1664525u + 1013904223u;
        p[c] = base[c] + static_cast<float>(state >> 24) / 16.0f - 8.0f;
      }
    }
  }
  b.marginsValid = 0;
}

void BM_ReduceNoise12MP(benchmark::State& state) {
  StandaloneHost host;
  const ParameterDefaults& d = halvaneDeliverable().factoryDefaults;
  host.parameters = FilterParameters{d.flags, d.reals};
  host.parameters.flags[flag::cleanerSmoothAreas] = static_cast<std::uint8_t>(state.range(0));
  host.install();
  progressResetAll();
  deriveEngineSettings();

  cspaceBuffer source;
  source.create(pyramidMargin, pyramidMargin, benchWidth, benchHeight);
  if (!source.data) {
    state.SkipWithError("out of memory");
    return;
  }
  fillNoisyScene(source);

  for (auto _ : state) {
    state.PauseTiming();
    cspaceBuffer in;
    in.create(pyramidMargin, pyramidMargin, benchWidth, benchHeight);
    in.copyFrom(source);
    cspaceBuffer out;
    out.create(pyramidMargin, pyramidMargin, benchWidth, benchHeight);
    state.ResumeTiming();
    const ResultCode rc = reduceNoise(in, out);
    state.PauseTiming();
    if (rc != noErr) state.SkipWithError("engine failed");
    benchmark::DoNotOptimize(out.data);
    out.release();
    state.ResumeTiming();
  }
  source.release();
  const double megapixels = static_cast<double>(benchWidth) * benchHeight / 1e6;
  state.counters["MP/s"] = benchmark::Counter(megapixels, benchmark::Counter::kIsIterationInvariantRate);
  state.SetLabel(state.range(0) ? "cleanerSmoothAreas on" : "cleanerSmoothAreas off");
}

BENCHMARK(BM_ReduceNoise12MP)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  // A host keeps a pool of buffer memory; glibc's default of returning every
  // large block to the system would make the benchmark measure page faults.
  // --fresh-pages keeps that default.
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
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
