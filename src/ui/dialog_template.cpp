#include "ui/dialog_template.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

namespace veltrane::ui {
namespace {

// Everything in dialog units.
constexpr std::int32_t dialogWidth = 564;
constexpr std::int32_t dialogHeight = 498;
constexpr std::int32_t margin = 7;
constexpr std::int32_t leftWidth = 271;  // x 7..278
constexpr std::int32_t rightX = 288;
constexpr std::int32_t rightWidth = dialogWidth - margin - rightX;
constexpr std::int32_t bottom = dialogHeight - margin;

// A slot row: label, slider, edit box.
constexpr std::int32_t labelWidth = 136;
constexpr std::int32_t sliderX = margin + labelWidth + 2;
constexpr std::int32_t sliderWidth = 98;
constexpr std::int32_t editX = sliderX + sliderWidth + 4;
constexpr std::int32_t editWidth = margin + leftWidth - editX;
constexpr std::int32_t rowHeight = 12;
constexpr std::int32_t rowPitch = 14;
constexpr std::int32_t lineHeight = 8;
// A label longer than this many characters takes two lines.
constexpr std::size_t labelLineChars = 34;

constexpr std::int32_t checkBoxHeight = 10;
constexpr std::int32_t checkBoxPitch = 12;
constexpr std::int32_t buttonWidth = 134;
constexpr std::int32_t buttonHeight = 14;
constexpr std::int32_t buttonPitch = 18;
constexpr std::int32_t groupGap = 6;

struct Instruction {
  std::int32_t id;
  const char* text;
  std::int32_t lines;
};

// What a deliverable's dialog holds beyond its control table.
struct Extras {
  std::vector<Instruction> instructions;
  bool instructionsInAdvancedBand;  // shown only while the band is hidden
  bool hasSelectNoise;
  std::int32_t hiddenStaticId;      // an empty, hidden static; 0 = none
};

Extras extrasOf(const Deliverable& deliverable) {
  const std::string_view name = deliverable.name != nullptr ? deliverable.name : "";
  if (name == "halvane") {
    return Extras{{{932, "Instructions: ", 1},
                   {933, "[1] Click the profile image button.  Digital for dSLRs, film for film scans.", 2},
                   {934,
                    "[2] Adjust the \"Overall noise level\" slider lower to retain more detail.  When speckles "
                    "of noise appear, back off and adjust the setting higher.",
                    3},
                   {935, "[3] Adjust the \"Mix in original B&&W detail\" slider according to your tastes. ", 2},
                   {936, "[4] Adjust sharpening settings.", 1},
                   {937, "For the advanced controls, read the manual for instructions.", 1}},
                  true,
                  true,
                  0};
  }
  if (name == "mirelle") {
    return Extras{{{3001, "Instructions: ", 1},
                   {3002, "[1] Adjust low threshold until smooth areas disappear.  Detail areas can be recovered later.",
                    2},
                   {3003,
                    "[2] Adjust high threshold to control the rolloff/transition between smooth areas and detail "
                    "areas.",
                    2},
                   {3004,
                    "[3] For a more accurate matte, click ok and edit the resulting matte with the brush (B) and "
                    "quick selection (W) tools in Photoshop.",
                    3},
                   {3005, "For the advanced controls, read the manual for instructions.", 1}},
                  false,
                  false,
                  306};
  }
  return Extras{{}, false, false, 0};
}

bool hasSlotControls(const RealControl& slot) { return slot.hasControl() && slot.label != nullptr; }
bool hasCheckBox(const FlagControl& flag) { return flag.checkBoxId != 0 && flag.text != nullptr; }

class Builder {
 public:
  void add(std::int32_t id, ControlKind kind, const char* text, std::int32_t x, std::int32_t y, std::int32_t width,
           std::int32_t height, bool hidden = false) {
    controls.push_back(ControlSpec{id, kind, text, x, y, width, height, hidden});
  }

  // Returns the y below the row.
  std::int32_t slotRow(const RealControl& slot, std::int32_t y) {
    const bool twoLines = std::strlen(slot.label) > labelLineChars;
    const std::int32_t labelHeight = twoLines ? 2 * lineHeight : lineHeight;
    const std::int32_t height = twoLines ? labelHeight : rowHeight;
    const std::int32_t controlY = y + (height - rowHeight) / 2;
    add(labelIdOf(slot), ControlKind::staticText, slot.label, margin, y + (height - labelHeight) / 2, labelWidth,
        labelHeight);
    add(slot.sliderId, ControlKind::slider, "", sliderX, controlY, sliderWidth, rowHeight);
    add(slot.editId, ControlKind::editBox, "", editX, controlY, editWidth, rowHeight);
    return y + height + (rowPitch - rowHeight);
  }

  std::int32_t checkBox(std::int32_t id, const char* text, std::int32_t y) {
    add(id, ControlKind::checkBox, text, margin, y, leftWidth, checkBoxHeight);
    return y + checkBoxPitch;
  }

  std::int32_t instructions(const std::vector<Instruction>& texts, std::int32_t y) {
    for (const Instruction& line : texts) {
      const std::int32_t height = line.lines * lineHeight;
      add(line.id, ControlKind::staticText, line.text, margin, y, leftWidth, height);
      y += height + 4;
    }
    return y;
  }

  std::vector<ControlSpec> controls;
};

struct ButtonRow {
  std::int32_t left;
  std::int32_t right;  // 0 = none
  const char* leftText;
  const char* rightText;
};

DialogTemplate build(const Deliverable& deliverable) {
  const Extras extras = extrasOf(deliverable);
  const auto& reals = deliverable.controls.reals.values;
  const auto& flags = deliverable.controls.flags.values;
  Builder b;

  // Slot rows: those shown always, then the advanced band.
  std::int32_t y = margin;
  for (const RealControl& slot : reals) {
    if (hasSlotControls(slot) && !slot.advanced) y = b.slotRow(slot, y);
  }
  y += groupGap;
  const std::int32_t bandTop = y;
  for (const RealControl& slot : reals) {
    if (hasSlotControls(slot) && slot.advanced) y = b.slotRow(slot, y);
  }
  for (const FlagControl& flag : flags) {
    if (hasCheckBox(flag) && flag.advanced) y = b.checkBox(flag.checkBoxId, flag.text, y);
  }
  if (extras.instructionsInAdvancedBand) {
    b.instructions(extras.instructions, bandTop);
  } else if (!extras.instructions.empty()) {
    y = b.instructions(extras.instructions, y + groupGap);
  }
  if (extras.hiddenStaticId != 0) b.add(extras.hiddenStaticId, ControlKind::staticText, "", margin, y, leftWidth, lineHeight, true);

  // Check boxes and buttons, anchored at the bottom.
  std::vector<ButtonRow> buttons;
  buttons.push_back({control::profileDigital, control::profileFilm, "Profile &Digital Image", "Profile &Film Image"});
  if (deliverable.hasResetNoiseReduction) {
    buttons.push_back({control::resetNoiseReduction, control::resetAll, "Rese&t Noise Reduction Settings", "&Reset All"});
  } else {
    buttons.push_back({control::resetAll, 0, "&Reset All", nullptr});
  }
  buttons.push_back({control::saveSettings, control::loadSettings, "&Save Settings", "&Load Settings"});
  if (extras.hasSelectNoise) buttons.push_back({control::selectNoise, 0, "Select noise manually", nullptr});
  buttons.push_back({control::ok, control::cancel, "&OK", "&Cancel"});

  std::int32_t checkBoxCount = 1;  // Show Advanced Controls
  for (const FlagControl& flag : flags) {
    if (hasCheckBox(flag) && !flag.advanced) ++checkBoxCount;
  }
  const auto buttonRows = static_cast<std::int32_t>(buttons.size());
  y = bottom - (checkBoxCount * checkBoxPitch + groupGap + buttonRows * buttonPitch - (buttonPitch - buttonHeight));
  for (const FlagControl& flag : flags) {
    if (hasCheckBox(flag) && !flag.advanced) y = b.checkBox(flag.checkBoxId, flag.text, y);
  }
  y = b.checkBox(control::showAdvanced, "Show Advanced Controls", y) + groupGap;
  for (const ButtonRow& row : buttons) {
    const ControlKind kind = row.left == control::ok ? ControlKind::defaultPushButton : ControlKind::pushButton;
    b.add(row.left, kind, row.leftText, margin, y, buttonWidth, buttonHeight);
    if (row.right != 0) {
      b.add(row.right, ControlKind::pushButton, row.rightText, margin + leftWidth - buttonWidth, y, buttonWidth,
            buttonHeight);
    }
    y += buttonPitch;
  }

  // The panes and their commands.
  constexpr std::int32_t overviewHeight = 150;
  constexpr std::int32_t zoomY = margin + overviewHeight + 4;
  constexpr std::int32_t zoomWidth = 44;
  constexpr std::int32_t viewTop = zoomY + buttonHeight + 4;
  b.add(control::overviewPane, ControlKind::frame, "", rightX, margin, rightWidth, overviewHeight);
  b.add(control::zoom100, ControlKind::pushButton, "&100% Zoom", rightX, zoomY, zoomWidth, buttonHeight);
  b.add(control::zoom200, ControlKind::pushButton, "&200% Zoom", rightX + zoomWidth + 3, zoomY, zoomWidth,
        buttonHeight);
  b.add(control::zoom400, ControlKind::pushButton, "&400% Zoom", rightX + 2 * (zoomWidth + 3), zoomY, zoomWidth,
        buttonHeight);
  b.add(control::showOriginal, ControlKind::checkBox, "Show Origi&nal", rightX + 3 * (zoomWidth + 3) + 3, zoomY + 2,
        70, checkBoxHeight);
  b.add(control::viewPane, ControlKind::frame, "", rightX, viewTop, rightWidth, bottom - viewTop);

  return DialogTemplate{"Veltrane", dialogWidth, dialogHeight, "MS Sans Serif", 8, std::move(b.controls)};
}

}  // namespace

const DialogTemplate& dialogTemplate(const Deliverable& deliverable) {
  static std::mutex mutex;
  static std::map<const Deliverable*, DialogTemplate> built;
  const std::lock_guard lock(mutex);
  auto it = built.find(&deliverable);
  if (it == built.end()) it = built.emplace(&deliverable, build(deliverable)).first;
  return it->second;
}

}  // namespace veltrane::ui
