#include <cstddef>

#include "plugins/common_layout.h"
#include "shell/parameter_tables.h"

namespace veltrane {
namespace {

// clang-format off
constexpr const char* realLabels[realSlotCount] = {
    "Overall noise level (removes speckles but also detail)",
    "Highlights noise level",
    "Very fine noise level",
    "Fine noise level",
    "Broad noise level",
    "Very broad noise level",
    "Mix in original B&&W detail",  // "&&" is the dialog's escape for one '&'
    "Mix in original color detail",
    "Very fine detail NR",
    "Fine detail NR",
    "Broad detail NR",
    "Very broad detail NR",
    "Sharpening (B&&W detail)",
    "Very fine sharpening",
    "Fine sharpening",
    "Broad sharpening",
    "Very broad sharpening",
    "Highlight protect threshold",  // relabelled while protectShadows is on
    "Highlight protect feather",
    "Sharpening (color detail)",
    nullptr,  // edgeSmoothing: no control
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

constexpr const char* flagTexts[flagSlotCount] = {
    nullptr,
    "&Despeckle",
    "&Preview without original detail mixed in",
    "Profile image (digital) when UI loads",
    "Profile image (film) when UI loads",
    nullptr,
    "Protect shadows instead of highlights (&A)",
    "Always profile",
    "Cleaner smooth areas (slower; effect is very subtle)",
};
// Scripting names of the reals; these also name the terminology's
// parameters. The scripting texts have a plain '&'.
constexpr const char* realScriptingNames[realSlotCount] = {
    "Overall noise level",
    "Highlights noise level",
    "Very fine noise level",
    "Fine noise level",
    "Broad noise level",
    "Very broad noise level",
    "Mix in original B&W detail",
    "Mix in original color detail",
    "Very fine detail NR",
    "Fine detail NR",
    "Broad detail NR",
    "Very broad detail NR",
    "Sharpening (B&W detail)",
    "Very fine sharpening",
    "Fine sharpening",
    "Broad sharpening",
    "Very broad sharpening",
    "Highlight protect threshold",
    "Highlight protect feather",
    "Sharpening (Color detail)",
    "Edge Smoothing",
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The terminology lists the colour sharpening right after the B&W one.
constexpr TerminologyParameters terminology = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 19, 13, 14, 15, 16, 17, 18, 20}, 21,
    {flag::profileDigitalOnLoad, flag::profileFilmOnLoad, flag::alwaysProfile, flag::cleanerSmoothAreas}, 4,
};
// clang-format on

constexpr Deliverable makeHalvane() {
  Deliverable d = layout::sharedDeliverable();
  d.name = "halvane";
  d.aboutTitle = "Halvane v2.3.0";
  d.profilerInternalError = "(Halvane) GetNewNoiseLevel internal error.";
  for (std::size_t i = 0; i < realSlotCount; ++i) d.controls.reals.values[i].label = realLabels[i];
  for (std::size_t i = 0; i < flagSlotCount; ++i) d.controls.flags.values[i].text = flagTexts[i];
  d.resetAllFlags[0] = {flag::despeckle, 1};
  d.resetAllFlags[1] = {flag::previewWithoutDetailMix, 0};
  d.resetAllFlags[2] = {flag::protectShadows, 0};
  d.resetAllFlags[3] = {flag::cleanerSmoothAreas, 1};
  d.resetAllFlagCount = 4;
  d.hasResetNoiseReduction = true;

  for (std::size_t i = 0; i < realSlotCount; ++i) d.realKeys.values[i].name = realScriptingNames[i];
  d.registryId = "bceaae11-64f5-4642-a53b-77935366fee2";
  d.resourceName = "Halvane v2.3.0...";
  d.eventDescription = "Noise reduction plug-in";
  d.terminology = terminology;
  d.settingsSignature = "Halvanetic ver1";
  d.settingsExtension = "hlv";
  d.settingsFilterName = "Halvane Files (*.hlv)";
  return d;
}

constexpr Deliverable halvane = makeHalvane();

}  // namespace

const Deliverable& halvaneDeliverable() { return halvane; }

}  // namespace veltrane
