#pragma once
#include <optional>
#include <string_view>

namespace veltrane {

// Instruction sets the pixel kernels come in. Every level computes the same
// floats as the scalar kernels (vectors run across pixels, each pixel keeps
// its order of operations), only faster.
enum class SimdLevel { scalar = 0, sse2 = 1, avx2 = 2, avx512 = 3 };

// The level of this run: the best the processor and operating system offer,
// lowered by the environment variable VELTRANE_SIMD (scalar, sse2, avx2 or
// avx512; a level above what the processor offers is ignored). Chosen on the
// first call, then fixed for the life of the process.
SimdLevel activeSimdLevel();

// Whether this processor can run the level's kernels.
bool cpuSupports(SimdLevel level);

std::optional<SimdLevel> parseSimdLevel(std::string_view name);
const char* simdLevelName(SimdLevel level);

}  // namespace veltrane
