#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

#include "shell/parameter_tables.h"
#include "shell/view_state.h"

namespace veltrane {
namespace {

// A key in reading order ("" for key 0), taken apart byte by byte.
std::string keyText(std::uint32_t key) {
  if (key == 0) return "";
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((key >> shift) & 0xFFu);
  return s;
}

const char* const realKeyTexts[realSlotCount] = {
    "brgH", "conT", "bAdj", "satU", "lumC", "Rcoe", "Gcoe", "Bcoe", "Dbai", "Dbaj", "Dbak", "Dbal", "Dbam",
    "Dban", "Dbao", "Dbap", "Dbaq", "Dbar", "Dbas", "Dbat", "Dbau", "Dbav", "Dbaw", "Dbax", "",     "",
};
const char* const flagKeyTexts[flagSlotCount] = {"ignS", "Blab", "Blac", "Blad", "Blae",
                                                 "Blaf", "Blag", "Blah", "Blai"};

TEST(ScriptingKeys, EveryKeyOfBothDeliverables) {
  for (const Deliverable* d : {&halvaneDeliverable(), &mirelleDeliverable()}) {
    SCOPED_TRACE(d->name);
    for (std::size_t i = 0; i < realSlotCount; ++i) EXPECT_EQ(realKeyTexts[i], keyText(d->realKeys[i].key)) << i;
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(flagKeyTexts[i], keyText(d->flagKeys[i].key)) << i;
  }
  EXPECT_EQ("Blai", keyText(halvaneDeliverable().flagKeys[8].key));
  EXPECT_EQ(0u, mirelleDeliverable().flagKeys[8].key);
  EXPECT_EQ(nullptr, mirelleDeliverable().flagKeys[8].name);
}

TEST(ScriptingKeys, NonZeroKeysOfOneDescriptorAreDistinct) {
  // The registry holds reals, flags and view state in one descriptor.
  for (const Deliverable* d : {&halvaneDeliverable(), &mirelleDeliverable()}) {
    SCOPED_TRACE(d->name);
    std::set<std::uint32_t> seen;
    std::size_t nonZero = 0;
    auto add = [&](std::uint32_t k) {
      if (k == 0) return;
      ++nonZero;
      seen.insert(k);
    };
    for (std::size_t i = 0; i < realSlotCount; ++i) add(d->realKeys[i].key);
    for (std::size_t i = 0; i < flagSlotCount; ++i) add(d->flagKeys[i].key);
    for (std::uint32_t k : viewStateKeys) add(k);
    EXPECT_EQ(nonZero, seen.size());
  }
}

TEST(ScriptingKeys, ScriptingNames) {
  const Deliverable& h = halvaneDeliverable();
  EXPECT_STREQ("Overall noise level", h.realKeys[0].name);
  EXPECT_STREQ("Very broad noise level", h.realKeys[5].name);
  EXPECT_STREQ("Sharpening (B&W detail)", h.realKeys[12].name);
  EXPECT_STREQ("Highlight protect feather", h.realKeys[18].name);
  EXPECT_STREQ("Edge Smoothing", h.realKeys[20].name);
  for (std::size_t i = 0; i <= 20; ++i) EXPECT_NE(nullptr, h.realKeys[i].name) << i;
  for (std::size_t i = 21; i < realSlotCount; ++i) EXPECT_EQ(nullptr, h.realKeys[i].name) << i;
  for (std::size_t i : {0u, 1u, 2u, 5u, 6u}) EXPECT_EQ(nullptr, h.flagKeys[i].name) << i;
  EXPECT_STREQ("digital auto-profiling", h.flagKeys[3].name);
  EXPECT_STREQ("Automatically profile digital images", h.flagKeys[3].description);
  EXPECT_STREQ("Cleaner smooth areas", h.flagKeys[8].description);

  const Deliverable& m = mirelleDeliverable();
  const std::set<std::size_t> named = {0, 1, 12, 19};
  for (std::size_t i = 0; i < realSlotCount; ++i) EXPECT_EQ(named.count(i) == 1, m.realKeys[i].name != nullptr) << i;
  EXPECT_STREQ("Low threshold", m.realKeys[12].name);
  EXPECT_STREQ("High threshold", m.realKeys[19].name);
}

TEST(ScriptingKeys, FieldNamesAreCompleteAndUniquePerDeliverable) {
  for (const Deliverable* d : {&halvaneDeliverable(), &mirelleDeliverable()}) {
    SCOPED_TRACE(d->name);
    std::set<std::string> names;
    for (std::size_t i = 0; i < realSlotCount; ++i) {
      ASSERT_NE(nullptr, d->realFieldNames[i]) << i;
      names.insert(d->realFieldNames[i]);
    }
    for (std::size_t i = 0; i < flagSlotCount; ++i) {
      ASSERT_NE(nullptr, d->flagFieldNames[i]) << i;
      names.insert(d->flagFieldNames[i]);
    }
    EXPECT_EQ(realSlotCount + flagSlotCount, names.size());
  }
  const Deliverable& h = halvaneDeliverable();
  EXPECT_STREQ("overallNoiseLevel", h.realFieldNames[0]);
  EXPECT_STREQ("sharpenColorDetail", h.realFieldNames[19]);
  EXPECT_STREQ("reserved25", h.realFieldNames[25]);
  EXPECT_STREQ("previewWithoutDetailMix", h.flagFieldNames[2]);
  EXPECT_STREQ("cleanerSmoothAreas", h.flagFieldNames[8]);
  const Deliverable& m = mirelleDeliverable();
  EXPECT_STREQ("lowThreshold", m.realFieldNames[12]);
  EXPECT_STREQ("highThreshold", m.realFieldNames[19]);
  EXPECT_STREQ("invertMatte", m.flagFieldNames[2]);
  EXPECT_STREQ("sharpenBWDetail", h.realFieldNames[12]);
  EXPECT_STREQ("mixBWDetail", m.realFieldNames[6]);
  EXPECT_STREQ("cleanerSmoothAreas", m.flagFieldNames[8]);
}

TEST(ScriptingKeys, IdentifiersAndProductStrings) {
  const Deliverable& h = halvaneDeliverable();
  const Deliverable& m = mirelleDeliverable();
  EXPECT_STREQ("bceaae11-64f5-4642-a53b-77935366fee2", h.registryId);
  EXPECT_STREQ("ADB32730-AD77-5F5B-878B-EF688CDDD789", m.registryId);
  EXPECT_STREQ("Halvane v2.3.0...", h.resourceName);
  EXPECT_STREQ("Mirelle Matte Finder v1.0.0...", m.resourceName);
  EXPECT_STREQ("Noise reduction plug-in", h.eventDescription);
  EXPECT_STREQ("Mirelle Matte Finder plug-in", m.eventDescription);
}

TEST(ViewState, KeysInitialValuesAndFieldOrder) {
  const char* const keys[viewStateKeyCount] = {"Zoom", "Zmoh", "Zmov", "Zmfh", "Zmfv", "Zmww",
                                               "Zmwh", "Zmpw", "Zmph", "Zmsz", "Zm00"};
  const std::int32_t initial[viewStateKeyCount] = {1, 0, 0, 0, 0, 1920, 1080, 1920, 1080, 1, 0};
  const ViewState fresh{};
  for (std::size_t i = 0; i < viewStateKeyCount; ++i) {
    EXPECT_EQ(keys[i], keyText(viewStateKeys[i])) << i;
    EXPECT_EQ(initial[i], viewStateValue(fresh, i)) << i;
  }

  // Each index reaches its own field: write distinct values, read the fields.
  ViewState s{};
  for (std::size_t i = 0; i < viewStateKeyCount - 1; ++i)
    setViewStateValue(s, i, 100 + static_cast<std::int32_t>(i));
  setViewStateValue(s, view::showAdvanced, 1);
  EXPECT_EQ(100, s.zoom);
  EXPECT_EQ(101, s.panOffsetH);
  EXPECT_EQ(102, s.panOffsetV);
  EXPECT_EQ(103, s.panFullH);
  EXPECT_EQ(104, s.panFullV);
  EXPECT_EQ(105, s.storedWidth);
  EXPECT_EQ(106, s.storedHeight);
  EXPECT_EQ(107, s.dialogWidth);
  EXPECT_EQ(108, s.dialogHeight);
  EXPECT_EQ(109, s.zoomFactor);
  EXPECT_EQ(1, s.showAdvanced);
}

TEST(ViewState, ShowAdvancedIsABooleanAndIndicesAreChecked) {
  ViewState s{};
  setViewStateValue(s, view::showAdvanced, 256);  // would truncate to 0 as a byte
  EXPECT_EQ(1, s.showAdvanced);
  setViewStateValue(s, view::showAdvanced, 0);
  EXPECT_EQ(0, viewStateValue(s, view::showAdvanced));
  EXPECT_THROW(viewStateValue(s, viewStateKeyCount), std::out_of_range);
  EXPECT_THROW(setViewStateValue(s, viewStateKeyCount, 1), std::out_of_range);
  EXPECT_EQ(&viewState(), &viewState());
}

}  // namespace
}  // namespace veltrane
