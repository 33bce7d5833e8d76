// Builds without an image library: only the netpbm family is handled.
#include "host/imageio/image_file_internal.h"

namespace veltrane::host::detail {

HostImage readWithLibrary(const std::string& path, FileInfo* /*info*/) {
  failRead(path, "this build reads only netpbm files: .pam, .pfm, .pgm and .ppm");
}

void writeWithLibrary(const std::string& path, const HostImage& /*image*/, const FileInfo& /*like*/) {
  failWrite(path, "this build writes only netpbm files: .pam, .pfm, .pgm and .ppm");
}

}  // namespace veltrane::host::detail

namespace veltrane::host {

std::string imageFormatsHelp() {
  return "Formats: .pam, .pfm, .pgm and .ppm only (netpbm, through the command's own codec).\n";
}

}  // namespace veltrane::host
