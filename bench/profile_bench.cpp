// Speed of the noise profiler on a 24-megapixel RGB image (6000 x 4000, 8
// and 16 bits per sample) served by the in-memory host block by block, as an
// editor serves it: the time includes the host's deliveries.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench_support.h"
#include "profile/profiler.h"
#include "shell/parameters.h"

namespace {

using namespace veltrane;

constexpr std::int32_t benchWidth = 6000;
constexpr std::int32_t benchHeight = 4000;

void BM_Profile24MP(benchmark::State& state) {
  setActiveDeliverable(halvaneDeliverable());
  host::SimImage image = bench::noisyScene(benchWidth, benchHeight, static_cast<std::int32_t>(state.range(0)));
  bench::StartCallSession session(image);
  if (!session.ready()) {
    state.SkipWithError("out of memory");
    return;
  }
  for (auto _ : state) {
    profileImage(digitalProfile);
    benchmark::ClobberMemory();
  }
  state.SetLabel("overallNoiseLevel " + std::to_string(session.parameters.reals[real::overallNoiseLevel]));
  const double megapixels = static_cast<double>(benchWidth) * benchHeight / 1e6;
  state.counters["MP/s"] = benchmark::Counter(megapixels, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_Profile24MP)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
