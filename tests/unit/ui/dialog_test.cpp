// The filter dialog driven through the headless toolkit as a user would.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "shell/call_context.h"
#include "shell/parameters.h"
#include "shell/view_state.h"
#include "support/message_capture.h"
#include "ui/dialog.h"
#include "ui/headless_widgets.h"

namespace veltrane::ui {
namespace {

int profileCalls = 0;

// Stands in for the profiler: writes levels that depend on the kind into the
// block and makes them the defaults, as the real one does.
void fakeProfile(double kind) {
  ++profileCalls;
  const double level = kind == 1.0 ? 25.0 : 33.0;
  callContext().parameters->reals[real::overallNoiseLevel] = level;
  callContext().parameters->reals[real::highlightsNoiseLevel] = kind;
  parameterDefaults().reals[real::overallNoiseLevel] = level;
  parameterDefaults().reals[real::highlightsNoiseLevel] = kind;
}

struct CountingPreview final : PreviewSink {
  int updates = 0;
  void updatePreview(bool /*recompute*/) override { ++updates; }
};

class Dialog : public ::testing::Test {
 protected:
  void start(const Deliverable& d, bool showAdvanced) {
    setActiveDeliverable(d);
    setDefaults(p);
    callContext().parameters = &p;
    viewState() = ViewState{};
    viewState().showAdvanced = showAdvanced ? 1 : 0;
    profileCalls = 0;
  }
  void SetUp() override { start(halvaneDeliverable(), true); }
  void TearDown() override { callContext().parameters = nullptr; }

  int run(HeadlessToolkit::Script script, HeadlessDialog::Options options = {}) {
    HeadlessToolkit toolkit(std::move(script), options);
    return runFilterDialog(toolkit, DialogSetup{&activeDeliverable(), &fakeProfile, &preview});
  }

  FilterParameters p{};
  CountingPreview preview;
  testsupport::MessageCapture messages;
};

TEST_F(Dialog, SlidersAndEditBoxesWriteTheBlock) {
  p.reals[real::highlightsNoiseLevel] = 0.15;
  run([&](HeadlessDialog& d) {
    EXPECT_EQ(d.title(), "Halvane v2.3.0");
    EXPECT_EQ(d.focus(), 1);
    EXPECT_EQ(d.text(32), "0.15");
    EXPECT_EQ(d.sliderPosition(31), 15);
    const int updatesAtOpen = preview.updates;

    d.dragSlider(21, 57);
    EXPECT_EQ(d.text(22), "57.0");
    EXPECT_EQ(p.reals[real::overallNoiseLevel], 57.0);
    d.type(22, "57.25");
    EXPECT_EQ(d.text(22), "57.25");
    EXPECT_EQ(p.reals[real::overallNoiseLevel], 57.25);
    EXPECT_EQ(d.sliderPosition(21), 57);
    EXPECT_EQ(preview.updates, updatesAtOpen + 2);

    // Out of range: stored as typed, the slider pinned.
    d.type(42, "2");
    EXPECT_EQ(p.reals[real::veryFineNoiseLevel], 2.0);
    EXPECT_EQ(d.sliderPosition(41), 100);
    EXPECT_EQ(d.text(42), "2");

    d.type(32, "abc");
    EXPECT_DOUBLE_EQ(p.reals[real::highlightsNoiseLevel], 0.2);
    d.click(505);  // film profile: new defaults
    d.type(32, "x");
    EXPECT_EQ(p.reals[real::highlightsNoiseLevel], 1.0);

    // A label double click restores the default without a preview update.
    d.type(162, "2.5");
    const int updates = preview.updates;
    d.doubleClick(160);
    EXPECT_EQ(p.reals[real::fineSharpening], 1.0);
    EXPECT_EQ(d.sliderPosition(161), 100);
    EXPECT_EQ(d.text(162), "1.0");
    EXPECT_EQ(preview.updates, updates);
    d.click(1);
  });
}

TEST_F(Dialog, ProfileOnLoadBoxesExcludeEachOtherAndSurviveLoading) {
  const auto file = std::filesystem::temp_directory_path() / "veltrane_dialog_test.hlv";
  platform::setFileChooserHandler([&](bool, const platform::FileChooserSpec&) { return file.string(); });
  run([&](HeadlessDialog& d) {
    ASSERT_TRUE(d.isChecked(502));
    d.type(22, "12");
    d.click(903);

    d.toggle(504);
    EXPECT_TRUE(d.isChecked(504));
    EXPECT_FALSE(d.isChecked(502));
    EXPECT_EQ(p.flags[flag::profileDigitalOnLoad], 0);
    EXPECT_EQ(p.flags[flag::profileFilmOnLoad], 1);

    d.type(22, "80");
    d.click(904);
    EXPECT_EQ(p.reals[real::overallNoiseLevel], 12.0);
    EXPECT_EQ(d.text(22), "12.0");
    EXPECT_TRUE(d.isChecked(504));
    EXPECT_FALSE(d.isChecked(502));
    EXPECT_EQ(p.flags[flag::profileFilmOnLoad], 1);

    d.toggle(504);
    EXPECT_FALSE(d.isChecked(504) || d.isChecked(502));
    EXPECT_EQ(p.flags[flag::profileDigitalOnLoad] + p.flags[flag::profileFilmOnLoad], 0);
    d.click(2);
  });
  platform::setFileChooserHandler({});
  std::filesystem::remove(file);
  // No host call built the colour tables: the dialog says so once and
  // works anyway; saving and loading add nothing.
  ASSERT_EQ(messages.count(), 1u);
  EXPECT_EQ(messages.messages()[0].caption, "Veltrane");
  EXPECT_EQ(messages.messages()[0].text, colorBuffersMissingMessage);
}

TEST_F(Dialog, ResetButtonsRestoreDefaultsAndTheProfiledLevel) {
  run([&](HeadlessDialog& d) {
    d.click(503);
    EXPECT_EQ(profileCalls, 1);
    EXPECT_EQ(d.text(22), "33.0");
    d.type(22, "80");
    d.type(82, "0.9");
    d.toggle(24);
    d.toggle(44);
    EXPECT_EQ(d.text(190), "Shadow protect threshold");
    d.toggle(901);

    d.click(501);
    EXPECT_EQ(p.reals[real::mixBWDetail], 0.3);
    EXPECT_EQ(p.reals[real::overallNoiseLevel], 80.0);
    EXPECT_EQ(p.flags[flag::despeckle], 0);

    d.toggle(901);
    d.click(12);
    EXPECT_EQ(profileCalls, 2);  // profile digital on load is set
    EXPECT_EQ(p.reals[real::overallNoiseLevel], 33.0);
    EXPECT_EQ(d.text(22), "33.0");
    EXPECT_EQ(p.flags[flag::despeckle], 1);
    EXPECT_EQ(p.flags[flag::protectShadows], 0);
    EXPECT_TRUE(d.isChecked(24));
    EXPECT_FALSE(d.isChecked(44));
    EXPECT_FALSE(d.isChecked(901));
    d.click(1);
  });
}

TEST_F(Dialog, AdvancedControlsHideWithoutLosingTheirValues) {
  start(halvaneDeliverable(), false);
  p.reals[real::highlightsNoiseLevel] = 0.5;
  EXPECT_EQ(run([&](HeadlessDialog& d) {
              EXPECT_FALSE(d.isChecked(931));
              EXPECT_FALSE(d.isVisible(31) || d.isVisible(32) || d.isVisible(30) || d.isVisible(44));
              EXPECT_TRUE(d.isVisible(932) && d.isVisible(937));
              EXPECT_TRUE(d.isVisible(21));
              d.toggle(931);
              EXPECT_EQ(viewState().showAdvanced, 1);
              EXPECT_TRUE(d.isVisible(31) && d.isVisible(44));
              EXPECT_FALSE(d.isVisible(932));
              d.toggle(931);
              EXPECT_EQ(viewState().showAdvanced, 0);
              EXPECT_FALSE(d.isVisible(31));
              d.click(1);
            }),
            1);
  EXPECT_EQ(p.reals[real::highlightsNoiseLevel], 0.5);
}

TEST_F(Dialog, ClosingAndPlacingTheWindow) {
  EXPECT_EQ(run([](HeadlessDialog& d) { d.click(2); }), 2);
  EXPECT_EQ(run([](HeadlessDialog&) {}), 2);  // left open

  HeadlessDialog::Options small;
  small.workArea = platform::Rect{0, 0, 1280, 700};
  EXPECT_EQ(run(
                [](HeadlessDialog& d) {
                  EXPECT_EQ(d.windowBounds(), (platform::Rect{0, 0, 1280, 700}));
                  d.click(1);
                },
                small),
            1);
  EXPECT_EQ(viewState().dialogHeight, 700);

  viewState().dialogWidth = viewState().dialogHeight = 10;
  run([](HeadlessDialog& d) {
    const platform::Rect w = d.windowBounds();
    EXPECT_EQ(d.minimumWindowSize(), (platform::Size{w.width, w.height}));
    EXPECT_EQ(w.left, (1920 - w.width) / 2);
    d.click(1);
  });
}

TEST_F(Dialog, MatteFilterControls) {
  start(mirelleDeliverable(), true);
  run([&](HeadlessDialog& d) {
    EXPECT_EQ(d.title(), "Mirelle Matte Finder v1.0.0");
    for (int id : {501, 907, 44, 507, 932, 51}) EXPECT_FALSE(d.exists(id)) << id;
    EXPECT_EQ(d.text(140), "Low Threshold");
    d.dragSlider(141, 40);
    EXPECT_EQ(p.reals[real::lowThreshold], 4.0);
    d.dragSlider(211, 0);
    EXPECT_EQ(d.sliderPosition(211), 1);
    EXPECT_EQ(p.reals[real::highThreshold], 0.1);
    d.toggle(34);
    EXPECT_EQ(p.flags[flag::invertMatte], 1);
    d.click(12);
    EXPECT_EQ(p.flags[flag::invertMatte], 0);
    EXPECT_EQ(p.reals[real::highThreshold], 10.0);
    d.click(1);
  });
}

}  // namespace
}  // namespace veltrane::ui
