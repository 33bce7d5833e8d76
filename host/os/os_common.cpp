#include "host/os/os.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <random>

#include "host/os/os_internal.h"

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

namespace {

// The longest name a folder entry can have on the common file systems.
constexpr std::size_t maxNameLength = 255;

// `text` cut to at most `bytes`, not inside a UTF-8 sequence.
std::u8string cutUtf8(std::u8string text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (text[bytes] & 0xc0) == 0x80) --bytes;
  text.resize(bytes);
  return text;
}

}  // namespace

AtomicFile::AtomicFile(const fs::path& target) : target_(resolveLinks(target)) {
  std::error_code ec;
  // A loop of links leads to no file: replacing one of them would break it.
  if (fs::is_symlink(fs::symlink_status(target_, ec)))
    throw std::system_error(std::make_error_code(std::errc::too_many_symbolic_link_levels),
                            "cannot resolve the symbolic link");
  const fs::path dir = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
  const std::u8string extension = target_.extension().u8string();
  std::random_device seed;
  std::mt19937_64 rng((std::uint64_t{seed()} << 32) ^ seed());
  std::error_code error = std::make_error_code(std::errc::file_exists);
  for (int attempt = 0; attempt < 16; ++attempt) {
    char tag[24];
    std::snprintf(tag, sizeof tag, ".%016llx.tmp", static_cast<unsigned long long>(rng()));
    const std::u8string tagText(reinterpret_cast<const char8_t*>(tag));
    // A long name is shortened to keep within what a folder entry can hold.
    const std::size_t fixed = 1 + tagText.size() + extension.size();
    std::u8string name = u8".";
    name += cutUtf8(target_.stem().u8string(), fixed < maxNameLength ? maxNameLength - fixed : 0);
    name += tagText;
    name += extension;
    fs::path candidate = dir / fs::path(name);
    // Fails if the name exists, so two writers never share a file.
    error = detail::createTemporaryFile(candidate, target_);
    if (!error) {
      temporary_ = std::move(candidate);
      return;
    }
    if (error != std::errc::file_exists) break;
  }
  throw std::system_error(error, "cannot create a temporary file in " + pathToUtf8(dir));
}

AtomicFile::~AtomicFile() {
  // Removed before the interrupt handler lets go of it, so that it is never unguarded.
  if (!committed_) {
    std::error_code ec;
    fs::remove(temporary_, ec);
  }
  detail::releaseTemporaryFile(temporary_);
}

void AtomicFile::write(const void* data, std::size_t size) {
  if (const std::error_code e = detail::writeFileContents(temporary_, data, size)) throw std::system_error(e);
}

void AtomicFile::sync() {
  if (const std::error_code e = detail::syncFile(temporary_)) throw std::system_error(e);
}

void AtomicFile::commit() {
  if (const std::error_code e = detail::copyPermissions(target_, temporary_))
    throw std::system_error(e, "cannot give the new file the permissions of the old one");
  if (const std::error_code e = detail::replaceFile(temporary_, target_))
    throw std::system_error(e, "cannot replace the file");
  committed_ = true;
  if (const std::error_code e = detail::syncFolder(target_.parent_path()))
    throw std::system_error(e, "the new file is in place, but its folder could not be flushed to the disk");
}

void writeFileAtomically(const fs::path& target, const void* data, std::size_t size) {
  AtomicFile file(target);
  file.write(data, size);
  file.commit();
}

}  // namespace veltrane::host::os
