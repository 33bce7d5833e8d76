// Speed of the engines on in-memory pieces with the factory settings: the
// noise reducer on 12 megapixels (4000 x 3000) with the cleaner smooth-area
// variant off and on, and on 24 megapixels (6000 x 4000) with it on; the
// smooth-area matte on 24 megapixels. Reports megapixels per second.
//
// By default freed memory stays with the process, as in a host's buffer pool,
// and one untimed run comes first, so the figures are warm (buffers reused).
// --fresh-pages returns every large block to the system instead, so every
// buffer starts on fresh pages. VELTRANE_SIMD forces a lower instruction set.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>

#include "bench_support.h"
#include "denoise/engine_settings.h"
#include "denoise/pyramid.h"
#include "framework/simd.h"
#include "framework/thread_pool.h"
#include "shell/parameter_tables.h"
#include "shell/progress.h"
#include "smootharea/matte_engine.h"
#include "smootharea/matte_settings.h"
#include "support/engine_host.h"

namespace {

using namespace veltrane;

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

// Processor time of all threads of the process so far, in seconds: on a
// shared machine a fairer figure than the wall time.
double processSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// The in-memory host without its marking of fresh memory, which would be
// timed with the engine.
host::SimOptions timedHostOptions() {
  host::SimOptions options;
  options.fillFreshMemory = false;
  return options;
}

// Times engine(in, out) on a fresh copy of a noisy scene of the given size;
// the copy is made outside the timing. The pool of worker threads lives for
// the whole benchmark, as it does for a whole run of the driver.
template <typename Engine>
void timeEngine(benchmark::State& state, std::int32_t width, std::int32_t height, Engine engine) {
  const EnginePoolScope threads;
  cspaceBuffer source;
  source.create(pyramidMargin, pyramidMargin, width, height);
  if (!source.data) {
    state.SkipWithError("out of memory");
    return;
  }
  fillNoisyScene(source);

  bool warmUp = true;  // one untimed run first
  double cpuSeconds = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    if (warmUp) {
      cspaceBuffer in, out;
      in.create(pyramidMargin, pyramidMargin, width, height);
      in.copyFrom(source);
      out.create(pyramidMargin, pyramidMargin, width, height);
      if (engine(in, out) != noErr) state.SkipWithError("engine failed");
      in.releaseIfLocked();
      out.release();
      warmUp = false;
    }
    cspaceBuffer in;
    in.create(pyramidMargin, pyramidMargin, width, height);
    in.copyFrom(source);
    cspaceBuffer out;
    out.create(pyramidMargin, pyramidMargin, width, height);
    state.ResumeTiming();
    const double before = processSeconds();
    const ResultCode rc = engine(in, out);
    cpuSeconds += processSeconds() - before;
    state.PauseTiming();
    if (rc != noErr) state.SkipWithError("engine failed");
    benchmark::DoNotOptimize(out.data);
    in.releaseIfLocked();
    out.release();
    state.ResumeTiming();
  }
  source.release();
  const double megapixels = static_cast<double>(width) * height / 1e6;
  state.counters["MP/s"] = benchmark::Counter(megapixels, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["cpu_s"] = benchmark::Counter(cpuSeconds, benchmark::Counter::kAvgIterations);
}

void BM_ReduceNoise(benchmark::State& state) {
  testsupport::EngineHost host(timedHostOptions());
  const ParameterDefaults& d = halvaneDeliverable().factoryDefaults;
  host.parameters = FilterParameters{d.flags, d.reals};
  host.parameters.flags[flag::cleanerSmoothAreas] = static_cast<std::uint8_t>(state.range(2));
  host.install();
  progressResetAll();
  deriveEngineSettings();
  timeEngine(state, static_cast<std::int32_t>(state.range(0)),
             static_cast<std::int32_t>(state.range(1)), reduceNoise);
  state.SetLabel(state.range(2) ? "cleanerSmoothAreas on" : "cleanerSmoothAreas off");
}

void BM_SmoothAreaMatte(benchmark::State& state) {
  testsupport::EngineHost host(timedHostOptions());
  const ParameterDefaults& d = mirelleDeliverable().factoryDefaults;
  host.parameters = FilterParameters{d.flags, d.reals};
  host.install();
  progressResetAll();
  deriveMatteSettings();
  timeEngine(state, static_cast<std::int32_t>(state.range(0)),
             static_cast<std::int32_t>(state.range(1)), buildSmoothAreaMatte);
}

BENCHMARK(BM_ReduceNoise)
    ->ArgNames({"w", "h", "smooth"})
    ->Args({4000, 3000, 0})
    ->Args({4000, 3000, 1})
    ->Args({6000, 4000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_SmoothAreaMatte)
    ->ArgNames({"w", "h"})
    ->Args({6000, 4000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  const bool freshPages = bench::keepPagesUnlessFresh(argc, argv);
  std::printf("instruction set: %s; pages: %s\n", simdLevelName(activeSimdLevel()),
              freshPages ? "fresh" : "reused");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
