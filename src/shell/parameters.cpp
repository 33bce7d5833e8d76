#include "parameters.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>

#include "messages.h"

namespace veltrane {
namespace {

const Deliverable*& activePointer() {
  static const Deliverable* active = nullptr;
  return active;
}

}  // namespace

void setActiveDeliverable(const Deliverable& d) {
  activePointer() = &d;
  parameterDefaults() = d.factoryDefaults;
}

void setActiveDeliverableOnce(const Deliverable& d) {
  if (activePointer() != &d) setActiveDeliverable(d);
}

const Deliverable& activeDeliverable() {
  const Deliverable* d = activePointer();
  if (!d) throw std::logic_error("no active deliverable");
  return *d;
}

ParameterDefaults& parameterDefaults() {
  static ParameterDefaults defaults{};
  return defaults;
}

void setDefaults(FilterParameters& p) {
  const ParameterDefaults& d = parameterDefaults();
  p.flags = d.flags;
  p.reals = d.reals;
}

double profileArgument(ProfileRequest r) {
  switch (r) {
    case ProfileRequest::digital:
      return 0.2;
    case ProfileRequest::film:
      return 1.0;
    case ProfileRequest::none:
      break;
  }
  return 0.0;
}

ProfileRequest resetAll(FilterParameters& p) {
  const Deliverable& d = activeDeliverable();
  const std::size_t count =
      std::min<std::size_t>(d.resetAllFlagCount, std::size(d.resetAllFlags));
  for (std::size_t i = 0; i < count; ++i) p.flags[d.resetAllFlags[i].slot] = d.resetAllFlags[i].value;
  p.reals = parameterDefaults().reals;

  if (p.flags[flag::profileDigitalOnLoad]) return ProfileRequest::digital;
  if (p.flags[flag::profileFilmOnLoad]) return ProfileRequest::film;
  return ProfileRequest::none;
}

void resetNoiseReduction(FilterParameters& p) {
  const ParameterDefaults& d = parameterDefaults();
  for (std::size_t slot : {real::mixBWDetail, real::mixColorDetail, real::sharpenBWDetail,
                           real::sharpenColorDetail})
    p.reals[slot] = d.reals[slot];
}

int valueToPosition(double value, double scale) {
  const double x = value * scale + 0.5;
  // Values far outside every slider range (typed into an edit box) still give
  // a defined position: the nearest int, and 0 for a value that is no number.
  if (std::isnan(x)) return 0;
  constexpr double intLimit = 2147483648.0;  // 2^31
  if (x >= intLimit) return std::numeric_limits<int>::max();
  if (x <= -intLimit - 1.0) return std::numeric_limits<int>::min();
  return static_cast<int>(x);  // truncation: the integer part
}

double positionToValue(int position, double scale) { return static_cast<double>(position) / scale; }

ValueCheck keepInRange(std::size_t slot, double& value) {
  const ValueRange range = activeDeliverable().realRanges[slot];
  ValueCheck check = ValueCheck::kept;
  if (!std::isfinite(value)) {
    value = parameterDefaults().reals[slot];  // a profiled default may itself lie outside
    check = ValueCheck::replaced;
  }
  if (!(value >= range.lowest)) {
    value = range.lowest;
  } else if (value > range.highest) {
    value = range.highest;
  } else {
    return check;
  }
  return check == ValueCheck::replaced ? check : ValueCheck::clamped;
}

void storeReal(FilterParameters& p, std::size_t slot, double value) {
  if (keepInRange(slot, value) == ValueCheck::replaced)
    reportMessage(std::string(notFiniteMessage) + activeDeliverable().realFieldNames[slot]);
  p.reals[slot] = value;
}

void keepParametersInRange(FilterParameters& p) {
  for (std::size_t i = 0; i < realSlotCount; ++i) storeReal(p, i, p.reals[i]);
}

bool applyProfilingFlagsRule(FilterParameters& p) {
  if (!p.flags[flag::profileDigitalOnLoad] || !p.flags[flag::profileFilmOnLoad]) return false;
  p.flags[flag::profileFilmOnLoad] = 0;
  reportMessage(bothProfilingFlagsMessage);
  return true;
}

}  // namespace veltrane
