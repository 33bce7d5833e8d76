// Image files through OpenImageIO: every format the host reads and writes
// except the netpbm family, which has its own codec.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include "host/imageio/image_file_internal.h"
#include "host/os/os.h"

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

// The formats offered: each tested in writing, reading back and on a full
// disk. The library knows many more; some of its readers and writers abort
// the process on unusual input, so the others are refused.
struct OfferedFormat {
  std::string_view name;  // the library's
  std::array<std::string_view, 4> extensions;
  // The most pixels one byte of a valid file can stand for, with the best
  // compression the format has and a margin: a claimed size beyond it is a
  // damaged or hostile file.
  std::int64_t maxPixelsPerByte;
  bool lossless;  // reads back sample for sample (unless a lossy compression is kept)
  bool greyToo;   // holds one-channel images
  bool inMemory;  // its writer can encode into memory (the TIFF writer cannot: it reads back what it wrote)
};
constexpr std::array<OfferedFormat, 8> offered = {{
    {"png", {".png"}, 8448, true, true, true},
    {"jpeg", {".jpg", ".jpeg"}, 8192, false, true, true},
    {"tiff", {".tif", ".tiff"}, 32768, true, true, false},
    {"openexr", {".exr"}, 4096, true, true, true},
    {"bmp", {".bmp"}, 16384, true, true, true},
    {"targa", {".tga"}, 128, true, true, true},
    {"sgi", {".sgi", ".rgb"}, 128, true, true, false},
    {"hdr", {".hdr"}, 64, false, false, true},
}};

const OfferedFormat* offeredFor(std::string_view extension) {
  for (const OfferedFormat& f : offered)
    if (!extension.empty() && std::find(f.extensions.begin(), f.extensions.end(), extension) != f.extensions.end())
      return &f;
  return nullptr;
}

// Whether the library has a format for the extension (one not offered).
bool libraryKnows(const std::string& extension) {
  if (extension.size() < 2) return false;
  std::string list;
  OIIO::getattribute("extension_list", list);  // "tiff:tif,tiff;jpeg:jpg,...;"
  const std::string bare = extension.substr(1);
  for (std::size_t at = 0; (at = list.find(bare, at)) != std::string::npos; at += bare.size()) {
    const std::size_t end = at + bare.size();
    const bool starts = at > 0 && (list[at - 1] == ':' || list[at - 1] == ',');
    const bool ends = end == list.size() || list[end] == ',' || list[end] == ';';
    if (starts && ends) return true;
  }
  return false;
}

[[noreturn]] void refuseExtension(const std::string& path, bool write) {
  const std::string ext = lowerExtension(path);
  std::string reason;
  if (ext.empty()) reason = "no file name extension to tell the format by";
  else if (libraryKnows(ext)) reason = "the " + ext + " format is not supported";
  else reason = "unknown file name extension '" + ext + "'";
  reason += "; supported: " + imageFormatList();
  if (write) failWrite(path, reason);
  failRead(path, reason);
}

// Some of the library's decoders print to standard error besides returning
// the error; what they return is reported instead. Only the main thread
// reads and writes images, so the redirection touches nothing else.
class StandardErrorMuted {
 public:
  StandardErrorMuted() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~StandardErrorMuted() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      ::dup2(saved_, STDERR_FILENO);
      ::close(saved_);
    }
  }
  StandardErrorMuted(const StandardErrorMuted&) = delete;
  StandardErrorMuted& operator=(const StandardErrorMuted&) = delete;

 private:
  int saved_ = -1;
};

std::uint32_t bigEndian16(const unsigned char* p) { return std::uint32_t{p[0]} << 8 | p[1]; }

// The SGI reader aborts on a header with a sample size other than 1 or 2
// bytes, so the header is checked here first: the fields, and that the file
// is long enough for its pixels (uncompressed) or its row tables (run-length).
// `file` holds the data (a written temporary or `path` itself).
void checkSgiHeader(const std::string& path, const fs::path& file, bool written) {
  const auto fail = written ? failWrite : failRead;
  std::error_code ec;
  const std::uintmax_t fileBytes = fs::file_size(file, ec);
  unsigned char h[12] = {};
  std::ifstream in(file, std::ios::binary);
  if (ec || !in.read(reinterpret_cast<char*>(h), sizeof h)) fail(path, "the SGI header is cut short");
  const std::uint32_t magic = bigEndian16(h), storage = h[2], bpc = h[3], dimension = bigEndian16(h + 4);
  const std::uint64_t x = bigEndian16(h + 6), y = bigEndian16(h + 8), z = bigEndian16(h + 10);
  if (magic != 474) fail(path, "not an SGI file");
  if (storage > 1 || (bpc != 1 && bpc != 2) || dimension < 1 || dimension > 3 || x == 0 || y == 0 || z == 0)
    fail(path, "the SGI header is damaged");
  const std::uint64_t rows = (dimension == 1 ? 1 : y) * (dimension == 3 ? z : 1);
  const std::uint64_t needed = 512 + (storage == 0 ? rows * x * bpc : rows * 8);
  if (fileBytes < needed) fail(path, "the file is too short for the size its SGI header gives");
}

// libtiff reports a damaged strip or tile to its error handler; the image
// library's TIFF reader does not always pass that on and may then return
// success with samples it never decoded. A second handler (libtiff calls
// both) counts the reports and keeps the first text since the last reset.
std::atomic<int> tiffErrors{0};
std::mutex tiffMessageMutex;
char tiffMessage[256];

extern "C" void countTiffError(thandle_t, const char* /*module*/, const char* format, va_list args) {
  if (tiffErrors.fetch_add(1) != 0) return;
  const std::lock_guard lock(tiffMessageMutex);
  std::vsnprintf(tiffMessage, sizeof tiffMessage, format, args);
}

void resetTiffErrors() {
  static std::once_flag installed;
  std::call_once(installed, [] { TIFFSetErrorHandlerExt(countTiffError); });
  const std::lock_guard lock(tiffMessageMutex);
  tiffMessage[0] = '\0';
  tiffErrors.store(0);
}

void failOnTiffErrors(const std::string& path) {
  if (tiffErrors.load() == 0) return;
  const std::lock_guard lock(tiffMessageMutex);
  failRead(path, std::string("damaged TIFF data: ") + (tiffMessage[0] ? tiffMessage : "decoding error"));
}

// Decodes every strip or tile of the first image with libtiff itself, so that
// damage its decoders notice is never passed over.
void checkTiffDecodes(const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) failRead(path, "the TIFF file cannot be opened again");
  const bool tiled = TIFFIsTiled(tiff) != 0;
  const tmsize_t size = tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
  const std::uint32_t count = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
  bool ok = size > 0;
  if (ok) {
    std::vector<unsigned char> block(static_cast<std::size_t>(size));
    for (std::uint32_t i = 0; ok && i < count; ++i) {
      const tmsize_t got = tiled ? TIFFReadEncodedTile(tiff, i, block.data(), size)
                                 : TIFFReadEncodedStrip(tiff, i, block.data(), size);
      ok = got >= 0;
    }
  }
  TIFFClose(tiff);
  failOnTiffErrors(path);
  if (!ok) failRead(path, "damaged TIFF data");
}

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

// The library's messages may span lines, repeat and end with a newline.
std::string tidy(const std::string& message, std::string_view fallback) {
  std::string text = cleanMessage(message);
  return text.empty() ? std::string(fallback) : text;
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
  const std::int64_t total = width * height * channels * bytes;
  if (static_cast<std::uint64_t>(total) > std::numeric_limits<std::size_t>::max() / 2) failRead(path, "image too large");
  return static_cast<std::size_t>(total);
}

// Refuses a claimed size beyond the limit or beyond what the file can hold,
// before any memory is taken for it.
void checkClaimedSize(const std::string& path, const OIIO::ImageSpec& spec, const OfferedFormat& format,
                      std::uintmax_t fileBytes, const ReadLimits& limits) {
  const std::int64_t pixels = std::int64_t{spec.width} * spec.height;
  const std::string size = std::to_string(spec.width) + "x" + std::to_string(spec.height) + " pixels";
  if (pixels > limits.maxPixels)
    failRead(path, size + ", more than the limit of " + std::to_string(limits.maxPixels));
  const auto bytes = static_cast<std::int64_t>(std::min<std::uintmax_t>(fileBytes, std::uintmax_t{1} << 40));
  if (pixels / format.maxPixelsPerByte > bytes)
    failRead(path, "it claims " + size + ", more than a file of " + std::to_string(fileBytes) + " bytes can hold");
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

// PNG encoder settings unless the caller gave its own: zlib level 2 (the
// library's default is 6) and the row filters None, Sub, Up and Average
// (libpng tries all five by default). Paeth is left out: scoring it for every
// row costs more than it gains. On a noisy 24-megapixel photograph level 2
// gives the file of level 3 in less time; on smoother photographs the file
// is about 1 % larger.
constexpr int pngCompressionLevel = 2;
constexpr int pngRowFilters = 8 | 16 | 32 | 64;  // PNG_FILTER_NONE | SUB | UP | AVG

void setPngWriteDefaults(OIIO::ImageSpec& spec) {
  if (!spec.find_attribute("png:compressionLevel")) spec.attribute("png:compressionLevel", pngCompressionLevel);
  if (!spec.find_attribute("png:filter")) spec.attribute("png:filter", pngRowFilters);
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
  if (format == "png") setPngWriteDefaults(spec);
  return spec;
}

// Lossy compressions a file's settings may carry over into a lossless format.
bool lossyCompression(const OIIO::ImageSpec& spec) {
  const std::string c = spec.get_string_attribute("compression");
  for (const char* lossy : {"jpeg", "webp", "dwa", "b44", "pxr24"})
    if (c.find(lossy) != std::string::npos) return true;
  return false;
}

// Decodes the written file in full, from memory or from the temporary, and
// for a lossless write compares every sample with what was handed over. A
// writer that lost data without saying so is caught here, before the old
// file is replaced.
void verifyWritten(const std::string& path, const OfferedFormat& format, const fs::path& written,
                   OIIO::Filesystem::IOProxy* encoded, const OIIO::ImageSpec& spec, OIIO::TypeDesc type,
                   const std::vector<std::uint8_t>& samples) {
  std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(std::string(format.name));
  if (!in) failWrite(path, tidy(OIIO::geterror(), "no reader to check the written file"));
  if (encoded) in->set_ioproxy(encoded);
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  OIIO::ImageSpec got;
  if (!in->open(written.string(), got, config))
    failWrite(path, "the written file does not read back: " + tidy(in->geterror(), "unknown error"));
  if (got.width != spec.width || got.height != spec.height || got.nchannels != spec.nchannels)
    failWrite(path, "the written file does not read back with the image's size");
  std::vector<std::uint8_t> back(samples.size());
  if (!in->read_image(0, 0, 0, spec.nchannels, type, back.data()) || in->has_error())
    failWrite(path, "the written file does not read back: " + tidy(in->geterror(), "unknown error"));
  const bool exact = format.lossless && spec.format == type && !lossyCompression(spec) &&
                     spec.get_int_attribute("oiio:BitsPerSample", 0) == 0 &&
                     !(spec.alpha_channel >= 0 && spec.get_int_attribute("oiio:UnassociatedAlpha", 1) == 0);
  if (exact && back != samples) failWrite(path, "the written file does not read back as written");
}

}  // namespace

std::vector<ImageFormat> libraryFormats() {
  std::vector<ImageFormat> formats;
  for (const OfferedFormat& f : offered) {
    ImageFormat format{std::string(f.name), {}};
    for (const std::string_view e : f.extensions)
      if (!e.empty()) format.extensions.emplace_back(e);
    formats.push_back(std::move(format));
  }
  return formats;
}

void checkLibraryOutput(const std::string& path, std::int32_t channels) {
  const OfferedFormat* format = offeredFor(lowerExtension(path));
  if (!format) refuseExtension(path, true);
  if (channels == 1 && !format->greyToo) failWrite(path, "the " + std::string(format->name) + " format holds colour images only");
}

void writeWithLibrary(const std::string& path, const HostImage& image, const FileInfo& like) {
  const fs::path target = writeTarget(path);
  checkLibraryOutput(path, image.channels);
  const OfferedFormat& format = *offeredFor(lowerExtension(path));
  const StandardErrorMuted muted;

  std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(std::string(format.name));
  if (!out) failWrite(path, tidy(OIIO::geterror(), "no writer for this format"));
  const SampleDepth depth = outputDepthFor(out->format_name(), image.depth);
  const bool withAlpha = image.hasAlpha() && out->supports("alpha");
  const OIIO::ImageSpec spec = outputSpec(image, depth, withAlpha, like, out->format_name());
  const std::vector<std::uint8_t> samples = fileSamples(image, depth, withAlpha);

  auto encode = [&](const fs::path& file) {
    if (!out->open(file.string(), spec)) failWrite(path, tidy(out->geterror(), "cannot create the file"));
    if (!out->write_image(typeFor(depth), samples.data()))
      failWrite(path, tidy(out->geterror(), "the pixels could not be written"));
    if (!out->close()) failWrite(path, tidy(out->geterror(), "the file could not be completed"));
    // The return values decide: the TIFF writer also leaves a message when it
    // has no Exif directory to write, yet the file is complete.
    out->geterror();
  };

  if (format.inMemory && out->supports("ioproxy")) {
    // Encoded in memory, where no write can fail, checked there, and only
    // then written to the disk with every write checked.
    std::vector<unsigned char> bytes;
    OIIO::Filesystem::IOVecOutput sink(bytes);
    if (!out->set_ioproxy(&sink)) failWrite(path, tidy(out->geterror(), "cannot encode in memory"));
    encode(target);
    out.reset();
    OIIO::Filesystem::IOMemReader source(bytes.data(), bytes.size());
    verifyWritten(path, format, target, &source, spec, typeFor(depth), samples);
    os::writeFileAtomically(target, bytes.data(), bytes.size());
    return;
  }
  // The writer goes to the disk itself and may not notice a failed write:
  // the flushed file is decoded in full before it replaces the target.
  os::AtomicFile file(target);
  encode(file.temporary());
  out.reset();
  file.sync();
  if (format.name == "sgi") checkSgiHeader(path, file.temporary(), true);
  verifyWritten(path, format, file.temporary(), nullptr, spec, typeFor(depth), samples);
  file.commit();
}

namespace {

// The offered format to read `path` as: the one its extension names when the
// file is of that format, else any offered format the file is of (a JPEG
// named .png). Other extensions are refused before any reader sees the file.
const OfferedFormat& readFormatFor(const std::string& path) {
  const std::string ext = lowerExtension(path);
  const OfferedFormat* named = offeredFor(ext);
  if (!named && libraryKnows(ext)) refuseExtension(path, false);
  auto isOf = [&path](const OfferedFormat& f) {
    const std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(std::string(f.name));
    return in && in->valid_file(path);
  };
  if (named && isOf(*named)) return *named;
  for (const OfferedFormat& f : offered)
    if (&f != named && isOf(f)) return f;
  if (named) return *named;  // its reader says what is wrong
  refuseExtension(path, false);
}

}  // namespace

HostImage readWithLibrary(const std::string& path, FileInfo* info, const ReadLimits& limits) {
  std::error_code ec;
  const std::uintmax_t fileBytes = fs::file_size(fs::path(path), ec);
  if (ec) failRead(path, ec.message());
  const StandardErrorMuted muted;
  const OfferedFormat& offeredFormat = readFormatFor(path);
  if (offeredFormat.name == "sgi") checkSgiHeader(path, fs::path(path), false);

  // Ask for alpha exactly as stored: the library otherwise multiplies the
  // colour of straight-alpha files (png, most tiff) by alpha.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(std::string(offeredFormat.name));
  if (!in) failRead(path, tidy(OIIO::geterror(), "no reader for this format"));
  OIIO::ImageSpec opened;
  if (!in->open(path, opened, config)) failRead(path, tidy(in->geterror(), "not an image file the library can read"));
  const OIIO::ImageSpec spec = in->spec();
  const std::string format = in->format_name();

  if (spec.deep) failRead(path, "deep images are not supported");
  if (spec.depth > 1) failRead(path, "volume images are not supported");
  if (spec.width <= 0 || spec.height <= 0) failRead(path, "the image has no pixels");
  checkClaimedSize(path, spec, offeredFormat, fileBytes, limits);
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
  const bool tiff = offeredFormat.name == "tiff";
  if (tiff) resetTiffErrors();
  // Some readers report a cut-short file only as an error message and
  // return success with the missing rows filled in; both count as failure.
  if (!in->read_image(0, 0, 0, fileChannels, typeFor(depth), raw.data()) || in->has_error()) {
    failRead(path, tidy(in->geterror(), "the pixels could not be decoded"));
  }
  in->close();
  if (tiff) {
    failOnTiffErrors(path);
    checkTiffDecodes(path);
  }

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
}  // namespace veltrane::host
