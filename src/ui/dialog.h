#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "image/region.h"
#include "platform/widgets.h"
#include "shell/filter_parameters.h"
#include "shell/parameter_tables.h"

namespace veltrane::ui {

// The seam the live preview implements. The dialog calls it whenever a value
// the engine reads changed (recompute true) or only the view changed
// (recompute false), and forwards everything that belongs to the preview:
// its buttons, the pane mouse events, painting and resizing. Every handler
// but updatePreview has an empty default; a dialog without a preview holds
// a null PreviewSink and skips all of these calls.
class PreviewSink {
 public:
  virtual ~PreviewSink() = default;

  virtual void updatePreview(bool recompute) = 0;

  // Receives a rectangle the user selected by hand in the view pane (image
  // coordinates, right and bottom exclusive) and the selection mode; called
  // before the mouse release that completed it returns true.
  using SelectionHandler = std::function<void(const veltrane::Rect& selected, std::int32_t mode)>;
  virtual void setSelectionHandler(SelectionHandler /*handler*/) {}

  // The dialog has opened (before its controls are filled and the window is
  // sized): build the preview proxy, note the panes' margins.
  virtual void onOpen(platform::DialogWindow& /*window*/) {}
  // OK or Cancel: free the preview buffers and forget the proxy.
  virtual void onClose() {}

  // Buttons and check boxes that belong to the preview: Show Original (901;
  // its check state is in the window), Select noise manually (907) and the
  // zoom buttons 914, 915 and 917.
  virtual void onCommand(std::int32_t /*id*/) {}
  // Reset All and the Profile buttons switch Show Original off; the dialog
  // has already unchecked 901.
  virtual void clearShowOriginal() {}

  virtual void onMouseDown(const platform::MouseEvent& /*event*/) {}
  virtual void onMouseMove(const platform::MouseEvent& /*event*/) {}
  // True when the release completed a manual noise selection: the dialog
  // then shows the parameter block again and reruns the preview.
  virtual bool onMouseUp(const platform::MouseEvent& /*event*/) { return false; }
  virtual void onMouseWheel(const platform::MouseEvent& /*event*/, std::int32_t /*delta*/) {}
  virtual void onMouseLeave() {}
  virtual void onCaptureLost() {}
  // After the dialog stored the new window size in viewState().
  virtual void onSizeChanged() {}
  virtual void onPaint(std::int32_t /*paneId*/, platform::Canvas& /*canvas*/) {}
};

inline constexpr const char* colorBuffersMissingMessage =
    "Veltrane internal error: color space buffers not created.";

// What the dialog needs from the plug-in module.
struct DialogSetup {
  const Deliverable* deliverable = nullptr;
  // Measures the image's noise (0.2 digital, 1.0 film) into the parameter
  // block and the defaults; null when the deliverable cannot profile.
  void (*profile)(double kind) = nullptr;
  PreviewSink* preview = nullptr;
  // Measures the noise of an area the user selected by hand in the given
  // profile kind and sets the levels as profile does; false (after telling
  // the user) when it changed nothing. Null when the deliverable cannot.
  bool (*profileArea)(double kind, const veltrane::Rect& area) = nullptr;
};

// The filter dialog's logic: fills the controls from the parameter block,
// writes every user change back into it, runs the command buttons, and
// shows or hides the advanced controls. It edits the block in place; the
// caller restores it on Cancel.
class FilterDialog final : public platform::DialogEvents {
 public:
  FilterDialog(const DialogSetup& setup, FilterParameters& parameters);
  ~FilterDialog() override;
  FilterDialog(const FilterDialog&) = delete;
  FilterDialog& operator=(const FilterDialog&) = delete;

  void onOpen(platform::DialogWindow& window) override;
  void onSliderMoved(std::int32_t id, std::int32_t position) override;
  void onEditChanged(std::int32_t id) override;
  void onButtonClicked(std::int32_t id) override;
  void onCheckBoxToggled(std::int32_t id) override;
  void onLabelDoubleClicked(std::int32_t id) override;

  void onMouseDown(const platform::MouseEvent& event) override;
  void onMouseMove(const platform::MouseEvent& event) override;
  void onMouseUp(const platform::MouseEvent& event) override;
  void onMouseWheel(const platform::MouseEvent& event, std::int32_t delta) override;
  void onMouseLeave() override;
  void onCaptureLost() override;
  void onSizeChanged() override;
  void onPaint(std::int32_t paneId, platform::Canvas& canvas) override;

  // Whether user changes are taken (false while the dialog fills its own
  // controls, and before it has opened).
  bool controlsLive() const noexcept { return controlsLive_; }

 private:
  const ParameterControlTable& table() const noexcept { return setup_.deliverable->controls; }
  void refreshControls();
  void writeSlot(std::size_t slot);
  void showAdvancedControls();
  void relabelProtection();
  void updatePreview(bool recompute);
  void profile(double kind);
  void measureSelection(const veltrane::Rect& area);
  void afterReset();
  void setFlagFromCheckBox(std::int32_t id);
  void placeWindow();

  DialogSetup setup_;
  FilterParameters& p_;
  platform::DialogWindow* window_ = nullptr;
  SlotArray<std::int32_t, realSlotCount> lastSliderPos_{};
  bool controlsLive_ = false;
  bool sliderUpdating_ = true;
  bool editUpdating_ = true;
  // The kind of the last profile, which a manual noise selection measures in.
  double lastProfileKind_ = 0.2;
  bool selectionMeasured_ = false;
};

// Runs the modal dialog over the parameter block of the current call
// (callContext().parameters, which Save/Load Settings and the profiler use
// too). Returns 1 for OK and 2 for Cancel; a dialog that could not run, or
// ended any other way, counts as Cancel. Never throws.
int runFilterDialog(platform::WidgetToolkit& toolkit, const DialogSetup& setup) noexcept;

}  // namespace veltrane::ui
