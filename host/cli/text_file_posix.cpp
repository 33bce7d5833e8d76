// Atomic file replacement on POSIX systems.
#include "text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "cli_error.h"

namespace veltrane::cli {
namespace fs = std::filesystem;

namespace {

std::string lastError() { return std::strerror(errno); }

// Closes the descriptor and removes the temporary file unless released.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& target) : name_(target.string() + ".XXXXXX") {
    std::vector<char> buf(name_.begin(), name_.end());
    buf.push_back('\0');
    fd_ = ::mkstemp(buf.data());
    created_ = fd_ >= 0;
    if (created_) name_.assign(buf.data());
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (created_ && !kept_) ::unlink(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool opened() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  // Closes the descriptor; returns false (errno set) when closing failed.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void keep() { kept_ = true; }

 private:
  std::string name_;
  int fd_ = -1;
  bool created_ = false;
  bool kept_ = false;
};

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The permissions a new file gets (mkstemp makes it private to its owner),
// or those of the file being replaced.
mode_t permissionsFor(const fs::path& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666) & ~mask;
}

// Makes the rename itself durable. Failure here is not reported: the new
// file is complete and in place either way.
void syncDirectory(const fs::path& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

void writeFileAtomically(const fs::path& path, std::string_view content) {
  const fs::path dir = createParentFolder(path);
  TemporaryFile temp(path);
  if (!temp.opened()) throw CommandError("cannot write " + quote(path) + ": " + lastError());
  if (::fchmod(temp.fd(), permissionsFor(path)) != 0 || !writeAll(temp.fd(), content) || ::fsync(temp.fd()) != 0 || !temp.close())
    throw CommandError("cannot write " + quote(path) + ": " + lastError());
  if (std::rename(temp.name().c_str(), path.c_str()) != 0)
    throw CommandError("cannot write " + quote(path) + ": " + lastError());
  temp.keep();
  syncDirectory(dir);
}

}  // namespace veltrane::cli
