#pragma once
#include <cstddef>
#include <cstdint>

#include "hostapi/fourcc.h"
#include "shell/parameter_tables.h"

// The slot layout both plug-ins share: default values, control ids, slider
// ranges, scales, advanced marks, scripting keys and slot names. Labels,
// check-box texts and the scripting names of the reals are left null here;
// each deliverable fills in the ones it shows and changes the few slots it
// uses differently.
namespace veltrane::layout {

struct RealRow {
  double defaultValue;
  std::int32_t sliderId;
  std::int32_t editId;
  std::int32_t minPosition;
  std::int32_t maxPosition;
  double scale;  // 0 = no control
  bool advanced;
  std::uint32_t key;  // 0 = no scripting key
  const char* field;
};

struct FlagRow {
  std::uint8_t defaultValue;
  std::int32_t checkBoxId;  // 0 = no check box
  bool advanced;
  std::uint32_t key;
  const char* field;
  const char* scriptingName;  // nullptr = not in the scripting terminology
  const char* description;
};

inline constexpr bool adv = true;
using hostapi::fourcc;

// clang-format off
inline constexpr RealRow realRows[realSlotCount] = {
  //  default  slider edit  min  max   scale  advanced  key           field
    {  40.0,    21,   22,   0,  300,    1.0, false, fourcc("brgH"), "overallNoiseLevel"},
    {   0.2,    31,   32,  15,  100,  100.0, adv,   fourcc("conT"), "highlightsNoiseLevel"},
    {   1.0,    41,   42,   0,  100,   50.0, adv,   fourcc("bAdj"), "veryFineNoiseLevel"},
    {   1.0,    51,   52,   0,  100,   50.0, adv,   fourcc("satU"), "fineNoiseLevel"},
    {   1.0,    61,   62,   0,  100,   50.0, adv,   fourcc("lumC"), "broadNoiseLevel"},
    {   1.0,    71,   72,   0,  100,   50.0, adv,   fourcc("Rcoe"), "veryBroadNoiseLevel"},
    {   0.3,    81,   82,   0,   50,   50.0, false, fourcc("Gcoe"), "mixBWDetail"},
    {   0.0,    91,   92,   0,   50,   50.0, false, fourcc("Bcoe"), "mixColorDetail"},
    {   1.0,   101,  102,   0,  100,  100.0, adv,   fourcc("Dbai"), "veryFineDetailNR"},
    {   1.0,   111,  112,   0,  100,  100.0, adv,   fourcc("Dbaj"), "fineDetailNR"},
    {   1.0,   121,  122,   0,  100,  100.0, adv,   fourcc("Dbak"), "broadDetailNR"},
    {   1.0,   131,  132,   0,  100,  100.0, adv,   fourcc("Dbal"), "veryBroadDetailNR"},
    {   0.2,   141,  142,   0,  300,  100.0, false, fourcc("Dbam"), "sharpenBWDetail"},
    {   1.0,   151,  152,   0,  300,  100.0, adv,   fourcc("Dban"), "veryFineSharpening"},
    {   1.0,   161,  162,   0,  300,  100.0, adv,   fourcc("Dbao"), "fineSharpening"},
    {   1.0,   171,  172,   0,  300,  100.0, adv,   fourcc("Dbap"), "broadSharpening"},
    {   1.0,   181,  182,   0,  300,  100.0, adv,   fourcc("Dbaq"), "veryBroadSharpening"},
    { 255.0,   191,  192,   0,  255,    1.0, adv,   fourcc("Dbar"), "protectThreshold"},
    {   0.0,   201,  202,   0,  255,    1.0, adv,   fourcc("Dbas"), "protectFeather"},
    {   0.2,   211,  212,   0,  300,  100.0, false, fourcc("Dbat"), "sharpenColorDetail"},
    // Set only by scripting and settings files: its ids are reserved, but
    // the dialog template holds no such controls.
    {   1.0,   221,  222,   0,  300,    0.0, adv,   fourcc("Dbau"), "edgeSmoothing"},
    {   0.0,     0,    0,   0,    0,    0.0, false, fourcc("Dbav"), "reserved21"},
    {   0.0,     0,    0,   0,    0,    0.0, false, fourcc("Dbaw"), "reserved22"},
    {   0.0,     0,    0,   0,    0,    0.0, false, fourcc("Dbax"), "reserved23"},
    // The last two slots have no key: the registry and the scripting
    // descriptor carry them under key 0.
    {   0.0,     0,    0,   0,    0,    0.0, false, 0,              "reserved24"},
    {   0.0,     0,    0,   0,    0,    0.0, false, 0,              "reserved25"},
};

inline constexpr FlagRow flagRows[flagSlotCount] = {
  // default  check box  advanced  key  field  scripting name  description
    {1,         0,       false, fourcc("ignS"), "spareFlag0", nullptr, nullptr},
    {1,        24,       false, fourcc("Blab"), "despeckle", nullptr, nullptr},
    {0,        34,       false, fourcc("Blac"), "previewWithoutDetailMix", nullptr, nullptr},
    {1,       502,       false, fourcc("Blad"), "profileDigitalOnLoad",
     "digital auto-profiling", "Automatically profile digital images"},
    {0,       504,       false, fourcc("Blae"), "profileFilmOnLoad",
     "film auto-profiling", "Automatically profile scanned film images"},
    {1,         0,       adv,   fourcc("Blaf"), "spareFlag5", nullptr, nullptr},
    {0,        44,       adv,   fourcc("Blag"), "protectShadows", nullptr, nullptr},
    {0,       506,       false, fourcc("Blah"), "alwaysProfile",
     "automatic profiling even if GUI does not load", "Automatically profile images"},
    {1,       507,       false, fourcc("Blai"), "cleanerSmoothAreas",
     "cleaner smooth areas", "Cleaner smooth areas"},
};
// clang-format on

// The range a real slot may hold: its slider's range where it has one, with
// room above the overall level's slider for the levels the profiler measures
// in strong noise, the highlights level down to 0, the sharpening amounts the
// engine accepts (it limits them to -1000..1000 itself), and any finite
// number in a slot without a control.
constexpr ValueRange rangeOf(std::size_t slot) {
  constexpr double largest = 1.7976931348623157e308;
  const RealRow& r = realRows[slot];
  switch (slot) {
    case real::overallNoiseLevel:
      return {0.0, 10000.0};
    case real::highlightsNoiseLevel:
      return {0.0, 1.0};  // the engine raises it to 0.01 itself
    case real::sharpenBWDetail:
    case real::veryFineSharpening:
    case real::fineSharpening:
    case real::broadSharpening:
    case real::veryBroadSharpening:
    case real::sharpenColorDetail:
      return {-1000.0, 1000.0};
    default:
      break;
  }
  if (r.scale == 0.0) return {-largest, largest};
  return {r.minPosition / r.scale, r.maxPosition / r.scale};
}

// The shared layout as a deliverable record: defaults, controls, keys, slot
// names and the flags' scripting names filled; product names, texts, the
// reals' scripting names, the terminology list and the Reset All rules left
// empty.
constexpr Deliverable sharedDeliverable() {
  Deliverable d{};
  for (std::size_t i = 0; i < realSlotCount; ++i) {
    const RealRow& r = realRows[i];
    d.factoryDefaults.reals.values[i] = r.defaultValue;
    d.controls.reals.values[i] =
        RealControl{r.sliderId, r.editId, r.minPosition, r.maxPosition, r.scale, r.advanced, nullptr};
    d.realRanges.values[i] = rangeOf(i);
    d.realKeys.values[i] = ScriptingKey{r.key, nullptr, nullptr};
    d.realFieldNames.values[i] = r.field;
  }
  for (std::size_t i = 0; i < flagSlotCount; ++i) {
    const FlagRow& f = flagRows[i];
    d.factoryDefaults.flags.values[i] = f.defaultValue;
    d.controls.flags.values[i] = FlagControl{f.checkBoxId, f.advanced, nullptr};
    d.flagKeys.values[i] = ScriptingKey{f.key, f.scriptingName, f.description};
    d.flagFieldNames.values[i] = f.field;
  }
  return d;
}

}  // namespace veltrane::layout
