#include "level_stage.h"

#include "engine_settings.h"
#include "framework/row_bands.h"
#include "framework/stage_runner.h"
#include "kernels/directional_filter.h"
#include "sharpen.h"

namespace veltrane {
namespace {

// Both passes on working buffers of the image's geometry. mayTakeCopy: the
// copy's memory may become the image's (the copy is released afterwards).
ResultCode runPasses(cspaceBuffer& image, cspaceBuffer& copy, cspaceBuffer& weights, float T,
                     bool finest, float detailNR, float SB, float SC, bool mayTakeCopy) {
  const EngineSettings& s = engineSettings();
  // Both filters write every inner pixel of the copy.
  const float H = s.H;
  const bool done =
      s.smoothVariant
          ? runStagePass(copy, [&](std::int32_t first, std::int32_t end, int) {
              smoothAreaDenoiseRows(image, copy, weights, T, finest, H, first, end);
            })
          : runStagePass(copy, [&](std::int32_t first, std::int32_t end, int) {
              directionalDenoiseRows(image, copy, &weights, T, finest, detailNR, H, first, end);
            });
  if (!done) return noErr;

  // Sharpening writes every inner pixel of the image from the copy; without
  // it the copy is the result.
  if (SB == 0.0f && SC == 0.0f) {
    adoptStageResult(image, copy, mayTakeCopy);
    return noErr;
  }

  const bool lab = s.labImage != 0;
  runRowBands(image.height, [&](std::int32_t first, std::int32_t end, int thread) {
    sharpenRows(copy, image, weights, SB, SC, lab, first, end, thread);
  });

  image.marginsValid = 0;
  return noErr;
}

}  // namespace

ResultCode runLevelStage(cspaceBuffer& image, float T, bool finest, float detailNR, float SB,
                         float SC) {
  if (!image.marginsValid) image.mirrorMargins();

  cspaceBuffer copy;
  cspaceBuffer weights;
  if (!createWorkingBuffer(copy, image)) return outOfMemory;
  if (!createWorkingBuffer(weights, image)) {
    copy.release();
    return outOfMemory;
  }
  const ResultCode rc = runPasses(image, copy, weights, T, finest, detailNR, SB, SC, true);
  weights.release();
  copy.release();
  return rc;
}

ResultCode runLevelStage(cspaceBuffer& image, cspaceBuffer& copy, cspaceBuffer& weights, float T,
                         bool finest, float detailNR, float SB, float SC) {
  if (!image.marginsValid) image.mirrorMargins();
  if (!prepareWorkingBuffer(copy, image) || !prepareWorkingBuffer(weights, image)) return outOfMemory;
  return runPasses(image, copy, weights, T, finest, detailNR, SB, SC, false);
}

}  // namespace veltrane
