// The host's window and drawing on POSIX systems: the plug-in sees no
// window, and the display call draws into a cairo context (what the GTK
// dialog hands over); without one it accepts the call and draws nothing.
#include <cairo.h>

#include <cstdint>

#include "host/sim/host_state.h"

namespace veltrane::host::detail {

HostWindow::HostWindow() noexcept = default;
HostWindow::~HostWindow() = default;

hostapi::OSErr drawPixelMap(const hostapi::PSPixelMap& source, const hostapi::VRect& area, std::int32_t dstRow,
                            std::int32_t dstCol, void* platformContext) noexcept {
  if (platformContext == nullptr) return hostapi::noErr;
  auto* cr = static_cast<cairo_t*>(platformContext);
  const std::int32_t width = area.right - area.left;
  const std::int32_t height = area.bottom - area.top;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return hostapi::memFullErr;
  }
  cairo_surface_flush(surface);
  unsigned char* bits = cairo_image_surface_get_data(surface);
  const std::int64_t stride = cairo_image_surface_get_stride(surface);
  const bool grey = source.imageMode == hostapi::modeGrayScale;
  const auto* base = static_cast<const std::uint8_t*>(source.baseAddr);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row =
        base + static_cast<std::ptrdiff_t>(std::int64_t{area.top - source.bounds.top + y} * source.rowBytes);
    // One native-endian 32-bit word a pixel: x, red, green, blue.
    auto* out = reinterpret_cast<std::uint32_t*>(bits + static_cast<std::ptrdiff_t>(stride * y));
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint8_t* pixel =
          row + static_cast<std::ptrdiff_t>(std::int64_t{area.left - source.bounds.left + x} * source.colBytes);
      const std::uint32_t r = pixel[0];
      const std::uint32_t g = grey ? r : pixel[source.planeBytes];
      const std::uint32_t b = grey ? r : pixel[2 * static_cast<std::ptrdiff_t>(source.planeBytes)];
      out[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(surface);
  cairo_save(cr);
  cairo_set_source_surface(cr, surface, dstCol, dstRow);
  cairo_rectangle(cr, dstCol, dstRow, width, height);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(surface);
  return hostapi::noErr;
}

}  // namespace veltrane::host::detail
