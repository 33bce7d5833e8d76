// Atomic file replacement on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string_view>
#include <system_error>

#include "cli_error.h"
#include "host/os/os.h"
#include "text_file.h"

namespace veltrane::cli {
namespace fs = std::filesystem;

namespace {

std::string lastError() { return std::system_category().message(static_cast<int>(::GetLastError())); }

// Closes the handle and deletes the temporary file unless it was kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& target) {
    std::random_device seed;
    for (int attempt = 0; attempt < 16 && handle_ == INVALID_HANDLE_VALUE; ++attempt) {
      char tag[24];
      std::snprintf(tag, sizeof tag, ".%08x%08x", seed(), seed());
      name_ = target;
      name_ += tag;
      handle_ = ::CreateFileW(name_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle_ == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    opened_ = handle_ != INVALID_HANDLE_VALUE;
  }
  ~TemporaryFile() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    if (opened_ && !kept_) ::DeleteFileW(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool opened() const { return opened_; }
  bool write(std::string_view data) {
    while (!data.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(handle_, data.data(), chunk, &written, nullptr)) return false;
      data.remove_prefix(written);
    }
    return true;
  }
  // Flushes to disk and closes; false (last error set) on failure.
  bool close() {
    const bool flushed = ::FlushFileBuffers(handle_) != 0;
    const bool closed = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return flushed && closed;
  }
  const fs::path& name() const { return name_; }
  void keep() { kept_ = true; }

 private:
  fs::path name_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool opened_ = false;
  bool kept_ = false;
};

}  // namespace

void writeFileAtomically(const fs::path& path, std::string_view content) {
  createParentFolder(path);
  TemporaryFile temp(path);
  if (!temp.opened()) throw CommandError("cannot write " + quote(path) + ": " + lastError());
  if (!temp.write(content) || !temp.close()) throw CommandError("cannot write " + quote(path) + ": " + lastError());
  if (const std::error_code e = host::os::replaceFile(temp.name(), path))
    throw CommandError("cannot write " + quote(path) + ": " + e.message());
  temp.keep();
}

}  // namespace veltrane::cli
