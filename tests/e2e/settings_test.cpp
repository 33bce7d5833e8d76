// Settings handed to the plug-in: --set, recorded actions, the parameter
// block written out, and the registry that carries them from run to run.
#include <fstream>

#include <nlohmann/json.hpp>

#include "command_runner.h"
#include "shell/parameter_tables.h"
#include "ui/settings_codec.h"

namespace veltrane::e2e {
namespace {

using host::SampleDepth;

class SettingsTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    input = writeNoisy(imageName("in"), 64, 64, 3, SampleDepth::u8);
  }

  // The pixels of a successful run with the given extra arguments.
  std::vector<std::uint8_t> filtered(const std::string& name, std::vector<std::string> extra) {
    std::vector<std::string> args{VELTRANE_HALVANE_MODULE, input, path(name)};
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult r = veltrane(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? readImage(path(name)).pixels : std::vector<std::uint8_t>{};
  }

  std::string input;
};

TEST_F(SettingsTest, SetByFieldNameOrKeyChangesTheResult) {
  const auto byDefault = filtered(imageName("default"), {"--no-registry"});
  const auto byName = filtered(imageName("name"), {"--no-registry", "--set", "overallNoiseLevel=0"});
  const auto byKey = filtered(imageName("key"), {"--no-registry", "--set", "brgH=0"});
  ASSERT_FALSE(byDefault.empty());
  EXPECT_NE(byName, byDefault);
  EXPECT_EQ(byKey, byName);
}

TEST_F(SettingsTest, AValueFarBelowItsRangeIsClamped) {
  const auto zero = filtered(imageName("zero"), {"--no-registry", "--set", "mixBWDetail=0"});
  const auto far = filtered(imageName("far"), {"--no-registry", "--set", "mixBWDetail=-1e308"});
  ASSERT_FALSE(zero.empty());
  EXPECT_EQ(far, zero);
}

TEST_F(SettingsTest, HostProfilesDriveThePluginAsALesserHostWould) {
#ifndef _WIN32
  // A host without scripting always shows the dialog, as --dialog asks for.
  // (On Windows that dialog is a real window, which no one would close here.)
  const auto withDialog = filtered(imageName("dialog"), {"--no-registry", "--dialog"});
  const auto minimal = filtered(imageName("minimal"), {"--no-registry", "--host-profile", "minimal"});
  ASSERT_FALSE(withDialog.empty());
  EXPECT_EQ(minimal, withDialog);
#endif

  const CommandResult unknown =
      veltrane({VELTRANE_HALVANE_MODULE, input, path(imageName("unknown")), "--host-profile", "nonesuch"});
  EXPECT_EQ(unknown.status, 2);
}

TEST_F(SettingsTest, ParameterBlockShowsTheValuesSet) {
  const std::string params = path("params.json");
  filtered(imageName("out"), {"--no-registry", "--set", "overallNoiseLevel=12.5", "--set", "despeckle=false",
                       "--set", "Blai=true", "--params-out", params});
  const nlohmann::json p = nlohmann::json::parse(readText(params));
  ASSERT_EQ(p.at("reals").size(), 26u);
  ASSERT_EQ(p.at("flags").size(), 9u);
  EXPECT_EQ(p["reals"]["overallNoiseLevel"].get<double>(), 12.5);
  EXPECT_EQ(p["reals"]["mixBWDetail"].get<double>(), 0.3);  // untouched: the default
  EXPECT_EQ(p["flags"]["despeckle"].get<int>(), 0);
  EXPECT_EQ(p["flags"]["cleanerSmoothAreas"].get<int>(), 1);
}

TEST_F(SettingsTest, ReplayingARecordedActionReproducesTheRunAndSetOverridesIt) {
  const std::string action = path("action.json");
  const auto recorded =
      filtered(imageName("recorded"), {"--no-registry", "--set", "overallNoiseLevel=3", "--record", action});
  const nlohmann::json doc = nlohmann::json::parse(readText(action));
  EXPECT_EQ(doc.at("plugin"), "halvane");
  bool sawLevel = false;
  for (const auto& v : doc.at("values"))
    if (v.at("key") == "brgH") sawLevel = v.at("type") == "float" && v.at("value").get<double>() == 3.0;
  EXPECT_TRUE(sawLevel) << doc.dump();

  EXPECT_EQ(filtered(imageName("replayed"), {"--no-registry", "--replay", action}), recorded);
  EXPECT_EQ(filtered(imageName("overridden"), {"--no-registry", "--replay", action, "--set", "brgH=40"}),
            filtered(imageName("default"), {"--no-registry"}));
}

TEST_F(SettingsTest, RegistryCarriesTheLastValuesToTheNextRun) {
  const std::string registry = path("reg/registry.json");
  const auto first = filtered(imageName("first"), {"--registry", registry, "--set", "overallNoiseLevel=0"});
  ASSERT_TRUE(exists(registry));
  const nlohmann::json doc = nlohmann::json::parse(readText(registry));
  EXPECT_EQ(doc.at("entries").size(), 1u);

  EXPECT_EQ(filtered(imageName("second"), {"--registry", registry}), first);
  EXPECT_NE(filtered(imageName("fresh"), {"--no-registry"}), first);
}

TEST_F(SettingsTest, DefaultRegistryLivesUnderTheConfigFolder) {
  filtered(imageName("out"), {"--set", "overallNoiseLevel=0"});
  EXPECT_TRUE(exists(configDir() + "/veltrane/registry.json"));
}

TEST_F(SettingsTest, UnreadableRegistryIsSetAsideNotLost) {
  const std::string registry = path("registry.json");
  {
    std::ofstream bad(registry);
    bad << "{ not json";
  }
  const CommandResult r = veltrane({VELTRANE_HALVANE_MODULE, input, path(imageName("out")), "--registry", registry});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("registry.json"), std::string::npos) << "no warning about the registry: " << r.err;
  EXPECT_EQ(readText(registry + ".bad"), "{ not json");
  EXPECT_TRUE(nlohmann::json::accept(readText(registry)));
}

TEST_F(SettingsTest, FailedRunLeavesTheRegistryAsItWas) {
  const std::string registry = path("registry.json");
  filtered(imageName("out"), {"--registry", registry, "--set", "overallNoiseLevel=7"});
  const std::string before = readText(registry);
  const std::string tiny = writeNoisy(imageName("tiny"), 20, 20, 3, SampleDepth::u8);
  const CommandResult r = veltrane(
      {VELTRANE_HALVANE_MODULE, tiny, path(imageName("tiny-out")), "--registry", registry, "--set", "overallNoiseLevel=9"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(readText(registry), before);
}

TEST_F(SettingsTest, SettingsFileActsLikeTheEquivalentSetAndMustBeOfThePlugin) {
  const auto fileOf = [this](const Deliverable& d, const std::string& name) {
    FilterParameters p{d.factoryDefaults.flags, d.factoryDefaults.reals};
    p.reals[real::overallNoiseLevel] = 0.0;
    const std::vector<std::uint8_t> bytes = ui::encodeSettings(p, d.settingsSignature);
    std::ofstream(path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path(name);
  };
  const std::string hlv = fileOf(halvaneDeliverable(), "s.hlv");
  EXPECT_EQ(filtered(imageName("file"), {"--no-registry", "--settings", hlv}),
            filtered(imageName("set"), {"--no-registry", "--set", "overallNoiseLevel=0"}));
  EXPECT_EQ(filtered(imageName("over"), {"--no-registry", "--settings", hlv, "--set", "brgH=40"}),
            filtered(imageName("default"), {"--no-registry"}));

  const std::string mrl = fileOf(mirelleDeliverable(), "s.mrl");
  const CommandResult r = veltrane({VELTRANE_HALVANE_MODULE, input, path(imageName("no")), "--settings", mrl});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("s.mrl"), std::string::npos) << r.err;
  EXPECT_FALSE(exists(path(imageName("no"))));
}

}  // namespace
}  // namespace veltrane::e2e
