#include "dialog.h"

#include <cstdlib>
#include <system_error>

namespace veltrane::gimp {
namespace {

bool set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

// The modules decide the same way when their dialog opens; asking first
// keeps GIMP's message about the fallback in one place. A display that is
// named but does not answer is found out by the module, which says so and
// runs with the current settings.
std::optional<std::string> dialogUnavailableReason(const std::filesystem::path& moduleFolder) {
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) return "DISPLAY and WAYLAND_DISPLAY are unset";
  std::error_code ec;
  const std::filesystem::path toolkit = moduleFolder / VELTRANE_GTK_LIBRARY;
  if (!std::filesystem::is_regular_file(toolkit, ec)) return toolkit.string() + " is missing";
  return std::nullopt;
}

}  // namespace veltrane::gimp
