// The halvane module: the shared entry point with the noise reducer's deliverable and
// engine.
#include <cstdint>

#include "denoise/halvane_engine.h"
#include "plugins/filter_dialog.h"
#include "plugins/module_export.h"
#include "profile/profiler.h"
#include "shell/plugin_main.h"

extern "C" VELTRANE_EXPORT void PluginMain(std::int16_t selector, void* record, std::intptr_t* data,
                                           std::int16_t* result) {
  static const veltrane::PluginDefinition definition{
      &veltrane::halvaneDeliverable(), &veltrane::halvaneEngine(), &veltrane::profileImage, &veltrane::profileArea,
      &veltrane::runPluginDialog, /*clearsPreviewFlagAtStart=*/true, /*scriptingSetsProfilingFlags=*/true};
  veltrane::pluginMain(definition, selector, record, data, result);
}
