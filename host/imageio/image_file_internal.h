#pragma once
// Parts of image_file.cpp shared with the format back ends. Not part of the
// library's interface.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "host/imageio/image_file.h"

namespace veltrane::host::detail {

[[noreturn]] void failRead(const std::string& path, std::string_view reason);
[[noreturn]] void failWrite(const std::string& path, std::string_view reason);

// Text from a file or a library made fit for one line of an error message:
// control characters escaped, repeated lines given once, the length bounded.
std::string cleanMessage(std::string_view text);

// The file name extension, lower case, with its dot; empty when none.
std::string lowerExtension(const std::string& path);

template <typename T>
T load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void store(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// Colour and alpha of interleaved file samples (16-bit on 0..65535) into the
// host's two planes; `image` gives the size, depth and colour channel count.
void splitAlpha(const std::uint8_t* src, HostImage& image, int fileChannels, int alphaIndex);

// The image's samples as a file of `depth` holds them, interleaved, with
// alpha last when asked for.
std::vector<std::uint8_t> fileSamples(const HostImage& image, SampleDepth depth, bool withAlpha);

void validateForWrite(const std::string& path, const HostImage& image);

// The name a write of `path` replaces, once checked: not a folder or a
// special file (through symbolic links, the file they lead to, which
// os::AtomicFile replaces).
std::filesystem::path writeTarget(const std::string& path);

// The image library's part: every format but the netpbm family. Where the
// host is built without one, there are no formats and these refuse.
std::vector<ImageFormat> libraryFormats();
HostImage readWithLibrary(const std::string& path, FileInfo* info, const ReadLimits& limits);
void writeWithLibrary(const std::string& path, const HostImage& image, const FileInfo& like);
// The format's own limits on what it holds (checkOutputFile).
void checkLibraryOutput(const std::string& path, std::int32_t channels);

}  // namespace veltrane::host::detail
