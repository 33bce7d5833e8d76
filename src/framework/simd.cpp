#include "simd.h"

#include <cstdlib>

namespace veltrane {
namespace {

SimdLevel chooseLevel() {
  SimdLevel best = SimdLevel::scalar;
  for (SimdLevel l : {SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512})
    if (cpuSupports(l)) best = l;
  if (const char* forced = std::getenv("VELTRANE_SIMD")) {
    if (const std::optional<SimdLevel> wanted = parseSimdLevel(forced);
        wanted && static_cast<int>(*wanted) < static_cast<int>(best))
      best = *wanted;
  }
  return best;
}

}  // namespace

SimdLevel activeSimdLevel() {
  static const SimdLevel level = chooseLevel();
  return level;
}

bool cpuSupports(SimdLevel level) {
#if defined(__x86_64__) || defined(__i386__)
  // The compiler's checks include the operating system's support for the
  // wider registers (XGETBV), not only the processor's.
  __builtin_cpu_init();
  switch (level) {
    case SimdLevel::scalar:
      return true;
    case SimdLevel::sse2:
      return __builtin_cpu_supports("sse2");
    case SimdLevel::avx2:
      return __builtin_cpu_supports("avx2");
    case SimdLevel::avx512:
      return __builtin_cpu_supports("avx512f");
  }
  return false;
#else
  return level == SimdLevel::scalar;
#endif
}

std::optional<SimdLevel> parseSimdLevel(std::string_view name) {
  for (SimdLevel l : {SimdLevel::scalar, SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512})
    if (name == simdLevelName(l)) return l;
  return std::nullopt;
}

const char* simdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::scalar:
      return "scalar";
    case SimdLevel::sse2:
      return "sse2";
    case SimdLevel::avx2:
      return "avx2";
    case SimdLevel::avx512:
      return "avx512";
  }
  return "scalar";
}

}  // namespace veltrane
