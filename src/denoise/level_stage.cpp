#include "level_stage.h"

#include "directional_filter.h"
#include "engine_settings.h"
#include "framework/row_bands.h"
#include "sharpen.h"
#include "shell/progress.h"

namespace veltrane {

ResultCode runLevelStage(cspaceBuffer& image, float T, bool finest, float detailNR, float SB,
                         float SC) {
  const EngineSettings& s = engineSettings();
  if (!image.marginsValid) image.mirrorMargins();

  cspaceBuffer copy;
  cspaceBuffer weights;
  auto releaseBoth = [&] {
    weights.release();
    copy.release();
  };

  copy.create(image.marginX, image.marginY, image.width, image.height);
  if (!copy.checkAllocated()) {
    releaseBoth();
    return outOfMemory;
  }
  // Both filters write every inner pixel of the copy; its margin is
  // mirrored after the pass.
  weights.create(image.marginX, image.marginY, image.width, image.height);
  if (!weights.checkAllocated()) {
    releaseBoth();
    return outOfMemory;
  }

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
  if (progressStep(0)) {
    releaseBoth();
    return noErr;
  }

  copy.marginsValid = 0;
  copy.mirrorMargins();
  // Sharpening writes every inner pixel of the image from the copy; without
  // it the copy is the result.
  if (SB == 0.0f && SC == 0.0f) {
    if (!image.swapMemoryWith(copy)) image.copyFrom(copy);
    image.marginsValid = 0;
    releaseBoth();
    return noErr;
  }

  const bool lab = s.labImage != 0;
  runRowBands(image.height, [&](std::int32_t first, std::int32_t end, int thread) {
    sharpenRows(copy, image, weights, SB, SC, lab, first, end, thread);
  });

  image.marginsValid = 0;
  releaseBoth();
  return noErr;
}

}  // namespace veltrane
