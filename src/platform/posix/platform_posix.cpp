// The native half of the platform seam on POSIX systems.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/native.h"

namespace veltrane::platform::native {

void showMessageBox(const std::string& caption, const std::string& text) {
  // No window system here: one line on standard error, whatever the
  // caption, with line breaks folded into blanks.
  (void)caption;
  std::string line = text;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "Veltrane: %s\n", line.c_str());
  std::fflush(stderr);
}

int processorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 && n < 65536 ? static_cast<int>(n) : 0;
}

// No file chooser without a window system: always "cancelled".
std::optional<std::string> chooseFile(bool /*saving*/, const FileChooserSpec& /*spec*/) { return std::nullopt; }

}  // namespace veltrane::platform::native
