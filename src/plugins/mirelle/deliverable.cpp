#include "plugins/common_layout.h"
#include "shell/parameter_tables.h"

namespace veltrane {
namespace {

// The matte filter keeps the shared layout (ids, ranges, advanced marks and
// defaults of every slot) and shows controls for reals 0, 1, 12, 19 and flags
// 2, 3, 4, 7 only. Slots without a control here carry no label or text.
constexpr Deliverable makeMirelle() {
  Deliverable d = layout::sharedDeliverable();
  d.name = "mirelle";
  d.aboutTitle = "Mirelle Matte Finder v1.0.0";
  d.profilerInternalError = "(Veltrane) GetNewNoiseLevel internal error.";

  auto& reals = d.controls.reals.values;
  reals[real::overallNoiseLevel].label = "Noise Reduction: Overall noise level";
  reals[real::highlightsNoiseLevel].label = "Highlights noise level";
  reals[real::lowThreshold].label = "Low Threshold";
  reals[real::lowThreshold].scale = 10.0;
  reals[real::highThreshold].label = "High Threshold";
  reals[real::highThreshold].scale = 10.0;
  reals[real::highThreshold].minPosition = 1;
  // The thresholds may lie above their sliders, up to the engine's limit.
  d.realRanges.values[real::lowThreshold] = ValueRange{0.0, 2550.0};
  d.realRanges.values[real::highThreshold] = ValueRange{0.1, 2550.0};

  auto& flags = d.controls.flags.values;
  flags[flag::invertMatte].text = "&Invert";
  flags[flag::profileDigitalOnLoad].text = "Profile image (digital) when UI loads";
  flags[flag::profileFilmOnLoad].text = "Profile image (film) when UI loads";
  flags[flag::alwaysProfile].text = "Always profile";
  flags[flag::cleanerSmoothAreas].checkBoxId = 0;  // not an option of the matte

  d.factoryDefaults.reals.values[real::lowThreshold] = 4.0;
  d.factoryDefaults.reals.values[real::highThreshold] = 10.0;
  d.factoryDefaults.flags.values[flag::alwaysProfile] = 1;
  d.factoryDefaults.flags.values[flag::cleanerSmoothAreas] = 0;

  d.resetAllFlags[0] = {flag::despeckle, 1};
  d.resetAllFlags[1] = {flag::invertMatte, 0};
  d.resetAllFlagCount = 2;
  d.hasResetNoiseReduction = false;

  d.realFieldNames.values[real::lowThreshold] = "lowThreshold";
  d.realFieldNames.values[real::highThreshold] = "highThreshold";
  d.flagFieldNames.values[flag::invertMatte] = "invertMatte";

  // Only the four reals with a control have a scripting name; every slot
  // keeps its key. Flag 8 has no key and no scripting name here.
  auto& realKeys = d.realKeys.values;
  realKeys[real::overallNoiseLevel].name = "Overall noise level";
  realKeys[real::highlightsNoiseLevel].name = "Highlights noise level";
  realKeys[real::lowThreshold].name = "Low threshold";
  realKeys[real::highThreshold].name = "High threshold";
  d.flagKeys.values[flag::cleanerSmoothAreas] = ScriptingKey{0, nullptr, nullptr};

  d.registryId = "ADB32730-AD77-5F5B-878B-EF688CDDD789";
  d.resourceName = "Mirelle Matte Finder v1.0.0...";
  d.eventDescription = "Mirelle Matte Finder plug-in";
  d.terminology = TerminologyParameters{
      {real::overallNoiseLevel, real::highlightsNoiseLevel, real::lowThreshold, real::highThreshold},
      4,
      {flag::profileDigitalOnLoad, flag::profileFilmOnLoad, flag::alwaysProfile},
      3,
  };
  d.settingsSignature = "Mirelle Matte Finder ver1";
  d.settingsExtension = "mrl";
  d.settingsFilterName = "Mirelle Matte Finder Files (*.mrl)";
  return d;
}

constexpr Deliverable mirelle = makeMirelle();

}  // namespace

const Deliverable& mirelleDeliverable() { return mirelle; }

}  // namespace veltrane
