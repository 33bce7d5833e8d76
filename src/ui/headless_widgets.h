#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/widgets.h"

namespace veltrane::ui {

// A widget set without a window system: every control lives in memory, and
// a test acts as the user through the methods below. User actions check
// that the control exists, has the right kind and is visible (a user cannot
// reach a hidden control) and throw std::logic_error otherwise.
class HeadlessDialog final : public platform::DialogWindow {
 public:
  struct Options {
    // Pixels per 4 horizontal and per 8 vertical dialog units.
    std::int32_t baseUnitX = 6;
    std::int32_t baseUnitY = 13;
    platform::Size frame{16, 39};  // border and caption around the client area
    platform::Rect workArea{0, 0, 1920, 1040};
    // Whether programmatic text, slider and window changes raise the same
    // events as user changes, as real toolkits do.
    bool echoProgrammaticChanges = true;
  };

  // One image drawn during a paint, with a copy of its pixels.
  struct DrawnImage {
    std::int32_t x, y, width, height, channels;
    std::vector<std::uint8_t> pixels;  // width * channels bytes per row
  };
  struct Paint {
    std::int32_t pane;
    std::vector<DrawnImage> images;
    std::vector<platform::Rect> faceFills;
    bool sizeGrip = false;
  };

  static constexpr int notEnded = -1;

  HeadlessDialog(const platform::DialogTemplate& dialog, platform::DialogEvents& events);
  HeadlessDialog(const platform::DialogTemplate& dialog, platform::DialogEvents& events, Options options);
  HeadlessDialog(const HeadlessDialog&) = delete;
  HeadlessDialog& operator=(const HeadlessDialog&) = delete;

  // Raises onOpen (once).
  void open();

  // --- the user ---
  void click(std::int32_t buttonId);
  void toggle(std::int32_t checkBoxId);
  void type(std::int32_t editId, const std::string& text);
  void dragSlider(std::int32_t sliderId, std::int32_t position);
  void doubleClick(std::int32_t labelId);
  void mouseDown(platform::MouseButton button, std::int32_t x, std::int32_t y);
  void mouseMove(std::int32_t x, std::int32_t y);
  void mouseUp(platform::MouseButton button, std::int32_t x, std::int32_t y);
  void wheel(std::int32_t delta, std::int32_t x, std::int32_t y);
  void mouseLeave();
  void loseCapture();
  // Resizes the window by its bottom-right corner; never below the minimum.
  void resize(std::int32_t windowWidth, std::int32_t windowHeight);
  // Raises onPaint for every invalidated pane, in id order, and forgets the
  // requests. Returns the number of panes painted.
  int paint();

  // --- what the user sees ---
  bool exists(std::int32_t id) const;
  bool ended() const noexcept { return endCode_ != notEnded; }
  int endCode() const noexcept { return endCode_; }
  std::int32_t focus() const noexcept { return focus_; }
  std::int32_t sliderMinimum(std::int32_t id) const;
  std::int32_t sliderMaximum(std::int32_t id) const;
  bool invalidated(std::int32_t paneId) const;
  const std::vector<Paint>& paints() const noexcept { return paints_; }
  bool mouseCaptured() const noexcept { return captured_; }
  platform::CursorShape cursor() const noexcept { return cursor_; }
  platform::Size minimumWindowSize() const noexcept { return minimumSize_; }

  // --- platform::DialogWindow ---
  void endDialog(int code) override;
  void setTitle(const std::string& title) override;
  std::string title() const override;
  void setVisible(std::int32_t id, bool visible) override;
  bool isVisible(std::int32_t id) const override;
  void setText(std::int32_t id, const std::string& text) override;
  std::string text(std::int32_t id) const override;
  void setChecked(std::int32_t id, bool checked) override;
  bool isChecked(std::int32_t id) const override;
  void setSliderRange(std::int32_t id, std::int32_t minimum, std::int32_t maximum) override;
  void setSliderPosition(std::int32_t id, std::int32_t position) override;
  std::int32_t sliderPosition(std::int32_t id) const override;
  void setFocus(std::int32_t id) override;
  platform::Rect controlBounds(std::int32_t id) const override;
  void setControlBounds(std::int32_t id, const platform::Rect& bounds) override;
  platform::Rect windowBounds() const override;
  void setWindowBounds(const platform::Rect& bounds) override;
  platform::Size clientSize() const override;
  platform::Rect workArea() const override;
  void setMinimumWindowSize(platform::Size size) override;
  void invalidate(std::int32_t paneId, bool erase) override;
  void invalidateArea(const platform::Rect& area, bool erase) override;
  void setMouseCapture(bool captured) override;
  void setCursor(platform::CursorShape shape) override;

 private:
  struct Control {
    platform::ControlKind kind;
    std::string text;
    platform::Rect bounds;
    bool visible = true;
    bool checked = false;
    std::int32_t minimum = 0, maximum = 100, position = 0;
    bool invalid = false;
  };

  Control* find(std::int32_t id);
  const Control* find(std::int32_t id) const;
  Control& reachable(std::int32_t id, platform::ControlKind kind, const char* action);
  platform::MouseEvent mouseAt(platform::MouseButton button, std::int32_t x, std::int32_t y) const;
  void applyWindowBounds(const platform::Rect& bounds, bool raise);

  platform::DialogEvents& events_;
  Options options_;
  std::map<std::int32_t, Control> controls_;
  std::string title_;
  platform::Rect window_;
  platform::Size minimumSize_;
  std::int32_t focus_ = 0;
  int endCode_ = notEnded;
  bool opened_ = false;
  bool captured_ = false;
  platform::CursorShape cursor_ = platform::CursorShape::arrow;
  std::vector<Paint> paints_;
};

// A toolkit whose runModal opens a HeadlessDialog, hands it to the script
// (the user) and returns the code the dialog was ended with, or
// HeadlessDialog::notEnded when the script left it open.
class HeadlessToolkit final : public platform::WidgetToolkit {
 public:
  using Script = std::function<void(HeadlessDialog&)>;
  explicit HeadlessToolkit(Script script, HeadlessDialog::Options options = {});
  int runModal(const platform::DialogTemplate& dialog, platform::DialogEvents& events) override;

 private:
  Script script_;
  HeadlessDialog::Options options_;
};

}  // namespace veltrane::ui
