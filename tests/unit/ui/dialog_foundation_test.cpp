#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/parameter_tables.h"
#include "ui/dialog_template.h"
#include "ui/headless_widgets.h"
#include "ui/number_text.h"

namespace veltrane::ui {
namespace {

using platform::MouseButton;

// --- number text ---

TEST(NumberText, FormatsWithUpToFiveRoundedDecimals) {
  EXPECT_EQ(FormatNumber(40.0), "40.0");
  EXPECT_EQ(FormatNumber(0.2), "0.2");
  EXPECT_EQ(FormatNumber(0.15), "0.15");
  EXPECT_EQ(FormatNumber(1.0 / 3.0), "0.33333");
  EXPECT_EQ(FormatNumber(2.0 / 3.0), "0.66667");
  EXPECT_EQ(FormatNumber(2.999996), "3.0");
  EXPECT_EQ(FormatNumber(0.0), "0.0");
  EXPECT_EQ(FormatNumber(-0.0), "0.0");
  EXPECT_EQ(FormatNumber(-1.25), "-1.25");
  EXPECT_EQ(FormatNumber(255.0), "255.0");
  EXPECT_EQ(FormatNumber(0.00001), "0.00001");
  EXPECT_EQ(FormatNumber(0.000004), "0.0");
  // Values just below a short decimal are not shown truncated.
  EXPECT_EQ(FormatNumber(138 / 100.0), "1.38");
  EXPECT_EQ(FormatNumber(2.9999999999999996), "3.0");
  EXPECT_EQ(FormatNumber(-0.999996), "-1.0");
}

TEST(NumberText, FormatIsDefinedForNonFiniteAndHugeValues) {
  EXPECT_EQ(FormatNumber(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(FormatNumber(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(FormatNumber(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(FormatNumber(9007199254740992.0), "9007199254740992.0");
  EXPECT_EQ(FormatNumber(-1e20), "-100000000000000000000.0");
  const std::string largest = FormatNumber(std::numeric_limits<double>::max());
  EXPECT_EQ(largest.size(), 311u);
  EXPECT_EQ(largest.substr(0, 6), "179769");
  EXPECT_EQ(FormatNumber(2147483647.5), "2147483647.5");
}

TEST(NumberText, ParsesLenientlyAndFallsBackToTheDefault) {
  EXPECT_DOUBLE_EQ(ParseNumber("1,5", 9.0), 1.5);
  EXPECT_DOUBLE_EQ(ParseNumber(".5", 9.0), 0.5);
  EXPECT_DOUBLE_EQ(ParseNumber("5.", 9.0), 5.0);
  EXPECT_DOUBLE_EQ(ParseNumber("5-", 9.0), -5.0);
  EXPECT_DOUBLE_EQ(ParseNumber("--5", 9.0), 5.0);
  EXPECT_DOUBLE_EQ(ParseNumber("-2.05", 9.0), -2.05);
  EXPECT_DOUBLE_EQ(ParseNumber("1.2.3", 9.0), 0.3);
  EXPECT_DOUBLE_EQ(ParseNumber("57.25", 9.0), 57.25);
  EXPECT_DOUBLE_EQ(ParseNumber("  12  ", 9.0), 12.0);
  EXPECT_DOUBLE_EQ(ParseNumber("1.5x", 9.0), 1.0);  // the fraction alone is invalid
  EXPECT_DOUBLE_EQ(ParseNumber("12345678901", 9.0), 2147483647.0);
  EXPECT_DOUBLE_EQ(ParseNumber("-12345678901.5", 9.0), -2147483647.5);
  EXPECT_DOUBLE_EQ(ParseNumber("0.1234567891", 9.0), 0.123456789);
  for (const char* text : {"", "   ", "abc", "1 2", "1\t", "-", "-abc", ".", "+1"}) {
    EXPECT_DOUBLE_EQ(ParseNumber(text, 0.2), 0.2) << '"' << text << '"';
  }
}

// Every position a slider can take survives the trip through the edit text.
TEST(NumberText, SliderValuesSurviveFormatAndParse) {
  for (const double scale : {1.0, 10.0, 50.0, 100.0}) {
    for (int position = 0; position <= 300; ++position) {
      const double value = position / scale;
      const double read = ParseNumber(FormatNumber(value), -1.0);
      EXPECT_DOUBLE_EQ(read, value);
      EXPECT_EQ(static_cast<int>(read * scale + 0.5), position) << FormatNumber(value);
    }
  }
}

// --- the template ---

const std::vector<const Deliverable*> deliverables() { return {&halvaneDeliverable(), &mirelleDeliverable()}; }

const ControlSpec* findControl(const DialogTemplate& t, std::int32_t id) {
  for (const ControlSpec& c : t.controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

bool isInstruction(std::int32_t id) { return id >= control::firstInstruction && id <= control::lastInstruction; }

std::set<std::int32_t> advancedIds(const Deliverable& d) {
  std::set<std::int32_t> ids;
  for (const RealControl& r : d.controls.reals.values) {
    if (r.advanced && r.hasControl()) ids.insert({r.sliderId, r.editId, labelIdOf(r)});
  }
  for (const FlagControl& f : d.controls.flags.values) {
    if (f.advanced && f.checkBoxId != 0) ids.insert(f.checkBoxId);
  }
  return ids;
}

TEST(DialogTemplate, HoldsEveryControlOnceWithItsKind) {
  using K = ControlKind;
  for (const Deliverable* d : deliverables()) {
    SCOPED_TRACE(d->name);
    const DialogTemplate& t = dialogTemplate(*d);
    EXPECT_STREQ(t.caption, "Veltrane");
    EXPECT_EQ(t.width, 564);
    EXPECT_EQ(t.height, 498);
    EXPECT_EQ(&t, &dialogTemplate(*d));

    std::set<std::int32_t> ids;
    for (const ControlSpec& c : t.controls) {
      EXPECT_TRUE(ids.insert(c.id).second) << "id " << c.id << " twice";
      ASSERT_NE(c.text, nullptr);
    }
    const std::pair<std::int32_t, K> common[] = {
        {1, K::defaultPushButton}, {2, K::pushButton}, {12, K::pushButton}, {903, K::pushButton},
        {904, K::pushButton}, {503, K::pushButton}, {505, K::pushButton}, {502, K::checkBox},
        {504, K::checkBox}, {506, K::checkBox}, {931, K::checkBox}, {34, K::checkBox},
        {901, K::checkBox}, {914, K::pushButton}, {915, K::pushButton}, {917, K::pushButton},
        {913, K::frame}, {900, K::frame}};
    for (const auto& [id, kind] : common) {
      const ControlSpec* c = findControl(t, id);
      ASSERT_NE(c, nullptr) << "id " << id;
      EXPECT_EQ(c->kind, kind) << "id " << id;
    }
    // The slot rows and check boxes follow the control table.
    for (const RealControl& r : d->controls.reals.values) {
      const bool shown = r.hasControl() && r.label != nullptr;
      const ControlSpec* label = findControl(t, labelIdOf(r));
      const ControlSpec* slider = findControl(t, r.sliderId);
      const ControlSpec* edit = findControl(t, r.editId);
      if (!shown) {
        EXPECT_TRUE(r.sliderId == 0 || (label == nullptr && slider == nullptr && edit == nullptr)) << r.sliderId;
        continue;
      }
      ASSERT_TRUE(label && slider && edit) << "slot of slider " << r.sliderId;
      EXPECT_EQ(label->kind, K::staticText);
      EXPECT_STREQ(label->text, r.label);
      EXPECT_EQ(slider->kind, K::slider);
      EXPECT_EQ(edit->kind, K::editBox);
      EXPECT_NEAR(2 * label->y + label->height, 2 * slider->y + slider->height, 2)
          << "label and slider of " << r.sliderId << " on one row";
      EXPECT_EQ(slider->y, edit->y) << r.sliderId;
    }
    for (const FlagControl& f : d->controls.flags.values) {
      if (f.checkBoxId == 0 || f.text == nullptr) continue;
      const ControlSpec* box = findControl(t, f.checkBoxId);
      ASSERT_NE(box, nullptr) << f.checkBoxId;
      EXPECT_STREQ(box->text, f.text);
    }
  }
}

TEST(DialogTemplate, DeliverablesDifferOnlyWhereTheyShould) {
  const DialogTemplate& hal = dialogTemplate(halvaneDeliverable());
  const DialogTemplate& mir = dialogTemplate(mirelleDeliverable());
  EXPECT_EQ(hal.controls.size(), 4u * 3 + 16 * 3 + 9 + 9 + 3 + 2 + 6);  // 20 slot rows
  EXPECT_EQ(mir.controls.size(), 4u * 3 + 7 + 6 + 3 + 2 + 6);            // 4 slot rows
  for (const std::int32_t id : {501, 907, 24, 507, 44, 932, 933, 934, 935, 936, 937}) {
    EXPECT_NE(findControl(hal, id), nullptr) << id;
    EXPECT_EQ(findControl(mir, id), nullptr) << id;
  }
  for (const std::int32_t id : {20, 21, 22, 30, 31, 32, 140, 141, 142, 210, 211, 212}) {
    EXPECT_NE(findControl(mir, id), nullptr) << id;
  }
  EXPECT_EQ(findControl(hal, 221), nullptr);  // edgeSmoothing has no control
  EXPECT_STREQ(findControl(mir, 34)->text, "&Invert");
  for (std::int32_t id = 3001; id <= 3005; ++id) {
    ASSERT_NE(findControl(mir, id), nullptr) << id;
    EXPECT_FALSE(findControl(mir, id)->initiallyHidden);
  }
  const ControlSpec* empty = findControl(mir, 306);
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->initiallyHidden);
  EXPECT_STREQ(empty->text, "");
  EXPECT_NE(std::strstr(findControl(hal, 935)->text, "\"Mix in original B&&W detail\""), nullptr);
}

// Catches layout typos: every control inside the dialog, controls on the left
// half and panes on the right, and no two controls on the same spot except
// the noise reducer's instructions, which share the band of the advanced
// controls and are never shown with them.
TEST(DialogTemplate, ControlsFitTheDialogWithoutOverlapping) {
  for (const Deliverable* d : deliverables()) {
    SCOPED_TRACE(d->name);
    const DialogTemplate& t = dialogTemplate(*d);
    const std::set<std::int32_t> advanced = advancedIds(*d);
    bool instructionsShareTheBand = false;
    for (std::size_t i = 0; i < t.controls.size(); ++i) {
      const ControlSpec& a = t.controls[i];
      EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.width > 0 && a.height > 0) << a.id;
      EXPECT_LE(a.x + a.width, t.width) << a.id;
      EXPECT_LE(a.y + a.height, t.height) << a.id;
      if (a.kind == ControlKind::frame) {
        EXPECT_GE(a.x, t.width / 2) << a.id;
      }
      if (a.kind == ControlKind::slider || a.kind == ControlKind::editBox) {
        EXPECT_LE(a.x + a.width, t.width / 2) << a.id;
      }
      for (std::size_t j = i + 1; j < t.controls.size(); ++j) {
        const ControlSpec& b = t.controls[j];
        const bool overlap = a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
        if (!overlap) continue;
        const bool allowed = (isInstruction(a.id) && advanced.contains(b.id)) ||
                             (isInstruction(b.id) && advanced.contains(a.id));
        instructionsShareTheBand = instructionsShareTheBand || allowed;
        EXPECT_TRUE(allowed) << a.id << " overlaps " << b.id;
      }
    }
    EXPECT_EQ(instructionsShareTheBand, d == &halvaneDeliverable());
  }
}

// --- the headless widget set ---

struct Recorder : platform::DialogEvents {
  std::vector<std::string> log;
  platform::DialogWindow* window = nullptr;
  void onOpen(platform::DialogWindow& w) override {
    window = &w;
    log.push_back("open");
  }
  void onSliderMoved(std::int32_t id, std::int32_t position) override {
    log.push_back("slider " + std::to_string(id) + " " + std::to_string(position));
  }
  void onEditChanged(std::int32_t id) override { log.push_back("edit " + std::to_string(id)); }
  void onButtonClicked(std::int32_t id) override { log.push_back("click " + std::to_string(id)); }
  void onCheckBoxToggled(std::int32_t id) override { log.push_back("toggle " + std::to_string(id)); }
  void onLabelDoubleClicked(std::int32_t id) override { log.push_back("label " + std::to_string(id)); }
  void onMouseDown(const platform::MouseEvent& e) override { log.push_back("down " + std::to_string(e.pane)); }
  void onMouseWheel(const platform::MouseEvent& e, std::int32_t delta) override {
    log.push_back("wheel " + std::to_string(e.pane) + " " + std::to_string(delta));
  }
  void onSizeChanged() override { log.push_back("size"); }
  void onPaint(std::int32_t pane, platform::Canvas& canvas) override {
    const std::uint8_t grey[4] = {1, 2, 3, 4};
    canvas.drawImage(5, 6, platform::PixelView{grey, 2, 2, 1, 2});
    log.push_back("paint " + std::to_string(pane));
  }
};

class HeadlessDialogTest : public ::testing::Test {
 protected:
  Recorder events;
  HeadlessDialog dialog{dialogTemplate(halvaneDeliverable()), events};
};

TEST_F(HeadlessDialogTest, UserActionsRaiseTheirEvents) {
  dialog.open();
  ASSERT_EQ(events.window, &dialog);
  dialog.setSliderRange(31, 15, 100);
  dialog.dragSlider(31, 7);
  EXPECT_EQ(dialog.sliderPosition(31), 15);
  dialog.dragSlider(31, 250);
  EXPECT_EQ(dialog.sliderPosition(31), 100);
  dialog.type(32, "0.5x");
  EXPECT_EQ(dialog.text(32), "0.5x");
  EXPECT_EQ(dialog.focus(), 32);
  dialog.toggle(502);
  EXPECT_TRUE(dialog.isChecked(502));
  dialog.click(1);
  dialog.doubleClick(30);
  EXPECT_EQ(events.log, (std::vector<std::string>{"open", "slider 31 15", "slider 31 15", "slider 31 100",
                                                  "edit 32", "toggle 502", "click 1", "label 30"}));
}

TEST_F(HeadlessDialogTest, ProgrammaticWritesEchoOnlyWhenAskedTo) {
  events.log.clear();
  dialog.setText(22, "57.0");
  dialog.setSliderPosition(21, 57);
  dialog.setChecked(24, true);
  EXPECT_EQ(events.log, (std::vector<std::string>{"edit 22", "slider 21 57"}));

  Recorder quiet;
  HeadlessDialog::Options options;
  options.echoProgrammaticChanges = false;
  HeadlessDialog silent(dialogTemplate(halvaneDeliverable()), quiet, options);
  silent.setText(22, "1.0");
  silent.setSliderPosition(21, 3);
  EXPECT_TRUE(quiet.log.empty());
  EXPECT_EQ(silent.text(22), "1.0");
}

TEST_F(HeadlessDialogTest, HiddenAndMissingControlsCannotBeReached) {
  dialog.setVisible(31, false);
  EXPECT_FALSE(dialog.isVisible(31));
  EXPECT_TRUE(dialog.isVisible(32));
  EXPECT_THROW(dialog.dragSlider(31, 20), std::logic_error);
  EXPECT_THROW(dialog.type(31, "1"), std::logic_error);  // a slider is not an edit box
  EXPECT_THROW(dialog.click(222), std::logic_error);
  // Calls on ids the template lacks do nothing.
  dialog.setText(222, "1.0");
  dialog.setSliderPosition(221, 5);
  EXPECT_EQ(dialog.text(222), "");
  EXPECT_FALSE(dialog.isVisible(221));
  dialog.endDialog(2);
  dialog.endDialog(1);
  EXPECT_EQ(dialog.endCode(), 2);
  EXPECT_THROW(dialog.click(1), std::logic_error);
}

TEST_F(HeadlessDialogTest, MouseFindsThePaneAndPaintsAreRecorded) {
  const platform::Rect view = dialog.controlBounds(control::viewPane);
  const platform::Rect overview = dialog.controlBounds(control::overviewPane);
  dialog.mouseDown(MouseButton::left, view.left + 1, view.top + 1);
  dialog.mouseDown(MouseButton::right, 1, 1);
  dialog.wheel(-120, overview.left + overview.width - 1, overview.top);
  dialog.invalidate(control::viewPane, false);
  dialog.invalidate(control::ok, false);  // not a pane
  EXPECT_TRUE(dialog.invalidated(control::viewPane));
  EXPECT_EQ(dialog.paint(), 1);
  EXPECT_EQ(dialog.paint(), 0);
  EXPECT_EQ(events.log, (std::vector<std::string>{"down 900", "down 0", "wheel 913 -120", "paint 900"}));
  ASSERT_EQ(dialog.paints().size(), 1u);
  EXPECT_EQ(dialog.paints()[0].images.at(0).pixels, (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST_F(HeadlessDialogTest, ResizingStopsAtTheMinimumSize) {
  const platform::Rect initial = dialog.windowBounds();
  dialog.setMinimumWindowSize({initial.width, initial.height});
  events.log.clear();
  dialog.resize(initial.width - 100, initial.height + 50);
  EXPECT_EQ(dialog.windowBounds().width, initial.width);
  EXPECT_EQ(dialog.windowBounds().height, initial.height + 50);
  EXPECT_EQ(dialog.clientSize().height, initial.height + 50 - HeadlessDialog::Options{}.frame.height);
  EXPECT_EQ(events.log, std::vector<std::string>{"size"});
}

TEST(HeadlessToolkit, RunModalReturnsTheCodeTheDialogEndedWith) {
  struct EndsOnOk : Recorder {
    void onButtonClicked(std::int32_t id) override { window->endDialog(id); }
  } events;
  HeadlessToolkit toolkit([](HeadlessDialog& user) { user.click(control::cancel); });
  EXPECT_EQ(toolkit.runModal(dialogTemplate(mirelleDeliverable()), events), 2);
  HeadlessToolkit idle([](HeadlessDialog&) {});
  EXPECT_EQ(idle.runModal(dialogTemplate(mirelleDeliverable()), events), HeadlessDialog::notEnded);
}

}  // namespace
}  // namespace veltrane::ui
