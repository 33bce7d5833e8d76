// Builds without an image library: only the netpbm family is handled.
#include "host/imageio/image_file_internal.h"

namespace veltrane::host::detail {

std::vector<ImageFormat> libraryFormats() { return {}; }

HostImage readWithLibrary(const std::string& path, FileInfo* /*info*/, const ReadLimits& /*limits*/) {
  failRead(path, "this build reads only netpbm files: .pam, .pfm, .pgm and .ppm");
}

void writeWithLibrary(const std::string& path, const HostImage& /*image*/, const FileInfo& /*like*/) {
  failWrite(path, "this build writes only netpbm files: .pam, .pfm, .pgm and .ppm");
}

void checkLibraryOutput(const std::string& path, std::int32_t /*channels*/) {
  failWrite(path, "this build writes only netpbm files: .pam, .pfm, .pgm and .ppm");
}

}  // namespace veltrane::host::detail
