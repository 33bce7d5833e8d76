#pragma once
#include <cstdint>

#include "filter_parameters.h"

namespace veltrane {

// Default values of every slot of one deliverable. The reals are writable at
// run time: profiling stores the measured noise levels into slots 0 and 1 so
// that "Reset All" brings them back.
struct ParameterDefaults {
  SlotArray<std::uint8_t, flagSlotCount> flags;
  SlotArray<double, realSlotCount> reals;
};

// The dialog's controls for one real slot. The slider position runs from
// minPosition to maxPosition and maps to value = position / scale. A scale of
// 0 marks a slot that has no control.
struct RealControl {
  std::int32_t sliderId;
  std::int32_t editId;
  std::int32_t minPosition;
  std::int32_t maxPosition;
  double scale;
  bool advanced;
  const char* label;  // nullptr when the slot has no label

  bool hasControl() const noexcept { return scale != 0.0; }
};

// The check box of one flag slot (id 0 = none).
struct FlagControl {
  std::int32_t checkBoxId;
  bool advanced;
  const char* text;  // nullptr when the slot has no check box
};

struct ParameterControlTable {
  SlotArray<RealControl, realSlotCount> reals;
  SlotArray<FlagControl, flagSlotCount> flags;
};

// A flag that "Reset All" sets to a fixed value.
struct FlagReset {
  std::uint8_t slot;
  std::uint8_t value;
};

// Everything that differs between the two deliverables, in one record.
struct Deliverable {
  const char* name;             // "halvane" / "mirelle"
  const char* aboutTitle;       // product title with version
  const char* tooSmallMessage;  // shown when the filter rectangle is too small
  ParameterDefaults factoryDefaults;
  ParameterControlTable controls;
  FlagReset resetAllFlags[4];
  std::uint8_t resetAllFlagCount;
  bool hasResetNoiseReduction;  // the "Reset Noise Reduction Settings" button
};

const Deliverable& halvaneDeliverable();
const Deliverable& mirelleDeliverable();

}  // namespace veltrane
