#pragma once
#include <cstdint>

#include "framework/driver.h"
#include "framework/simd.h"
#include "image/cspace_buffer.h"
#include "shell/result_codes.h"

// The smooth-area matte: a grey image that is black where a pixel's
// neighbours all lie within the low threshold of it and rises to white where
// their mean excess over it reaches the high threshold, measured after an
// edge-preserving denoise so that noise does not count as detail.
namespace veltrane {

enum class MattePassKind { denoise, matte };

// Runs both passes on input (overwritten with intermediate results) and
// copies the matte into all three channels of output. Uses matteSettings().
// Returns noErr, outOfMemory (a working buffer could not be had) or
// userCancelled;
// on a non-zero code output is left unfilled.
ResultCode buildSmoothAreaMatte(cspaceBuffer& input, cspaceBuffer& output);

// One pass over all inner rows of image on the row-band threads, replacing
// image by the pass's result. T is the denoise pass's noise threshold.
// Returns noErr, or outOfMemory when the result copy could not be had. A cancel noticed
// after the threads are joined returns 0 with image unchanged; the caller's
// next check reports it.
ResultCode runMattePass(cspaceBuffer& image, MattePassKind kind, float T);

// The matte of inner rows [firstRow, endRow) of image (margins filled),
// written into channels 0..2 of the same rows of result. level picks the
// kernel (every level gives the same pixels).
void matteRows(const cspaceBuffer& image, cspaceBuffer& result, std::int32_t firstRow,
               std::int32_t endRow, SimdLevel level = activeSimdLevel());

// The matte finder: its settings, buildSmoothAreaMatte and the matte writers.
const PieceEngine& mirelleEngine();

}  // namespace veltrane
