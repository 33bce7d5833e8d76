// The filter dialog of each built module, opened by PluginMain through the
// in-memory host and worked by a driver thread as a user would: it types a
// number into an edit box, moves a slider with the keyboard, photographs the
// dialog and presses OK. Needs a display (run under a virtual X server).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/sim/sim_host.h"
#include "hostapi/filter_record.h"
#include "shell/filter_parameters.h"
#include "shell/parameter_tables.h"

namespace veltrane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string besideThisProgram(const std::string& relative) {
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string dir(self, n);
  dir.erase(dir.find_last_of("\\/") + 1);
  return dir + relative;
}

// --- the host's half of the preview: pixels drawn into the dialog ---

std::atomic<int> pixelsDrawn{0};

hostapi::OSErr VELTRANE_HOSTAPI_CDECL drawPixels(const hostapi::PSPixelMap* source, const hostapi::VRect* area,
                                                 std::int32_t row, std::int32_t column, void* context) noexcept {
  if (source == nullptr || area == nullptr || context == nullptr || source->colBytes != 3) return -30100;
  const std::int32_t width = area->right - area->left;
  const std::int32_t height = area->bottom - area->top;
  if (width <= 0 || height <= 0) return -30100;
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> bits(stride * static_cast<std::size_t>(height));
  const auto* base = static_cast<const std::uint8_t*>(source->baseAddr);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* in = base + static_cast<std::ptrdiff_t>(area->top + y) * source->rowBytes + area->left * 3;
    std::uint8_t* out = bits.data() + static_cast<std::size_t>(y) * stride;
    for (std::int32_t x = 0; x < width; ++x, in += 3, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(static_cast<HDC>(context), column, row, static_cast<DWORD>(width), static_cast<DWORD>(height), 0,
                    0, 0, static_cast<UINT>(height), bits.data(), &info, DIB_RGB_COLORS);
  ++pixelsDrawn;
  return 0;
}

// --- the user ---

// Writes what the window shows (frame included) as a 24-bit BMP file.
bool saveScreenshot(HWND window, const std::string& path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC windowDc = GetWindowDC(window);
  if (windowDc == nullptr) return false;
  HDC memory = CreateCompatibleDC(windowDc);
  HBITMAP bitmap = CreateCompatibleBitmap(windowDc, width, height);
  bool ok = false;
  if (memory != nullptr && bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, windowDc, 0, 0, SRCCOPY) != FALSE;
    SelectObject(memory, old);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as BMP files store rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> pixels(stride * static_cast<std::size_t>(height));
    ok = ok && GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                         reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == height;
    if (ok) {
      BITMAPFILEHEADER file{};
      file.bfType = 0x4D42;  // "BM"
      file.bfOffBits = sizeof file + sizeof header;
      file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(&file), sizeof file);
      out.write(reinterpret_cast<const char*>(&header), sizeof header);
      out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
      ok = static_cast<bool>(out);
    }
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (memory != nullptr) DeleteDC(memory);
  ReleaseDC(window, windowDc);
  return ok;
}

// A visible dialog box of the thread, other than `except`.
struct Search {
  HWND except = nullptr;
  HWND found = nullptr;
};

BOOL CALLBACK findDialog(HWND window, LPARAM cell) {
  auto* search = reinterpret_cast<Search*>(cell);
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (window == search->except || std::strcmp(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// What the driver did and saw; read by the test after the dialog closed.
struct Drive {
  // set up by the test
  DWORD dialogThread = 0;
  HWND hostWindow = nullptr;
  const Deliverable* deliverable = nullptr;
  std::string screenshot;
  std::string typed;
  // found out by the driver
  std::size_t typedSlot = 0, movedSlot = 0;
  std::int32_t movedTo = 0;
  std::vector<std::string> failures;
};

constexpr int alwaysProfileBox = 506;
constexpr int loadSettingsButton = 904;
constexpr int viewPane = 900;

// The slots whose controls the user can see, in slot order.
std::vector<std::size_t> visibleSlots(HWND dialog, const Deliverable& d) {
  std::vector<std::size_t> slots;
  for (std::size_t i = 0; i < realSlotCount; ++i) {
    const RealControl& c = d.controls.reals[i];
    if (!c.hasControl()) continue;
    HWND slider = GetDlgItem(dialog, c.sliderId);
    HWND edit = GetDlgItem(dialog, c.editId);
    if (slider != nullptr && edit != nullptr && IsWindowVisible(slider) && IsWindowVisible(edit)) slots.push_back(i);
  }
  return slots;
}

void driveDialog(Drive& drive) {
  const auto fail = [&](const std::string& what) { drive.failures.push_back(what); };
  HWND dialog = nullptr;
  for (const auto start = Clock::now(); dialog == nullptr && Clock::now() - start < 60s;) {
    Search search;
    EnumThreadWindows(drive.dialogThread, &findDialog, reinterpret_cast<LPARAM>(&search));
    dialog = search.found;
    if (dialog == nullptr) std::this_thread::sleep_for(50ms);
  }
  if (dialog == nullptr) {
    fail("no dialog appeared within 60 s");
    return;
  }
  // Every message below is sent: it returns once the dialog's thread has
  // handled it, engine runs of the preview included.
  char title[128] = {};
  GetWindowTextA(dialog, title, sizeof title);
  if (std::string(title) != drive.deliverable->aboutTitle) fail(std::string("title ") + title);
  if (GetWindow(dialog, GW_OWNER) != drive.hostWindow) fail("the dialog does not belong to the host's window");

  // Switch "Always profile" off by a click, so that a replay of the
  // recorded settings does not profile the image again.
  HWND alwaysProfile = GetDlgItem(dialog, alwaysProfileBox);
  if (alwaysProfile == nullptr) {
    fail("no check box Always profile");
  } else {
    if (SendMessageA(alwaysProfile, BM_GETCHECK, 0, 0) == BST_CHECKED) SendMessageA(alwaysProfile, BM_CLICK, 0, 0);
    if (SendMessageA(alwaysProfile, BM_GETCHECK, 0, 0) != BST_UNCHECKED) fail("Always profile stayed checked");
  }

  const std::vector<std::size_t> slots = visibleSlots(dialog, *drive.deliverable);
  if (slots.size() < 2) {
    fail("fewer than two visible slots");
  } else {
    // Type over the first slot's text, one key at a time.
    drive.typedSlot = slots[0];
    HWND edit = GetDlgItem(dialog, drive.deliverable->controls.reals[slots[0]].editId);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (const char c : drive.typed) SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(c), 1);

    // Three steps of the second slot's slider with the arrow keys, down
    // when it is at its maximum.
    drive.movedSlot = slots[1];
    HWND slider = GetDlgItem(dialog, drive.deliverable->controls.reals[slots[1]].sliderId);
    const auto position = static_cast<std::int32_t>(SendMessageA(slider, TBM_GETPOS, 0, 0));
    const auto maximum = static_cast<std::int32_t>(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));
    const WPARAM key = position + 3 <= maximum ? VK_RIGHT : VK_LEFT;
    for (int i = 0; i < 3; ++i) {
      SendMessageA(slider, WM_KEYDOWN, key, 1);
      SendMessageA(slider, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
    }
    drive.movedTo = static_cast<std::int32_t>(SendMessageA(slider, TBM_GETPOS, 0, 0));
    if (drive.movedTo != position + (key == VK_RIGHT ? 3 : -3)) fail("the slider did not move by three steps");
  }

  // Load Settings opens the file chooser owned by the dialog; cancelling it
  // changes nothing.
  HWND load = GetDlgItem(dialog, loadSettingsButton);
  PostMessageA(load, BM_CLICK, 0, 0);
  HWND chooser = nullptr;
  for (const auto start = Clock::now(); chooser == nullptr && Clock::now() - start < 60s;) {
    Search search;
    search.except = dialog;
    EnumThreadWindows(drive.dialogThread, &findDialog, reinterpret_cast<LPARAM>(&search));
    chooser = search.found;
    if (chooser == nullptr) std::this_thread::sleep_for(50ms);
  }
  if (chooser == nullptr) {
    fail("Load Settings opened no file chooser within 60 s");
  } else {
    if (GetWindow(chooser, GW_OWNER) != dialog) fail("the file chooser does not belong to the dialog");
    if (IsWindowEnabled(dialog)) fail("the dialog stayed enabled under the file chooser");
    PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
    for (const auto start = Clock::now(); IsWindow(chooser) && Clock::now() - start < 30s;)
      std::this_thread::sleep_for(50ms);
    if (IsWindow(chooser)) fail("the file chooser did not close");
  }

  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  SendMessageA(dialog, WM_NULL, 0, 0);
  if (!saveScreenshot(dialog, drive.screenshot)) fail("cannot save " + drive.screenshot);

  // The border cannot make the window smaller than it opened; the side
  // being dragged is the one pushed back.
  RECT drag{500, 500, 600, 600};
  SendMessageA(dialog, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&drag));
  const LONG minimumWidth = drag.right - drag.left;
  const LONG minimumHeight = drag.bottom - drag.top;
  if (drag.left != 500 || drag.top != 500 || minimumWidth <= 100 || minimumHeight <= 100)
    fail("dragging the bottom-right corner inwards was not stopped at the minimum");
  drag = RECT{500, 500, 600, 600};
  SendMessageA(dialog, WM_SIZING, WMSZ_TOPLEFT, reinterpret_cast<LPARAM>(&drag));
  if (drag.right != 600 || drag.bottom != 600 || drag.right - drag.left != minimumWidth ||
      drag.bottom - drag.top != minimumHeight)
    fail("dragging the top-left corner inwards did not push back the left and top sides");
  // Shrinking the window stops there, and the view pane follows the corner.
  SetWindowPos(dialog, nullptr, 0, 0, 50, 50, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT window{};
  GetWindowRect(dialog, &window);
  if (window.right - window.left != minimumWidth || window.bottom - window.top != minimumHeight)
    fail("the window shrank below its minimum");
  RECT client{};
  RECT pane{};
  GetClientRect(dialog, &client);
  GetWindowRect(GetDlgItem(dialog, viewPane), &pane);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&pane), 2);
  if (pane.right > client.right || pane.bottom > client.bottom || pane.right <= pane.left)
    fail("the view pane did not follow the smaller window");

  HWND ok = GetDlgItem(dialog, IDOK);
  if (ok == nullptr) {
    fail("no OK button");
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  SendMessageA(ok, BM_CLICK, 0, 0);
}

// A hung dialog ends the whole program with a failure instead of holding up
// the test run.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          const auto start = Clock::now();
          while (!done_ && Clock::now() - start < limit) std::this_thread::sleep_for(100ms);
          if (!done_) {
            std::fprintf(stderr, "dialog smoke test: no result within %lld s\n", static_cast<long long>(limit.count()));
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 124);
          }
        }) {}
  ~Watchdog() {
    done_ = true;
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

host::SimImage texturedImage() {
  host::SimImage image;
  image.width = 160;
  image.height = 120;
  image.pixels.resize(static_cast<std::size_t>(image.rowBytes() * image.height));
  std::uint32_t s = 7;
  for (std::int32_t y = 0; y < image.height; ++y) {
    for (std::int32_t x = 0; x < image.width; ++x) {
      for (int p = 0; p < 3; ++p) {
        s = s * 1664525u + 1013904223u;
        const int edge = x < image.width / 2 ? 70 : 170;
        image.pixels[static_cast<std::size_t>((y * image.width + x) * 3 + p)] =
            static_cast<std::uint8_t>(edge + p * 10 + static_cast<int>(s >> 28));
      }
    }
  }
  return image;
}

FilterParameters blockOf(const host::SimHost& host) {
  FilterParameters p{};
  const std::vector<std::uint8_t> bytes = host.parameterBlock();
  if (bytes.size() == sizeof p) std::memcpy(&p, bytes.data(), sizeof p);
  return p;
}

// The host's main window: the dialog's owner.
class HostWindow {
 public:
  HostWindow()
      : window_(CreateWindowExA(0, "STATIC", "Veltrane host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr)) {}
  ~HostWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

class Module {
 public:
  explicit Module(const std::string& path) : module_(LoadLibraryA(path.c_str())) {}
  ~Module() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  hostapi::PluginMainProc entry() const {
    return module_ != nullptr ? reinterpret_cast<hostapi::PluginMainProc>(
                                    reinterpret_cast<void*>(GetProcAddress(module_, "PluginMain")))
                              : nullptr;
  }

 private:
  HMODULE module_;
};

// Runs the filter once without a dialog, with the settings of `descriptor`
// and `registry`.
std::vector<std::uint8_t> silentRun(hostapi::PluginMainProc entry, const host::Descriptor& descriptor,
                                    host::Registry& registry) {
  host::SimImage image = texturedImage();
  host::SimHost host(image, {}, &registry);
  host.setScriptDescriptor(descriptor, host::PlaySetting::dontDisplay);
  EXPECT_EQ(host.runFilter(entry, false), 0);
  return image.pixels;
}

void runDialog(const char* file, const Deliverable& deliverable, const char* screenshotName) {
  const Module module(besideThisProgram(std::string(VELTRANE_MODULE_DIR) + "/" + file));
  const hostapi::PluginMainProc entry = module.entry();
  ASSERT_NE(entry, nullptr) << file;
  const HostWindow hostWindow;
  ASSERT_NE(hostWindow.get(), nullptr);

  host::SimImage image = texturedImage();
  const std::vector<std::uint8_t> original = image.pixels;
  host::Registry registry;
  host::SimHost host(image, {}, &registry);
  host.record().displayPixels = &drawPixels;
  static_cast<hostapi::PlatformData*>(host.record().platformData)->hwnd =
      reinterpret_cast<std::intptr_t>(hostWindow.get());

  Drive drive;
  drive.dialogThread = GetCurrentThreadId();
  drive.hostWindow = hostWindow.get();
  drive.deliverable = &deliverable;
  drive.screenshot = besideThisProgram(std::string(VELTRANE_SCREENSHOT_DIR) + "/" + screenshotName);
  drive.typed = "7.25";
  CreateDirectoryA(besideThisProgram(VELTRANE_SCREENSHOT_DIR).c_str(), nullptr);
  pixelsDrawn = 0;

  std::int16_t result = -1;
  {
    const Watchdog watchdog(120s);
    std::jthread driver([&drive] { driveDialog(drive); });  // joined on every way out
    result = host.runFilter(entry, true);
    driver.join();
  }
  for (const std::string& failure : drive.failures) ADD_FAILURE() << failure;
  ASSERT_TRUE(drive.failures.empty());
  ASSERT_EQ(result, 0) << "the dialog ended with Cancel or the run failed";
  EXPECT_GT(pixelsDrawn.load(), 0) << "the preview was never drawn through the host";

  // OK kept what the user typed and where the slider went.
  const FilterParameters p = blockOf(host);
  const RealControl& moved = deliverable.controls.reals[drive.movedSlot];
  EXPECT_EQ(p.reals[drive.typedSlot], 7.25);
  EXPECT_EQ(p.reals[drive.movedSlot], drive.movedTo / moved.scale);
  EXPECT_EQ(p.flags[flag::alwaysProfile], 0);

  // The image was filtered with exactly these settings, and they matter.
  EXPECT_NE(image.pixels, original);
  const std::optional<host::Descriptor> recorded = host.scriptDescriptor();
  ASSERT_TRUE(recorded.has_value());
  EXPECT_EQ(image.pixels, silentRun(entry, *recorded, registry));
  host::Registry none;
  EXPECT_NE(image.pixels, silentRun(entry, host::Descriptor{}, none));
}

TEST(DialogSmoke, HalvaneTypedValueSliderAndOk) {
  runDialog("halvane.8bf", halvaneDeliverable(), "halvane-dialog.bmp");
}

TEST(DialogSmoke, MirelleTypedValueSliderAndOk) {
  runDialog("mirelle.8bf", mirelleDeliverable(), "mirelle-dialog.bmp");
}

}  // namespace
}  // namespace veltrane
