#include "ui/headless_widgets.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace veltrane::ui {

using platform::ControlKind;
using platform::MouseButton;
using platform::Rect;
using platform::Size;

namespace {

std::int32_t toPixels(std::int32_t units, std::int32_t baseUnit, std::int32_t unitsPerBase) {
  return (units * baseUnit + unitsPerBase / 2) / unitsPerBase;
}

bool overlaps(const Rect& a, const Rect& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
         b.top < a.top + a.height;
}

const char* kindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::pushButton:
    case ControlKind::defaultPushButton: return "button";
    case ControlKind::checkBox: return "check box";
    case ControlKind::staticText: return "static text";
    case ControlKind::slider: return "slider";
    case ControlKind::editBox: return "edit box";
    case ControlKind::frame: return "frame";
  }
  return "control";
}

// Records what a paint draws.
class RecordingCanvas final : public platform::Canvas {
 public:
  explicit RecordingCanvas(HeadlessDialog::Paint& paint) : paint_(paint) {}

  void drawImage(std::int32_t x, std::int32_t y, const platform::PixelView& image) override {
    HeadlessDialog::DrawnImage drawn{x, y, image.width, image.height, image.channels, {}};
    const auto rowLength = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
    for (std::int32_t row = 0; row < image.height && image.pixels != nullptr; ++row) {
      const std::uint8_t* start = image.pixels + static_cast<std::ptrdiff_t>(row) * image.rowBytes;
      drawn.pixels.insert(drawn.pixels.end(), start, start + rowLength);
    }
    paint_.images.push_back(std::move(drawn));
  }

  void fillFace(const Rect& area) override { paint_.faceFills.push_back(area); }
  void drawSizeGrip() override { paint_.sizeGrip = true; }

 private:
  HeadlessDialog::Paint& paint_;
};

}  // namespace

HeadlessDialog::HeadlessDialog(const platform::DialogTemplate& dialog, platform::DialogEvents& events)
    : HeadlessDialog(dialog, events, Options{}) {}

HeadlessDialog::HeadlessDialog(const platform::DialogTemplate& dialog, platform::DialogEvents& events,
                               Options options)
    : events_(events), options_(options), title_(dialog.caption) {
  for (const platform::ControlSpec& spec : dialog.controls) {
    Control control;
    control.kind = spec.kind;
    control.text = spec.text;
    control.bounds = Rect{toPixels(spec.x, options_.baseUnitX, 4), toPixels(spec.y, options_.baseUnitY, 8),
                          toPixels(spec.width, options_.baseUnitX, 4), toPixels(spec.height, options_.baseUnitY, 8)};
    control.visible = !spec.initiallyHidden;
    if (!controls_.emplace(spec.id, std::move(control)).second) {
      throw std::logic_error("dialog template holds id " + std::to_string(spec.id) + " twice");
    }
  }
  const Size client{toPixels(dialog.width, options_.baseUnitX, 4), toPixels(dialog.height, options_.baseUnitY, 8)};
  window_ = Rect{options_.workArea.left, options_.workArea.top, client.width + options_.frame.width,
                 client.height + options_.frame.height};
}

void HeadlessDialog::open() {
  if (opened_) return;
  opened_ = true;
  events_.onOpen(*this);
}

HeadlessDialog::Control* HeadlessDialog::find(std::int32_t id) {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const HeadlessDialog::Control* HeadlessDialog::find(std::int32_t id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

HeadlessDialog::Control& HeadlessDialog::reachable(std::int32_t id, ControlKind kind, const char* action) {
  const std::string what = std::string(action) + " " + std::to_string(id) + ": ";
  if (ended()) throw std::logic_error(what + "the dialog has ended");
  Control* control = find(id);
  if (control == nullptr) throw std::logic_error(what + "no such control");
  const bool kindMatches = control->kind == kind ||
                           (kind == ControlKind::pushButton && control->kind == ControlKind::defaultPushButton);
  if (!kindMatches) throw std::logic_error(what + "the control is a " + kindName(control->kind));
  if (!control->visible) throw std::logic_error(what + "the control is hidden");
  return *control;
}

// --- the user ---

void HeadlessDialog::click(std::int32_t buttonId) {
  reachable(buttonId, ControlKind::pushButton, "click");
  focus_ = buttonId;
  events_.onButtonClicked(buttonId);
}

void HeadlessDialog::toggle(std::int32_t checkBoxId) {
  Control& box = reachable(checkBoxId, ControlKind::checkBox, "toggle");
  box.checked = !box.checked;
  focus_ = checkBoxId;
  events_.onCheckBoxToggled(checkBoxId);
}

void HeadlessDialog::type(std::int32_t editId, const std::string& text) {
  Control& edit = reachable(editId, ControlKind::editBox, "type into");
  edit.text = text;
  focus_ = editId;
  events_.onEditChanged(editId);
}

void HeadlessDialog::dragSlider(std::int32_t sliderId, std::int32_t position) {
  Control& slider = reachable(sliderId, ControlKind::slider, "drag");
  slider.position = std::clamp(position, slider.minimum, slider.maximum);
  focus_ = sliderId;
  events_.onSliderMoved(sliderId, slider.position);
}

void HeadlessDialog::doubleClick(std::int32_t labelId) {
  reachable(labelId, ControlKind::staticText, "double-click");
  events_.onLabelDoubleClicked(labelId);
}

platform::MouseEvent HeadlessDialog::mouseAt(MouseButton button, std::int32_t x, std::int32_t y) const {
  platform::MouseEvent event{0, x, y, button};
  for (const auto& [id, control] : controls_) {
    if (control.kind == ControlKind::frame && control.visible && control.bounds.contains(x, y)) event.pane = id;
  }
  return event;
}

void HeadlessDialog::mouseDown(MouseButton button, std::int32_t x, std::int32_t y) {
  if (ended()) throw std::logic_error("mouse: the dialog has ended");
  events_.onMouseDown(mouseAt(button, x, y));
}

void HeadlessDialog::mouseMove(std::int32_t x, std::int32_t y) {
  if (ended()) throw std::logic_error("mouse: the dialog has ended");
  events_.onMouseMove(mouseAt(MouseButton::left, x, y));
}

void HeadlessDialog::mouseUp(MouseButton button, std::int32_t x, std::int32_t y) {
  if (ended()) throw std::logic_error("mouse: the dialog has ended");
  events_.onMouseUp(mouseAt(button, x, y));
}

void HeadlessDialog::wheel(std::int32_t delta, std::int32_t x, std::int32_t y) {
  if (ended()) throw std::logic_error("wheel: the dialog has ended");
  events_.onMouseWheel(mouseAt(MouseButton::middle, x, y), delta);
}

void HeadlessDialog::mouseLeave() { events_.onMouseLeave(); }

void HeadlessDialog::loseCapture() {
  captured_ = false;
  events_.onCaptureLost();
}

void HeadlessDialog::resize(std::int32_t windowWidth, std::int32_t windowHeight) {
  if (ended()) throw std::logic_error("resize: the dialog has ended");
  applyWindowBounds(Rect{window_.left, window_.top, std::max(windowWidth, minimumSize_.width),
                         std::max(windowHeight, minimumSize_.height)},
                    true);
}

int HeadlessDialog::paint() {
  int painted = 0;
  for (auto& [id, control] : controls_) {
    if (!control.invalid) continue;
    control.invalid = false;
    if (!control.visible) continue;
    paints_.push_back(Paint{id, {}, {}});
    RecordingCanvas canvas(paints_.back());
    events_.onPaint(id, canvas);
    ++painted;
  }
  return painted;
}

// --- what the user sees ---

bool HeadlessDialog::exists(std::int32_t id) const { return find(id) != nullptr; }

std::int32_t HeadlessDialog::sliderMinimum(std::int32_t id) const {
  const Control* c = find(id);
  return c != nullptr ? c->minimum : 0;
}

std::int32_t HeadlessDialog::sliderMaximum(std::int32_t id) const {
  const Control* c = find(id);
  return c != nullptr ? c->maximum : 0;
}

bool HeadlessDialog::invalidated(std::int32_t paneId) const {
  const Control* c = find(paneId);
  return c != nullptr && c->invalid;
}

// --- platform::DialogWindow ---

void HeadlessDialog::endDialog(int code) {
  if (!ended()) endCode_ = code;
}

void HeadlessDialog::setTitle(const std::string& title) { title_ = title; }
std::string HeadlessDialog::title() const { return title_; }

void HeadlessDialog::setVisible(std::int32_t id, bool visible) {
  if (Control* c = find(id)) c->visible = visible;
}

bool HeadlessDialog::isVisible(std::int32_t id) const {
  const Control* c = find(id);
  return c != nullptr && c->visible;
}

void HeadlessDialog::setText(std::int32_t id, const std::string& text) {
  Control* c = find(id);
  if (c == nullptr) return;
  c->text = text;
  if (options_.echoProgrammaticChanges && c->kind == ControlKind::editBox) events_.onEditChanged(id);
}

std::string HeadlessDialog::text(std::int32_t id) const {
  const Control* c = find(id);
  return c != nullptr ? c->text : std::string();
}

void HeadlessDialog::setChecked(std::int32_t id, bool checked) {
  if (Control* c = find(id)) c->checked = checked;
}

bool HeadlessDialog::isChecked(std::int32_t id) const {
  const Control* c = find(id);
  return c != nullptr && c->checked;
}

void HeadlessDialog::setSliderRange(std::int32_t id, std::int32_t minimum, std::int32_t maximum) {
  Control* c = find(id);
  if (c == nullptr || c->kind != ControlKind::slider) return;
  c->minimum = minimum;
  c->maximum = std::max(minimum, maximum);
  c->position = std::clamp(c->position, c->minimum, c->maximum);
  if (options_.echoProgrammaticChanges) events_.onSliderMoved(id, c->position);
}

void HeadlessDialog::setSliderPosition(std::int32_t id, std::int32_t position) {
  Control* c = find(id);
  if (c == nullptr || c->kind != ControlKind::slider) return;
  c->position = std::clamp(position, c->minimum, c->maximum);
  if (options_.echoProgrammaticChanges) events_.onSliderMoved(id, c->position);
}

std::int32_t HeadlessDialog::sliderPosition(std::int32_t id) const {
  const Control* c = find(id);
  return c != nullptr ? c->position : 0;
}

void HeadlessDialog::setFocus(std::int32_t id) {
  if (find(id) != nullptr) focus_ = id;
}

Rect HeadlessDialog::controlBounds(std::int32_t id) const {
  const Control* c = find(id);
  return c != nullptr ? c->bounds : Rect{};
}

void HeadlessDialog::setControlBounds(std::int32_t id, const Rect& bounds) {
  if (Control* c = find(id)) c->bounds = bounds;
}

Rect HeadlessDialog::windowBounds() const { return window_; }

void HeadlessDialog::setWindowBounds(const Rect& bounds) {
  applyWindowBounds(bounds, options_.echoProgrammaticChanges);
}

void HeadlessDialog::applyWindowBounds(const Rect& bounds, bool raise) {
  const bool resized = bounds.width != window_.width || bounds.height != window_.height;
  window_ = bounds;
  if (resized && raise) events_.onSizeChanged();
}

Size HeadlessDialog::clientSize() const {
  return Size{std::max(0, window_.width - options_.frame.width), std::max(0, window_.height - options_.frame.height)};
}

Rect HeadlessDialog::workArea() const { return options_.workArea; }

void HeadlessDialog::setMinimumWindowSize(Size size) { minimumSize_ = size; }

void HeadlessDialog::invalidate(std::int32_t paneId, bool /*erase*/) {
  Control* c = find(paneId);
  if (c != nullptr && c->kind == ControlKind::frame) c->invalid = true;
}

void HeadlessDialog::invalidateArea(const Rect& area, bool /*erase*/) {
  for (auto& [id, control] : controls_) {
    if (control.kind == ControlKind::frame && overlaps(control.bounds, area)) control.invalid = true;
  }
}

void HeadlessDialog::setMouseCapture(bool captured) { captured_ = captured; }

void HeadlessDialog::setCursor(platform::CursorShape shape) { cursor_ = shape; }

// --- HeadlessToolkit ---

HeadlessToolkit::HeadlessToolkit(Script script, HeadlessDialog::Options options)
    : script_(std::move(script)), options_(options) {}

int HeadlessToolkit::runModal(const platform::DialogTemplate& dialog, platform::DialogEvents& events) {
  HeadlessDialog window(dialog, events, options_);
  window.open();
  if (script_ && !window.ended()) script_(window);
  return window.endCode();
}

}  // namespace veltrane::ui
