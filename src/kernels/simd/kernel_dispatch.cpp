#include "kernel_dispatch.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "kernels/neighbourhoods.h"

namespace veltrane {
namespace {

TapTables buildTapTables() {
  TapTables t{};
  for (std::size_t k = 0; k < directionCount; ++k) {
    for (std::size_t i = 0; i < 6; ++i) {
      t.decision[k][i][0] = static_cast<std::int8_t>(decisionSets[k][i].dx);
      t.decision[k][i][1] = static_cast<std::int8_t>(decisionSets[k][i].dy);
    }
    for (std::size_t i = 0; i < patternLength; ++i) {
      t.pattern[k][i][0] = static_cast<std::int8_t>(neighbourhoodPatterns[k][i].dx);
      t.pattern[k][i][1] = static_cast<std::int8_t>(neighbourhoodPatterns[k][i].dy);
    }
  }
  return t;
}

}  // namespace

const RowKernelSet* rowKernels(SimdLevel level) {
#ifdef VELTRANE_SIMD_KERNELS
  switch (level) {
    case SimdLevel::scalar:
      return nullptr;
    case SimdLevel::sse2:
      return &rowKernelsSse2;
    case SimdLevel::avx2:
      return &rowKernelsAvx2;
    case SimdLevel::avx512:
      return &rowKernelsAvx512;
  }
#endif
  static_cast<void>(level);
  return nullptr;
}

const TapTables& directionalTapTables() {
  static const TapTables tables = buildTapTables();
  return tables;
}

bool runVectorKernel(SimdLevel level, RowKernel RowKernelSet::*which, RowKernelArgs args,
                     std::int32_t firstRow, std::int32_t endRow) {
  const RowKernelSet* set = rowKernels(level);
  if (!set || firstRow >= endRow || args.width < 1) return false;
  // The filters' ring of planar rows, or the expansion's 30 half rows.
  const std::int64_t ring = std::int64_t{3} * planarRingRows * (std::int64_t{args.width} + 6 + set->lanes);
  const std::int64_t halves = std::int64_t{30} * ((std::int64_t{args.width} + 1) / 2 + 1 + set->lanes);
  const std::int64_t floats = ring > halves ? ring : halves;
  if (static_cast<std::uint64_t>(floats) > std::numeric_limits<std::size_t>::max() / sizeof(float))
    return false;
  const std::unique_ptr<float[]> scratch(new (std::nothrow) float[static_cast<std::size_t>(floats)]);
  if (!scratch) return false;
  args.scratch = scratch.get();
  args.taps = &directionalTapTables();
  (set->*which)(args, firstRow, endRow);
  return true;
}

}  // namespace veltrane
