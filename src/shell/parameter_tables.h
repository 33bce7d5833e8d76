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

// The values a real slot may hold. Values that come in from outside
// (scripting, registry, settings files, the dialog's edit box) are clamped
// into it; the bounds are finite.
struct ValueRange {
  double lowest;
  double highest;
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

// The scripting key of one slot. key 0 marks a slot without a key of its
// own; name is nullptr when the deliverable gives the slot no scripting name.
// description is the terminology text of a boolean (reals use their name).
struct ScriptingKey {
  std::uint32_t key;
  const char* name;
  const char* description;
};

// The parameters the scripting terminology lists, in the order it lists
// them: the real slots (type double) first, then the flag slots (boolean).
struct TerminologyParameters {
  std::uint8_t realSlots[realSlotCount];
  std::uint8_t realCount;
  std::uint8_t flagSlots[flagSlotCount];
  std::uint8_t flagCount;
};

// Everything that differs between the two deliverables, in one record.
struct Deliverable {
  const char* name;             // "halvane" / "mirelle"
  const char* aboutTitle;       // product title with version
  const char* profilerInternalError;  // the profiler was given an unknown kind
  ParameterDefaults factoryDefaults;
  ParameterControlTable controls;
  SlotArray<ValueRange, realSlotCount> realRanges;
  FlagReset resetAllFlags[4];
  std::uint8_t resetAllFlagCount;
  bool hasResetNoiseReduction;  // the "Reset Noise Reduction Settings" button

  // Scripting and registry keys, one per slot.
  SlotArray<ScriptingKey, realSlotCount> realKeys;
  SlotArray<ScriptingKey, flagSlotCount> flagKeys;
  // The name of every slot in this deliverable ("overallNoiseLevel", ...).
  SlotArray<const char*, realSlotCount> realFieldNames;
  SlotArray<const char*, flagSlotCount> flagFieldNames;

  const char* registryId;        // registry key and terminology unique string
  const char* resourceName;      // the menu name in the plug-in resource
  const char* eventDescription;  // description of the scripting event
  TerminologyParameters terminology;

  // Settings files: the signature at the start of the file (written with
  // its zero byte), the default extension and the file chooser's filter name.
  const char* settingsSignature;
  const char* settingsExtension;
  const char* settingsFilterName;
};

const Deliverable& halvaneDeliverable();
const Deliverable& mirelleDeliverable();

}  // namespace veltrane
