// The Windows half of the in-memory host: the main window handed to the
// plug-in and the display call drawing into a device context. Run on a
// display of their own (tests/windows/run-with-display.sh): the Wine session
// the other tests share has none, and makes no windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

#include "host/sim/sim_host.h"
#include "hostapi/constants.h"

namespace veltrane::host {
namespace {

SimImage smallImage() {
  SimImage image;
  image.width = 4;
  image.height = 4;
  image.pixels.assign(4 * 4 * 3, 0);
  return image;
}

TEST(SimHostWin32, PlatformDataHoldsAHiddenMainWindowThatLivesAsLongAsTheHost) {
  SimImage image = smallImage();
  HWND window = nullptr;
  {
    SimHost host(image);
    const auto* platform = static_cast<const hostapi::PlatformData*>(host.record().platformData);
    ASSERT_NE(platform, nullptr);
    window = reinterpret_cast<HWND>(platform->hwnd);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(::IsWindow(window));
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(::GetParent(window), nullptr);
  }
  EXPECT_FALSE(::IsWindow(window));
}

TEST(SimHostWin32, DisplayPixelsDrawsIntoTheDeviceContextAndRefusesNone) {
  SimImage image = smallImage();
  SimHost host(image);
  const hostapi::DisplayPixelsProc display = host.record().displayPixels;

  // 2 x 1 interleaved RGB; the second pixel is drawn at device (x 5, y 3).
  std::uint8_t pixels[] = {10, 20, 30, 200, 100, 50};
  hostapi::PSPixelMap map{};
  map.version = 1;
  map.bounds = {0, 0, 1, 2};
  map.imageMode = hostapi::modeRGBColor;
  map.rowBytes = 6;
  map.colBytes = 3;
  map.planeBytes = 1;
  map.baseAddr = pixels;
  const hostapi::VRect second{0, 1, 1, 2};

  const HDC screen = ::GetDC(nullptr);
  const HDC dc = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 8;
  info.bmiHeader.biHeight = -8;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  const HGDIOBJ previous = ::SelectObject(dc, bitmap);

  EXPECT_EQ(display(&map, &second, 3, 5, dc), hostapi::noErr);
  ::GdiFlush();
  EXPECT_EQ(::GetPixel(dc, 5, 3), RGB(200, 100, 50));
  EXPECT_EQ(::GetPixel(dc, 4, 3), RGB(0, 0, 0));
  EXPECT_EQ(display(&map, &second, 3, 5, nullptr), hostapi::filterBadParameters);

  ::SelectObject(dc, previous);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
}

}  // namespace
}  // namespace veltrane::host
