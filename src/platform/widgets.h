#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The seam between the dialog logic and a widget toolkit. The dialog logic
// describes its window as a DialogTemplate, drives the controls by id through
// DialogWindow and receives what the user does through DialogEvents; a
// toolkit implements WidgetToolkit and DialogWindow. No type of any window
// system appears here.
namespace veltrane::platform {

// ---------------------------------------------------------------------------
// The template: what a toolkit builds when it opens the dialog.

enum class ControlKind {
  pushButton,
  defaultPushButton,  // pressed by the Enter key
  checkBox,
  staticText,         // reports double clicks (slot labels)
  slider,             // horizontal, integer positions
  editBox,            // one line of text
  frame,              // a sunken rectangle the dialog paints into (a pane)
};

// One control. Positions and sizes are in dialog units: a quarter of the
// font's average character width horizontally, an eighth of its height
// vertically. In texts, '&' marks the next character as the keyboard
// shortcut and "&&" stands for one literal '&'.
struct ControlSpec {
  std::int32_t id;
  ControlKind kind;
  const char* text;  // never null; "" for controls without a text
  std::int32_t x, y, width, height;
  bool initiallyHidden;
};

// A modal, resizable dialog with a caption and a sizing border but no system
// menu. Width and height are the client area in dialog units.
struct DialogTemplate {
  const char* caption;
  std::int32_t width, height;
  const char* font;
  std::int32_t fontSize;  // points
  std::vector<ControlSpec> controls;
};

// The name under which a plug-in module stores its dialog as a resource,
// where the window system builds dialogs from resources.
inline constexpr const char* dialogResourceName = "FILTERDIALOG";

// ---------------------------------------------------------------------------
// Geometry in pixels. Control rectangles are in the dialog's client
// coordinates; the window rectangle and the work area in screen coordinates.

struct Size {
  std::int32_t width = 0, height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  std::int32_t left = 0, top = 0, width = 0, height = 0;
  bool contains(std::int32_t x, std::int32_t y) const noexcept {
    return x >= left && y >= top && x < left + width && y < top + height;
  }
  friend bool operator==(const Rect&, const Rect&) = default;
};

enum class MouseButton { left, right, middle };

enum class CursorShape { arrow, crossHair };

// One mouse event in client pixels. pane is the id of the visible frame
// under the pointer, 0 when there is none.
struct MouseEvent {
  std::int32_t pane = 0;
  std::int32_t x = 0, y = 0;
  MouseButton button = MouseButton::left;  // the button pressed or released
};

// An 8-bit image to show: channels 1 (grey) or 3 (interleaved RGB), rows
// rowBytes apart.
struct PixelView {
  const std::uint8_t* pixels = nullptr;
  std::int32_t width = 0, height = 0;
  std::int32_t channels = 3;
  std::int32_t rowBytes = 0;
};

// Drawing during a paint event; valid only inside DialogEvents::onPaint.
class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void drawImage(std::int32_t x, std::int32_t y, const PixelView& image) = 0;
  virtual void fillFace(const Rect& area) = 0;  // the dialog's face colour
  // The size grip in the bottom-right corner of the client area, as large
  // as a scroll-bar arrow.
  virtual void drawSizeGrip() = 0;
  // What the host's display-pixels call draws into (a device context on
  // Windows); null where the host has no such notion and the canvas draws.
  virtual void* displayContext() { return nullptr; }
};

// ---------------------------------------------------------------------------
// The open dialog, as the dialog logic drives it. Every call naming an id
// that the template does not hold does nothing (getters answer "", false
// or 0). Programmatic changes may raise the same notifications as user
// changes do (setText an "edit changed", setSliderPosition a "slider moved",
// setWindowBounds a "size changed"), as real toolkits do; the dialog logic
// must tolerate both. Setting a check box never raises "toggled".
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  // Ends the modal loop; WidgetToolkit::runModal returns code.
  virtual void endDialog(int code) = 0;

  virtual void setTitle(const std::string& title) = 0;
  virtual std::string title() const = 0;

  virtual void setVisible(std::int32_t id, bool visible) = 0;
  virtual bool isVisible(std::int32_t id) const = 0;

  virtual void setText(std::int32_t id, const std::string& text) = 0;
  virtual std::string text(std::int32_t id) const = 0;

  virtual void setChecked(std::int32_t id, bool checked) = 0;
  virtual bool isChecked(std::int32_t id) const = 0;

  // The position is pinned into the range by both calls.
  virtual void setSliderRange(std::int32_t id, std::int32_t minimum, std::int32_t maximum) = 0;
  virtual void setSliderPosition(std::int32_t id, std::int32_t position) = 0;
  virtual std::int32_t sliderPosition(std::int32_t id) const = 0;

  virtual void setFocus(std::int32_t id) = 0;

  virtual Rect controlBounds(std::int32_t id) const = 0;
  virtual void setControlBounds(std::int32_t id, const Rect& bounds) = 0;

  // The window including its border and caption, and its client area.
  virtual Rect windowBounds() const = 0;
  virtual void setWindowBounds(const Rect& bounds) = 0;
  virtual Size clientSize() const = 0;
  // The part of the screen that windows may cover (without task bars).
  virtual Rect workArea() const = 0;
  // The user cannot make the window smaller than this by its border.
  virtual void setMinimumWindowSize(Size size) = 0;

  // Asks for a paint of a pane (a frame control) or of any client area;
  // with erase the area is first filled with the face colour. Requests
  // merge until the next paint.
  virtual void invalidate(std::int32_t paneId, bool erase) = 0;
  virtual void invalidateArea(const Rect& area, bool erase) = 0;

  // While captured, mouse events arrive even outside the dialog.
  virtual void setMouseCapture(bool captured) = 0;
  virtual void setCursor(CursorShape shape) = 0;
};

// What the user does, and what the toolkit asks for. Every handler has an
// empty default.
class DialogEvents {
 public:
  virtual ~DialogEvents() = default;

  // The dialog exists with every control of the template, not yet shown;
  // the window stays valid until runModal returns.
  virtual void onOpen(DialogWindow& /*window*/) {}

  virtual void onSliderMoved(std::int32_t /*id*/, std::int32_t /*position*/) {}
  virtual void onEditChanged(std::int32_t /*id*/) {}
  virtual void onButtonClicked(std::int32_t /*id*/) {}
  virtual void onCheckBoxToggled(std::int32_t /*id*/) {}
  virtual void onLabelDoubleClicked(std::int32_t /*id*/) {}

  virtual void onMouseDown(const MouseEvent& /*event*/) {}
  virtual void onMouseMove(const MouseEvent& /*event*/) {}
  virtual void onMouseUp(const MouseEvent& /*event*/) {}
  // delta: 120 per notch, positive when rolled away from the user.
  virtual void onMouseWheel(const MouseEvent& /*event*/, std::int32_t /*delta*/) {}
  // The pointer left the dialog.
  virtual void onMouseLeave() {}
  // The dialog lost the mouse capture or the keyboard focus.
  virtual void onCaptureLost() {}

  // The window was resized; clientSize and windowBounds tell the new size.
  virtual void onSizeChanged() {}
  // Paints one invalidated pane.
  virtual void onPaint(std::int32_t /*paneId*/, Canvas& /*canvas*/) {}
};

// A widget toolkit: opens the dialog described by the template, raises
// onOpen, then delivers events until DialogWindow::endDialog and returns
// its code.
class WidgetToolkit {
 public:
  virtual ~WidgetToolkit() = default;
  virtual int runModal(const DialogTemplate& dialog, DialogEvents& events) = 0;
};

}  // namespace veltrane::platform
