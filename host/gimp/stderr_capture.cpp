#include "stderr_capture.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace veltrane::gimp {

StderrCapture::StderrCapture() {
  std::fflush(stderr);
  file_ = std::tmpfile();
  if (!file_) throw std::system_error(errno, std::generic_category(), "cannot make a file for messages");
  saved_ = ::dup(STDERR_FILENO);
  if (saved_ < 0 || ::dup2(::fileno(file_), STDERR_FILENO) < 0) {
    const int error = errno;
    if (saved_ >= 0) ::close(saved_);
    std::fclose(file_);
    throw std::system_error(error, std::generic_category(), "cannot redirect standard error");
  }
}

StderrCapture::~StderrCapture() {
  std::fflush(stderr);
  ::dup2(saved_, STDERR_FILENO);
  ::close(saved_);
  std::fclose(file_);
}

std::vector<std::string> StderrCapture::takeLines(bool all) {
  std::fflush(stderr);
  char chunk[4096];
  while (true) {
    // pread leaves the offset the writers share where it is.
    const ssize_t n = ::pread(::fileno(file_), chunk, sizeof chunk, static_cast<off_t>(readOffset_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    partial_.append(chunk, static_cast<std::size_t>(n));
    readOffset_ += n;
  }
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(partial_.substr(start, end - start));
  partial_.erase(0, start);
  if (all && !partial_.empty()) {
    lines.push_back(partial_);
    partial_.clear();
  }
  return lines;
}

}  // namespace veltrane::gimp
