#pragma once
#include <cstdint>

#include "framework/driver.h"
#include "parameter_tables.h"
#include "result_codes.h"

namespace veltrane {

// What a plug-in module plugs into the shared entry point: its deliverable
// and the operations that differ between the deliverables.
struct PluginDefinition {
  const Deliverable* deliverable;
  // The engine the driver runs over the filter rectangle.
  const PieceEngine* engine;
  // Measures the image's noise (0.2 digital, 1.0 film); null when the
  // deliverable cannot profile.
  void (*profile)(double kind);
  // Measures the noise of an area selected by hand (see profileArea); null
  // when the deliverable cannot.
  bool (*profileArea)(double kind, const Rect& area);
  // Opens the filter's dialog over the host's main window `owner` (0 for
  // none) and returns 1 for OK or 2 for Cancel.
  int (*runDialog)(const PluginDefinition& plugin, std::intptr_t owner);
  // Whether start switches previewWithoutDetailMix off.
  bool clearsPreviewFlagAtStart;
  // Whether the scripting descriptor may change the three profiling flags.
  bool scriptingSetsProfilingFlags;
};

// The body of PluginMain: stores the call's context, builds and frees the
// look-up tables around the selector, dispatches it. Never throws.
void pluginMain(const PluginDefinition& plugin, std::int16_t selector, void* record,
                std::intptr_t* data, std::int16_t* result) noexcept;

// The maker's web address shown in the about box.
inline constexpr const char* makerAddress = "https://www.veltrane.com";

// Shown when the host offers no handle suite the plug-in can use.
inline constexpr const char* noHandleSuiteMessage =
    "(Veltrane) This application does not offer the memory services the plug-in needs.";

// Memory the engine needs for a W x H piece with the given plane count:
// four pyramid levels of (W + 6) x (H + 6) floats per channel, plus the
// look-up tables.
std::int64_t engineMemoryEstimate(std::int64_t width, std::int64_t height, std::int32_t planes);

}  // namespace veltrane
