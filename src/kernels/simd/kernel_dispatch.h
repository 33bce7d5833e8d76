#pragma once
#include <cstdint>

#include "kernels/simd/row_kernels.h"
#include "framework/simd.h"

namespace veltrane {

// The vector kernels of a level; null for the scalar level and for levels
// this build has none for.
const RowKernelSet* rowKernels(SimdLevel level);

// The directional filter's neighbour tables in the kernels' form.
const TapTables& directionalTapTables();

// Runs kernel `which` of the level's set over rows [firstRow, endRow) with
// working memory of its own. Returns false, having done nothing, when the
// level has no vector kernels or the working memory cannot be had; the
// caller then runs the scalar kernel, which gives the same pixels.
bool runVectorKernel(SimdLevel level, RowKernel RowKernelSet::*which, RowKernelArgs args,
                     std::int32_t firstRow, std::int32_t endRow);

}  // namespace veltrane
