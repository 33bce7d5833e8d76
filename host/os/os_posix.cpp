#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "host/os/os.h"
#include "host/os/os_internal.h"

namespace veltrane::host::os {
namespace fs = std::filesystem;

namespace detail {
namespace {

// With the permission bits of the file it replaces (the umask applies too),
// or for a new file those the umask leaves of rw-rw-rw-: its content is never
// more exposed than the final file's.
std::error_code createNewFile(const fs::path& path, const fs::path& replacing) {
  struct stat st {};
  const mode_t mode = ::stat(replacing.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0666;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return {errno, std::generic_category()};
  ::close(fd);
  return {};
}

// Temporaries the signal handler removes: a fixed table, since a handler may
// neither allocate nor lock. A slot's name is complete before `used` is set.
struct TemporarySlot {
  std::atomic<bool> used{false};
  char name[4096];
};
TemporarySlot temporaries[8];
std::mutex slotsMutex;  // between threads registering; the handler never takes it

extern "C" void removeTemporariesAndStop(int signal) {
  const int saved = errno;
  for (TemporarySlot& slot : temporaries)
    if (slot.used.load(std::memory_order_acquire)) ::unlink(slot.name);
  errno = saved;
  // Ended by the same signal, as if there had been no handler.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void installHandlers() {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0) continue;
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndStop;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
  }
}

// Blocks the three signals for its lifetime, so that a file is never created
// without being registered.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t old_;
};

}  // namespace

std::error_code createTemporaryFile(const fs::path& path, const fs::path& replacing) {
  static std::once_flag installed;
  std::call_once(installed, installHandlers);
  const std::string& name = path.native();
  if (name.size() >= sizeof temporaries[0].name) return std::make_error_code(std::errc::filename_too_long);

  const std::lock_guard lock(slotsMutex);
  TemporarySlot* free = nullptr;
  for (TemporarySlot& slot : temporaries)
    if (!slot.used.load(std::memory_order_relaxed)) free = &slot;
  if (!free) return std::make_error_code(std::errc::too_many_files_open);
  const SignalsBlocked blocked;
  if (const std::error_code e = createNewFile(path, replacing)) return e;
  std::memcpy(free->name, name.c_str(), name.size() + 1);
  free->used.store(true, std::memory_order_release);
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
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return {errno, std::generic_category()};
  const auto* p = static_cast<const char*>(data);
  int error = 0;
  while (size > 0 && error == 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno != EINTR) error = errno;
      continue;
    }
    if (n == 0) error = ENOSPC;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  return {error, std::generic_category()};
}

std::error_code syncFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {errno, std::generic_category()};
  int error = ::fsync(fd) != 0 ? errno : 0;
  if (::close(fd) != 0 && error == 0) error = errno;
  return {error, std::generic_category()};
}

std::error_code copyPermissions(const fs::path& like, const fs::path& file) {
  struct stat st {};
  if (::stat(like.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};  // a new file keeps what it was created with
    return {errno, std::generic_category()};
  }
  if (::chmod(file.c_str(), st.st_mode & 07777) != 0) return {errno, std::generic_category()};
  return {};
}

std::error_code replaceFile(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return {errno, std::generic_category()};
  return {};
}

std::error_code syncFolder(const fs::path& folder) {
  // A folder one may write in but not read cannot be opened to flush.
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  int error = ::fsync(fd) != 0 ? errno : 0;
  ::close(fd);
  // File systems that cannot flush a folder say so with EINVAL.
  if (error == EINVAL || error == ENOTSUP) error = 0;
  return {error, std::generic_category()};
}

}  // namespace detail

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
