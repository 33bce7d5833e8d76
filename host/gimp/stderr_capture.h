#pragma once
#include <cstdio>
#include <string>
#include <vector>

// The modules report to the user with lines on standard error. While a
// StderrCapture lives, everything written to file descriptor 2 goes into a
// temporary file instead, from which takeLines() hands out the complete
// lines written since its last call. The destructor puts standard error
// back.
namespace veltrane::gimp {

class StderrCapture {
 public:
  // Throws std::system_error when standard error cannot be redirected.
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // The lines completed since the last call, without their line breaks. With
  // `all`, an unfinished last line is handed out too.
  std::vector<std::string> takeLines(bool all = false);

 private:
  std::FILE* file_ = nullptr;
  int saved_ = -1;
  long long readOffset_ = 0;
  std::string partial_;
};

}  // namespace veltrane::gimp
