#include "host/imageio/image_file.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <random>
#include <string_view>
#include <system_error>
#include <utility>

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

[[noreturn]] void failRead(const std::string& path, std::string_view reason) {
  throw ImageFileError("cannot read image file '" + path + "': " + std::string(reason));
}

[[noreturn]] void failWrite(const std::string& path, std::string_view reason) {
  throw ImageFileError("cannot write image file '" + path + "': " + std::string(reason));
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

// How a source sample is encoded: host 16-bit colour uses 0..32768, alpha
// and everything in a file use 0..65535.
enum class Encoding { u8, host16, file16, f32 };

Encoding colourEncoding(SampleDepth d) {
  return d == SampleDepth::u8 ? Encoding::u8 : d == SampleDepth::u16 ? Encoding::host16 : Encoding::f32;
}
Encoding alphaEncoding(SampleDepth d) {
  return d == SampleDepth::u8 ? Encoding::u8 : d == SampleDepth::u16 ? Encoding::file16 : Encoding::f32;
}

float clamp01(float x) { return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; }  // NaN -> 0

std::uint32_t roundScaled(float x, float max) { return static_cast<std::uint32_t>(clamp01(x) * max + 0.5f); }

// One sample converted from `enc` at `src` to a file value of `out` at `dst`.
void convertSample(const std::uint8_t* src, Encoding enc, std::uint8_t* dst, SampleDepth out) {
  switch (out) {
    case SampleDepth::u8: {
      std::uint32_t v = 0;
      switch (enc) {
        case Encoding::u8: v = *src; break;
        case Encoding::host16:
          v = std::min<std::uint32_t>(load<std::uint16_t>(src), hostMax16);
          v = (v * 255u + hostMax16 / 2) / hostMax16;
          break;
        case Encoding::file16: v = (std::uint32_t{load<std::uint16_t>(src)} * 255u + 32767u) / 65535u; break;
        case Encoding::f32: v = roundScaled(load<float>(src), 255.0f); break;
      }
      *dst = static_cast<std::uint8_t>(v);
      return;
    }
    case SampleDepth::u16: {
      std::uint32_t v = 0;
      switch (enc) {
        case Encoding::u8: v = std::uint32_t{*src} * 257u; break;
        case Encoding::host16: v = hostToFile16(load<std::uint16_t>(src)); break;
        case Encoding::file16: v = load<std::uint16_t>(src); break;
        case Encoding::f32: v = roundScaled(load<float>(src), 65535.0f); break;
      }
      store(dst, static_cast<std::uint16_t>(v));
      return;
    }
    case SampleDepth::f32: {
      float v = 0.0f;
      switch (enc) {
        case Encoding::u8: v = static_cast<float>(*src) / 255.0f; break;
        case Encoding::host16: v = static_cast<float>(load<std::uint16_t>(src)) / static_cast<float>(hostMax16); break;
        case Encoding::file16: v = static_cast<float>(load<std::uint16_t>(src)) / 65535.0f; break;
        case Encoding::f32: v = load<float>(src); break;
      }
      store(dst, v);
      return;
    }
  }
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

// Colour and alpha of interleaved file samples into the host's two planes.
void splitAlpha(const std::uint8_t* src, HostImage& image, int fileChannels, int alphaIndex) {
  const std::size_t sample = static_cast<std::size_t>(bytesPerSample(image.depth));
  const std::size_t pixels = static_cast<std::size_t>(image.pixelCount());
  image.pixels.resize(static_cast<std::size_t>(image.pixelBytes()));
  image.alpha.resize(static_cast<std::size_t>(image.alphaBytes()));
  std::uint8_t* colour = image.pixels.data();
  std::uint8_t* alpha = image.alpha.data();
  for (std::size_t i = 0; i < pixels; ++i) {
    for (int c = 0; c < fileChannels; ++c, src += sample) {
      if (c == alphaIndex) {
        std::memcpy(alpha, src, sample);
        alpha += sample;
        continue;
      }
      if (image.depth == SampleDepth::u16) {
        store(colour, fileToHost16(load<std::uint16_t>(src)));
      } else {
        std::memcpy(colour, src, sample);
      }
      colour += sample;
    }
  }
}

HostImage readImpl(const std::string& path, FileInfo* info) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) failRead(path, "no such file");
  if (fs::is_directory(status)) failRead(path, "it is a directory");

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

void validateForWrite(const std::string& path, const HostImage& image) {
  if (image.width <= 0 || image.height <= 0) failWrite(path, "the image has no pixels");
  if (image.channels != 1 && image.channels != 3) failWrite(path, "the image must have 1 or 3 colour channels");
  if (image.depth != SampleDepth::u8 && image.depth != SampleDepth::u16 && image.depth != SampleDepth::f32) {
    failWrite(path, "unknown sample depth");
  }
  if (static_cast<std::int64_t>(image.pixels.size()) != image.pixelBytes()) {
    failWrite(path, "the pixel buffer does not match the image size");
  }
  if (image.hasAlpha() && static_cast<std::int64_t>(image.alpha.size()) != image.alphaBytes()) {
    failWrite(path, "the alpha buffer does not match the image size");
  }
}

// The interleaved samples to hand to the writer, at `depth`, with alpha last.
std::vector<std::uint8_t> fileSamples(const HostImage& image, SampleDepth depth, bool withAlpha) {
  const std::size_t inSample = static_cast<std::size_t>(bytesPerSample(image.depth));
  const std::size_t outSample = static_cast<std::size_t>(bytesPerSample(depth));
  const std::size_t channels = static_cast<std::size_t>(image.channels);
  const std::size_t pixels = static_cast<std::size_t>(image.pixelCount());
  const Encoding colourEnc = colourEncoding(image.depth);
  const Encoding alphaEnc = alphaEncoding(image.depth);

  std::vector<std::uint8_t> out(pixels * (channels + (withAlpha ? 1 : 0)) * outSample);
  const std::uint8_t* colour = image.pixels.data();
  const std::uint8_t* alpha = image.alpha.data();
  std::uint8_t* dst = out.data();
  for (std::size_t i = 0; i < pixels; ++i) {
    for (std::size_t c = 0; c < channels; ++c, colour += inSample, dst += outSample) {
      convertSample(colour, colourEnc, dst, depth);
    }
    if (withAlpha) {
      convertSample(alpha, alphaEnc, dst, depth);
      alpha += inSample;
      dst += outSample;
    }
  }
  return out;
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

// A file reserved next to the target; removed on destruction unless kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& target) {
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::random_device seed;
    std::mt19937_64 rng((std::uint64_t{seed()} << 32) ^ seed());
    int error = EEXIST;
    for (int attempt = 0; attempt < 16; ++attempt) {
      char tag[17];
      std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(rng()));
      // The extension stays last: some writers look at it.
      fs::path candidate = dir / ("." + target.stem().string() + "." + tag + ".tmp" + target.extension().string());
      // "x": fails if the name exists, so two writers never share a file.
      if (std::FILE* f = std::fopen(candidate.string().c_str(), "wbx")) {
        std::fclose(f);
        path_ = std::move(candidate);
        return;
      }
      error = errno;
      if (error != EEXIST) break;
    }
    throw std::system_error(error, std::generic_category(), "cannot create a temporary file in " + dir.string());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!committed_) {
      std::error_code ec;
      fs::remove(path_, ec);
    }
  }

  const fs::path& path() const { return path_; }

  void renameOver(const fs::path& target) {
    fs::rename(path_, target);
    committed_ = true;
  }

 private:
  fs::path path_;
  bool committed_ = false;
};

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

void writeImpl(const std::string& path, const HostImage& image, const FileInfo& like) {
  validateForWrite(path, image);

  std::error_code ec;
  fs::path target(path);
  // Replace the file a link points to, not the link.
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    target = fs::weakly_canonical(target, ec);
    if (ec) failWrite(path, "cannot resolve the symbolic link: " + ec.message());
  }
  const fs::file_status existing = fs::status(target, ec);
  if (fs::is_directory(existing)) failWrite(path, "it is a directory");
  if (fs::exists(existing) && !fs::is_regular_file(existing)) failWrite(path, "it is not a regular file");

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

  TemporaryFile temp(target);
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

  // An existing target keeps its permissions.
  if (fs::exists(existing)) fs::permissions(temp.path(), existing.permissions(), ec);
  temp.renameOver(target);
}

}  // namespace

HostImage readImageFile(const std::string& path, FileInfo* info) {
  try {
    return readImpl(path, info);
  } catch (const ImageFileError&) {
    throw;
  } catch (const std::bad_alloc&) {
    failRead(path, "not enough memory for the image");
  } catch (const std::exception& e) {
    failRead(path, e.what());
  }
}

SampleDepth outputDepthFor(const std::string& format, SampleDepth wanted) {
  static constexpr std::array<std::string_view, 7> eightBitOnly = {"jpeg", "bmp",  "gif", "targa",
                                                                   "webp", "heif", "ico"};
  static constexpr std::array<std::string_view, 5> integerOnly = {"png", "pnm", "sgi", "jpeg2000", "iff"};
  static constexpr std::array<std::string_view, 2> floatOnly = {"openexr", "hdr"};
  auto in = [&format](const auto& list) { return std::find(list.begin(), list.end(), format) != list.end(); };
  if (in(eightBitOnly)) return SampleDepth::u8;
  if (in(integerOnly)) return wanted == SampleDepth::f32 ? SampleDepth::u16 : wanted;
  if (in(floatOnly)) return SampleDepth::f32;
  return wanted;
}

void writeImageFile(const std::string& path, const HostImage& image, const FileInfo& like) {
  try {
    writeImpl(path, image, like);
  } catch (const ImageFileError&) {
    throw;
  } catch (const std::bad_alloc&) {
    failWrite(path, "not enough memory for the image");
  } catch (const std::exception& e) {
    failWrite(path, e.what());
  }
}

HostImage readMaskFile(const std::string& path, std::int32_t expectedWidth, std::int32_t expectedHeight) {
  HostImage file = readImageFile(path);
  if (file.width != expectedWidth || file.height != expectedHeight) {
    throw ImageFileError("mask file '" + path + "' is " + std::to_string(file.width) + "x" +
                         std::to_string(file.height) + " pixels; the image is " + std::to_string(expectedWidth) + "x" +
                         std::to_string(expectedHeight));
  }
  const std::size_t sample = static_cast<std::size_t>(bytesPerSample(file.depth));
  const std::size_t pixels = static_cast<std::size_t>(file.pixelCount());
  if (file.channels == 3) {
    const std::uint8_t* p = file.pixels.data();
    for (std::size_t i = 0; i < pixels; ++i, p += 3 * sample) {
      if (std::memcmp(p, p + sample, sample) != 0 || std::memcmp(p, p + 2 * sample, sample) != 0) {
        throw ImageFileError("mask file '" + path + "' is a colour image; a mask must be grey");
      }
    }
  }

  HostImage mask;
  mask.width = file.width;
  mask.height = file.height;
  mask.channels = 1;
  mask.depth = SampleDepth::u8;
  mask.pixels.resize(pixels);
  const std::size_t stride = sample * static_cast<std::size_t>(file.channels);
  const Encoding enc = colourEncoding(file.depth);
  for (std::size_t i = 0; i < pixels; ++i) {
    convertSample(&file.pixels[i * stride], enc, &mask.pixels[i], SampleDepth::u8);
  }
  return mask;
}

}  // namespace veltrane::host
