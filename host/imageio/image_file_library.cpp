// Image files through OpenImageIO: every format the host reads and writes
// except the netpbm family, which has its own codec.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include "host/imageio/image_file_internal.h"

namespace veltrane::host {
namespace detail {

struct KeptFileData {
  std::string format;
  OIIO::ParamValueList attributes;            // written in any format
  OIIO::ParamValueList sameFormatAttributes;  // written only in `format`
  // The stored sample type, used again for the same format and depth so that
  // half floats and 10- or 12-bit files keep their size.
  SampleDepth depth = SampleDepth::u8;
  OIIO::TypeDesc fileType;
  int bitsPerSample = 8;
  // The data window's origin and the display window, for images of the
  // size that was read.
  std::int32_t width = 0, height = 0;
  std::int32_t x = 0, y = 0;
  std::int32_t fullX = 0, fullY = 0, fullWidth = 0, fullHeight = 0;
};

}  // namespace detail

namespace detail {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 17> keptNames = {
    "ICCProfile", "XResolution", "YResolution",  "ResolutionUnit",   "PixelAspectRatio", "Orientation",
    "DateTime",   "Artist",      "Copyright",    "ImageDescription", "DocumentName",     "Make",
    "Model",      "Software",    "HostComputer", "oiio:ColorSpace",  "oiio:Gamma",
};
constexpr std::array<std::string_view, 3> keptPrefixes = {"Exif:", "GPS:", "IPTC:"};
// Encoder settings: meaningful only to the writer of the format they came from.
constexpr std::array<std::string_view, 4> sameFormatNames = {"compression", "CompressionQuality", "jpeg:subsampling",
                                                             "planarconfig"};

bool isKept(std::string_view name) {
  if (std::find(keptNames.begin(), keptNames.end(), name) != keptNames.end()) return true;
  return std::any_of(keptPrefixes.begin(), keptPrefixes.end(),
                     [name](std::string_view p) { return name.starts_with(p); });
}

bool isSameFormatOnly(std::string_view name) {
  return std::find(sameFormatNames.begin(), sameFormatNames.end(), name) != sameFormatNames.end();
}

// The library's messages may span lines and end with a newline.
std::string tidy(std::string message, std::string_view fallback) {
  std::replace(message.begin(), message.end(), '\n', ' ');
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message.empty() ? std::string(fallback) : message;
}

OIIO::TypeDesc typeFor(SampleDepth depth) {
  switch (depth) {
    case SampleDepth::u8: return OIIO::TypeDesc::UINT8;
    case SampleDepth::u16: return OIIO::TypeDesc::UINT16;
    case SampleDepth::f32: return OIIO::TypeDesc::FLOAT;
  }
  return OIIO::TypeDesc::UINT8;
}

// The host depth for one stored sample type; false for types with no sensible
// mapping (strings, pointers, unknown).
bool depthForType(OIIO::TypeDesc type, SampleDepth& depth) {
  switch (type.basetype) {
    case OIIO::TypeDesc::UINT8:
    case OIIO::TypeDesc::INT8: depth = SampleDepth::u8; return true;
    case OIIO::TypeDesc::UINT16:
    case OIIO::TypeDesc::INT16:
    case OIIO::TypeDesc::UINT32:
    case OIIO::TypeDesc::INT32:
    case OIIO::TypeDesc::UINT64:
    case OIIO::TypeDesc::INT64: depth = SampleDepth::u16; return true;
    case OIIO::TypeDesc::HALF:
    case OIIO::TypeDesc::FLOAT:
    case OIIO::TypeDesc::DOUBLE: depth = SampleDepth::f32; return true;
    default: return false;
  }
}

// Channels with different types are read at the deepest of them.
SampleDepth depthForSpec(const OIIO::ImageSpec& spec, const std::string& path) {
  SampleDepth depth = SampleDepth::u8;
  if (!depthForType(spec.format, depth)) failRead(path, "unsupported sample type " + std::string(spec.format.c_str()));
  for (const OIIO::TypeDesc& t : spec.channelformats) {
    SampleDepth d = SampleDepth::u8;
    if (!depthForType(t, d)) failRead(path, "unsupported sample type " + std::string(t.c_str()));
    if (static_cast<int>(d) > static_cast<int>(depth)) depth = d;
  }
  return depth;
}

std::size_t checkedBytes(const std::string& path, std::int64_t width, std::int64_t height, std::int64_t channels,
                         std::int64_t bytes) {
  const std::int64_t limit = std::numeric_limits<std::int64_t>::max();
  if (width > limit / height / channels / bytes) failRead(path, "image too large");
  return static_cast<std::size_t>(width * height * channels * bytes);
}

std::shared_ptr<const detail::KeptFileData> keepFromSpec(const OIIO::ImageSpec& spec, const std::string& format,
                                                         SampleDepth depth, int bitsPerSample) {
  auto kept = std::make_shared<detail::KeptFileData>();
  kept->format = format;
  kept->depth = depth;
  kept->fileType = spec.format;
  kept->bitsPerSample = bitsPerSample;
  for (const OIIO::ParamValue& p : spec.extra_attribs) {
    const std::string_view name = p.name().string();
    if (isKept(name)) {
      kept->attributes.push_back(p);
    } else if (isSameFormatOnly(name)) {
      kept->sameFormatAttributes.push_back(p);
    }
  }
  kept->width = spec.width;
  kept->height = spec.height;
  kept->x = spec.x;
  kept->y = spec.y;
  kept->fullX = spec.full_x;
  kept->fullY = spec.full_y;
  kept->fullWidth = spec.full_width;
  kept->fullHeight = spec.full_height;
  return kept;
}

// Unsigned and floating types only: a signed file type would clip the upper
// half of our unsigned samples.
bool keepsFileType(OIIO::TypeDesc type) {
  switch (type.basetype) {
    case OIIO::TypeDesc::UINT8:
    case OIIO::TypeDesc::UINT16:
    case OIIO::TypeDesc::UINT32:
    case OIIO::TypeDesc::HALF:
    case OIIO::TypeDesc::FLOAT:
    case OIIO::TypeDesc::DOUBLE: return true;
    default: return false;
  }
}

OIIO::ImageSpec outputSpec(const HostImage& image, SampleDepth depth, bool withAlpha, const FileInfo& like,
                           const std::string& format) {
  const int channels = image.channels + (withAlpha ? 1 : 0);
  OIIO::ImageSpec spec(image.width, image.height, channels, typeFor(depth));
  spec.channelnames = image.channels == 1 ? std::vector<std::string>{"Y"} : std::vector<std::string>{"R", "G", "B"};
  if (withAlpha) {
    spec.channelnames.emplace_back("A");
    spec.alpha_channel = channels - 1;
  } else {
    spec.alpha_channel = -1;
  }

  if (const detail::KeptFileData* kept = like.kept.get()) {
    for (const OIIO::ParamValue& p : kept->attributes) spec.attribute(p.name(), p.type(), p.data());
    if (kept->format == format) {
      for (const OIIO::ParamValue& p : kept->sameFormatAttributes) spec.attribute(p.name(), p.type(), p.data());
      if (kept->depth == depth && keepsFileType(kept->fileType)) {
        spec.set_format(kept->fileType);  // the writer converts our samples to it
        // The TIFF writer otherwise widens half to float.
        if (kept->fileType == OIIO::TypeDesc::HALF) spec.attribute("tiff:half", 1);
        if (kept->bitsPerSample > 8 && kept->bitsPerSample < static_cast<int>(kept->fileType.size()) * 8) {
          spec.attribute("oiio:BitsPerSample", kept->bitsPerSample);
        }
      }
    }
    if (kept->width == image.width && kept->height == image.height) {
      spec.x = kept->x;
      spec.y = kept->y;
      spec.full_x = kept->fullX;
      spec.full_y = kept->fullY;
      spec.full_width = kept->fullWidth;
      spec.full_height = kept->fullHeight;
    }
  }
  // Written as given: the writer neither multiplies nor divides by alpha
  // unless the colour is premultiplied and the format stores straight alpha.
  if (withAlpha) {
    spec.attribute("oiio:UnassociatedAlpha", like.alphaAssociated ? 0 : 1);
  } else {
    spec.erase_attribute("oiio:UnassociatedAlpha");
  }
  return spec;
}

// Not every writer notices a failed final flush, so before the old file is
// replaced, the new one must at least open as an image of the right shape.
void verifyWritten(const std::string& path, const fs::path& written, int width, int height, int channels) {
  auto in = OIIO::ImageInput::open(written.string());
  if (!in) failWrite(path, "the written file does not read back: " + tidy(OIIO::geterror(), "unknown error"));
  const OIIO::ImageSpec& spec = in->spec();
  if (spec.width != width || spec.height != height || spec.nchannels != channels) {
    failWrite(path, "the written file does not read back with the image's size");
  }
}

}  // namespace

void writeWithLibrary(const std::string& path, const HostImage& image, const FileInfo& like) {
  const WriteTarget target = writeTarget(path);

  // Chosen by the target's name, before any file is created.
  const std::unique_ptr<OIIO::ImageOutput> probe = OIIO::ImageOutput::create(path);
  if (!probe) {
    OIIO::geterror();  // clear; its text names the library rather than the problem
    const std::string ext = fs::path(path).extension().string();
    failWrite(path, ext.empty() ? "no file name extension to choose an image format by"
                                : "no image format is known for the extension '" + ext + "'");
  }
  const std::string format = probe->format_name();
  const SampleDepth depth = outputDepthFor(format, image.depth);
  const bool withAlpha = image.hasAlpha() && probe->supports("alpha");
  const OIIO::ImageSpec spec = outputSpec(image, depth, withAlpha, like, format);
  const std::vector<std::uint8_t> samples = fileSamples(image, depth, withAlpha);

  TemporaryFile temp(target.file);
  {
    // Closed (and destroyed) before the temporary is renamed or removed.
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out) failWrite(path, tidy(OIIO::geterror(), "no writer for this file name extension"));
    if (!out->open(temp.path().string(), spec)) failWrite(path, tidy(out->geterror(), "cannot create the file"));
    if (!out->write_image(typeFor(depth), samples.data())) {
      failWrite(path, tidy(out->geterror(), "the pixels could not be written"));
    }
    if (!out->close()) failWrite(path, tidy(out->geterror(), "the file could not be completed"));
    // The return values decide: the TIFF writer also leaves a message when it
    // has no Exif directory to write, yet the file is complete.
    out->geterror();
  }
  verifyWritten(path, temp.path(), image.width, image.height, spec.nchannels);

  temp.replace(target);
}

HostImage readWithLibrary(const std::string& path, FileInfo* info) {
  // Ask for alpha exactly as stored: the library otherwise multiplies the
  // colour of straight-alpha files (png, most tiff) by alpha.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) failRead(path, tidy(OIIO::geterror(), "not an image file the library can read"));
  const OIIO::ImageSpec spec = in->spec();
  const std::string format = in->format_name();

  if (spec.deep) failRead(path, "deep images are not supported");
  if (spec.depth > 1) failRead(path, "volume images are not supported");
  if (spec.width <= 0 || spec.height <= 0) failRead(path, "the image has no pixels");
  const int fileChannels = spec.nchannels;
  if (fileChannels < 1 || fileChannels > 4) {
    failRead(path, std::to_string(fileChannels) +
                       " channels; only grey, grey + alpha, RGB and RGB + alpha images are supported");
  }
  const SampleDepth depth = depthForSpec(spec, path);
  const bool hasAlpha = fileChannels == 2 || fileChannels == 4;
  int alphaIndex = -1;
  if (hasAlpha) {
    alphaIndex = spec.alpha_channel >= 0 && spec.alpha_channel < fileChannels ? spec.alpha_channel : fileChannels - 1;
  }

  const std::int64_t bps = bytesPerSample(depth);
  std::vector<std::uint8_t> raw(checkedBytes(path, spec.width, spec.height, fileChannels, bps));
  // Some readers report a cut-short file only as an error message and
  // return success with the missing rows filled in; both count as failure.
  if (!in->read_image(0, 0, 0, fileChannels, typeFor(depth), raw.data()) || in->has_error()) {
    failRead(path, tidy(in->geterror(), "the pixels could not be decoded"));
  }
  in->close();

  HostImage image;
  image.width = spec.width;
  image.height = spec.height;
  image.channels = hasAlpha ? fileChannels - 1 : fileChannels;
  image.depth = depth;
  if (!hasAlpha) {
    // Already laid out as the host wants; 16-bit values move to the host range in place.
    image.pixels = std::move(raw);
    if (depth == SampleDepth::u16) {
      for (std::size_t i = 0; i < image.pixels.size(); i += 2) {
        store(&image.pixels[i], fileToHost16(load<std::uint16_t>(&image.pixels[i])));
      }
    }
  } else {
    splitAlpha(raw.data(), image, fileChannels, alphaIndex);
  }

  if (info) {
    FileInfo out;
    out.format = format;
    out.depth = depth;
    out.bitsPerSample = spec.get_int_attribute("oiio:BitsPerSample", static_cast<int>(spec.format.size()) * 8);
    out.width = spec.width;
    out.height = spec.height;
    out.fileChannels = fileChannels;
    out.hasAlpha = hasAlpha;
    // Files whose reader reports nothing follow the library's convention:
    // premultiplied.
    out.alphaAssociated = hasAlpha && spec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    out.kept = keepFromSpec(spec, format, depth, out.bitsPerSample);
    *info = std::move(out);
  }
  return image;
}


}  // namespace detail
std::string imageFormatsHelp() {
  return "Formats: .pam, .pfm, .pgm and .ppm through the command's own netpbm codec; every\n"
         "other file through OpenImageIO, which reads and writes PNG, JPEG, TIFF, OpenEXR\n"
         "and the other formats it was built with.\n";
}

}  // namespace veltrane::host
