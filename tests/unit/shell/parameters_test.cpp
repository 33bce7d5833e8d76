#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "shell/filter_parameters.h"
#include "shell/parameter_tables.h"
#include "shell/parameters.h"
#include "support/message_capture.h"

namespace veltrane {
namespace {

template <typename F>
std::string outOfRangeText(F&& access) {
  try {
    access();
  } catch (const std::out_of_range& e) {
    return e.what();
  }
  return "no exception";
}

FilterParameters filledRecord(double real, std::uint8_t flagValue) {
  FilterParameters p{};
  for (std::size_t i = 0; i < realSlotCount; ++i) p.reals[i] = real;
  for (std::size_t i = 0; i < flagSlotCount; ++i) p.flags[i] = flagValue;
  return p;
}

TEST(ParameterDefaults, FreshRecordEqualsFactoryTable) {
  for (const Deliverable* d : {&halvaneDeliverable(), &mirelleDeliverable()}) {
    SCOPED_TRACE(d->name);
    setActiveDeliverable(*d);
    FilterParameters p;
    std::memset(&p, 0xA5, sizeof p);
    setDefaults(p);
    EXPECT_EQ(0, std::memcmp(p.flags.values, d->factoryDefaults.flags.values, sizeof p.flags.values));
    EXPECT_EQ(0, std::memcmp(p.reals.values, d->factoryDefaults.reals.values, sizeof p.reals.values));
  }
  // A few halvane values that a typo in the table would change.
  const ParameterDefaults& h = halvaneDeliverable().factoryDefaults;
  EXPECT_EQ(40.0, h.reals[real::overallNoiseLevel]);
  EXPECT_EQ(0.2, h.reals[real::highlightsNoiseLevel]);
  EXPECT_EQ(0.3, h.reals[real::mixBWDetail]);
  EXPECT_EQ(0.0, h.reals[real::mixColorDetail]);
  EXPECT_EQ(255.0, h.reals[real::protectThreshold]);
  EXPECT_EQ(1.0, h.reals[real::edgeSmoothing]);
  for (std::size_t i = real::reserved21; i <= real::reserved25; ++i) EXPECT_EQ(0.0, h.reals[i]);
  const std::uint8_t halvaneFlags[] = {1, 1, 0, 1, 0, 1, 0, 0, 1};
  EXPECT_EQ(0, std::memcmp(h.flags.values, halvaneFlags, sizeof halvaneFlags));
}

TEST(ParameterDefaults, SettingTheDeliverableRestoresFactoryDefaults) {
  setActiveDeliverable(halvaneDeliverable());
  EXPECT_EQ(&halvaneDeliverable(), &activeDeliverable());
  parameterDefaults().reals[real::overallNoiseLevel] = 12.5;
  setActiveDeliverable(mirelleDeliverable());
  EXPECT_EQ(&mirelleDeliverable(), &activeDeliverable());
  EXPECT_EQ(40.0, parameterDefaults().reals[real::overallNoiseLevel]);
  EXPECT_EQ(4.0, parameterDefaults().reals[real::lowThreshold]);
}

TEST(ControlTable, HalvaneLayout) {
  const Deliverable& h = halvaneDeliverable();
  const ParameterControlTable& t = h.controls;
  std::set<std::size_t> advanced;
  for (std::size_t i = 0; i < realSlotCount; ++i) {
    SCOPED_TRACE(i);
    const RealControl& c = t.reals[i];
    if (c.advanced) advanced.insert(i);
    if (i <= real::edgeSmoothing) {
      // Slot i owns the slider 10(i + 2) + 1 and the edit box beside it.
      EXPECT_EQ(static_cast<std::int32_t>(10 * (i + 2) + 1), c.sliderId);
      EXPECT_EQ(c.sliderId + 1, c.editId);
      EXPECT_LT(c.minPosition, c.maxPosition);
    } else {
      EXPECT_EQ(0, c.sliderId);
      EXPECT_EQ(0, c.editId);
      EXPECT_EQ(0, c.minPosition);
      EXPECT_EQ(0, c.maxPosition);
      EXPECT_EQ(nullptr, c.label);
    }
    EXPECT_EQ(i < real::edgeSmoothing, c.hasControl());
    EXPECT_EQ(c.hasControl(), c.label != nullptr);
    if (c.hasControl()) {
      const double v = h.factoryDefaults.reals[i];
      EXPECT_LE(c.minPosition / c.scale, v);
      EXPECT_GE(c.maxPosition / c.scale, v);
    }
  }
  EXPECT_EQ((std::set<std::size_t>{1, 2, 3, 4, 5, 8, 9, 10, 11, 13, 14, 15, 16, 17, 18, 20}), advanced);

  auto range = [&](std::size_t slot) {
    const RealControl& c = t.reals[slot];
    return std::pair{c.minPosition / c.scale, c.maxPosition / c.scale};
  };
  EXPECT_EQ((std::pair{0.0, 300.0}), range(real::overallNoiseLevel));
  EXPECT_EQ((std::pair{0.15, 1.0}), range(real::highlightsNoiseLevel));
  EXPECT_EQ((std::pair{0.0, 2.0}), range(real::fineNoiseLevel));
  EXPECT_EQ((std::pair{0.0, 1.0}), range(real::mixColorDetail));
  EXPECT_EQ((std::pair{0.0, 1.0}), range(real::veryBroadDetailNR));
  EXPECT_EQ((std::pair{0.0, 3.0}), range(real::sharpenBWDetail));
  EXPECT_EQ((std::pair{0.0, 255.0}), range(real::protectFeather));
  EXPECT_EQ((std::pair{0.0, 3.0}), range(real::sharpenColorDetail));
  EXPECT_EQ(0, t.reals[real::edgeSmoothing].minPosition);
  EXPECT_EQ(300, t.reals[real::edgeSmoothing].maxPosition);

  EXPECT_STREQ("Mix in original B&&W detail", t.reals[real::mixBWDetail].label);
  EXPECT_STREQ("Highlight protect threshold", t.reals[real::protectThreshold].label);
  EXPECT_STREQ("Sharpening (color detail)", t.reals[real::sharpenColorDetail].label);

  std::set<std::size_t> advancedFlags;
  for (std::size_t i = 0; i < flagSlotCount; ++i) {
    SCOPED_TRACE(i);
    const FlagControl& f = t.flags[i];
    EXPECT_EQ(f.checkBoxId != 0, f.text != nullptr);
    if (f.advanced) advancedFlags.insert(i);
  }
  EXPECT_EQ((std::set<std::size_t>{flag::spareFlag5, flag::protectShadows}), advancedFlags);
  EXPECT_EQ(0, t.flags[flag::spareFlag0].checkBoxId);
  EXPECT_EQ(24, t.flags[flag::despeckle].checkBoxId);
  EXPECT_STREQ("&Despeckle", t.flags[flag::despeckle].text);
  EXPECT_EQ(44, t.flags[flag::protectShadows].checkBoxId);
  EXPECT_EQ(507, t.flags[flag::cleanerSmoothAreas].checkBoxId);

  EXPECT_STREQ("halvane", h.name);
  EXPECT_STREQ("Halvane v2.3.0", h.aboutTitle);
  EXPECT_TRUE(h.hasResetNoiseReduction);
}

TEST(ControlTable, MirelleDiffersFromHalvaneOnlyWhereItShould) {
  const Deliverable& h = halvaneDeliverable();
  const Deliverable& m = mirelleDeliverable();

  for (std::size_t i = 0; i < realSlotCount; ++i) {
    SCOPED_TRACE(i);
    const RealControl& a = h.controls.reals[i];
    const RealControl& b = m.controls.reals[i];
    const bool threshold = i == real::lowThreshold || i == real::highThreshold;
    EXPECT_EQ(a.sliderId, b.sliderId);
    EXPECT_EQ(a.editId, b.editId);
    EXPECT_EQ(i == real::highThreshold ? 1 : a.minPosition, b.minPosition);
    EXPECT_EQ(a.maxPosition, b.maxPosition);
    EXPECT_EQ(threshold ? 10.0 : a.scale, b.scale);
    EXPECT_EQ(a.advanced, b.advanced);
    const bool shown = threshold || i == real::overallNoiseLevel || i == real::highlightsNoiseLevel;
    EXPECT_EQ(shown, b.label != nullptr);
    EXPECT_EQ(i == real::lowThreshold ? 4.0 : i == real::highThreshold ? 10.0 : h.factoryDefaults.reals[i],
              m.factoryDefaults.reals[i]);
  }
  const RealControl& high = m.controls.reals[real::highThreshold];
  EXPECT_EQ(0.1, high.minPosition / high.scale);
  EXPECT_EQ(30.0, high.maxPosition / high.scale);
  EXPECT_STREQ("Noise Reduction: Overall noise level", m.controls.reals[real::overallNoiseLevel].label);
  EXPECT_STREQ("Low Threshold", m.controls.reals[real::lowThreshold].label);
  EXPECT_STREQ("High Threshold", m.controls.reals[real::highThreshold].label);

  for (std::size_t i = 0; i < flagSlotCount; ++i) {
    SCOPED_TRACE(i);
    const FlagControl& a = h.controls.flags[i];
    const FlagControl& b = m.controls.flags[i];
    EXPECT_EQ(i == flag::cleanerSmoothAreas ? 0 : a.checkBoxId, b.checkBoxId);
    EXPECT_EQ(a.advanced, b.advanced);
    const bool shown = i == flag::invertMatte || i == flag::profileDigitalOnLoad ||
                       i == flag::profileFilmOnLoad || i == flag::alwaysProfile;
    EXPECT_EQ(shown, b.text != nullptr);
    if (shown && i != flag::invertMatte) {
      EXPECT_STREQ(a.text, b.text);
    }
  }
  EXPECT_STREQ("&Invert", m.controls.flags[flag::invertMatte].text);
  const std::uint8_t mirelleFlags[] = {1, 1, 0, 1, 0, 1, 0, 1, 0};
  EXPECT_EQ(0, std::memcmp(m.factoryDefaults.flags.values, mirelleFlags, sizeof mirelleFlags));

  EXPECT_STREQ("mirelle", m.name);
  EXPECT_STREQ("Mirelle Matte Finder v1.0.0", m.aboutTitle);
  EXPECT_FALSE(m.hasResetNoiseReduction);
}

TEST(FilterParametersSlots, OutOfRangeAccessThrows) {
  FilterParameters p{};
  const FilterParameters& cp = p;
  const std::string text = "array<>: index out of range";
  EXPECT_EQ(text, outOfRangeText([&] { p.reals[realSlotCount] = 1.0; }));
  EXPECT_EQ(text, outOfRangeText([&] { (void)cp.reals[realSlotCount]; }));
  EXPECT_EQ(text, outOfRangeText([&] { p.flags[flagSlotCount] = 1; }));
  EXPECT_EQ(text, outOfRangeText([&] { (void)cp.flags[flagSlotCount]; }));
  EXPECT_EQ(text, outOfRangeText([&] { (void)cp.reals[static_cast<std::size_t>(-1)]; }));
  EXPECT_NO_THROW((void)p.reals[realSlotCount - 1]);
  EXPECT_NO_THROW((void)p.flags[flagSlotCount - 1]);
}

TEST(ResetAll, HalvaneRestoresProfiledDefaultsAndFixedFlags) {
  const Deliverable& h = halvaneDeliverable();
  setActiveDeliverable(h);
  parameterDefaults().reals[real::overallNoiseLevel] = 12.5;  // as a profiling run leaves them
  parameterDefaults().reals[real::highlightsNoiseLevel] = 0.4;

  FilterParameters p = filledRecord(99.0, 1);
  p.flags[flag::despeckle] = 0;
  p.flags[flag::cleanerSmoothAreas] = 0;
  EXPECT_EQ(ProfileRequest::digital, resetAll(p));  // digital wins over film
  EXPECT_EQ(12.5, p.reals[real::overallNoiseLevel]);
  EXPECT_EQ(0.4, p.reals[real::highlightsNoiseLevel]);
  for (std::size_t i = 2; i < realSlotCount; ++i) EXPECT_EQ(h.factoryDefaults.reals[i], p.reals[i]) << i;
  const std::uint8_t expected[] = {1, 1, 0, 1, 1, 1, 0, 1, 1};  // 0, 3, 4, 5, 7 left as they were
  EXPECT_EQ(0, std::memcmp(p.flags.values, expected, sizeof expected));

  p.flags[flag::profileDigitalOnLoad] = 0;
  EXPECT_EQ(ProfileRequest::film, resetAll(p));
  p.flags[flag::profileFilmOnLoad] = 0;
  p.flags[flag::alwaysProfile] = 0;
  EXPECT_EQ(ProfileRequest::none, resetAll(p));
  EXPECT_EQ(0, p.flags[flag::alwaysProfile]);

  EXPECT_EQ(0.2, profileArgument(ProfileRequest::digital));
  EXPECT_EQ(1.0, profileArgument(ProfileRequest::film));
  EXPECT_EQ(0.0, profileArgument(ProfileRequest::none));
}

TEST(ResetAll, MirelleLeavesTheFlagsItDoesNotShow) {
  const Deliverable& m = mirelleDeliverable();
  setActiveDeliverable(m);
  FilterParameters p = filledRecord(-1.0, 0);
  p.flags[flag::invertMatte] = 1;
  p.flags[flag::protectShadows] = 1;
  p.flags[flag::profileFilmOnLoad] = 1;
  EXPECT_EQ(ProfileRequest::film, resetAll(p));
  EXPECT_EQ(1, p.flags[flag::despeckle]);
  EXPECT_EQ(0, p.flags[flag::invertMatte]);
  EXPECT_EQ(1, p.flags[flag::protectShadows]);
  EXPECT_EQ(0, p.flags[flag::cleanerSmoothAreas]);
  EXPECT_EQ(0, p.flags[flag::spareFlag0]);
  EXPECT_EQ(0, std::memcmp(p.reals.values, m.factoryDefaults.reals.values, sizeof p.reals.values));
}

TEST(ResetNoiseReduction, TouchesOnlyDetailMixAndSharpening) {
  setActiveDeliverable(halvaneDeliverable());
  parameterDefaults().reals[real::mixBWDetail] = 0.5;
  FilterParameters p = filledRecord(99.0, 1);
  p.flags[flag::despeckle] = 0;
  resetNoiseReduction(p);
  for (std::size_t i = 0; i < realSlotCount; ++i) {
    const bool reset = i == real::mixBWDetail || i == real::mixColorDetail ||
                       i == real::sharpenBWDetail || i == real::sharpenColorDetail;
    EXPECT_EQ(reset ? parameterDefaults().reals[i] : 99.0, p.reals[i]) << i;
  }
  EXPECT_EQ(0.5, p.reals[real::mixBWDetail]);
  EXPECT_EQ(0.2, p.reals[real::sharpenColorDetail]);
  EXPECT_EQ(0, p.flags[flag::despeckle]);
}

TEST(SliderMapping, PositionsAndValues) {
  EXPECT_EQ(57, valueToPosition(57.0, 1.0));
  EXPECT_EQ(15, valueToPosition(0.15, 100.0));
  EXPECT_EQ(0.15, positionToValue(15, 100.0));
  EXPECT_EQ(100, valueToPosition(2.0, 50.0));
  EXPECT_EQ(125, valueToPosition(2.5, 50.0));  // beyond the slider range: not clamped here
  EXPECT_EQ(29, valueToPosition(0.29, 100.0));  // 28.999... rounds to the nearest step
  EXPECT_EQ(0, valueToPosition(-0.3, 1.0));     // integer part, towards zero
  EXPECT_EQ(-2, valueToPosition(-2.9, 1.0));

  // Typed values far outside any range still give a defined position.
  constexpr int maxInt = std::numeric_limits<int>::max();
  constexpr int minInt = std::numeric_limits<int>::min();
  EXPECT_EQ(maxInt, valueToPosition(1e300, 100.0));
  EXPECT_EQ(maxInt, valueToPosition(std::numeric_limits<double>::infinity(), 1.0));
  EXPECT_EQ(minInt, valueToPosition(-1e300, 100.0));
  EXPECT_EQ(maxInt, valueToPosition(2147483647.0, 1.0));
  EXPECT_EQ(minInt, valueToPosition(-2147483648.6, 1.0));
  EXPECT_EQ(0, valueToPosition(std::nan(""), 100.0));

  // Every slider step of every control survives the round trip.
  for (const Deliverable* d : {&halvaneDeliverable(), &mirelleDeliverable()}) {
    for (std::size_t i = 0; i < realSlotCount; ++i) {
      const RealControl& c = d->controls.reals[i];
      if (!c.hasControl()) continue;
      for (int pos = c.minPosition; pos <= c.maxPosition; ++pos)
        ASSERT_EQ(pos, valueToPosition(positionToValue(pos, c.scale), c.scale)) << d->name << " slot " << i;
    }
  }
}

TEST(ProfilingFlagsRule, FilmIsSwitchedOffWhenBothAreOn) {
  testsupport::MessageCapture messages;
  FilterParameters p{};
  p.flags[flag::profileDigitalOnLoad] = 1;
  p.flags[flag::profileFilmOnLoad] = 1;
  EXPECT_TRUE(applyProfilingFlagsRule(p));
  EXPECT_EQ(1, p.flags[flag::profileDigitalOnLoad]);
  EXPECT_EQ(0, p.flags[flag::profileFilmOnLoad]);
  ASSERT_EQ(1u, messages.count());
  EXPECT_EQ("Veltrane", messages.messages()[0].caption);
  EXPECT_EQ("Both profile digital and film settings are on.  Film profiling on UI loading will be disabled.",
            messages.messages()[0].text);

  EXPECT_FALSE(applyProfilingFlagsRule(p));  // only digital on now
  p.flags[flag::profileDigitalOnLoad] = 0;
  p.flags[flag::profileFilmOnLoad] = 1;
  EXPECT_FALSE(applyProfilingFlagsRule(p));
  EXPECT_EQ(1, p.flags[flag::profileFilmOnLoad]);
  EXPECT_EQ(1u, messages.count());
}

}  // namespace
}  // namespace veltrane
