#pragma once
// The GTK 3 widget toolkit lives in a shared object of its own, next to the
// plug-in modules, which load it only when their dialog opens: a silent run
// needs neither GTK nor a display. This header is the whole interface
// between the two: one C entry point handing out a table of operations.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/widgets.h"

namespace veltrane::platform::gtk {

inline constexpr const char* libraryName = "veltrane-gtk.so";
inline constexpr const char* entryName = "veltrane_gtk_entry";
// Raised whenever the table below changes its layout.
inline constexpr std::int32_t interfaceVersion = 1;

struct EntryPoints {
  std::int32_t version;
  // The toolkit the filter dialog runs on; valid for the life of the process.
  WidgetToolkit* toolkit;
  // GTK's file chooser, owned by the open filter dialog (modal over it);
  // nullopt when cancelled.
  std::optional<std::string> (*chooseFile)(bool saving, const FileChooserSpec& spec);
  // The pixels per 4 horizontal and per 8 vertical dialog units for a
  // template font: what the toolkit lays the dialog out with.
  Size (*baseUnits)(const char* font, std::int32_t pointSize);
  // While the filter dialog is open: a modal message box over it with an OK
  // button, and true; false (nothing shown) otherwise.
  bool (*showMessage)(const std::string& caption, const std::string& text);
};

// Initialises GTK on the display of the environment and answers the table,
// or null when there is no usable display or the version differs.
using EntryFunction = const EntryPoints* (*)(std::int32_t version);

// A template rectangle in dialog units as pixels for the given base units,
// rounded as the window system rounds dialog units.
inline Rect dialogUnitsToPixels(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                                Size base) {
  const auto scale = [](std::int32_t v, std::int32_t unit, std::int32_t per) {
    // v * unit / per, rounded half away from zero
    const std::int64_t n = std::int64_t{v} * unit;
    return static_cast<std::int32_t>(n >= 0 ? (2 * n + per) / (2 * per) : -((-2 * n + per) / (2 * per)));
  };
  const std::int32_t left = scale(x, base.width, 4);
  const std::int32_t top = scale(y, base.height, 8);
  return Rect{left, top, scale(x + width, base.width, 4) - left, scale(y + height, base.height, 8) - top};
}

}  // namespace veltrane::platform::gtk
