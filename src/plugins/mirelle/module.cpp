// The mirelle module: the shared entry point with the matte finder's deliverable and
// engine.
#include <cstdint>

#include "framework/driver.h"
#include "plugins/filter_dialog.h"
#include "plugins/module_export.h"
#include "profile/profiler.h"
#include "shell/plugin_main.h"
#include "smootharea/matte_engine.h"

extern "C" VELTRANE_EXPORT void PluginMain(std::int16_t selector, void* record, std::intptr_t* data,
                                           std::int16_t* result) {
  static const veltrane::PluginDefinition definition{
      &veltrane::mirelleDeliverable(), &veltrane::mirelleEngine(), &veltrane::profileImage, &veltrane::profileArea,
      &veltrane::runPluginDialog, /*clearsPreviewFlagAtStart=*/false, /*scriptingSetsProfilingFlags=*/false};
  veltrane::pluginMain(definition, selector, record, data, result);
}
