#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Image files in and out for the host stand-in. Files named .pam, .pfm, .pgm
// and .ppm go through the project's netpbm codec (netpbm.h), on every
// platform; every other format through the build's imaging library:
// OpenImageIO on Linux, the Windows Imaging Component on Windows (a build
// without either handles only those four).
namespace veltrane::host {

enum class SampleDepth { u8 = 8, u16 = 16, f32 = 32 };

constexpr std::int64_t bytesPerSample(SampleDepth depth) {
  return depth == SampleDepth::u8 ? 1 : depth == SampleDepth::u16 ? 2 : 4;
}

// The largest value of a 16-bit sample as the host hands it to a plug-in.
inline constexpr std::uint32_t hostMax16 = 32768;

// 16-bit file values (0..65535) to host values (0..32768) and back, in exact
// integer arithmetic. host -> file -> host is the identity; file -> host ->
// file moves a value by at most one step.
constexpr std::uint16_t fileToHost16(std::uint16_t v) {
  return static_cast<std::uint16_t>((std::uint32_t{v} * hostMax16 + 32767u) / 65535u);
}
// Values above the host range (a plug-in's fault) are written as 65535.
constexpr std::uint16_t hostToFile16(std::uint16_t h) {
  if (h >= hostMax16) return 65535;
  return static_cast<std::uint16_t>((std::uint32_t{h} * 65535u + hostMax16 / 2) / hostMax16);
}

// An image as the host hands it to a plug-in.
struct HostImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t channels = 0;  // colour channels: 1 (grey) or 3 (RGB); alpha is kept apart
  SampleDepth depth = SampleDepth::u8;
  // Interleaved colour samples, row-major, rowBytes() per row, native byte
  // order. 8-bit as in the file; 16-bit in the host range 0..32768; 32-bit
  // float linear light as in the file.
  std::vector<std::uint8_t> pixels;
  // Empty, or width * height samples of `depth` in the FILE's encoding
  // (16-bit alpha is 0..65535, not the host range). Carried through unchanged.
  std::vector<std::uint8_t> alpha;

  std::int64_t pixelCount() const { return std::int64_t{width} * height; }
  std::int64_t rowBytes() const { return std::int64_t{width} * channels * bytesPerSample(depth); }
  std::int64_t pixelBytes() const { return rowBytes() * height; }
  std::int64_t alphaBytes() const { return pixelCount() * bytesPerSample(depth); }
  bool hasAlpha() const { return !alpha.empty(); }
};

namespace detail {
struct KeptFileData;  // metadata and geometry carried from a read to a write
}

// What was read besides the pixels; passed back to writeImageFile so the
// result keeps what the input had.
struct FileInfo {
  std::string format;                   // "png", "jpeg", "tiff", "openexr", ...; "pnm", "pam", "pfm" for netpbm
  SampleDepth depth = SampleDepth::u8;  // the depth the samples were read at
  std::int32_t bitsPerSample = 8;       // as stored in the file (e.g. 10, 12 or 16 for u16)
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t fileChannels = 0;  // including alpha
  bool hasAlpha = false;
  bool alphaAssociated = false;  // colour stored premultiplied by alpha (e.g. OpenEXR)
  // Colour profile, resolution, orientation, Exif/GPS/IPTC, colour space,
  // data and display windows and, for a write in the same format at the same
  // depth, the compression settings and stored sample type (half floats,
  // 10- and 12-bit integers). Shared and never modified, so copies are cheap.
  std::shared_ptr<const detail::KeptFileData> kept;
};

class ImageFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An image format the host offers: the formats it reads and writes, all
// tested; every other file name extension is refused.
struct ImageFormat {
  std::string name;                     // as FileInfo::format names it
  std::vector<std::string> extensions;  // lower case with the dot, usual one first
};
// The formats of this build, in the order shown to users.
std::vector<ImageFormat> imageFormats();
// The same as one line: ".png, .jpg/.jpeg, ...".
std::string imageFormatList();

// The largest image a read accepts unless told otherwise: a gigapixel.
inline constexpr std::int64_t defaultMaxPixels = std::int64_t{1} << 30;

struct ReadLimits {
  // Files claiming more pixels are refused before their pixels are read.
  std::int64_t maxPixels = defaultMaxPixels;
};

// Reads the first image of a file (the first page or subimage only). Sample types map to the host's depths:
//   1..8-bit integer            -> u8  (fewer bits are scaled up by the library)
//   9..16-bit integer           -> u16 (10- and 12-bit scaled to the full 16-bit range)
//   32/64-bit integer           -> u16 (no host depth holds more integer bits)
//   half, float, double         -> f32
// 1 channel is grey, 2 grey + alpha, 3 RGB, 4 RGB + alpha (CMYK files are
// converted to RGB by the library). Any other channel count is refused.
// Alpha values are read as stored: never premultiplied or divided out.
// The claimed size is checked against `limits` and against what a file of
// its size can hold before any memory is taken for the pixels.
// Throws ImageFileError naming the file on any failure.
HostImage readImageFile(const std::string& path, FileInfo* info = nullptr, const ReadLimits& limits = {});

// The depth a format is written at when the image has `wanted`:
//   jpeg, bmp, gif, targa, webp, heif, ico      -> u8 (8-bit only)
//   png, pnm, pam, sgi, jpeg2000, iff           -> u8 or u16; f32 is written as u16
//   openexr, hdr, pfm                           -> f32 (float only)
//   tiff and any other                          -> `wanted`
SampleDepth outputDepthFor(const std::string& format, SampleDepth wanted);

// Writes `image` atomically through os::AtomicFile: the target is either the
// old file or the complete new one. The format comes from the target's
// extension; the depth from outputDepthFor(). Converting down scales values
// and rounds (floats are clamped to 0..1 first) with no change of transfer
// curve; converting up to float divides by the integer maximum. Alpha is
// written exactly when the format holds the image's depth and an alpha
// channel; formats without alpha (jpeg, pnm, pfm, hdr) get the colour only.
// `like` supplies the metadata and the alpha association (pass a default
// FileInfo for none: straight alpha). Writing premultiplied colour to a
// format that stores straight alpha (png) divides the colour by alpha. The
// new file must open as an image of the right size before it replaces the
// target. Throws ImageFileError naming the file on any failure; the
// temporary is then removed and an existing target is left untouched.
// The file is encoded and decoded again in memory where the library can, and
// written with every write and the final flush checked; lossless formats
// must read back sample for sample.
void writeImageFile(const std::string& path, const HostImage& image, const FileInfo& like);

// What can be checked before the filtering time is spent: that `path` names
// an offered format by its extension, that the format can hold an image of
// `channels` colour channels, that its folder exists and takes a new file
// next to it (the temporary), and that it is not a directory or special
// file. Throws ImageFileError naming the file.
void checkOutputFile(const std::string& path, std::int32_t channels);

// Reads a selection mask for an image of expectedWidth x expectedHeight: an
// 8-bit, one-channel result. The file must have exactly that size and be
// grey (one channel, or three equal channels); any alpha it has is ignored.
// Deeper samples are rounded to 8 bits (floats clamped to 0..1).
HostImage readMaskFile(const std::string& path, std::int32_t expectedWidth, std::int32_t expectedHeight);

}  // namespace veltrane::host
