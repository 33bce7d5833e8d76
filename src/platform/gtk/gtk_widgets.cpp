// The filter dialog on GTK 3: the template's controls placed at their
// dialog-unit positions in a layout container, driven through the widget
// seam. Built into its own shared object (gtk_toolkit.h), so nothing here
// may be linked into a plug-in module.
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/gtk_toolkit.h"

namespace veltrane::platform::gtk {
namespace {

constexpr std::int32_t cancelId = 2;  // what Escape and the window's close button press
constexpr std::int32_t gripSize = 16;

// The template's font where GTK has it, else the desktop's sans serif.
std::string fontFamily(const char* font) {
  const std::string name = font != nullptr ? font : "";
  return name.empty() || name.rfind("MS ", 0) == 0 ? std::string("Sans") : name;
}

// Average character width and line height of the font, as the window
// system measures a dialog font: 52 letters, rounded to whole pixels.
Size measureBaseUnits(const char* font, std::int32_t pointSize) {
  PangoContext* context = gdk_pango_context_get();
  PangoFontDescription* description = pango_font_description_new();
  pango_font_description_set_family(description, fontFamily(font).c_str());
  pango_font_description_set_size(description, std::max(1, pointSize) * PANGO_SCALE);
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_font_description(layout, description);
  pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
  int width = 0;
  int height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  g_object_unref(layout);
  pango_font_description_free(description);
  g_object_unref(context);
  return Size{std::max(1, (width / 26 + 1) / 2), std::max(1, height)};
}

// A template text for GTK: "&x" marks the mnemonic ("_x"), "&&" is one
// '&', and a literal '_' is doubled.
std::string mnemonicText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 4);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out += '&';
        ++i;
      } else {
        out += '_';
      }
    } else if (c == '_') {
      out += "__";
    } else {
      out += c;
    }
  }
  return out;
}

// The text a control shows, back in template form ('&' doubled).
std::string templateText(const std::string& shown) {
  std::string out;
  for (const char c : shown) {
    out += c;
    if (c == '&') out += '&';
  }
  return out;
}

MouseButton buttonOf(guint button) {
  switch (button) {
    case 1: return MouseButton::left;
    case 3: return MouseButton::right;
    default: return MouseButton::middle;
  }
}

class FilterWindow;

// Drawing during a pane's draw signal, in the dialog's client coordinates.
class PaneCanvas final : public Canvas {
 public:
  PaneCanvas(cairo_t* cr, const Rect& pane) : cr_(cr) {
    cairo_save(cr_);
    cairo_translate(cr_, -pane.left, -pane.top);
  }
  ~PaneCanvas() override { cairo_restore(cr_); }
  PaneCanvas(const PaneCanvas&) = delete;
  PaneCanvas& operator=(const PaneCanvas&) = delete;

  void drawImage(std::int32_t x, std::int32_t y, const PixelView& image) override {
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return;
    if (image.channels != 1 && image.channels != 3) return;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, image.height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(surface);
      return;
    }
    cairo_surface_flush(surface);
    unsigned char* bits = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (std::int32_t row = 0; row < image.height; ++row) {
      const std::uint8_t* in = image.pixels + static_cast<std::ptrdiff_t>(row) * image.rowBytes;
      auto* out = reinterpret_cast<std::uint32_t*>(bits + static_cast<std::ptrdiff_t>(row) * stride);
      for (std::int32_t col = 0; col < image.width; ++col, in += image.channels) {
        const std::uint32_t r = in[0];
        const std::uint32_t g = image.channels == 3 ? in[1] : in[0];
        const std::uint32_t b = image.channels == 3 ? in[2] : in[0];
        out[col] = 0xFF000000u | (r << 16) | (g << 8) | b;
      }
    }
    cairo_surface_mark_dirty(surface);
    cairo_set_source_surface(cr_, surface, x, y);
    cairo_paint(cr_);
    cairo_surface_destroy(surface);
  }

  void fillFace(const Rect& area) override {
    // The panes' own colour: the window background under the layout.
    cairo_set_source_rgb(cr_, 0.93, 0.93, 0.92);
    cairo_rectangle(cr_, area.left, area.top, area.width, area.height);
    cairo_fill(cr_);
  }

  // The grip is a control of its own in the window's corner.
  void drawSizeGrip() override {}

  void* displayContext() override { return cr_; }

 private:
  cairo_t* cr_;
};

struct Control {
  std::int32_t id = 0;
  ControlKind kind = ControlKind::staticText;
  GtkWidget* widget = nullptr;  // what is placed in the layout
  GtkWidget* inner = nullptr;   // the label inside a static's event box
  Rect bounds;
  FilterWindow* dialog = nullptr;
};

// The open dialog. Lives on the stack of runModal; the widgets' signal
// handlers reach it through their Control.
class FilterWindow final : public DialogWindow {
 public:
  FilterWindow(const DialogTemplate& dialog, DialogEvents& events) : events_(events) {
    base_ = measureBaseUnits(dialog.font, dialog.fontSize);
    build(dialog);
  }
  ~FilterWindow() override {
    // No signal reaches the dialog logic once the window starts to go.
    g_signal_handlers_disconnect_by_data(window_, this);
    g_signal_handlers_disconnect_by_data(layout_, this);
    g_signal_handlers_disconnect_by_data(grip_, this);
    for (Control& c : controls_) g_signal_handlers_disconnect_by_data(c.widget, &c);
    gtk_style_context_remove_provider_for_screen(gtk_widget_get_screen(window_), GTK_STYLE_PROVIDER(css_));
    g_object_unref(css_);
    gtk_widget_destroy(window_);
    // Let the window system take the window away before returning.
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  }
  FilterWindow(const FilterWindow&) = delete;
  FilterWindow& operator=(const FilterWindow&) = delete;

  int run();

  // --- DialogWindow ---
  void endDialog(int code) override {
    code_ = code;
    ended_ = true;
    if (loop_ != nullptr) g_main_loop_quit(loop_);
  }
  void setTitle(const std::string& title) override { gtk_window_set_title(GTK_WINDOW(window_), title.c_str()); }
  std::string title() const override {
    const char* t = gtk_window_get_title(GTK_WINDOW(window_));
    return t != nullptr ? t : "";
  }

  void setVisible(std::int32_t id, bool visible) override {
    if (Control* c = find(id)) gtk_widget_set_visible(c->widget, visible);
  }
  bool isVisible(std::int32_t id) const override {
    const Control* c = find(id);
    return c != nullptr && gtk_widget_get_visible(c->widget);
  }

  void setText(std::int32_t id, const std::string& text) override;
  std::string text(std::int32_t id) const override;

  void setChecked(std::int32_t id, bool checked) override {
    Control* c = find(id, ControlKind::checkBox);
    if (c == nullptr) return;
    quiet_ = true;  // a check box set by the dialog raises no "toggled"
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->widget), checked);
    quiet_ = false;
  }
  bool isChecked(std::int32_t id) const override {
    const Control* c = find(id, ControlKind::checkBox);
    return c != nullptr && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->widget));
  }

  void setSliderRange(std::int32_t id, std::int32_t minimum, std::int32_t maximum) override {
    Control* c = find(id, ControlKind::slider);
    if (c == nullptr) return;
    maximum = std::max(minimum, maximum);
    const std::int32_t position = std::clamp(sliderPosition(id), minimum, maximum);
    GtkRange* range = GTK_RANGE(c->widget);
    gtk_range_set_range(range, minimum, maximum);
    gtk_range_set_increments(range, 1.0, std::max(1.0, std::floor((maximum - minimum) / 5.0)));
    gtk_range_set_value(range, position);
  }
  void setSliderPosition(std::int32_t id, std::int32_t position) override {
    Control* c = find(id, ControlKind::slider);
    if (c == nullptr) return;
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(c->widget));
    const auto minimum = static_cast<std::int32_t>(std::lround(gtk_adjustment_get_lower(a)));
    const auto maximum = static_cast<std::int32_t>(std::lround(gtk_adjustment_get_upper(a)));
    gtk_range_set_value(GTK_RANGE(c->widget), std::clamp(position, minimum, std::max(minimum, maximum)));
  }
  std::int32_t sliderPosition(std::int32_t id) const override {
    const Control* c = find(id, ControlKind::slider);
    return c != nullptr ? static_cast<std::int32_t>(std::lround(gtk_range_get_value(GTK_RANGE(c->widget)))) : 0;
  }

  void setFocus(std::int32_t id) override {
    if (Control* c = find(id)) gtk_widget_grab_focus(c->inner != nullptr ? c->inner : c->widget);
  }

  Rect controlBounds(std::int32_t id) const override {
    const Control* c = find(id);
    return c != nullptr ? c->bounds : Rect{};
  }
  void setControlBounds(std::int32_t id, const Rect& bounds) override {
    Control* c = find(id);
    if (c == nullptr) return;
    c->bounds = bounds;
    place(c->widget, bounds);
  }

  Rect windowBounds() const override {
    const Size frame = frameSize();
    return Rect{position_.left, position_.top, client_.width + frame.width, client_.height + frame.height};
  }
  void setWindowBounds(const Rect& bounds) override {
    const Size frame = frameSize();
    const Size client{std::max(1, bounds.width - frame.width), std::max(1, bounds.height - frame.height)};
    position_.left = bounds.left;
    position_.top = bounds.top;
    gtk_window_move(GTK_WINDOW(window_), bounds.left, bounds.top);
    gtk_window_resize(GTK_WINDOW(window_), client.width, client.height);
    if (!(client == client_)) {
      client_ = client;
      placeGrip();
      events_.onSizeChanged();
    }
  }
  Size clientSize() const override { return client_; }
  Rect workArea() const override {
    GdkDisplay* display = gtk_widget_get_display(window_);
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle r{0, 0, 1024, 768};
    if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &r);
    return Rect{r.x, r.y, r.width, r.height};
  }
  void setMinimumWindowSize(Size size) override {
    const Size frame = frameSize();
    GdkGeometry hints{};
    hints.min_width = std::max(1, size.width - frame.width);
    hints.min_height = std::max(1, size.height - frame.height);
    gtk_window_set_geometry_hints(GTK_WINDOW(window_), nullptr, &hints, GDK_HINT_MIN_SIZE);
  }

  void invalidate(std::int32_t paneId, bool /*erase*/) override {
    if (Control* c = find(paneId, ControlKind::frame)) gtk_widget_queue_draw(c->widget);
  }
  void invalidateArea(const Rect& area, bool /*erase*/) override {
    for (Control& c : controls_) {
      if (c.kind == ControlKind::frame && overlaps(c.bounds, area)) gtk_widget_queue_draw(c.widget);
    }
  }

  // A press on a pane holds the pointer for the pane until the release
  // (GTK's implicit grab): that is the capture the preview needs.
  void setMouseCapture(bool captured) override { captured_ = captured; }
  void setCursor(CursorShape shape) override {
    cursor_ = shape;
    applyCursor();
  }

  // --- signals ---
  void onClicked(Control& c) {
    if (!quiet_) events_.onButtonClicked(c.id);
  }
  void onToggled(Control& c) {
    if (!quiet_) events_.onCheckBoxToggled(c.id);
  }
  void onChanged(Control& c) { events_.onEditChanged(c.id); }
  void onValueChanged(Control& c) { events_.onSliderMoved(c.id, sliderPosition(c.id)); }
  void onLabelPress(Control& c, const GdkEventButton& e) {
    if (e.type == GDK_2BUTTON_PRESS && e.button == 1) events_.onLabelDoubleClicked(c.id);
  }
  bool onPointer(const Control* c, GdkEvent* e);
  void onDraw(Control& c, cairo_t* cr) {
    {
      PaneCanvas canvas(cr, c.bounds);
      events_.onPaint(c.id, canvas);
    }
    // The pane's sunken frame, over what was painted.
    GtkStyleContext* style = gtk_widget_get_style_context(c.widget);
    gtk_render_frame(style, cr, 0, 0, c.bounds.width, c.bounds.height);
  }
  void onAllocated(const GtkAllocation& a) {
    const Size client{a.width, a.height};
    if (client == client_ || a.width <= 1 || a.height <= 1) return;
    client_ = client;
    placeGrip();
    events_.onSizeChanged();
  }
  void onConfigured(const GdkEventConfigure& e) {
    GdkWindow* w = gtk_widget_get_window(window_);
    GdkRectangle frame{e.x, e.y, 0, 0};
    if (w != nullptr) gdk_window_get_frame_extents(w, &frame);
    position_.left = frame.x;
    position_.top = frame.y;
  }
  bool onKey(const GdkEventKey& e);
  void onFocusOut() { events_.onCaptureLost(); }
  void onGripPress(const GdkEventButton& e) {
    if (e.button == 1)
      gtk_window_begin_resize_drag(GTK_WINDOW(window_), GDK_WINDOW_EDGE_SOUTH_EAST, static_cast<gint>(e.button),
                                   static_cast<gint>(e.x_root), static_cast<gint>(e.y_root), e.time);
  }
  void onClose() {
    if (find(cancelId) != nullptr) {
      events_.onButtonClicked(cancelId);
    } else {
      endDialog(cancelId);
    }
  }

  GtkWidget* window() const { return window_; }

 private:
  static bool overlaps(const Rect& a, const Rect& b) {
    return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
           b.top < a.top + a.height;
  }
  Control* find(std::int32_t id) {
    for (Control& c : controls_)
      if (c.id == id) return &c;
    return nullptr;
  }
  const Control* find(std::int32_t id) const { return const_cast<FilterWindow*>(this)->find(id); }
  Control* find(std::int32_t id, ControlKind kind) {
    Control* c = find(id);
    return c != nullptr && c->kind == kind ? c : nullptr;
  }
  const Control* find(std::int32_t id, ControlKind kind) const { return const_cast<FilterWindow*>(this)->find(id, kind); }

  Size frameSize() const {
    GdkWindow* w = gtk_widget_get_window(window_);
    if (w == nullptr || !gtk_widget_get_mapped(window_)) return {};
    GdkRectangle frame{};
    gdk_window_get_frame_extents(w, &frame);
    return Size{std::max(0, frame.width - gdk_window_get_width(w)), std::max(0, frame.height - gdk_window_get_height(w))};
  }

  void build(const DialogTemplate& dialog);
  void placeGrip() {
    if (grip_ != nullptr)
      place(grip_, Rect{std::max(0, client_.width - gripSize), std::max(0, client_.height - gripSize), gripSize, gripSize});
  }
  // Moves and sizes a child of the layout at once: a move asked for while
  // the layout is being allocated (the window was resized) would otherwise
  // wait for the next change of size.
  void place(GtkWidget* child, const Rect& r) {
    const int width = std::max(1, r.width);
    const int height = std::max(1, r.height);
    gtk_layout_move(GTK_LAYOUT(layout_), child, r.left, r.top);
    gtk_widget_set_size_request(child, width, height);
    if (gtk_widget_get_realized(layout_) && gtk_widget_get_visible(child)) {
      GtkAllocation a{r.left, r.top, width, height};
      gtk_widget_size_allocate(child, &a);
    }
  }
  void applyCursor() {
    GdkWindow* w = gtk_widget_get_window(window_);
    if (w == nullptr) return;
    GdkCursor* cursor = cursor_ == CursorShape::crossHair
                            ? gdk_cursor_new_from_name(gdk_window_get_display(w), "crosshair")
                            : nullptr;
    gdk_window_set_cursor(w, cursor);
    for (Control& c : controls_) {
      if (c.kind != ControlKind::frame) continue;
      if (GdkWindow* pane = gtk_widget_get_window(c.widget)) gdk_window_set_cursor(pane, cursor);
    }
    if (cursor != nullptr) g_object_unref(cursor);
  }
  // Client coordinates of a point of a widget's window.
  MouseEvent mouseAt(const Control* c, double x, double y, MouseButton button) const {
    const std::int32_t dx = c != nullptr ? c->bounds.left : 0;
    const std::int32_t dy = c != nullptr ? c->bounds.top : 0;
    MouseEvent event{0, dx + static_cast<std::int32_t>(std::floor(x)), dy + static_cast<std::int32_t>(std::floor(y)),
                     button};
    for (const Control& pane : controls_) {
      if (pane.kind == ControlKind::frame && gtk_widget_get_visible(pane.widget) &&
          pane.bounds.contains(event.x, event.y))
        event.pane = pane.id;
    }
    return event;
  }

  DialogEvents& events_;
  Size base_;
  std::vector<Control> controls_;  // never resized after build: the signals hold pointers
  GtkWidget* window_ = nullptr;
  GtkCssProvider* css_ = nullptr;
  GtkWidget* layout_ = nullptr;
  GtkWidget* grip_ = nullptr;
  std::int32_t defaultButton_ = 0;
  Size client_;
  Rect position_;
  GMainLoop* loop_ = nullptr;
  CursorShape cursor_ = CursorShape::arrow;
  int code_ = cancelId;
  bool ended_ = false;
  bool quiet_ = false;
  bool captured_ = false;
};

void FilterWindow::setText(std::int32_t id, const std::string& text) {
  Control* c = find(id);
  if (c == nullptr) return;
  switch (c->kind) {
    case ControlKind::editBox:
      gtk_entry_set_text(GTK_ENTRY(c->widget), text.c_str());
      return;
    case ControlKind::staticText:
      gtk_label_set_text_with_mnemonic(GTK_LABEL(c->inner), mnemonicText(text).c_str());
      return;
    case ControlKind::pushButton:
    case ControlKind::defaultPushButton:
    case ControlKind::checkBox:
      gtk_button_set_label(GTK_BUTTON(c->widget), mnemonicText(text).c_str());
      return;
    case ControlKind::slider:
    case ControlKind::frame:
      return;
  }
}

std::string FilterWindow::text(std::int32_t id) const {
  const Control* c = find(id);
  if (c == nullptr) return {};
  const char* t = nullptr;
  switch (c->kind) {
    case ControlKind::editBox:
      t = gtk_entry_get_text(GTK_ENTRY(c->widget));
      return t != nullptr ? t : "";
    case ControlKind::staticText:
      t = gtk_label_get_text(GTK_LABEL(c->inner));
      return t != nullptr ? templateText(t) : "";
    case ControlKind::pushButton:
    case ControlKind::defaultPushButton:
    case ControlKind::checkBox: {
      GtkWidget* child = gtk_bin_get_child(GTK_BIN(c->widget));
      t = child != nullptr && GTK_IS_LABEL(child) ? gtk_label_get_text(GTK_LABEL(child)) : nullptr;
      return t != nullptr ? templateText(t) : "";
    }
    case ControlKind::slider:
    case ControlKind::frame:
      return {};
  }
  return {};
}

bool FilterWindow::onPointer(const Control* c, GdkEvent* e) {
  switch (e->type) {
    case GDK_BUTTON_PRESS: {
      const GdkEventButton& b = e->button;
      if (c != nullptr && c->kind == ControlKind::frame) gtk_widget_grab_focus(c->widget);
      events_.onMouseDown(mouseAt(c, b.x, b.y, buttonOf(b.button)));
      return true;
    }
    case GDK_BUTTON_RELEASE: {
      const GdkEventButton& b = e->button;
      events_.onMouseUp(mouseAt(c, b.x, b.y, buttonOf(b.button)));
      return true;
    }
    case GDK_MOTION_NOTIFY: {
      const GdkEventMotion& m = e->motion;
      events_.onMouseMove(mouseAt(c, m.x, m.y, MouseButton::left));
      gdk_event_request_motions(&m);
      return true;
    }
    case GDK_SCROLL: {
      const GdkEventScroll& s = e->scroll;
      std::int32_t delta = 0;
      if (s.direction == GDK_SCROLL_UP) delta = 120;
      if (s.direction == GDK_SCROLL_DOWN) delta = -120;
      if (s.direction == GDK_SCROLL_SMOOTH) delta = static_cast<std::int32_t>(std::lround(-s.delta_y * 120.0));
      if (delta != 0) events_.onMouseWheel(mouseAt(c, s.x, s.y, MouseButton::middle), delta);
      return true;
    }
    case GDK_LEAVE_NOTIFY:
      // Only when the pointer leaves the dialog, not when it moves between
      // its parts.
      if (c == nullptr && e->crossing.detail != GDK_NOTIFY_INFERIOR) events_.onMouseLeave();
      return false;
    case GDK_GRAB_BROKEN:
      events_.onCaptureLost();
      return false;
    default:
      return false;
  }
}

bool FilterWindow::onKey(const GdkEventKey& e) {
  if (e.keyval == GDK_KEY_Escape) {
    onClose();
    return true;
  }
  if (e.keyval == GDK_KEY_Return || e.keyval == GDK_KEY_KP_Enter || e.keyval == GDK_KEY_ISO_Enter) {
    // A focused button presses itself; anywhere else Enter presses the
    // default button.
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window_));
    if (focus != nullptr && GTK_IS_BUTTON(focus) && !GTK_IS_TOGGLE_BUTTON(focus)) return false;
    if (defaultButton_ != 0 && isVisible(defaultButton_)) {
      events_.onButtonClicked(defaultButton_);
      return true;
    }
  }
  return false;
}

// --- signal trampolines: nothing may leave them as an exception ---

template <typename Body>
gboolean guarded(Body&& body) noexcept {
  try {
    return body() ? TRUE : FALSE;
  } catch (...) {
    return FALSE;
  }
}

void clickedSignal(GtkButton*, gpointer data) {
  auto* c = static_cast<Control*>(data);
  guarded([&] { c->dialog->onClicked(*c); return true; });
}
void toggledSignal(GtkToggleButton*, gpointer data) {
  auto* c = static_cast<Control*>(data);
  guarded([&] { c->dialog->onToggled(*c); return true; });
}
void changedSignal(GtkEditable*, gpointer data) {
  auto* c = static_cast<Control*>(data);
  guarded([&] { c->dialog->onChanged(*c); return true; });
}
void valueChangedSignal(GtkRange*, gpointer data) {
  auto* c = static_cast<Control*>(data);
  guarded([&] { c->dialog->onValueChanged(*c); return true; });
}
gboolean labelPressSignal(GtkWidget*, GdkEventButton* e, gpointer data) {
  auto* c = static_cast<Control*>(data);
  return guarded([&] { c->dialog->onLabelPress(*c, *e); return false; });
}
gboolean panePointerSignal(GtkWidget*, GdkEvent* e, gpointer data) {
  auto* c = static_cast<Control*>(data);
  return guarded([&] { return c->dialog->onPointer(c, e); });
}
gboolean layoutPointerSignal(GtkWidget*, GdkEvent* e, gpointer data) {
  auto* d = static_cast<FilterWindow*>(data);
  return guarded([&] { return d->onPointer(nullptr, e); });
}
gboolean drawSignal(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* c = static_cast<Control*>(data);
  return guarded([&] { c->dialog->onDraw(*c, cr); return true; });
}
void allocateSignal(GtkWidget*, GtkAllocation* a, gpointer data) {
  auto* d = static_cast<FilterWindow*>(data);
  guarded([&] { d->onAllocated(*a); return true; });
}
gboolean configureSignal(GtkWidget*, GdkEventConfigure* e, gpointer data) {
  auto* d = static_cast<FilterWindow*>(data);
  guarded([&] { d->onConfigured(*e); return true; });
  return FALSE;
}
gboolean keySignal(GtkWidget*, GdkEventKey* e, gpointer data) {
  auto* d = static_cast<FilterWindow*>(data);
  return guarded([&] { return d->onKey(*e); });
}
gboolean focusOutSignal(GtkWidget*, GdkEventFocus*, gpointer data) {
  auto* d = static_cast<FilterWindow*>(data);
  guarded([&] { d->onFocusOut(); return true; });
  return FALSE;
}
gboolean deleteSignal(GtkWidget*, GdkEvent*, gpointer data) {
  auto* d = static_cast<FilterWindow*>(data);
  guarded([&] { d->onClose(); return true; });
  return TRUE;  // the dialog decides when the window goes
}
gboolean gripPressSignal(GtkWidget*, GdkEventButton* e, gpointer data) {
  auto* d = static_cast<FilterWindow*>(data);
  return guarded([&] { d->onGripPress(*e); return true; });
}
gboolean gripDrawSignal(GtkWidget* widget, cairo_t* cr, gpointer) {
  // Three diagonal ridges in the corner.
  const int w = gtk_widget_get_allocated_width(widget);
  const int h = gtk_widget_get_allocated_height(widget);
  cairo_set_line_width(cr, 1.0);
  for (int i = 1; i <= 3; ++i) {
    const double d = 4.0 * i;
    cairo_set_source_rgb(cr, 0.55, 0.55, 0.55);
    cairo_move_to(cr, w - d + 0.5, h - 1.5);
    cairo_line_to(cr, w - 1.5, h - d + 0.5);
    cairo_stroke(cr);
  }
  return TRUE;
}

// Compact controls at the template's positions: no theme padding that
// would not fit a dialog-unit grid.
constexpr const char* dialogStyle =
    "window.veltrane-dialog * { font-family: %s; font-size: %dpt; }\n"
    "window.veltrane-dialog button, window.veltrane-dialog entry {"
    " min-height: 0; min-width: 0; padding: 0 4px; }\n"
    "window.veltrane-dialog scale { min-height: 0; padding: 0 6px; }\n"
    "window.veltrane-dialog checkbutton { min-height: 0; padding: 0; }\n"
    "window.veltrane-dialog .pane { border: 1px solid #9a9a9a; }\n";

void FilterWindow::build(const DialogTemplate& dialog) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
  gtk_window_set_title(GTK_WINDOW(window_), dialog.caption != nullptr ? dialog.caption : "");
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(GTK_WINDOW(window_), TRUE);
  GtkStyleContext* windowStyle = gtk_widget_get_style_context(window_);
  gtk_style_context_add_class(windowStyle, "veltrane-dialog");
  // The style is the screen's while the dialog is open.
  css_ = gtk_css_provider_new();
  const std::string family = fontFamily(dialog.font);
  gchar* rules = g_strdup_printf(dialogStyle, family.c_str(), static_cast<int>(dialog.fontSize));
  gtk_css_provider_load_from_data(css_, rules, -1, nullptr);
  g_free(rules);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_), GTK_STYLE_PROVIDER(css_),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  // A layout asks for no size of its own: the window can shrink below the
  // panes the dialog has grown; the minimum comes from setMinimumWindowSize.
  layout_ = gtk_layout_new(nullptr, nullptr);
  gtk_widget_add_events(layout_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                     GDK_SCROLL_MASK | GDK_LEAVE_NOTIFY_MASK);
  gtk_container_add(GTK_CONTAINER(window_), layout_);
  for (const char* name : {"button-press-event", "button-release-event", "motion-notify-event", "scroll-event",
                           "leave-notify-event"})
    g_signal_connect(layout_, name, G_CALLBACK(layoutPointerSignal), this);
  g_signal_connect(layout_, "size-allocate", G_CALLBACK(allocateSignal), this);
  g_signal_connect(window_, "configure-event", G_CALLBACK(configureSignal), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(keySignal), this);
  g_signal_connect(window_, "focus-out-event", G_CALLBACK(focusOutSignal), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(deleteSignal), this);

  controls_.reserve(dialog.controls.size());
  for (const ControlSpec& spec : dialog.controls) {
    Control& c = controls_.emplace_back();
    c.id = spec.id;
    c.kind = spec.kind;
    c.dialog = this;
    c.bounds = dialogUnitsToPixels(spec.x, spec.y, spec.width, spec.height, base_);
    const std::string text = mnemonicText(spec.text != nullptr ? spec.text : "");
    switch (spec.kind) {
      case ControlKind::pushButton:
      case ControlKind::defaultPushButton:
        c.widget = gtk_button_new_with_mnemonic(text.c_str());
        g_signal_connect(c.widget, "clicked", G_CALLBACK(clickedSignal), &c);
        if (spec.kind == ControlKind::defaultPushButton) {
          defaultButton_ = spec.id;
          gtk_widget_set_can_default(c.widget, TRUE);
          gtk_window_set_default(GTK_WINDOW(window_), c.widget);
        }
        break;
      case ControlKind::checkBox:
        c.widget = gtk_check_button_new_with_mnemonic(text.c_str());
        g_signal_connect(c.widget, "toggled", G_CALLBACK(toggledSignal), &c);
        break;
      case ControlKind::staticText:
        c.inner = gtk_label_new_with_mnemonic(text.c_str());
        gtk_label_set_xalign(GTK_LABEL(c.inner), 0.0f);
        gtk_label_set_yalign(GTK_LABEL(c.inner), 0.0f);
        gtk_label_set_line_wrap(GTK_LABEL(c.inner), TRUE);
        gtk_label_set_max_width_chars(GTK_LABEL(c.inner), 1);
        c.widget = gtk_event_box_new();
        gtk_event_box_set_visible_window(GTK_EVENT_BOX(c.widget), FALSE);
        gtk_container_add(GTK_CONTAINER(c.widget), c.inner);
        gtk_widget_show(c.inner);
        g_signal_connect(c.widget, "button-press-event", G_CALLBACK(labelPressSignal), &c);
        break;
      case ControlKind::slider:
        c.widget = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0.0, 100.0, 1.0);
        gtk_scale_set_draw_value(GTK_SCALE(c.widget), FALSE);
        gtk_scale_set_digits(GTK_SCALE(c.widget), 0);
        gtk_range_set_round_digits(GTK_RANGE(c.widget), 0);
        g_signal_connect(c.widget, "value-changed", G_CALLBACK(valueChangedSignal), &c);
        break;
      case ControlKind::editBox:
        c.widget = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(c.widget), 1);
        gtk_entry_set_activates_default(GTK_ENTRY(c.widget), TRUE);
        gtk_entry_set_text(GTK_ENTRY(c.widget), spec.text != nullptr ? spec.text : "");
        g_signal_connect(c.widget, "changed", G_CALLBACK(changedSignal), &c);
        break;
      case ControlKind::frame:
        c.widget = gtk_drawing_area_new();
        gtk_widget_set_can_focus(c.widget, TRUE);
        gtk_style_context_add_class(gtk_widget_get_style_context(c.widget), "pane");
        gtk_style_context_add_class(gtk_widget_get_style_context(c.widget), GTK_STYLE_CLASS_FRAME);
        gtk_widget_add_events(c.widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                            GDK_SCROLL_MASK | GDK_LEAVE_NOTIFY_MASK);
        for (const char* name : {"button-press-event", "button-release-event", "motion-notify-event",
                                 "scroll-event", "grab-broken-event"})
          g_signal_connect(c.widget, name, G_CALLBACK(panePointerSignal), &c);
        g_signal_connect(c.widget, "draw", G_CALLBACK(drawSignal), &c);
        break;
    }
    gtk_widget_set_size_request(c.widget, std::max(1, c.bounds.width), std::max(1, c.bounds.height));
    gtk_layout_put(GTK_LAYOUT(layout_), c.widget, c.bounds.left, c.bounds.top);
    gtk_widget_set_visible(c.widget, !spec.initiallyHidden);
  }
  // Dialog-unit tab order: the template's order, which GTK follows.
  grip_ = gtk_drawing_area_new();
  gtk_widget_set_size_request(grip_, gripSize, gripSize);
  gtk_widget_add_events(grip_, GDK_BUTTON_PRESS_MASK);
  g_signal_connect(grip_, "button-press-event", G_CALLBACK(gripPressSignal), this);
  g_signal_connect(grip_, "draw", G_CALLBACK(gripDrawSignal), nullptr);
  const Rect client = dialogUnitsToPixels(0, 0, dialog.width, dialog.height, base_);
  client_ = Size{client.width, client.height};
  gtk_layout_put(GTK_LAYOUT(layout_), grip_, client_.width - gripSize, client_.height - gripSize);
  gtk_widget_show(grip_);
  gtk_widget_show(layout_);
  gtk_window_set_default_size(GTK_WINDOW(window_), client_.width, client_.height);
}

int FilterWindow::run() {
  events_.onOpen(*this);
  if (ended_) return code_;
  gtk_widget_show(window_);
  gtk_window_present(GTK_WINDOW(window_));
  applyCursor();
  loop_ = g_main_loop_new(nullptr, FALSE);
  if (!ended_) g_main_loop_run(loop_);
  g_main_loop_unref(loop_);
  loop_ = nullptr;
  gtk_widget_hide(window_);
  return code_;
}

GtkWidget*& openDialogWindow() {
  static GtkWidget* window = nullptr;
  return window;
}

class GtkToolkit final : public WidgetToolkit {
 public:
  int runModal(const DialogTemplate& dialog, DialogEvents& events) override {
    FilterWindow window(dialog, events);
    GtkWidget*& open = openDialogWindow();
    GtkWidget* outer = open;
    open = window.window();
    struct Restore {
      GtkWidget*& cell;
      GtkWidget* value;
      ~Restore() { cell = value; }
    } restore{open, outer};
    return window.run();
  }
};

// The patterns of a filter, separated by ';' as the window system lists them.
std::vector<std::string> patternsOf(const std::string& list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(';', start), list.size());
    if (end > start) out.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::optional<std::string> chooseFile(bool saving, const FileChooserSpec& spec) {
  GtkWidget* owner = openDialogWindow();
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      saving ? "Save Settings" : "Load Settings", owner != nullptr ? GTK_WINDOW(owner) : nullptr,
      saving ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel", GTK_RESPONSE_CANCEL,
      saving ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), saving && spec.promptOverwrite);
  for (const FileChooserSpec::Filter& f : spec.filters) {
    if (f.name.empty() || f.pattern.empty()) continue;
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, f.name.c_str());
    for (const std::string& p : patternsOf(f.pattern)) gtk_file_filter_add_pattern(filter, p.c_str());
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);  // takes the filter
  }
  std::optional<std::string> chosen;
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser))) {
      chosen = std::string(name);
      g_free(name);
    }
  }
  gtk_widget_destroy(chooser);
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  if (chosen && saving && !spec.defaultExtension.empty()) {
    // A name typed without an extension gets the default one.
    const std::size_t slash = chosen->find_last_of('/');
    const std::size_t dot = chosen->find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) *chosen += "." + spec.defaultExtension;
  }
  return chosen;
}

std::optional<std::string> chooseFileGuarded(bool saving, const FileChooserSpec& spec) {
  try {
    return chooseFile(saving, spec);
  } catch (...) {
    return std::nullopt;
  }
}

bool showMessage(const std::string& caption, const std::string& text) {
  try {
    GtkWidget* owner = openDialogWindow();
    if (owner == nullptr) return false;
    GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(owner), GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK,
                                            "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return true;
  } catch (...) {
    return false;
  }
}

Size baseUnits(const char* font, std::int32_t pointSize) {
  try {
    return measureBaseUnits(font, pointSize);
  } catch (...) {
    return Size{6, 13};
  }
}

}  // namespace
}  // namespace veltrane::platform::gtk

extern "C" __attribute__((visibility("default"))) const veltrane::platform::gtk::EntryPoints* veltrane_gtk_entry(
    std::int32_t version) {
  using namespace veltrane::platform::gtk;
  if (version != interfaceVersion) return nullptr;
  static const bool initialised = gtk_init_check(nullptr, nullptr) != FALSE;
  if (!initialised) return nullptr;
  static GtkToolkit toolkit;
  static const EntryPoints entry{interfaceVersion, &toolkit, &chooseFileGuarded, &baseUnits,
                                 &showMessage};
  return &entry;
}
