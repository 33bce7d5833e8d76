#include "ui/dialog.h"

#include <algorithm>
#include <exception>
#include <string>

#include "image/color_luts.h"
#include "shell/call_context.h"
#include "shell/messages.h"
#include "shell/parameters.h"
#include "shell/view_state.h"
#include "ui/dialog_template.h"
#include "ui/number_text.h"
#include "ui/settings_files.h"

namespace veltrane::ui {
namespace {

constexpr std::int32_t protectThresholdLabel = 190;
constexpr std::int32_t protectFeatherLabel = 200;
constexpr std::int32_t protectShadowsBox = 44;
constexpr std::int32_t profileDigitalBox = 502;
constexpr std::int32_t profileFilmBox = 504;

// Event handlers run inside the toolkit's message loop: nothing may leave
// them as an exception.
template <typename Body>
void guarded(Body&& body) noexcept {
  try {
    body();
  } catch (const std::exception& e) {
    try {
      reportMessage(std::string("(Veltrane) Internal error: ") + e.what());
    } catch (...) {
    }
  } catch (...) {
  }
}

// Sets a flag to false for the duration of a scope and puts back what it was.
class Lowered {
 public:
  explicit Lowered(bool& flag) noexcept : flag_(flag), saved_(flag) { flag_ = false; }
  ~Lowered() { flag_ = saved_; }
  Lowered(const Lowered&) = delete;
  Lowered& operator=(const Lowered&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

FilterDialog::FilterDialog(const DialogSetup& setup, FilterParameters& parameters)
    : setup_(setup), p_(parameters) {}

FilterDialog::~FilterDialog() {
  // The preview outlives the dialog: it must not keep calling into it.
  if (setup_.preview != nullptr) guarded([&] { setup_.preview->setSelectionHandler({}); });
}

// --- filling the controls ---

void FilterDialog::writeSlot(std::size_t slot) {
  const RealControl& c = table().reals[slot];
  if (!c.hasControl()) return;
  const double value = p_.reals[slot];
  window_->setText(c.editId, FormatNumber(value));
  window_->setSliderRange(c.sliderId, c.minPosition, c.maxPosition);
  window_->setSliderPosition(c.sliderId, valueToPosition(value, c.scale));
  lastSliderPos_[slot] = window_->sliderPosition(c.sliderId);
}

void FilterDialog::refreshControls() {
  Lowered quiet(controlsLive_);
  for (std::size_t i = 0; i < realSlotCount; ++i) writeSlot(i);
  for (std::size_t i = 0; i < flagSlotCount; ++i) {
    const std::int32_t id = table().flags[i].checkBoxId;
    if (id != 0) window_->setChecked(id, p_.flags[i] != 0);
  }
}

void FilterDialog::showAdvancedControls() {
  Lowered quiet(controlsLive_);
  const bool show = viewState().showAdvanced != 0;
  for (std::size_t i = 0; i < realSlotCount; ++i) {
    const RealControl& c = table().reals[i];
    if (!c.hasControl() || !c.advanced) continue;
    window_->setVisible(c.editId, show);
    window_->setVisible(c.sliderId, show);
    window_->setVisible(labelIdOf(c), show);
  }
  for (std::size_t i = 0; i < flagSlotCount; ++i) {
    const FlagControl& f = table().flags[i];
    if (f.checkBoxId != 0 && f.advanced) window_->setVisible(f.checkBoxId, show);
  }
  for (std::int32_t id = control::firstInstruction; id <= control::lastInstruction; ++id)
    window_->setVisible(id, !show);
}

void FilterDialog::relabelProtection() {
  const bool shadows = window_->isChecked(protectShadowsBox);
  window_->setText(protectThresholdLabel, shadows ? "Shadow protect threshold" : "Highlight protect threshold");
  window_->setText(protectFeatherLabel, shadows ? "Shadow protect feather" : "Highlight protect feather");
}

void FilterDialog::updatePreview(bool recompute) {
  if (setup_.preview != nullptr) setup_.preview->updatePreview(recompute);
}

void FilterDialog::profile(double kind) {
  lastProfileKind_ = kind;
  if (setup_.profile != nullptr) setup_.profile(kind);
}

// A rectangle the user dragged over an area of pure noise: its noise sets
// the levels as the last profile's kind would; onMouseUp then refreshes the
// controls and the preview as after a profile.
void FilterDialog::measureSelection(const veltrane::Rect& area) {
  if (setup_.profileArea != nullptr && setup_.profileArea(lastProfileKind_, area)) selectionMeasured_ = true;
}

// The common end of Reset All, Reset Noise Reduction and the Profile
// buttons: the controls show the block again and the preview shows the
// filtered image.
void FilterDialog::afterReset() {
  refreshControls();
  window_->setChecked(control::showOriginal, false);
  if (setup_.preview != nullptr) setup_.preview->clearShowOriginal();
  updatePreview(true);
}

void FilterDialog::placeWindow() {
  const platform::Rect initial = window_->windowBounds();
  const platform::Rect work = window_->workArea();
  const ViewState& view = viewState();
  const std::int32_t width = std::min(std::max(view.dialogWidth, initial.width), work.width);
  const std::int32_t height = std::min(std::max(view.dialogHeight, initial.height), work.height);
  window_->setWindowBounds(
      platform::Rect{work.left + (work.width - width) / 2, work.top + (work.height - height) / 2, width, height});
}

// --- events ---

void FilterDialog::onOpen(platform::DialogWindow& window) {
  window_ = &window;
  guarded([&] {
    if (!lutsBuilt()) reportMessage(colorBuffersMissingMessage);
    const platform::Rect initial = window.windowBounds();
    window.setMinimumWindowSize(platform::Size{initial.width, initial.height});
    if (setup_.preview != nullptr) {
      setup_.preview->setSelectionHandler(
          [this](const veltrane::Rect& area, std::int32_t /*mode*/) { measureSelection(area); });
      setup_.preview->onOpen(window);
    }
    // The image was profiled as film when the dialog came up with that box.
    lastProfileKind_ = profileArgument(p_.flags[flag::profileFilmOnLoad] != 0 ? ProfileRequest::film
                                                                               : ProfileRequest::digital);
    refreshControls();
    window.setChecked(control::showAdvanced, viewState().showAdvanced != 0);
    showAdvancedControls();
    placeWindow();
    window.setFocus(control::ok);
    controlsLive_ = true;
    window.setTitle(setup_.deliverable->aboutTitle);
    updatePreview(true);
    relabelProtection();
  });
}

void FilterDialog::onSliderMoved(std::int32_t id, std::int32_t /*position*/) {
  guarded([&] {
    for (std::size_t i = 0; i < realSlotCount; ++i) {
      const RealControl& c = table().reals[i];
      if (!c.hasControl() || c.sliderId != id) continue;
      const std::int32_t position = window_->sliderPosition(id);
      if (position == lastSliderPos_[i] || !sliderUpdating_ || !controlsLive_) return;
      lastSliderPos_[i] = position;
      p_.reals[i] = positionToValue(position, c.scale);
      {
        Lowered quiet(editUpdating_);
        window_->setText(c.editId, FormatNumber(p_.reals[i]));
      }
      updatePreview(true);
      return;
    }
  });
}

void FilterDialog::onEditChanged(std::int32_t id) {
  guarded([&] {
    for (std::size_t i = 0; i < realSlotCount; ++i) {
      const RealControl& c = table().reals[i];
      if (!c.hasControl() || c.editId != id) continue;
      if (!editUpdating_ || !controlsLive_) return;
      const double typed = ParseNumber(window_->text(id), parameterDefaults().reals[i]);
      p_.reals[i] = typed;
      // The box shows the clamped value, except while what is typed may still
      // become a value inside the range (0 on the way to 0.5 above a lower
      // bound of 0.1).
      const bool mayGrowIntoRange = typed >= 0.0 && typed < activeDeliverable().realRanges[i].lowest;
      if (keepInRange(i, p_.reals[i]) != ValueCheck::kept && !mayGrowIntoRange) {
        Lowered quiet(editUpdating_);
        window_->setText(id, FormatNumber(p_.reals[i]));
      }
      {
        Lowered quiet(sliderUpdating_);
        window_->setSliderPosition(c.sliderId, valueToPosition(p_.reals[i], c.scale));
      }
      lastSliderPos_[i] = window_->sliderPosition(c.sliderId);
      updatePreview(true);
      return;
    }
  });
}

void FilterDialog::onLabelDoubleClicked(std::int32_t id) {
  guarded([&] {
    for (std::size_t i = 0; i < realSlotCount; ++i) {
      const RealControl& c = table().reals[i];
      if (!c.hasControl() || labelIdOf(c) != id) continue;
      p_.reals[i] = parameterDefaults().reals[i];
      // The dialog's own writes must not come back as user edits.
      Lowered quiet(controlsLive_);
      writeSlot(i);
      return;
    }
  });
}

void FilterDialog::setFlagFromCheckBox(std::int32_t id) {
  for (std::size_t i = 0; i < flagSlotCount; ++i) {
    if (table().flags[i].checkBoxId == id) p_.flags[i] = window_->isChecked(id) ? 1 : 0;
  }
}

void FilterDialog::onCheckBoxToggled(std::int32_t id) {
  guarded([&] {
    switch (id) {
      case profileDigitalBox:
      case profileFilmBox: {
        // The two profile-on-load boxes exclude each other.
        const bool digital = id == profileDigitalBox;
        setFlagFromCheckBox(id);
        updatePreview(true);
        p_.flags[digital ? flag::profileFilmOnLoad : flag::profileDigitalOnLoad] = 0;
        window_->setChecked(digital ? profileFilmBox : profileDigitalBox, false);
        return;
      }
      case control::showAdvanced:
        viewState().showAdvanced = window_->isChecked(id) ? 1 : 0;
        showAdvancedControls();
        return;
      case control::showOriginal:
        if (setup_.preview != nullptr) setup_.preview->onCommand(id);
        return;
      case protectShadowsBox:
        relabelProtection();
        break;
      default:
        break;
    }
    for (std::size_t i = 0; i < flagSlotCount; ++i) {
      if (table().flags[i].checkBoxId == id) {
        setFlagFromCheckBox(id);
        updatePreview(true);
        return;
      }
    }
  });
}

void FilterDialog::onButtonClicked(std::int32_t id) {
  guarded([&] {
    switch (id) {
      case control::ok:
      case control::cancel:
        if (setup_.preview != nullptr) setup_.preview->onClose();
        window_->endDialog(id);
        return;
      case control::resetAll: {
        const ProfileRequest request = resetAll(p_);
        if (request != ProfileRequest::none) profile(profileArgument(request));
        afterReset();
        return;
      }
      case control::resetNoiseReduction:
        if (!setup_.deliverable->hasResetNoiseReduction) return;
        resetNoiseReduction(p_);
        afterReset();
        return;
      case control::profileDigital:
        profile(profileArgument(ProfileRequest::digital));
        afterReset();
        return;
      case control::profileFilm:
        profile(profileArgument(ProfileRequest::film));
        afterReset();
        return;
      case control::saveSettings:
        saveSettings();
        return;
      case control::loadSettings: {
        const std::uint8_t digital = p_.flags[flag::profileDigitalOnLoad];
        const std::uint8_t film = p_.flags[flag::profileFilmOnLoad];
        loadSettings();
        updatePreview(true);
        refreshControls();
        p_.flags[flag::profileDigitalOnLoad] = digital;
        p_.flags[flag::profileFilmOnLoad] = film;
        refreshControls();
        return;
      }
      case control::selectNoise:
      case control::zoom100:
      case control::zoom200:
      case control::zoom400:
        if (setup_.preview != nullptr) setup_.preview->onCommand(id);
        return;
      default:
        return;
    }
  });
}

void FilterDialog::onMouseDown(const platform::MouseEvent& event) {
  if (setup_.preview != nullptr) guarded([&] { setup_.preview->onMouseDown(event); });
}

void FilterDialog::onMouseMove(const platform::MouseEvent& event) {
  if (setup_.preview != nullptr) guarded([&] { setup_.preview->onMouseMove(event); });
}

void FilterDialog::onMouseUp(const platform::MouseEvent& event) {
  if (setup_.preview == nullptr) return;
  guarded([&] {
    selectionMeasured_ = false;
    if (!setup_.preview->onMouseUp(event)) return;
    if (selectionMeasured_) {
      selectionMeasured_ = false;
      afterReset();
      return;
    }
    refreshControls();
    updatePreview(true);
  });
}

void FilterDialog::onMouseWheel(const platform::MouseEvent& event, std::int32_t delta) {
  if (setup_.preview != nullptr) guarded([&] { setup_.preview->onMouseWheel(event, delta); });
}

void FilterDialog::onMouseLeave() {
  if (setup_.preview != nullptr) guarded([&] { setup_.preview->onMouseLeave(); });
}

void FilterDialog::onCaptureLost() {
  if (setup_.preview != nullptr) guarded([&] { setup_.preview->onCaptureLost(); });
}

void FilterDialog::onSizeChanged() {
  guarded([&] {
    const platform::Rect bounds = window_->windowBounds();
    viewState().dialogWidth = bounds.width;
    viewState().dialogHeight = bounds.height;
    if (setup_.preview != nullptr) setup_.preview->onSizeChanged();
  });
}

void FilterDialog::onPaint(std::int32_t paneId, platform::Canvas& canvas) {
  if (setup_.preview == nullptr) return;
  guarded([&] {
    if (currentResult() == veltrane::noErr) setup_.preview->onPaint(paneId, canvas);
  });
}

int runFilterDialog(platform::WidgetToolkit& toolkit, const DialogSetup& setup) noexcept {
  try {
    FilterParameters* parameters = callContext().parameters;
    if (parameters == nullptr || setup.deliverable == nullptr) return 2;
    FilterDialog dialog(setup, *parameters);
    return toolkit.runModal(dialogTemplate(*setup.deliverable), dialog) == 1 ? 1 : 2;
  } catch (const std::exception& e) {
    try {
      reportMessage(std::string("(Veltrane) Internal error: ") + e.what());
    } catch (...) {
    }
  } catch (...) {
  }
  return 2;
}

}  // namespace veltrane::ui
