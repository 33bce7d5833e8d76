// The filter dialog on Windows: a modal dialog box from the module's dialog
// resource, driven through the widget seam.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// after windows.h, which they need
#include <commctrl.h>

#include "platform/win32/win32_widgets.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"

extern "C" INT_PTR CALLBACK DissolveProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

namespace veltrane::platform::win32 {
namespace {

HINSTANCE& instanceCell() noexcept {
  static HINSTANCE instance = nullptr;
  return instance;
}

HWND& openDialogCell() noexcept {
  static HWND window = nullptr;
  return window;
}

std::int32_t lowWord(std::uintptr_t v) noexcept { return static_cast<std::int32_t>(v & 0xFFFFu); }
std::int32_t highWord(std::uintptr_t v) noexcept { return static_cast<std::int32_t>((v >> 16) & 0xFFFFu); }
// Signed client coordinates packed in a message's lParam.
std::int32_t signedLow(LPARAM v) noexcept { return static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF)); }
std::int32_t signedHigh(LPARAM v) noexcept {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>((v >> 16) & 0xFFFF));
}

// The button of a button-down or button-up message.
MouseButton buttonOf(UINT message) noexcept {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: return MouseButton::left;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP: return MouseButton::right;
    default: return MouseButton::middle;
  }
}

RECT toRECT(const Rect& r) noexcept { return RECT{r.left, r.top, r.left + r.width, r.top + r.height}; }
Rect toRect(const RECT& r) noexcept { return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}; }

HCURSOR systemCursor(CursorShape shape) noexcept {
  // The predefined cursor ids are integer resources.
  const auto id = static_cast<ULONG_PTR>(shape == CursorShape::crossHair ? 32515 /* IDC_CROSS */ : 32512 /* IDC_ARROW */);
  return LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(id));
}

// Drawing during WM_PAINT on the dialog's paint context.
class PaintCanvas final : public Canvas {
 public:
  PaintCanvas(HWND dialog, HDC dc) noexcept : dialog_(dialog), dc_(dc) {}

  void drawImage(std::int32_t x, std::int32_t y, const PixelView& image) override {
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return;
    if (image.channels != 1 && image.channels != 3) return;
    // A top-down 24-bit device-independent bitmap, rows padded to 4 bytes.
    const std::size_t stride = (static_cast<std::size_t>(image.width) * 3 + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> bits(stride * static_cast<std::size_t>(image.height));
    for (std::int32_t row = 0; row < image.height; ++row) {
      const std::uint8_t* in = image.pixels + static_cast<std::ptrdiff_t>(row) * image.rowBytes;
      std::uint8_t* out = bits.data() + static_cast<std::size_t>(row) * stride;
      for (std::int32_t col = 0; col < image.width; ++col, in += image.channels, out += 3) {
        const std::uint8_t r = in[0];
        const std::uint8_t g = image.channels == 3 ? in[1] : in[0];
        const std::uint8_t b = image.channels == 3 ? in[2] : in[0];
        out[0] = b;
        out[1] = g;
        out[2] = r;
      }
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc_, x, y, static_cast<DWORD>(image.width), static_cast<DWORD>(image.height), 0, 0, 0,
                      static_cast<UINT>(image.height), bits.data(), &info, DIB_RGB_COLORS);
  }

  void fillFace(const Rect& area) override {
    const RECT r = toRECT(area);
    FillRect(dc_, &r, GetSysColorBrush(COLOR_BTNFACE));
  }

  void drawSizeGrip() override {
    RECT grip;
    GetClientRect(dialog_, &grip);
    grip.left = grip.right - GetSystemMetrics(SM_CXVSCROLL);
    grip.top = grip.bottom - GetSystemMetrics(SM_CYHSCROLL);
    DrawFrameControl(dc_, &grip, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
  }

  void* displayContext() override { return dc_; }

 private:
  HWND dialog_;
  HDC dc_;
};

// The open dialog. Lives on the stack of runModal; DissolveProc finds it
// through the dialog's user data from WM_INITDIALOG on.
class Win32Dialog final : public DialogWindow {
 public:
  Win32Dialog(const DialogTemplate& dialog, DialogEvents& events) : events_(events) {
    for (const ControlSpec& c : dialog.controls) {
      kinds_.emplace(c.id, c.kind);
      if (c.kind == ControlKind::frame) panes_.push_back(c.id);
    }
  }

  bool opened() const noexcept { return opened_; }

  INT_PTR handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  // --- DialogWindow ---
  void endDialog(int code) override {
    if (hwnd_ != nullptr) EndDialog(hwnd_, code);
  }
  void setTitle(const std::string& title) override {
    if (hwnd_ != nullptr) SetWindowTextA(hwnd_, title.c_str());
  }
  std::string title() const override { return windowText(hwnd_); }

  void setVisible(std::int32_t id, bool visible) override {
    if (HWND c = item(id)) ShowWindow(c, visible ? SW_SHOWNA : SW_HIDE);
  }
  bool isVisible(std::int32_t id) const override {
    // The style, not IsWindowVisible: the dialog itself is not shown yet
    // while it opens.
    HWND c = item(id);
    return c != nullptr && (GetWindowLongPtrA(c, GWL_STYLE) & WS_VISIBLE) != 0;
  }

  void setText(std::int32_t id, const std::string& text) override {
    if (HWND c = item(id)) SetWindowTextA(c, text.c_str());
  }
  std::string text(std::int32_t id) const override { return windowText(item(id)); }

  void setChecked(std::int32_t id, bool checked) override {
    if (HWND c = itemOfKind(id, ControlKind::checkBox))
      SendMessageA(c, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  bool isChecked(std::int32_t id) const override {
    HWND c = itemOfKind(id, ControlKind::checkBox);
    return c != nullptr && SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }

  void setSliderRange(std::int32_t id, std::int32_t minimum, std::int32_t maximum) override {
    HWND c = itemOfKind(id, ControlKind::slider);
    if (c == nullptr) return;
    maximum = std::max(minimum, maximum);
    const std::int32_t position = sliderPosition(id);
    SendMessageA(c, TBM_SETRANGEMIN, FALSE, minimum);
    SendMessageA(c, TBM_SETRANGEMAX, TRUE, maximum);
    SendMessageA(c, TBM_SETPOS, TRUE, std::clamp(position, minimum, maximum));
  }
  void setSliderPosition(std::int32_t id, std::int32_t position) override {
    HWND c = itemOfKind(id, ControlKind::slider);
    if (c == nullptr) return;
    const auto minimum = static_cast<std::int32_t>(SendMessageA(c, TBM_GETRANGEMIN, 0, 0));
    const auto maximum = static_cast<std::int32_t>(SendMessageA(c, TBM_GETRANGEMAX, 0, 0));
    SendMessageA(c, TBM_SETPOS, TRUE, std::clamp(position, minimum, std::max(minimum, maximum)));
  }
  std::int32_t sliderPosition(std::int32_t id) const override {
    HWND c = itemOfKind(id, ControlKind::slider);
    return c != nullptr ? static_cast<std::int32_t>(SendMessageA(c, TBM_GETPOS, 0, 0)) : 0;
  }

  void setFocus(std::int32_t id) override {
    if (HWND c = item(id)) SetFocus(c);
  }

  Rect controlBounds(std::int32_t id) const override {
    HWND c = item(id);
    if (c == nullptr) return {};
    RECT r;
    if (!GetWindowRect(c, &r)) return {};
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    MapWindowPoints(nullptr, hwnd_, corners, 2);
    return Rect{corners[0].x, corners[0].y, corners[1].x - corners[0].x, corners[1].y - corners[0].y};
  }
  void setControlBounds(std::int32_t id, const Rect& bounds) override {
    if (HWND c = item(id))
      SetWindowPos(c, nullptr, bounds.left, bounds.top, bounds.width, bounds.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  Rect windowBounds() const override {
    RECT r{};
    if (hwnd_ != nullptr) GetWindowRect(hwnd_, &r);
    return toRect(r);
  }
  void setWindowBounds(const Rect& bounds) override {
    if (hwnd_ != nullptr)
      SetWindowPos(hwnd_, nullptr, bounds.left, bounds.top, bounds.width, bounds.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  Size clientSize() const override {
    RECT r{};
    if (hwnd_ != nullptr) GetClientRect(hwnd_, &r);
    return Size{r.right - r.left, r.bottom - r.top};
  }
  Rect workArea() const override {
    RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0);
    return toRect(r);
  }
  void setMinimumWindowSize(Size size) override { minimum_ = size; }

  void invalidate(std::int32_t paneId, bool erase) override {
    if (hwnd_ == nullptr || itemOfKind(paneId, ControlKind::frame) == nullptr) return;
    invalidateArea(controlBounds(paneId), erase);
  }
  void invalidateArea(const Rect& area, bool erase) override {
    if (hwnd_ == nullptr) return;
    const RECT r = toRECT(area);
    InvalidateRect(hwnd_, &r, erase ? TRUE : FALSE);
  }

  void setMouseCapture(bool captured) override {
    if (captured && hwnd_ != nullptr) {
      SetCapture(hwnd_);
    } else if (!captured && GetCapture() == hwnd_) {
      ReleaseCapture();
    }
  }
  void setCursor(CursorShape shape) override {
    cursor_ = shape;
    SetCursor(systemCursor(shape));
  }

 private:
  static std::string windowText(HWND w) {
    if (w == nullptr) return {};
    const int length = GetWindowTextLengthA(w);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(w, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(0, got)));
    return text;
  }

  // Only the template's controls are reachable by id.
  HWND item(std::int32_t id) const {
    if (hwnd_ == nullptr || kinds_.find(id) == kinds_.end()) return nullptr;
    return GetDlgItem(hwnd_, id);
  }
  HWND itemOfKind(std::int32_t id, ControlKind kind) const {
    const auto it = kinds_.find(id);
    return it != kinds_.end() && it->second == kind ? item(id) : nullptr;
  }
  bool isKind(std::int32_t id, ControlKind kind) const {
    const auto it = kinds_.find(id);
    return it != kinds_.end() && it->second == kind;
  }

  MouseEvent mouseAt(std::int32_t x, std::int32_t y, MouseButton button) const {
    MouseEvent event{0, x, y, button};
    for (const std::int32_t pane : panes_) {
      if (isVisible(pane) && controlBounds(pane).contains(x, y)) event.pane = pane;
    }
    return event;
  }

  void onCommand(std::int32_t id, std::int32_t code);
  void onSliderNotice(HWND slider);
  void onPaint();
  void onSizing(WPARAM edge, RECT& r) const;

  DialogEvents& events_;
  std::map<std::int32_t, ControlKind> kinds_;
  std::vector<std::int32_t> panes_;
  HWND hwnd_ = nullptr;
  Size minimum_;
  CursorShape cursor_ = CursorShape::arrow;
  bool opened_ = false;
  bool trackingLeave_ = false;
};

void Win32Dialog::onCommand(std::int32_t id, std::int32_t code) {
  const auto it = kinds_.find(id);
  if (it == kinds_.end()) return;
  switch (it->second) {
    case ControlKind::pushButton:
    case ControlKind::defaultPushButton:
      if (code == BN_CLICKED) events_.onButtonClicked(id);
      return;
    case ControlKind::checkBox:
      if (code == BN_CLICKED) events_.onCheckBoxToggled(id);
      return;
    case ControlKind::editBox:
      if (code == EN_CHANGE) events_.onEditChanged(id);
      return;
    case ControlKind::staticText:
      if (code == STN_DBLCLK) events_.onLabelDoubleClicked(id);
      return;
    case ControlKind::slider:
    case ControlKind::frame:
      return;
  }
}

// Trackbars report every movement of the thumb, by the mouse, the keyboard
// or the wheel, with a scroll message and redraw with notifications; each
// of them reads the position, and the dialog logic ignores repeats.
void Win32Dialog::onSliderNotice(HWND slider) {
  if (slider == nullptr) return;
  const int id = GetDlgCtrlID(slider);
  if (!isKind(id, ControlKind::slider)) return;
  events_.onSliderMoved(id, sliderPosition(id));
}

// BeginPaint and its EndPaint.
class PaintScope {
 public:
  explicit PaintScope(HWND window) noexcept : window_(window), dc_(BeginPaint(window, &paint_)) {}
  ~PaintScope() {
    if (dc_ != nullptr) EndPaint(window_, &paint_);
  }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC dc() const noexcept { return dc_; }
  const RECT& area() const noexcept { return paint_.rcPaint; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

void Win32Dialog::onPaint() {
  const PaintScope paint(hwnd_);
  HDC dc = paint.dc();
  if (dc == nullptr) return;
  PaintCanvas canvas(hwnd_, dc);
  for (const std::int32_t pane : panes_) {
    if (!isVisible(pane)) continue;
    const RECT r = toRECT(controlBounds(pane));
    RECT overlap;
    if (!IntersectRect(&overlap, &r, &paint.area())) continue;
    events_.onPaint(pane, canvas);
    // The dialog paints over the pane's own frame; draw it again.
    RECT edge = r;
    DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
  }
}

// While the user drags the border, a side that would make the window
// smaller than its minimum is pushed back: the left side when the left edge
// is dragged, else the right; the top side when the top edge is dragged,
// else the bottom.
void Win32Dialog::onSizing(WPARAM edge, RECT& r) const {
  if (r.right - r.left < minimum_.width) {
    if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT) {
      r.left = r.right - minimum_.width;
    } else {
      r.right = r.left + minimum_.width;
    }
  }
  if (r.bottom - r.top < minimum_.height) {
    if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT) {
      r.top = r.bottom - minimum_.height;
    } else {
      r.bottom = r.top + minimum_.height;
    }
  }
}

// Returns what the dialog procedure returns: TRUE for a message handled
// here, FALSE to leave it to the default dialog handling.
INT_PTR Win32Dialog::handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto w = static_cast<std::uintptr_t>(wParam);
  switch (message) {
    case WM_INITDIALOG:
      hwnd_ = hwnd;
      opened_ = true;
      openDialogCell() = hwnd;
      events_.onOpen(*this);
      return FALSE;  // the dialog logic set the focus itself
    case WM_DESTROY:
      if (GetCapture() == hwnd) ReleaseCapture();
      if (openDialogCell() == hwnd) openDialogCell() = nullptr;
      hwnd_ = nullptr;
      return FALSE;
    case WM_COMMAND:
      onCommand(lowWord(w), highWord(w));
      return TRUE;
    case WM_HSCROLL:
    case WM_VSCROLL:
      onSliderNotice(reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header != nullptr) onSliderNotice(header->hwndFrom);
      return FALSE;  // default drawing
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      events_.onMouseDown(mouseAt(signedLow(lParam), signedHigh(lParam), buttonOf(message)));
      return TRUE;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      events_.onMouseUp(mouseAt(signedLow(lParam), signedHigh(lParam), buttonOf(message)));
      return TRUE;
    case WM_MOUSEMOVE: {
      if (!trackingLeave_) {
        // A leave notice after every movement into the dialog.
        TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, hwnd, 0};
        trackingLeave_ = _TrackMouseEvent(&track) != FALSE;
      }
      events_.onMouseMove(mouseAt(signedLow(lParam), signedHigh(lParam), MouseButton::left));
      return TRUE;
    }
    case WM_MOUSELEAVE:
      trackingLeave_ = false;
      events_.onMouseLeave();
      return TRUE;
    case WM_MOUSEWHEEL: {
      POINT p{signedLow(lParam), signedHigh(lParam)};  // screen coordinates
      ScreenToClient(hwnd, &p);
      const auto delta = static_cast<std::int16_t>(static_cast<std::uint16_t>(highWord(w)));
      events_.onMouseWheel(mouseAt(p.x, p.y, MouseButton::middle), delta);
      return TRUE;
    }
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != hwnd) events_.onCaptureLost();
      return TRUE;
    case WM_ACTIVATE:
      if (lowWord(w) == WA_INACTIVE) events_.onCaptureLost();
      return FALSE;
    case WM_SETCURSOR:
      if (cursor_ != CursorShape::arrow && lowWord(static_cast<std::uintptr_t>(lParam)) == HTCLIENT) {
        SetCursor(systemCursor(cursor_));
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      if (info != nullptr && minimum_.width > 0) info->ptMinTrackSize = POINT{minimum_.width, minimum_.height};
      return TRUE;
    }
    case WM_SIZING:
      if (auto* r = reinterpret_cast<RECT*>(lParam)) onSizing(wParam, *r);
      SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_SIZE:
      events_.onSizeChanged();
      // The size grip moved with the corner: everything is painted again.
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case WM_PAINT:
      onPaint();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void attachModule(void* instance) noexcept {
  instanceCell() = static_cast<HINSTANCE>(instance);
  setWidgetToolkit(&toolkit());
}

void* moduleInstance() noexcept {
  return instanceCell() != nullptr ? instanceCell() : GetModuleHandleA(nullptr);
}

void* openDialogWindow() noexcept { return openDialogCell(); }

Win32Toolkit& toolkit() noexcept {
  static Win32Toolkit instance;
  return instance;
}

int Win32Toolkit::runModal(const DialogTemplate& dialog, DialogEvents& events) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  Win32Dialog window(dialog, events);
  const INT_PTR code = DialogBoxParamA(static_cast<HINSTANCE>(moduleInstance()), dialogResourceName,
                                       reinterpret_cast<HWND>(dialogOwner()), &DissolveProc,
                                       reinterpret_cast<LPARAM>(&window));
  if (code == -1 || !window.opened()) {
    throw std::runtime_error("The dialog could not be opened (error " + std::to_string(GetLastError()) + ").");
  }
  return static_cast<int>(code);
}

}  // namespace veltrane::platform::win32

// The dialog procedure of the filter dialog. Nothing leaves it as an
// exception; a message that fails counts as not handled.
extern "C" INT_PTR CALLBACK DissolveProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  using veltrane::platform::win32::Win32Dialog;
  try {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto* window = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (window == nullptr) return FALSE;
    const INT_PTR handled = window->handle(dialog, message, wParam, lParam);
    if (message == WM_DESTROY) SetWindowLongPtrA(dialog, DWLP_USER, 0);
    return handled;
  } catch (...) {
    return FALSE;
  }
}
