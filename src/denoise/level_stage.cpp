#include "level_stage.h"

#include "directional_filter.h"
#include "engine_settings.h"
#include "framework/row_bands.h"
#include "sharpen.h"
#include "shell/progress.h"

namespace veltrane {
namespace {

// Gives b the image's geometry on the memory it holds when that is large
// enough, else new memory. False (reported) when none can be had.
bool prepareWorking(cspaceBuffer& b, const cspaceBuffer& image) {
  if (b.reshape(image.marginX, image.marginY, image.width, image.height)) return true;
  b.releaseIfLocked();
  b.create(image.marginX, image.marginY, image.width, image.height);
  return b.allocatedOrReported();
}

// Both passes on working buffers of the image's geometry. mayTakeCopy: the
// copy's memory may become the image's (the copy is released afterwards).
ResultCode runPasses(cspaceBuffer& image, cspaceBuffer& copy, cspaceBuffer& weights, float T,
                     bool finest, float detailNR, float SB, float SC, bool mayTakeCopy) {
  const EngineSettings& s = engineSettings();
  // Both filters write every inner pixel of the copy; its margin is
  // mirrored after the pass.
  const float H = s.H;
  if (s.smoothVariant) {
    runRowBands(image.height, [&](std::int32_t first, std::int32_t end, int) {
      smoothAreaDenoiseRows(image, copy, weights, T, finest, H, first, end);
    });
  } else {
    runRowBands(image.height, [&](std::int32_t first, std::int32_t end, int) {
      directionalDenoiseRows(image, copy, &weights, T, finest, detailNR, H, first, end);
    });
  }

  // progressStep(0) is the latch check followed by the host poll when
  // reporting is on; either way the image stays as it was.
  if (progressStep(0)) return noErr;

  copy.marginsValid = 0;
  copy.mirrorMargins();
  // Sharpening writes every inner pixel of the image from the copy; without
  // it the copy is the result.
  if (SB == 0.0f && SC == 0.0f) {
    if (!mayTakeCopy || !image.swapMemoryWith(copy)) image.copyFrom(copy);
    image.marginsValid = 0;
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
  auto releaseBoth = [&] {
    weights.release();
    copy.release();
  };

  copy.create(image.marginX, image.marginY, image.width, image.height);
  if (!copy.allocatedOrReported()) {
    releaseBoth();
    return outOfMemory;
  }
  weights.create(image.marginX, image.marginY, image.width, image.height);
  if (!weights.allocatedOrReported()) {
    releaseBoth();
    return outOfMemory;
  }
  const ResultCode rc = runPasses(image, copy, weights, T, finest, detailNR, SB, SC, true);
  releaseBoth();
  return rc;
}

ResultCode runLevelStage(cspaceBuffer& image, cspaceBuffer& copy, cspaceBuffer& weights, float T,
                         bool finest, float detailNR, float SB, float SC) {
  if (!image.marginsValid) image.mirrorMargins();
  if (!prepareWorking(copy, image) || !prepareWorking(weights, image)) return outOfMemory;
  return runPasses(image, copy, weights, T, finest, detailNR, SB, SC, false);
}

}  // namespace veltrane
