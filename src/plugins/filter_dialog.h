#pragma once
#include <cstdint>

#include "shell/plugin_main.h"

namespace veltrane {

// The filter dialog of both modules (PluginDefinition::runDialog): on the
// platform's widget toolkit, with a live preview of the plug-in's engine,
// owned by the host's window; where there is no toolkit, the platform's
// fallback dialog.
int runPluginDialog(const PluginDefinition& plugin, std::intptr_t owner);

}  // namespace veltrane
