#include "host/os/os.h"

namespace veltrane::host::os {

// char8_t text is UTF-8 by definition on every platform, unlike char text,
// which the library converts through the current locale on Windows.
std::filesystem::path pathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string_view(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

std::string pathToUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {reinterpret_cast<const char*>(text.data()), text.size()};
}

}  // namespace veltrane::host::os
