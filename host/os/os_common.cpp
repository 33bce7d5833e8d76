#include "host/os/os.h"

#include <algorithm>
#include <cwctype>

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

namespace fs = std::filesystem;

fs::path resolveLinks(const fs::path& path) {
  std::error_code ec;
  fs::path current = fs::absolute(path, ec);
  if (ec) current = path;
  // A loop of links ends where the system would give up too.
  for (int hops = 0; hops < 40; ++hops) {
    if (!fs::is_symlink(current, ec)) break;
    const fs::path target = fs::read_symlink(current, ec);
    if (ec) break;
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  const fs::path folder = fs::weakly_canonical(current.parent_path(), ec);
  return ec ? current.lexically_normal() : folder / current.filename();
}

bool sameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  auto name = resolveLinks(a).native();
  auto other = resolveLinks(b).native();
#ifdef _WIN32
  // Windows file names ignore case.
  const auto lower = [](auto& text) { std::transform(text.begin(), text.end(), text.begin(), ::towlower); };
  lower(name);
  lower(other);
#endif
  return name == other;
}

std::string notARegularFile(const fs::path& path) {
  std::error_code ec;
  switch (fs::status(path, ec).type()) {
    case fs::file_type::not_found:
    case fs::file_type::regular: return {};
    case fs::file_type::directory: return "a folder";
    case fs::file_type::character: return "a character device";
    case fs::file_type::block: return "a block device";
    case fs::file_type::fifo: return "a pipe (FIFO)";
    case fs::file_type::socket: return "a socket";
    default: break;
  }
  return ec ? std::string() : "not a regular file";
}

}  // namespace veltrane::host::os
