#pragma once
#include "image/cspace_buffer.h"
#include "shell/result_codes.h"

namespace veltrane {

// Filters one pyramid level in place: a denoise pass into a copy (with a
// per-pixel detail weight), then a sharpen pass back into the image, each
// spread over the row-band threads and joined before the next. Uses H,
// smoothVariant and labImage of the engine settings. Returns noErr, or outOfMemory
// when a working buffer could not be had. A cancel noticed between the passes
// returns 0 with the image unchanged; the caller's next check reports it.
ResultCode runLevelStage(cspaceBuffer& image, float T, bool finest, float detailNR, float SB,
                         float SC);

// The same on working memory of the caller's: copy and weights are given the
// image's geometry on the memory they hold when it is large enough, else
// made anew (and hold memory afterwards on success). The caller releases
// both.
ResultCode runLevelStage(cspaceBuffer& image, cspaceBuffer& copy, cspaceBuffer& weights, float T,
                         bool finest, float detailNR, float SB, float SC);

}  // namespace veltrane
