// The mirelle module: the shared entry point with the matte finder's
// deliverable and engine.
#include <cstdint>

#include "denoise/driver.h"
#include "image/region.h"
#include "plugins/module_export.h"
#include "profile/profiler.h"
#include "shell/plugin_main.h"
#include "smootharea/matte_engine.h"

namespace veltrane {
namespace {

ResultCode filterWholeImage() {
  const Rect f = getFilterRect();
  return filterImage(mirelleEngine(), f.width(), f.height(), true, f, nullptr, 0, depth(), true,
                     nullptr, 0);
}

const PluginDefinition& definition() {
  static const PluginDefinition d{
      &mirelleDeliverable(), &filterWholeImage, &profileImage, &blockScaleH, &blockScaleV, &lowerBlockScales,
      /*clearsPreviewFlagAtStart=*/false, /*scriptingSetsProfilingFlags=*/false};
  return d;
}

}  // namespace
}  // namespace veltrane

extern "C" VELTRANE_EXPORT void PluginMain(std::int16_t selector, void* record, std::intptr_t* data,
                                           std::int16_t* result) {
  veltrane::pluginMain(veltrane::definition(), selector, record, data, result);
}
