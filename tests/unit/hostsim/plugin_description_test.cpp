// The host's reader of a module's property list, terminology and parameter
// resource, on the bytes the plug-ins' builders write and on damaged copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/sim/plugin_description.h"
#include "hostapi/fourcc.h"
#include "shell/parameter_tables.h"
#include "shell/plugin_resources.h"

namespace veltrane::host {
namespace {

using hostapi::fourcc;
using Bytes = std::vector<std::uint8_t>;

ModuleResources resourcesOf(const Deliverable& d) {
  return {buildPIPL(d, true), buildAETE(d), buildParameterResource(d)};
}

TEST(PluginDescription, ReadsWhatTheBuildersWrite) {
  const Deliverable& d = halvaneDeliverable();
  const PluginDescription p = describePlugin(resourcesOf(d));
  EXPECT_TRUE(p.problems.empty());
  EXPECT_EQ(p.name, d.resourceName);
  EXPECT_EQ(p.uniqueString, d.registryId);
  EXPECT_EQ(p.title, d.aboutTitle);
  EXPECT_EQ(p.label(), "halvane");
  ASSERT_EQ(p.terminology.size(), std::size_t{d.terminology.realCount} + d.terminology.flagCount);
  EXPECT_EQ(p.terminology[0].name, "Overall noise level");
  EXPECT_EQ(p.terminology[0].type, fourcc("doub"));
  EXPECT_EQ(p.terminology.back().type, fourcc("bool"));

  ASSERT_TRUE(p.parameters);
  EXPECT_EQ(p.parameters->settingsSignature, d.settingsSignature);
  EXPECT_EQ(p.parameters->blockSize, sizeof(FilterParameters));
  ASSERT_EQ(p.parameters->fields.size(), realSlotCount + flagSlotCount);
  const ParameterField& mix = p.parameters->fields[real::mixBWDetail];
  EXPECT_EQ(mix.name, "mixBWDetail");
  EXPECT_EQ(mix.key, d.realKeys[real::mixBWDetail].key);
  EXPECT_EQ(mix.offset, offsetof(FilterParameters, reals) + 8 * real::mixBWDetail);
  EXPECT_EQ(mix.highest, d.realRanges[real::mixBWDetail].highest);
  EXPECT_TRUE(mix.main);
  const ParameterField& despeckle = p.parameters->fields[realSlotCount + flag::despeckle];
  EXPECT_EQ(despeckle.kind, ParameterField::Kind::flag);
  EXPECT_EQ(despeckle.offset, offsetof(FilterParameters, flags) + flag::despeckle);
  EXPECT_FALSE(despeckle.main);  // not in the terminology
}

// Every prefix and every single-byte change of each resource: nothing is
// read past the end (the sanitizers watch), and a resource is either
// reported as damaged or read whole.
TEST(PluginDescription, TruncatedOrGarbledResourcesAreReportedNeverOverread) {
  const ModuleResources whole = resourcesOf(mirelleDeliverable());
  const PluginDescription intact = describePlugin(whole);
  for (int part = 0; part < 3; ++part) {
    Bytes ModuleResources::*member = part == 0   ? &ModuleResources::propertyList
                                     : part == 1 ? &ModuleResources::terminology
                                                 : &ModuleResources::parameters;
    const Bytes& bytes = whole.*member;
    for (std::size_t size = 1; size < bytes.size(); ++size) {
      ModuleResources cut = whole;
      (cut.*member).assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
      const PluginDescription p = describePlugin(cut);
      // The terminology's trailing counts are not needed for the event.
      if (part == 1 && size >= bytes.size() - 6) continue;
      EXPECT_EQ(p.problems.size(), 1u) << "part " << part << ", " << size << " bytes";
    }
    for (std::size_t at = 0; at < bytes.size(); ++at) {
      ModuleResources garbled = whole;
      (garbled.*member)[at] ^= 0xFF;
      const PluginDescription p = describePlugin(garbled);
      if (p.parameters && part == 2) {
        for (const ParameterField& f : p.parameters->fields)
          EXPECT_LE(f.offset + (f.kind == ParameterField::Kind::real ? 8u : 1u), p.parameters->blockSize);
      }
    }
  }
  EXPECT_TRUE(intact.problems.empty());

  ModuleResources wrongVersion = whole;
  wrongVersion.parameters[4] = 2;
  const PluginDescription p = describePlugin(wrongVersion);
  EXPECT_FALSE(p.parameters);
  ASSERT_EQ(p.problems.size(), 1u);
  EXPECT_NE(p.problems[0].find("version 2"), std::string::npos) << p.problems[0];
  EXPECT_EQ(p.label(), intact.name);  // without its own resource, the menu name
}

}  // namespace
}  // namespace veltrane::host
