#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "host/os/os.h"

namespace veltrane::host::os {
namespace fs = std::filesystem;

std::error_code createNewFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return {errno, std::generic_category()};
  ::close(fd);
  return {};
}

std::error_code replaceFile(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return {errno, std::generic_category()};
  return {};
}

FileLock FileLock::acquire(const fs::path& path, std::error_code& ec) {
  FileLock lock;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    ec = {errno, std::generic_category()};
    return lock;
  }
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    ec = {errno, std::generic_category()};
    ::close(fd);
    return lock;
  }
  ec.clear();
  lock.handle_ = fd;
  return lock;
}

FileLock::FileLock(FileLock&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

FileLock::~FileLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing releases the lock
}

fs::path executablePath() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::system_error(ec, "cannot find this command's file");
  return self;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

std::optional<std::string> environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::int64_t physicalMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::int64_t>(pages) * pageSize;
}

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

}  // namespace veltrane::host::os
