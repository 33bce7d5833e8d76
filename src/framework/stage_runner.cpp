#include "stage_runner.h"

namespace veltrane {

bool createWorkingBuffer(cspaceBuffer& b, const cspaceBuffer& like) {
  b.create(like.marginX, like.marginY, like.width, like.height);
  if (b.allocatedOrReported()) return true;
  b.release();
  return false;
}

bool prepareWorkingBuffer(cspaceBuffer& b, const cspaceBuffer& like) {
  if (b.reshape(like.marginX, like.marginY, like.width, like.height)) return true;
  b.releaseIfLocked();
  b.create(like.marginX, like.marginY, like.width, like.height);
  return b.allocatedOrReported();
}

void adoptStageResult(cspaceBuffer& image, cspaceBuffer& result, bool mayTakeMemory) {
  if (!mayTakeMemory || !image.swapMemoryWith(result)) image.copyFrom(result);
  image.marginsValid = 0;
}

}  // namespace veltrane
