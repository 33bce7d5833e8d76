#pragma once
#include <cstdint>

#include "framework/simd.h"
#include "image/cspace_buffer.h"

namespace veltrane {

// Unsharp masking of one row band [firstRow, endRow) of inner rows,
// separately for luminance (SB) and chroma (SC), scaled per pixel by the
// detailWeight in channel 0 of weights. Reads the denoised copy (margins of
// at least 2 filled) and writes the image. labImage: channels are L, a, b.
// threadIndex -1 marks the host's thread, which reports progress and polls
// for cancel after every row whose index leaves 50 when divided by 100;
// other threads only stop early once the run is cancelled. level picks the
// kernel (every level gives the same pixels).
void sharpenRows(const cspaceBuffer& denoised, cspaceBuffer& image, const cspaceBuffer& weights,
                 float SB, float SC, bool labImage, std::int32_t firstRow, std::int32_t endRow,
                 int threadIndex, SimdLevel level = activeSimdLevel());

}  // namespace veltrane
