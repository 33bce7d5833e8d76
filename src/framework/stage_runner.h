#pragma once
#include <cstdint>

#include "framework/row_bands.h"
#include "image/cspace_buffer.h"
#include "shell/progress.h"
#include "shell/result_codes.h"

// The stage runner: an engine filters an image in passes, each reading the
// image (margins mirrored) and writing every inner pixel of a working buffer
// of the same geometry, spread over the row-band threads and joined before
// the next. Between passes the run is polled for cancel; a cancelled stage
// leaves the image as it was and returns noErr, and the caller's next check
// reports the cancel.
namespace veltrane {

// Gives b like's geometry on new memory. False (reported) when none can be
// had; b is then released.
bool createWorkingBuffer(cspaceBuffer& b, const cspaceBuffer& like);

// Gives b like's geometry on the memory it holds when that is large enough,
// else on new memory. False (reported) when none can be had.
bool prepareWorkingBuffer(cspaceBuffer& b, const cspaceBuffer& like);

// Runs job(firstRow, endRow, threadIndex) over the rows of result on the
// row-band threads, then polls for cancel (progressStep(0): the abort latch,
// then the host when progress is reported). True when the pass stands: the
// result's margins are then mirrored. False when the run was cancelled.
template <typename Job>
bool runStagePass(cspaceBuffer& result, const Job& job) {
  runRowBands(result.height, job);
  if (progressStep(0)) return false;
  result.marginsValid = 0;
  result.mirrorMargins();
  return true;
}

// Makes result's pixels the image's: by taking its memory when mayTakeMemory
// (result then holds the image's old memory), else by copying. The image's
// margins are left to be mirrored again.
void adoptStageResult(cspaceBuffer& image, cspaceBuffer& result, bool mayTakeMemory);

// One pass whose result replaces the image: margins mirrored when stale, a
// working buffer made, runStagePass, the result adopted and the buffer
// released. Returns noErr (also when cancelled, image unchanged) or
// outOfMemory when the working buffer could not be had.
template <typename Job>
ResultCode runReplacingPass(cspaceBuffer& image, const Job& job) {
  if (!image.marginsValid) image.mirrorMargins();
  cspaceBuffer result;
  if (!createWorkingBuffer(result, image)) return outOfMemory;
  if (runStagePass(result, [&](std::int32_t first, std::int32_t end, int thread) {
        job(result, first, end, thread);
      }))
    adoptStageResult(image, result, true);
  result.release();
  return noErr;
}

}  // namespace veltrane
