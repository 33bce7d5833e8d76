#pragma once
#include <cstddef>
#include <cstdint>

#include "shell/parameter_tables.h"

// The slot layout both plug-ins share: default values, control ids, slider
// ranges, scales and advanced marks. Labels and check-box texts are left null
// here; each deliverable fills in the ones its dialog shows and changes the
// few slots it uses differently.
namespace veltrane::layout {

struct RealRow {
  double defaultValue;
  std::int32_t sliderId;
  std::int32_t editId;
  std::int32_t minPosition;
  std::int32_t maxPosition;
  double scale;  // 0 = no control
  bool advanced;
};

struct FlagRow {
  std::uint8_t defaultValue;
  std::int32_t checkBoxId;  // 0 = no check box
  bool advanced;
};

inline constexpr bool adv = true;

// clang-format off
inline constexpr RealRow realRows[realSlotCount] = {
  //  default  slider edit  min  max   scale  advanced
    {  40.0,    21,   22,   0,  300,    1.0, false},  //  0 overallNoiseLevel
    {   0.2,    31,   32,  15,  100,  100.0, adv  },  //  1 highlightsNoiseLevel
    {   1.0,    41,   42,   0,  100,   50.0, adv  },  //  2 veryFineNoiseLevel
    {   1.0,    51,   52,   0,  100,   50.0, adv  },  //  3 fineNoiseLevel
    {   1.0,    61,   62,   0,  100,   50.0, adv  },  //  4 broadNoiseLevel
    {   1.0,    71,   72,   0,  100,   50.0, adv  },  //  5 veryBroadNoiseLevel
    {   0.3,    81,   82,   0,   50,   50.0, false},  //  6 mixBWDetail
    {   0.0,    91,   92,   0,   50,   50.0, false},  //  7 mixColorDetail
    {   1.0,   101,  102,   0,  100,  100.0, adv  },  //  8 veryFineDetailNR
    {   1.0,   111,  112,   0,  100,  100.0, adv  },  //  9 fineDetailNR
    {   1.0,   121,  122,   0,  100,  100.0, adv  },  // 10 broadDetailNR
    {   1.0,   131,  132,   0,  100,  100.0, adv  },  // 11 veryBroadDetailNR
    {   0.2,   141,  142,   0,  300,  100.0, false},  // 12 sharpenBWDetail
    {   1.0,   151,  152,   0,  300,  100.0, adv  },  // 13 veryFineSharpening
    {   1.0,   161,  162,   0,  300,  100.0, adv  },  // 14 fineSharpening
    {   1.0,   171,  172,   0,  300,  100.0, adv  },  // 15 broadSharpening
    {   1.0,   181,  182,   0,  300,  100.0, adv  },  // 16 veryBroadSharpening
    { 255.0,   191,  192,   0,  255,    1.0, adv  },  // 17 protectThreshold
    {   0.0,   201,  202,   0,  255,    1.0, adv  },  // 18 protectFeather
    {   0.2,   211,  212,   0,  300,  100.0, false},  // 19 sharpenColorDetail
    // Set only by scripting and settings files: its ids are reserved, but
    // the dialog template holds no such controls.
    {   1.0,   221,  222,   0,  300,    0.0, adv  },  // 20 edgeSmoothing
    {   0.0,     0,    0,   0,    0,    0.0, false},  // 21 reserved
    {   0.0,     0,    0,   0,    0,    0.0, false},  // 22 reserved
    {   0.0,     0,    0,   0,    0,    0.0, false},  // 23 reserved
    {   0.0,     0,    0,   0,    0,    0.0, false},  // 24 reserved
    {   0.0,     0,    0,   0,    0,    0.0, false},  // 25 reserved
};

inline constexpr FlagRow flagRows[flagSlotCount] = {
  // default  check box  advanced
    {1,         0,       false},  // 0 spareFlag0
    {1,        24,       false},  // 1 despeckle
    {0,        34,       false},  // 2 previewWithoutDetailMix
    {1,       502,       false},  // 3 profileDigitalOnLoad
    {0,       504,       false},  // 4 profileFilmOnLoad
    {1,         0,       adv  },  // 5 spareFlag5
    {0,        44,       adv  },  // 6 protectShadows
    {0,       506,       false},  // 7 alwaysProfile
    {1,       507,       false},  // 8 cleanerSmoothAreas
};
// clang-format on

// The shared layout as a deliverable record: defaults and controls filled,
// names, texts and the Reset All rules left empty.
constexpr Deliverable sharedDeliverable() {
  Deliverable d{};
  for (std::size_t i = 0; i < realSlotCount; ++i) {
    const RealRow& r = realRows[i];
    d.factoryDefaults.reals.values[i] = r.defaultValue;
    d.controls.reals.values[i] =
        RealControl{r.sliderId, r.editId, r.minPosition, r.maxPosition, r.scale, r.advanced, nullptr};
  }
  for (std::size_t i = 0; i < flagSlotCount; ++i) {
    const FlagRow& f = flagRows[i];
    d.factoryDefaults.flags.values[i] = f.defaultValue;
    d.controls.flags.values[i] = FlagControl{f.checkBoxId, f.advanced, nullptr};
  }
  return d;
}

}  // namespace veltrane::layout
