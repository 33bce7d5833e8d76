// Image files in and out: the netpbm family through the project's own codec,
// everything else through the image library (image_file_library.cpp).
#include "host/imageio/image_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "host/imageio/image_file_internal.h"
#include "host/imageio/netpbm.h"
#include "host/os/os.h"

namespace veltrane::host {

namespace detail {
namespace fs = std::filesystem;

namespace {

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

}  // namespace

[[noreturn]] void failRead(const std::string& path, std::string_view reason) {
  throw ImageFileError("cannot read image file '" + cleanMessage(path) + "': " + cleanMessage(reason));
}

[[noreturn]] void failWrite(const std::string& path, std::string_view reason) {
  throw ImageFileError("cannot write image file '" + cleanMessage(path) + "': " + cleanMessage(reason));
}

std::string cleanMessage(std::string_view text) {
  constexpr std::size_t maxLength = 300;
  constexpr int maxLines = 3;
  std::vector<std::string_view> seen;
  std::string out;
  while (!text.empty() && static_cast<int>(seen.size()) < maxLines) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    // Some libraries repeat a line for every row they failed on.
    if (line.empty() || std::find(seen.begin(), seen.end(), line) != seen.end()) continue;
    seen.push_back(line);
    if (!out.empty()) out += "; ";
    for (const char c : line) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7f) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
        out += escaped;
      } else {
        out += c;
      }
    }
    if (out.size() > maxLength) break;
  }
  if (out.size() > maxLength) {
    std::size_t cut = maxLength;
    // Not inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xc0) == 0x80) --cut;
    out.resize(cut);
    out += "...";
  }
  return out;
}

std::string lowerExtension(const std::string& path) {
  std::string ext = os::pathToUtf8(os::pathFromUtf8(path).extension());
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
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

  // In 64 bits: a deeper file depth can need more than a 32-bit build can address.
  const std::int64_t bytes = image.pixelCount() * (image.channels + (withAlpha ? 1 : 0)) * bytesPerSample(depth);
  if (static_cast<std::uint64_t>(bytes) > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
  std::vector<std::uint8_t> out(static_cast<std::size_t>(bytes));
  // 8-bit and float colour without alpha is stored as the host holds it.
  if (depth == image.depth && depth != SampleDepth::u16 && !withAlpha) {
    std::memcpy(out.data(), image.pixels.data(), out.size());
    return out;
  }
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

fs::path writeTarget(const std::string& path) {
  const fs::path target = os::pathFromUtf8(path);
  std::error_code ec;
  const fs::file_status existing = fs::status(target, ec);
  if (fs::is_directory(existing)) failWrite(path, "it is a directory");
  if (fs::exists(existing) && !fs::is_regular_file(existing)) failWrite(path, "it is not a regular file");
  return target;
}

}  // namespace detail

namespace {

using namespace detail;
namespace fs = std::filesystem;

// The netpbm file names, each with the kind written under it.
bool netpbmKindFor(const std::string& path, netpbm::Kind& kind) {
  const std::string ext = lowerExtension(path);
  if (ext == ".pam") kind = netpbm::Kind::pam;
  else if (ext == ".pfm") kind = netpbm::Kind::pfm;
  else if (ext == ".pgm" || ext == ".ppm") kind = netpbm::Kind::pnm;
  else return false;
  return true;
}

const char* formatName(netpbm::Kind kind) {
  switch (kind) {
    case netpbm::Kind::pnm: return "pnm";
    case netpbm::Kind::pam: return "pam";
    case netpbm::Kind::pfm: return "pfm";
  }
  return "pam";
}

HostImage readNetpbm(const std::string& path, FileInfo* info) {
  std::ifstream in(os::pathFromUtf8(path), std::ios::binary);
  if (!in) failRead(path, "the file cannot be opened");
  netpbm::Image file;
  try {
    file = netpbm::read(in);
  } catch (const netpbm::Error& e) {
    failRead(path, e.what());
  }

  HostImage image;
  image.width = file.width;
  image.height = file.height;
  const bool hasAlpha = file.channels == 2 || file.channels == 4;
  image.channels = hasAlpha ? file.channels - 1 : file.channels;
  image.depth = file.bytesPerSample == 1 ? SampleDepth::u8 : file.bytesPerSample == 2 ? SampleDepth::u16 : SampleDepth::f32;
  if (hasAlpha) {
    splitAlpha(file.samples.data(), image, file.channels, file.channels - 1);
  } else {
    image.pixels = std::move(file.samples);
    if (image.depth == SampleDepth::u16)
      for (std::size_t i = 0; i < image.pixels.size(); i += 2)
        store(&image.pixels[i], fileToHost16(load<std::uint16_t>(&image.pixels[i])));
  }
  if (info) {
    FileInfo out;
    out.format = formatName(file.kind);
    out.depth = image.depth;
    out.bitsPerSample = file.bitsPerSample;
    out.width = file.width;
    out.height = file.height;
    out.fileChannels = file.channels;
    out.hasAlpha = hasAlpha;
    *info = std::move(out);
  }
  return image;
}

void checkPixelLimit(const std::string& path, std::int64_t width, std::int64_t height, const ReadLimits& limits) {
  if (width * height > limits.maxPixels)
    failRead(path, std::to_string(width) + "x" + std::to_string(height) + " pixels, more than the limit of " +
                       std::to_string(limits.maxPixels));
}

void writeNetpbm(const std::string& path, const HostImage& image, netpbm::Kind kind) {
  const fs::path target = writeTarget(path);
  const SampleDepth depth = outputDepthFor(formatName(kind), image.depth);
  const bool withAlpha = image.hasAlpha() && kind == netpbm::Kind::pam;
  netpbm::Image file;
  file.kind = kind;
  file.width = image.width;
  file.height = image.height;
  file.channels = image.channels + (withAlpha ? 1 : 0);
  file.bytesPerSample = static_cast<std::int32_t>(bytesPerSample(depth));
  file.samples = fileSamples(image, depth, withAlpha);

  // Encoded and read back in memory: what goes to the disk is known good.
  std::stringstream encoded(std::ios::in | std::ios::out | std::ios::binary);
  try {
    netpbm::write(encoded, file);
    if (netpbm::read(encoded).samples != file.samples) failWrite(path, "the encoded file does not read back as written");
  } catch (const netpbm::Error& e) {
    failWrite(path, e.what());
  }
  const std::string text = std::move(encoded).str();
  os::writeFileAtomically(target, text.data(), text.size());
}

HostImage readImpl(const std::string& path, FileInfo* info, const ReadLimits& limits) {
  std::error_code ec;
  const fs::file_status status = fs::status(os::pathFromUtf8(path), ec);
  if (!fs::exists(status)) failRead(path, "no such file");
  if (fs::is_directory(status)) failRead(path, "it is a directory");
  netpbm::Kind kind{};
  if (netpbmKindFor(path, kind)) {
    // Memory grows only with the pixels the file holds; the limit is checked after.
    HostImage image = readNetpbm(path, info);
    checkPixelLimit(path, image.width, image.height, limits);
    return image;
  }
  return readWithLibrary(path, info, limits);
}

void writeImpl(const std::string& path, const HostImage& image, const FileInfo& like) {
  validateForWrite(path, image);
  netpbm::Kind kind{};
  if (netpbmKindFor(path, kind)) return writeNetpbm(path, image, kind);
  writeWithLibrary(path, image, like);
}

}  // namespace

std::vector<ImageFormat> imageFormats() {
  std::vector<ImageFormat> formats = libraryFormats();
  formats.push_back({"pam", {".pam"}});
  formats.push_back({"pfm", {".pfm"}});
  formats.push_back({"pnm", {".pgm", ".ppm"}});
  return formats;
}

std::string imageFormatList() {
  std::string text;
  for (const ImageFormat& f : imageFormats()) {
    if (!text.empty()) text += ", ";
    for (std::size_t i = 0; i < f.extensions.size(); ++i) text += (i ? "/" : "") + f.extensions[i];
  }
  return text;
}

void checkOutputFile(const std::string& path, std::int32_t channels) {
  try {
    const std::string ext = lowerExtension(path);
    if (ext.empty()) failWrite(path, "no file name extension to choose the format by (" + imageFormatList() + ")");
    netpbm::Kind kind{};
    if (!netpbmKindFor(path, kind)) checkLibraryOutput(path, channels);
    const fs::path target = writeTarget(path);
    const os::AtomicFile probe(target);  // the folder takes the temporary; removed again at once
  } catch (const ImageFileError&) {
    throw;
  } catch (const std::exception& e) {
    failWrite(path, e.what());
  }
}

HostImage readImageFile(const std::string& path, FileInfo* info, const ReadLimits& limits) {
  try {
    return readImpl(path, info, limits);
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
  static constexpr std::array<std::string_view, 6> integerOnly = {"png", "pnm", "pam", "sgi", "jpeg2000", "iff"};
  static constexpr std::array<std::string_view, 3> floatOnly = {"openexr", "hdr", "pfm"};
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
  // A file of another size is refused before its pixels are read.
  ReadLimits limits;
  limits.maxPixels = std::int64_t{expectedWidth} * expectedHeight;
  HostImage file = readImageFile(path, nullptr, limits);
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