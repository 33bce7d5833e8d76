#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <io.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "host/os/os.h"
#include "host/os/os_internal.h"

namespace veltrane::host::os {
namespace fs = std::filesystem;

namespace {

std::error_code lastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

std::string narrow(const wchar_t* text, std::size_t length) {
  if (length == 0) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring widen(std::string_view text) {
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

}  // namespace

namespace detail {
namespace {

std::error_code createNewFile(const fs::path& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
      return std::make_error_code(std::errc::file_exists);
    return {static_cast<int>(error), std::system_category()};
  }
  ::CloseHandle(file);
  return {};
}

// Temporaries the console handler removes. It runs on a thread of its own
// while the program goes on, so it reads only complete, published slots.
struct TemporarySlot {
  std::atomic<bool> used{false};
  wchar_t name[32768];
};
TemporarySlot temporaries[8];
std::mutex slotsMutex;

BOOL WINAPI removeTemporaries(DWORD /*event*/) {
  // Files still open are removed when their last handle closes.
  for (TemporarySlot& slot : temporaries)
    if (slot.used.load(std::memory_order_acquire)) ::DeleteFileW(slot.name);
  return FALSE;  // the default handler then ends the process
}

}  // namespace

std::error_code createTemporaryFile(const fs::path& path, const fs::path& /*replacing*/) {
  static std::once_flag installed;
  std::call_once(installed, [] { ::SetConsoleCtrlHandler(removeTemporaries, TRUE); });
  const std::wstring& name = path.native();
  if (name.size() >= std::size(temporaries[0].name)) return std::make_error_code(std::errc::filename_too_long);
  const std::lock_guard lock(slotsMutex);
  TemporarySlot* free = nullptr;
  for (TemporarySlot& slot : temporaries)
    if (!slot.used.load(std::memory_order_relaxed)) free = &slot;
  if (!free) return std::make_error_code(std::errc::too_many_files_open);
  std::memcpy(free->name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  free->used.store(true, std::memory_order_release);
  if (const std::error_code e = createNewFile(path)) {
    free->used.store(false, std::memory_order_release);
    return e;
  }
  return {};
}

void releaseTemporaryFile(const fs::path& path) {
  const std::lock_guard lock(slotsMutex);
  for (TemporarySlot& slot : temporaries)
    if (slot.used.load(std::memory_order_relaxed) && path.native() == slot.name) {
      slot.used.store(false, std::memory_order_release);
      return;
    }
}

std::error_code writeFileContents(const fs::path& path, const void* data, std::size_t size) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lastError();
  const auto* p = static_cast<const char*>(data);
  std::error_code error;
  while (size > 0 && !error) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, p, chunk, &written, nullptr)) error = lastError();
    else if (written == 0) error = std::make_error_code(std::errc::no_space_on_device);
    p += written;
    size -= written;
  }
  if (!error && !::FlushFileBuffers(file)) error = lastError();
  if (!::CloseHandle(file) && !error) error = lastError();
  return error;
}

std::error_code syncFile(const fs::path& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lastError();
  std::error_code error;
  if (!::FlushFileBuffers(file)) error = lastError();
  if (!::CloseHandle(file) && !error) error = lastError();
  return error;
}

// Files here carry no permission bits of their own to copy.
std::error_code copyPermissions(const fs::path& /*like*/, const fs::path& /*file*/) { return {}; }

// Returns once the rename is on the disk: the folder needs no flush of its own.
std::error_code replaceFile(const fs::path& from, const fs::path& to) {
  if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return lastError();
  return {};
}

std::error_code syncFolder(const fs::path& /*folder*/) { return {}; }

}  // namespace detail

FileLock FileLock::acquire(const fs::path& path, std::error_code& ec) {
  FileLock lock;
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ec = lastError();
    return lock;
  }
  OVERLAPPED whole{};
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    ec = lastError();
    ::CloseHandle(file);
    return lock;
  }
  ec.clear();
  lock.handle_ = reinterpret_cast<std::intptr_t>(file);
  return lock;
}

FileLock::FileLock(FileLock&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

FileLock::~FileLock() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));  // closing releases the lock
}

fs::path executablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) throw std::system_error(lastError(), "cannot find this command's file");
    if (n < buffer.size()) {
      buffer.resize(n);
      return fs::path(buffer);
    }
    if (buffer.size() >= 32768) throw std::system_error(lastError(), "cannot find this command's file");
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return {argv, argv + argc};
  std::unique_ptr<LPWSTR, decltype(&::LocalFree)> owner(wide, &::LocalFree);
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) args.push_back(narrow(wide[i], std::wcslen(wide[i])));
  return args;
}

std::optional<std::string> environmentVariable(const char* name) {
  const std::wstring wideName = widen(name);
  const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
  if (n == 0 || n >= size) return n == 0 ? std::optional<std::string>(std::string()) : std::nullopt;
  return narrow(value.data(), n);
}

std::int64_t physicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!::GlobalMemoryStatusEx(&status)) return 0;
  return static_cast<std::int64_t>(status.ullTotalPhys);
}

bool isTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

}  // namespace veltrane::host::os
