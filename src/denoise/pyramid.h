#pragma once
#include <cstdint>

#include "framework/simd.h"
#include "image/cspace_buffer.h"
#include "shell/result_codes.h"

namespace veltrane {

// The noise-reduction engine on one image piece: filters four pyramid levels
// (full, 1/2, 1/4, 1/8 resolution) and rebuilds full resolution from them.
// The input is consumed (released before returning, on every path). The
// output is given with the input's geometry; its memory, if any, is given
// back at entry and taken again only for the last step. Returns noErr,
// outOfMemory, userCancelled or a code of runLevelStage.
ResultCode reduceNoise(cspaceBuffer& input, cspaceBuffer& output);

// destination(x, y) = source(2x, 2y): pure decimation.
void halveImage(cspaceBuffer& source, cspaceBuffer& destination);

// Expands the coarse level to the guide's size; each coarse sample's weight
// falls with the colour distance between the fine pixel and the guide pixel
// at that sample's position, so that edges of the guide stay sharp. level
// picks the kernel (every level gives the same pixels).
void expandImageGuided(cspaceBuffer& coarse, cspaceBuffer& destination, cspaceBuffer& guide,
                       SimdLevel level = activeSimdLevel());

// band = expanded - level, over the level's inner area.
void storeDifference(const cspaceBuffer& expanded, cspaceBuffer& band, const cspaceBuffer& level);

// level = expanded - band, over the level's inner area (margins untouched).
void restoreFromDifference(const cspaceBuffer& expanded, cspaceBuffer& level,
                           const cspaceBuffer& band);

// Size of the next coarser level: (n + 1) / 2.
inline std::int32_t halfSize(std::int32_t n) { return (n + 1) / 2; }

inline constexpr std::int32_t pyramidMargin = 3;

}  // namespace veltrane
