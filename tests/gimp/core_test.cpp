// The GIMP plug-in's parts that do not need GIMP: the procedure's script
// arguments, the exchange of samples with the host, the capture of the
// modules' messages, and whether an interactive run can show the dialog.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "host/cli/cli_error.h"
#include "host/gimp/arguments.h"
#include "host/gimp/dialog.h"
#include "host/gimp/pixels.h"
#include "host/gimp/stderr_capture.h"
#include "formats/settings_file.h"
#include "host/sim/sim_host.h"
#include "hostapi/fourcc.h"

namespace veltrane::gimp {
namespace {

namespace fs = std::filesystem;
using hostapi::fourcc;

// The description of a built module, as the plug-in reads it beside itself.
host::PluginDescription describeModule(const char* name) {
  return host::describePlugin(host::readModuleResources(std::string(VELTRANE_MODULE_DIR "/") + name + ".so"));
}

// Scripts name these arguments: they must not change.
TEST(GimpArguments, MainLevelsAndSwitchesByName) {
  const auto names = [](const host::PluginDescription& d) {
    std::vector<std::string> list;
    for (const NamedArgument& a : namedArguments(d)) list.push_back(a.name);
    return list;
  };
  EXPECT_EQ(names(describeModule("mirelle")),
            (std::vector<std::string>{"overall-noise-level", "highlights-noise-level", "low-threshold",
                                      "high-threshold", "profile-digital-on-load", "profile-film-on-load",
                                      "always-profile"}));
  EXPECT_EQ(names(describeModule("halvane")),
            (std::vector<std::string>{"overall-noise-level", "highlights-noise-level", "mix-bw-detail",
                                      "mix-color-detail", "sharpen-bw-detail", "sharpen-color-detail",
                                      "profile-digital-on-load", "profile-film-on-load", "always-profile",
                                      "cleaner-smooth-areas"}));
}

class ScriptDescriptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("veltrane-gimp-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  double valueOf(const host::Descriptor& d, std::uint32_t key) {
    const host::DescriptorValue* v = d.find(key);
    return v ? v->floating : -100.0;
  }

  fs::path dir;
  const host::PluginDescription halvane = describeModule("halvane");
  std::vector<double> noneGiven = std::vector<double>(namedArguments(halvane).size(), notGiven);
};

TEST_F(ScriptDescriptorTest, RecordedActionThenSettingsFileThenNamedValues) {
  const std::string action = (dir / "a.json").string();
  std::ofstream(action) << R"({"plugin": "halvane", "values": [{"key": "brgH", "type": "float", "value": 10.0},)"
                           R"({"key": "Gcoe", "type": "float", "value": 0.1}]})";
  formats::SettingsReals reals;
  reals.fill(1.0);
  reals[0] = 20.0;  // overallNoiseLevel
  const std::vector<std::uint8_t> stored = formats::encodeSettings(reals, {}, "Halvanetic ver1");
  const std::string settings = (dir / "s.hlv").string();
  std::ofstream(settings, std::ios::binary).write(reinterpret_cast<const char*>(stored.data()),
                                                  static_cast<std::streamsize>(stored.size()));

  std::ostringstream warnings;
  ScriptArguments a{"", action, noneGiven};
  EXPECT_EQ(valueOf(scriptDescriptor(halvane, a, warnings), fourcc("brgH")), 10.0);
  a.settingsFile = settings;
  const host::Descriptor fromFile = scriptDescriptor(halvane, a, warnings);
  EXPECT_EQ(valueOf(fromFile, fourcc("brgH")), 20.0);
  a.values[0] = 30.0;  // overall-noise-level
  const host::Descriptor named = scriptDescriptor(halvane, a, warnings);
  EXPECT_EQ(valueOf(named, fourcc("brgH")), 30.0);
  EXPECT_EQ(valueOf(named, fourcc("Gcoe")), valueOf(fromFile, fourcc("Gcoe")));
  EXPECT_EQ(warnings.str(), "");
}

TEST_F(ScriptDescriptorTest, RefusesBadSwitchesAndAnotherPluginsAction) {
  std::ostringstream warnings;
  ScriptArguments a{"", "", noneGiven};
  EXPECT_TRUE(scriptDescriptor(halvane, a, warnings).empty());
  a.values.back() = 2.0;  // a switch
  EXPECT_THROW(scriptDescriptor(halvane, a, warnings), cli::CommandError);
  const std::string action = (dir / "m.json").string();
  std::ofstream(action) << R"({"plugin": "mirelle", "values": []})";
  EXPECT_THROW(scriptDescriptor(halvane, ScriptArguments{"", action, noneGiven}, warnings), cli::CommandError);
}

TEST(GimpPixels, SixteenBitSamplesTheModuleLeftKeepTheirStoredValue) {
  DrawablePixels p;
  p.width = 2;
  p.height = 1;
  p.colours = 1;
  p.alpha = true;
  p.kind = SampleKind::u16;
  // grey, alpha per pixel; 1 does not survive the trip through 0..32768.
  const std::uint16_t stored[4] = {1, 65535, 40001, 7};
  p.data.resize(sizeof stored);
  std::memcpy(p.data.data(), stored, sizeof stored);

  host::SimImage image = toHostImage(p);
  ASSERT_EQ(image.depth, 16);
  ASSERT_EQ(image.pixels.size(), 4u);
  std::uint16_t hostValues[2];
  std::memcpy(hostValues, image.pixels.data(), 4);
  EXPECT_EQ(hostValues[0], 1);
  EXPECT_EQ(hostValues[1], 20001);  // 40001 * 32768 / 65535, rounded up
  hostValues[1] = 32768;            // the module changes the second pixel only
  std::memcpy(image.pixels.data(), hostValues, 4);

  fromHostImage(image, p);
  std::uint16_t result[4];
  std::memcpy(result, p.data.data(), sizeof result);
  EXPECT_EQ(result[0], 1);
  EXPECT_EQ(result[1], 65535);  // alpha
  EXPECT_EQ(result[2], 65535);
  EXPECT_EQ(result[3], 7);  // alpha
}

TEST(GimpPixels, EightBitColourReplacedAroundAlpha) {
  DrawablePixels p;
  p.width = 1;
  p.height = 2;
  p.alpha = true;
  p.data = {1, 2, 3, 200, 4, 5, 6, 100};
  host::SimImage image = toHostImage(p);
  EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
  image.pixels = {9, 8, 7, 6, 5, 4};
  fromHostImage(image, p);
  EXPECT_EQ(p.data, (std::vector<std::uint8_t>{9, 8, 7, 200, 6, 5, 4, 100}));
  image.width = 2;
  EXPECT_THROW(fromHostImage(image, p), std::invalid_argument);
}

TEST(GimpStderrCapture, HandsOutWholeLinesAsTheyArrive) {
  StderrCapture capture;
  std::fprintf(stderr, "Veltrane: first\nVeltrane: sec");
  ASSERT_EQ(::write(STDERR_FILENO, "ond\npartial", 11), 11);
  EXPECT_EQ(capture.takeLines(), (std::vector<std::string>{"Veltrane: first", "Veltrane: second"}));
  EXPECT_EQ(capture.takeLines(true), (std::vector<std::string>{"partial"}));
  EXPECT_TRUE(capture.takeLines(true).empty());
}

// The dialog needs a display and the toolkit library beside the modules;
// otherwise the reason names what is missing.
TEST(GimpDialog, ShownOnlyWithADisplayAndTheToolkitBesideTheModules) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display != nullptr ? display : "";
  const fs::path folder = fs::path(testing::TempDir()) / "veltrane-gimp-dialog";
  fs::remove_all(folder);
  fs::create_directories(folder);
  setenv("DISPLAY", ":7", 1);
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(dialogUnavailableReason(folder), (folder / "veltrane-gtk.so").string() + " is missing");
  std::ofstream(folder / "veltrane-gtk.so") << "library";
  EXPECT_EQ(dialogUnavailableReason(folder), std::nullopt);
  setenv("DISPLAY", "", 1);
  EXPECT_EQ(dialogUnavailableReason(folder), "DISPLAY and WAYLAND_DISPLAY are unset");
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  EXPECT_EQ(dialogUnavailableReason(folder), std::nullopt);
  unsetenv("WAYLAND_DISPLAY");
  display != nullptr ? setenv("DISPLAY", saved.c_str(), 1) : unsetenv("DISPLAY");
  fs::remove_all(folder);
}

}  // namespace
}  // namespace veltrane::gimp
