#pragma once
#include <cstdint>

#include "framework/simd.h"
#include "image/cspace_buffer.h"

namespace veltrane {

// One row band [firstRow, endRow) of inner rows of a pyramid level. Both
// read the image (margins of 3 filled) and write only those rows of the
// result copy and of channel 0 of the weight buffer (detailWeight).
// H is the highlights factor of the engine settings. level picks the kernels
// (every level gives the same pixels; the scalar ones are the definition).

// Averages along the flattest of eight directions, blended with the pixel by
// a strength that grows with the number of similar neighbours and with s.
// With a null weights pointer no detailWeight is written.
void directionalDenoiseRows(const cspaceBuffer& image, cspaceBuffer& result, cspaceBuffer* weights,
                            float T, bool finest, float s, float H, std::int32_t firstRow,
                            std::int32_t endRow, SimdLevel level = activeSimdLevel());

// Averages over the whole 7 x 7 window, with extra weight on the six nearest
// pixels of the flattest direction.
void smoothAreaDenoiseRows(const cspaceBuffer& image, cspaceBuffer& result, cspaceBuffer& weights,
                           float T, bool finest, float H, std::int32_t firstRow,
                           std::int32_t endRow, SimdLevel level = activeSimdLevel());

// The direction (1..8) with the smallest sum; among equal smallest sums the
// highest-numbered direction wins.
int chooseDirection(const float D[8]) noexcept;

}  // namespace veltrane
