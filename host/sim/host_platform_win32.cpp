// The host's main window and the display call on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

#include "host/sim/host_state.h"
#include "hostapi/constants.h"

namespace veltrane::host::detail {

namespace {

constexpr wchar_t windowClassName[] = L"VeltraneHostWindow";

// Registered once per process; a second registration by another host in the
// same process finds the class already there.
bool registerWindowClass() noexcept {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = windowClassName;
  return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HostWindow::HostWindow() noexcept {
  if (!registerWindowClass()) return;
  // Never shown: it only owns what the plug-in opens (its dialog, message boxes).
  const HWND window = ::CreateWindowExW(0, windowClassName, L"Veltrane", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 640, 480, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  handle_ = reinterpret_cast<std::intptr_t>(window);
}

HostWindow::~HostWindow() {
  if (handle_) ::DestroyWindow(reinterpret_cast<HWND>(handle_));
}

hostapi::OSErr drawPixelMap(const hostapi::PSPixelMap& source, const hostapi::VRect& area, std::int32_t dstRow,
                            std::int32_t dstCol, void* platformContext) noexcept {
  if (!platformContext) return hostapi::filterBadParameters;
  const std::int32_t width = area.right - area.left;
  const std::int32_t height = area.bottom - area.top;
  // Device-independent bitmap rows: blue, green, red, padded to four bytes.
  const std::int64_t stride = (std::int64_t{width} * 3 + 3) & ~std::int64_t{3};
  std::vector<std::uint8_t> bits;
  try {
    bits.resize(static_cast<std::size_t>(stride * height));
  } catch (const std::bad_alloc&) {
    return hostapi::memFullErr;
  } catch (const std::length_error&) {
    return hostapi::memFullErr;
  }
  const bool grey = source.imageMode == hostapi::modeGrayScale;
  const auto* base = static_cast<const std::uint8_t*>(source.baseAddr);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row =
        base + static_cast<std::ptrdiff_t>(std::int64_t{area.top - source.bounds.top + y} * source.rowBytes);
    std::uint8_t* out = bits.data() + static_cast<std::ptrdiff_t>(stride * y);
    for (std::int32_t x = 0; x < width; ++x, out += 3) {
      const std::uint8_t* pixel =
          row + static_cast<std::ptrdiff_t>(std::int64_t{area.left - source.bounds.left + x} * source.colBytes);
      const std::uint8_t r = pixel[0];
      const std::uint8_t g = grey ? r : pixel[source.planeBytes];
      const std::uint8_t b = grey ? r : pixel[2 * static_cast<std::ptrdiff_t>(source.planeBytes)];
      out[0] = b;
      out[1] = g;
      out[2] = r;
    }
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const int lines = ::SetDIBitsToDevice(static_cast<HDC>(platformContext), dstCol, dstRow, static_cast<DWORD>(width),
                                        static_cast<DWORD>(height), 0, 0, 0, static_cast<UINT>(height), bits.data(),
                                        &info, DIB_RGB_COLORS);
  return lines > 0 ? hostapi::noErr : hostapi::filterBadParameters;
}

}  // namespace veltrane::host::detail
