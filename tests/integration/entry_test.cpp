// The entry point's selectors, start sequence, registry and scripting
// descriptor, driven in-process through a test module definition.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>
#include <functional>

#include "denoise/halvane_engine.h"
#include "host/sim/sim_host.h"
#include "hostapi/constants.h"
#include "hostapi/fourcc.h"
#include "image/region.h"
#include "platform/platform.h"
#include "plugins/filter_dialog.h"
#include "shell/call_context.h"
#include "shell/parameters.h"
#include "shell/plugin_main.h"
#include "support/message_capture.h"
#include "ui/headless_widgets.h"

namespace veltrane {
namespace {

using host::Descriptor;
using host::DescriptorValue;
using host::PlaySetting;
using host::Registry;
using host::SimHost;
using host::SimImage;
using host::SimOptions;
using hostapi::fourcc;

int profileCalls = 0;
double lastProfileKind = 0.0;

void countProfile(double kind) {
  ++profileCalls;
  lastProfileKind = kind;
}

const PluginDefinition testPlugin{&halvaneDeliverable(), &halvaneEngine(), &countProfile, nullptr,
                                  &runPluginDialog, true, true};

void TestPluginMain(std::int16_t selector, void* record, std::intptr_t* data, std::int16_t* result) {
  pluginMain(testPlugin, selector, record, data, result);
}

SimImage noisyImage(std::int32_t w, std::int32_t h) {
  SimImage img;
  img.width = w;
  img.height = h;
  img.imageMode = 3;
  img.planes = 3;
  img.depth = 8;
  img.pixels.resize(static_cast<std::size_t>(img.rowBytes() * h));
  std::uint32_t s = 99;
  for (auto& b : img.pixels) {
    s = s * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(100 + (s >> 27));
  }
  return img;
}

FilterParameters blockOf(const SimHost& host) {
  FilterParameters p{};
  const auto bytes = host.parameterBlock();
  EXPECT_EQ(bytes.size(), sizeof(FilterParameters));
  if (bytes.size() == sizeof(FilterParameters)) std::memcpy(&p, bytes.data(), sizeof p);
  return p;
}

class Entry : public ::testing::Test {
 protected:
  void SetUp() override {
    resetBlockScales();
    profileCalls = 0;
    dialogCalls = 0;
    platform::setDialogHandler([this] {
      ++dialogCalls;
      return onDialog ? onDialog() : 1;
    });
  }
  void TearDown() override { platform::setDialogHandler({}); }

  int dialogCalls = 0;
  std::function<int()> onDialog;
  testsupport::MessageCapture messages;
  Registry registry;
};

TEST_F(Entry, FirstRunFiltersWithTheDefaultsAndRemembersThem) {
  SimImage img = noisyImage(48, 40);
  const auto before = img.pixels;
  SimHost host(img, {}, &registry);
  EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
  EXPECT_NE(img.pixels, before);
  const auto& sel = host.statistics().selectors;
  ASSERT_GE(sel.size(), 5u);
  EXPECT_EQ(sel[0], 1);
  EXPECT_EQ(sel[1], 2);
  EXPECT_EQ(sel[2], 3);
  EXPECT_EQ(sel.back(), 5);
  // No descriptor and a fresh parameter handle: the dialog is wanted.
  EXPECT_EQ(dialogCalls, 1);
  EXPECT_EQ(host.statistics().liveBuffers, 0);
  EXPECT_EQ(host.statistics().suitesAcquired, host.statistics().suitesReleased);
  EXPECT_EQ(host.statistics().liveDescriptors, 0);

  const auto entry = registry.entries.find(halvaneDeliverable().registryId);
  ASSERT_NE(entry, registry.entries.end());
  ASSERT_NE(entry->second.find(fourcc("brgH")), nullptr);
  EXPECT_EQ(entry->second.find(fourcc("brgH"))->floating, 40.0);
  ASSERT_NE(entry->second.find(fourcc("Zm00")), nullptr);
  // The descriptor left for recording holds the values too.
  const auto recorded = host.scriptDescriptor();
  ASSERT_TRUE(recorded.has_value());
  ASSERT_NE(recorded->find(fourcc("Blai")), nullptr);
  EXPECT_TRUE(recorded->find(fourcc("Blai"))->boolean);
  EXPECT_EQ(recorded->find(fourcc("Zmpw")), nullptr);  // not recorded in actions
}

TEST_F(Entry, RegistryAndScriptingDescriptorFeedTheRun) {
  Descriptor stored;
  stored.put(fourcc("brgH"), DescriptorValue::ofFloat(12.5));
  stored.put(fourcc("Dbam"), DescriptorValue::ofFloat(0.7));
  registry.entries[halvaneDeliverable().registryId] = stored;

  SimImage img = noisyImage(40, 40);
  SimHost host(img, {}, &registry);
  Descriptor script;
  script.put(fourcc("Dbam"), DescriptorValue::ofFloat(0.9));
  host.setScriptDescriptor(script, PlaySetting::silent);
  EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
  EXPECT_EQ(dialogCalls, 0);
  const FilterParameters p = blockOf(host);
  EXPECT_EQ(p.reals[real::overallNoiseLevel], 12.5);  // from the registry
  EXPECT_EQ(p.reals[real::sharpenBWDetail], 0.9);     // the action wins
  // Slots the registry entry lacked keep their values: the read stopped at
  // the first missing key, after slot 0.
  EXPECT_EQ(p.reals[real::highlightsNoiseLevel], 0.2);

  // Replaying with the dialog asked for shows it.
  host.setScriptDescriptor(script, PlaySetting::display);
  EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
  EXPECT_EQ(dialogCalls, 1);
}

TEST_F(Entry, CancelRestoresTheParametersButKeepsTheProfilingBoxes) {
  SimImage img = noisyImage(40, 40);
  const auto before = img.pixels;
  SimHost host(img, {}, &registry);
  onDialog = [] {
    FilterParameters& p = *callContext().parameters;
    p.reals[real::overallNoiseLevel] = 99.0;
    p.flags[flag::profileDigitalOnLoad] = 0;
    p.flags[flag::profileFilmOnLoad] = 1;
    return 2;
  };
  EXPECT_EQ(host.runFilter(&TestPluginMain, true), -128);
  EXPECT_EQ(img.pixels, before);
  const FilterParameters p = blockOf(host);
  EXPECT_EQ(p.reals[real::overallNoiseLevel], 40.0);
  EXPECT_EQ(p.flags[flag::profileFilmOnLoad], 1);
  EXPECT_EQ(p.flags[flag::profileDigitalOnLoad], 0);
  // The registry holds the restored values; finish was not called.
  EXPECT_EQ(registry.entries[halvaneDeliverable().registryId].find(fourcc("brgH"))->floating, 40.0);
  EXPECT_EQ(host.statistics().selectors.back(), 3);
}

TEST_F(Entry, TooSmallImagesAreLeftAloneWithAMessage) {
  for (auto [w, h] : {std::pair{24, 100}, std::pair{100, 24}}) {
    messages.clear();
    SimImage img = noisyImage(w, h);
    const auto before = img.pixels;
    SimHost host(img, {}, &registry);
    EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
    EXPECT_EQ(img.pixels, before);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Halvane error: Image is too small.");
  }
  SimImage img = noisyImage(25, 25);
  const auto before = img.pixels;
  SimHost host(img, {}, &registry);
  EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
  EXPECT_NE(img.pixels, before);
}

TEST_F(Entry, ProfilingFlagsRuleAndAlwaysProfile) {
  SimImage img = noisyImage(40, 40);
  SimHost host(img, {}, &registry);
  Descriptor script;
  script.put(fourcc("Blad"), DescriptorValue::ofBoolean(true));
  script.put(fourcc("Blae"), DescriptorValue::ofBoolean(true));
  script.put(fourcc("Blah"), DescriptorValue::ofBoolean(true));
  host.setScriptDescriptor(script, PlaySetting::silent);
  EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].text, bothProfilingFlagsMessage);
  // Always profile, silently: digital, once.
  EXPECT_EQ(profileCalls, 1);
  EXPECT_EQ(lastProfileKind, 0.2);
  const FilterParameters p = blockOf(host);
  EXPECT_EQ(p.flags[flag::profileFilmOnLoad], 0);
  EXPECT_EQ(p.flags[flag::profileDigitalOnLoad], 1);
}

TEST_F(Entry, HostsWithoutTheOptionalSuitesStillFilter) {
  SimImage img = noisyImage(40, 40);
  const auto before = img.pixels;
  SimOptions o;
  o.basicSuite = false;
  o.bigDocument = false;
  SimHost host(img, o, &registry);
  EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
  EXPECT_NE(img.pixels, before);
  EXPECT_TRUE(registry.entries.empty());
}

TEST_F(Entry, PrepareLowersTheBlockScaleWhenMemoryIsShort) {
  SimImage img = noisyImage(40, 40);
  SimOptions o;
  o.maxSpace = 1000;
  SimHost host(img, o, &registry);
  EXPECT_EQ(host.call(&TestPluginMain, 1), 0);
  EXPECT_EQ(host.call(&TestPluginMain, 2), 0);
  EXPECT_EQ(blockScaleH(), 1);
  EXPECT_EQ(blockScaleV(), 1);

  // With room to spare the allowance is lowered to the estimate.
  SimImage big = noisyImage(40, 40);
  SimHost roomy(big, {}, &registry);
  resetBlockScales();
  EXPECT_EQ(roomy.call(&TestPluginMain, 1), 0);
  EXPECT_EQ(roomy.call(&TestPluginMain, 2), 0);
  EXPECT_EQ(roomy.record().maxSpace, engineMemoryEstimate(40, 40, 3));
  EXPECT_EQ(blockScaleH(), 4);
  EXPECT_EQ(roomy.record().bufferSpace, 0);
}

TEST_F(Entry, HandleAllocationFailureIsOutOfMemory) {
  for (int k : {1, 2}) {
    SimImage img = noisyImage(40, 40);
    SimOptions o;
    o.failHandleAllocationAt = k;
    SimHost host(img, o, &registry);
    EXPECT_EQ(host.runFilter(&TestPluginMain, false), -108) << k;
  }
}

TEST_F(Entry, ARegisteredToolkitRunsTheDialogOverTheParameterBlock) {
  ui::HeadlessToolkit toolkit([](ui::HeadlessDialog& d) {
    d.type(22, "23.5");
    d.click(1);
  });
  platform::setWidgetToolkit(&toolkit);
  SimImage img = noisyImage(48, 40);
  SimHost host(img, {}, &registry);
  EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
  platform::setWidgetToolkit(nullptr);
  EXPECT_EQ(dialogCalls, 0);
  EXPECT_EQ(blockOf(host).reals[real::overallNoiseLevel], 23.5);
}

// Mean of all samples: an image gone black or white shows in it.
double meanOf(const SimImage& img) {
  double sum = 0;
  for (const std::uint8_t b : img.pixels) sum += b;
  return sum / static_cast<double>(img.pixels.size());
}

TEST_F(Entry, AHostLackingAServiceIsWorkedAroundOrToldOf) {
  // Without a usable buffer suite the buffers come from the heap.
  for (const bool none : {true, false}) {
    SimImage img = noisyImage(40, 40);
    const auto before = img.pixels;
    SimHost host(img, {}, &registry);
    if (none) {
      host.record().bufferProcs = nullptr;
    } else {
      host.record().bufferProcs->bufferProcsVersion = 3;  // a version this plug-in does not know
    }
    host.record().progressProc = nullptr;
    host.record().abortProc = nullptr;
    host.record().platformData = nullptr;
    EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
    EXPECT_NE(img.pixels, before);
    EXPECT_EQ(host.statistics().bufferAllocations, 0);
  }
  // Without a usable handle suite, or without advance-state, nothing can be
  // done: a message and -30900, once, and the image as it was.
  for (const int lack : {0, 1, 2}) {
    messages.clear();
    SimImage img = noisyImage(40, 40);
    const auto before = img.pixels;
    SimHost host(img, {}, &registry);
    if (lack == 0) host.record().handleProcs = nullptr;
    if (lack == 1) host.record().handleProcs->numHandleProcs = 4;
    if (lack == 2) host.record().advanceState = nullptr;
    EXPECT_EQ(host.runFilter(&TestPluginMain, false), hostapi::errPlugInHostInsufficient) << lack;
    EXPECT_EQ(img.pixels, before);
    ASSERT_EQ(messages.count(), 1u) << lack;
    EXPECT_EQ(messages.messages()[0].text,
              lack == 2 ? std::string(advanceStateErrorMessage) + "-30900" : std::string(noHandleSuiteMessage));
  }
}

TEST_F(Entry, ValuesFromRegistryAndScriptingAreKeptInRange) {
  const double inf = std::numeric_limits<double>::infinity();
  Descriptor stored;
  stored.put(fourcc("brgH"), DescriptorValue::ofFloat(inf));
  stored.put(fourcc("conT"), DescriptorValue::ofFloat(-3.0));
  registry.entries[halvaneDeliverable().registryId] = stored;

  SimImage img = noisyImage(40, 40);
  const double meanBefore = meanOf(img);
  SimHost host(img, {}, &registry);
  Descriptor script;
  script.put(fourcc("Gcoe"), DescriptorValue::ofFloat(-1e308));  // mixBWDetail
  script.put(fourcc("Dbam"), DescriptorValue::ofFloat(std::nan("")));  // sharpenBWDetail
  script.put(fourcc("Dbau"), DescriptorValue::ofFloat(-inf));      // edgeSmoothing, no control
  script.put(fourcc("Dbar"), DescriptorValue::ofFloat(1e6));       // protectThreshold
  host.setScriptDescriptor(script, PlaySetting::silent);
  EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
  EXPECT_NEAR(meanOf(img), meanBefore, 2.0);  // filtered, not blackened

  const FilterParameters p = blockOf(host);
  EXPECT_EQ(p.reals[real::overallNoiseLevel], 40.0);
  EXPECT_NEAR(p.reals[real::highlightsNoiseLevel], 0.01, 1e-6);  // clamped to 0, then raised by the engine
  EXPECT_EQ(p.reals[real::mixBWDetail], 0.0);
  EXPECT_EQ(p.reals[real::sharpenBWDetail], 0.2);
  EXPECT_EQ(p.reals[real::edgeSmoothing], 1.0);
  EXPECT_EQ(p.reals[real::protectThreshold], 255.0);
  std::vector<std::string> shown;
  for (const auto& m : messages.messages()) shown.push_back(m.text);
  const std::string replaced = notFiniteMessage;
  EXPECT_EQ(shown, (std::vector<std::string>{replaced + "overallNoiseLevel", replaced + "sharpenBWDetail",
                                             replaced + "edgeSmoothing"}));
  // Nothing that is not a finite number is remembered.
  for (const auto& [key, value] : registry.entries[halvaneDeliverable().registryId].entries())
    EXPECT_TRUE(value.type != DescriptorValue::Type::floating || std::isfinite(value.floating)) << key;
}

TEST_F(Entry, TheDialogShowsATypedValueClampedIntoItsRange) {
  std::string shownText;
  ui::HeadlessToolkit toolkit([&shownText](ui::HeadlessDialog& d) {
    d.type(82, "7.5");  // mixBWDetail: 0..1
    shownText = d.text(82);
    d.type(22, "450");  // overallNoiseLevel: a level above the slider is kept
    d.click(1);
  });
  platform::setWidgetToolkit(&toolkit);
  SimImage img = noisyImage(48, 40);
  SimHost host(img, {}, &registry);
  EXPECT_EQ(host.runFilter(&TestPluginMain, false), 0);
  platform::setWidgetToolkit(nullptr);
  EXPECT_EQ(shownText, "1.0");
  EXPECT_EQ(blockOf(host).reals[real::mixBWDetail], 1.0);
  EXPECT_EQ(blockOf(host).reals[real::overallNoiseLevel], 450.0);
}

TEST(EngineMemory, EstimateFollowsTheFourLevels) {
  // 100 x 50: levels 100x50, 50x25, 25x13, 13x7, each with a 3-pixel margin.
  const std::int64_t sum = 106 * 56 + 56 * 31 + 31 * 19 + 19 * 13;
  EXPECT_EQ(engineMemoryEstimate(100, 50, 3), 12 * sum + 32780);
  EXPECT_EQ(engineMemoryEstimate(100, 50, 1), 12 * sum + 32780);
  EXPECT_EQ(engineMemoryEstimate(100, 50, 4), 16 * sum + 32780);
}

}  // namespace
}  // namespace veltrane
