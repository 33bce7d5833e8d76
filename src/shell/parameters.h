#pragma once
#include <cstddef>

#include "filter_parameters.h"
#include "parameter_tables.h"

namespace veltrane {

// The deliverable this library instance is (set once by the module at load;
// tests switch it). Setting it also resets the writable defaults to the
// deliverable's factory table.
void setActiveDeliverable(const Deliverable& d);
// The same, but keeps the writable defaults when d is already active.
void setActiveDeliverableOnce(const Deliverable& d);
const Deliverable& activeDeliverable();

// The writable defaults of the loaded plug-in.
ParameterDefaults& parameterDefaults();

// Copy the 9 default flags and the 26 default reals into the record.
void setDefaults(FilterParameters& p);

enum class ProfileRequest { none, digital, film };

// The profiler's argument for a request: 0.2 for digital, 1.0 for film.
double profileArgument(ProfileRequest r);

// "Reset All": the deliverable's fixed flags, all reals from the defaults;
// returns the profiling that must follow (digital before film).
ProfileRequest resetAll(FilterParameters& p);

// "Reset Noise Reduction Settings": the defaults of the detail-mix and
// sharpening reals only.
void resetNoiseReduction(FilterParameters& p);

// Slider position for a value: integer part of (value * scale + 0.5).
int valueToPosition(double value, double scale);
// Value for a slider position: position / scale.
double positionToValue(int position, double scale);

// Brings a value for a real slot of the active deliverable into the slot's
// range: a value outside it is clamped, one that is not a finite number is
// replaced by the slot's default.
enum class ValueCheck { kept, clamped, replaced };
ValueCheck keepInRange(std::size_t slot, double& value);

// keepInRange for a value read from outside into slot: the user is told
// when it was replaced.
void storeReal(FilterParameters& p, std::size_t slot, double value);

// keepInRange for every real of the block, telling the user of each value
// replaced.
void keepParametersInRange(FilterParameters& p);

// Followed directly by the field's name.
inline constexpr const char* notFiniteMessage =
    "(Veltrane) A value that is not a finite number was replaced by its default: ";

// The two profile-on-load flags are exclusive: when both are on, film is
// switched off and the user is told. Returns whether it changed anything.
bool applyProfilingFlagsRule(FilterParameters& p);

inline constexpr const char* bothProfilingFlagsMessage =
    "Both profile digital and film settings are on.  Film profiling on UI loading will be disabled.";

}  // namespace veltrane
