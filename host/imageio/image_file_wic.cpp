// Image files through the Windows Imaging Component: PNG, JPEG, TIFF and BMP
// are read and written; other formats are refused even where the system has
// a codec for them. The netpbm family has its own codec and never comes here.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <wincodec.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <new>
#include <string_view>
#include <utility>

#include "host/imageio/image_file_internal.h"
#include "host/os/os.h"

namespace veltrane::host {
namespace detail {

// What a read keeps for the write: the resolution, in dots per inch.
struct KeptFileData {
  std::string format;
  double dpiX = 0.0;
  double dpiY = 0.0;
};

namespace {

namespace fs = std::filesystem;

using Fail = void (*)(const std::string&, std::string_view);

// Owns one reference to a COM object.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { reset(); }
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T** out() {
    reset();
    return &ptr_;
  }
  void reset() {
    if (ptr_) ptr_->Release();
    ptr_ = nullptr;
  }

 private:
  T* ptr_ = nullptr;
};

std::string describe(HRESULT hr) {
  const auto is = [hr](std::initializer_list<HRESULT> codes) {
    return std::find(codes.begin(), codes.end(), hr) != codes.end();
  };
  const char* what = nullptr;
  if (is({WINCODEC_ERR_COMPONENTNOTFOUND, WINCODEC_ERR_UNKNOWNIMAGEFORMAT})) {
    what = "not an image format this system has a codec for";
  } else if (is({WINCODEC_ERR_BADIMAGE, WINCODEC_ERR_BADHEADER, WINCODEC_ERR_BADSTREAMDATA})) {
    what = "the image data is damaged";
  } else if (is({WINCODEC_ERR_STREAMREAD, WINCODEC_ERR_STREAMNOTAVAILABLE, HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)})) {
    what = "the file ends too early";
  } else if (is({WINCODEC_ERR_FRAMEMISSING})) {
    what = "the file holds no image";
  } else if (is({WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT})) {
    what = "the pixel format is not supported";
  } else if (is({WINCODEC_ERR_UNSUPPORTEDOPERATION})) {
    what = "the operation is not supported";
  } else if (is({WINCODEC_ERR_IMAGESIZEOUTOFRANGE})) {
    what = "the image size is out of range";
  } else if (is({E_OUTOFMEMORY})) {
    what = "not enough memory";
  }
  std::string text;
  if (what) {
    text = what;
  } else {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (n > 0 && buffer) {
      text = os::pathToUtf8(fs::path(std::wstring(buffer, n)));
      std::replace(text.begin(), text.end(), '\r', ' ');
      std::replace(text.begin(), text.end(), '\n', ' ');
      while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
    }
    if (buffer) ::LocalFree(buffer);
    if (text.empty()) text = "system error";
  }
  char code[32];
  std::snprintf(code, sizeof code, " (error 0x%08lX)", static_cast<unsigned long>(hr));
  return text + code;
}

// Every call's result is checked; a failure names the step and the reason.
void check(HRESULT hr, Fail fail, const std::string& path, std::string_view step) {
  if (FAILED(hr)) fail(path, std::string(step) + ": " + describe(hr));
}

// COM for the calling thread, for as long as the object lives. A thread
// whose owner already entered a single-threaded apartment keeps it (the
// imaging objects work in either) and that apartment is left for its owner
// to end.
class ComThread {
 public:
  ComThread(Fail fail, const std::string& path) {
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) {
      owned_ = true;  // S_OK and S_FALSE both take a reference to release
    } else if (hr != RPC_E_CHANGED_MODE) {
      check(hr, fail, path, "cannot start COM");
    }
  }
  ComThread(const ComThread&) = delete;
  ComThread& operator=(const ComThread&) = delete;
  ~ComThread() {
    if (owned_) ::CoUninitialize();
  }

 private:
  bool owned_ = false;
};

void createFactory(ComRef<IWICImagingFactory>& factory, Fail fail, const std::string& path) {
  check(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                           reinterpret_cast<void**>(factory.out())),
        fail, path, "the Windows Imaging Component is not available");
}

// One memory layout of pixels as the imaging component hands them over:
// `stored` samples per pixel, of which the colour ones are at red, green and
// blue (all the same for grey), alpha at `alpha` (-1: none).
struct Layout {
  const GUID* guid;
  SampleDepth depth;
  int stored;
  int colours;
  std::array<int, 3> colourAt;
  int alpha;
  bool premultiplied;
  const char* name;
};

constexpr std::array<int, 3> grey{0, 0, 0}, rgb{0, 1, 2}, bgr{2, 1, 0};

// Read as they come, with no conversion.
const std::array<Layout, 21> directLayouts = {{
    {&GUID_WICPixelFormat8bppGray, SampleDepth::u8, 1, 1, grey, -1, false, "8-bit grey"},
    {&GUID_WICPixelFormat16bppGray, SampleDepth::u16, 1, 1, grey, -1, false, "16-bit grey"},
    {&GUID_WICPixelFormat32bppGrayFloat, SampleDepth::f32, 1, 1, grey, -1, false, "32-bit float grey"},
    {&GUID_WICPixelFormat24bppRGB, SampleDepth::u8, 3, 3, rgb, -1, false, "8-bit RGB"},
    {&GUID_WICPixelFormat24bppBGR, SampleDepth::u8, 3, 3, bgr, -1, false, "8-bit RGB"},
    {&GUID_WICPixelFormat32bppBGR, SampleDepth::u8, 4, 3, bgr, -1, false, "8-bit RGB"},
    {&GUID_WICPixelFormat32bppRGB, SampleDepth::u8, 4, 3, rgb, -1, false, "8-bit RGB"},
    {&GUID_WICPixelFormat32bppBGRA, SampleDepth::u8, 4, 3, bgr, 3, false, "8-bit RGB with alpha"},
    {&GUID_WICPixelFormat32bppRGBA, SampleDepth::u8, 4, 3, rgb, 3, false, "8-bit RGB with alpha"},
    {&GUID_WICPixelFormat32bppPBGRA, SampleDepth::u8, 4, 3, bgr, 3, true, "8-bit RGB with premultiplied alpha"},
    {&GUID_WICPixelFormat32bppPRGBA, SampleDepth::u8, 4, 3, rgb, 3, true, "8-bit RGB with premultiplied alpha"},
    {&GUID_WICPixelFormat48bppRGB, SampleDepth::u16, 3, 3, rgb, -1, false, "16-bit RGB"},
    {&GUID_WICPixelFormat48bppBGR, SampleDepth::u16, 3, 3, bgr, -1, false, "16-bit RGB"},
    {&GUID_WICPixelFormat64bppRGBA, SampleDepth::u16, 4, 3, rgb, 3, false, "16-bit RGB with alpha"},
    {&GUID_WICPixelFormat64bppBGRA, SampleDepth::u16, 4, 3, bgr, 3, false, "16-bit RGB with alpha"},
    {&GUID_WICPixelFormat64bppPRGBA, SampleDepth::u16, 4, 3, rgb, 3, true, "16-bit RGB with premultiplied alpha"},
    {&GUID_WICPixelFormat64bppPBGRA, SampleDepth::u16, 4, 3, bgr, 3, true, "16-bit RGB with premultiplied alpha"},
    {&GUID_WICPixelFormat96bppRGBFloat, SampleDepth::f32, 3, 3, rgb, -1, false, "32-bit float RGB"},
    {&GUID_WICPixelFormat128bppRGBFloat, SampleDepth::f32, 4, 3, rgb, -1, false, "32-bit float RGB"},
    {&GUID_WICPixelFormat128bppRGBAFloat, SampleDepth::f32, 4, 3, rgb, 3, false, "32-bit float RGB with alpha"},
    {&GUID_WICPixelFormat128bppPRGBAFloat, SampleDepth::f32, 4, 3, rgb, 3, true,
     "32-bit float RGB with premultiplied alpha"},
}};

const Layout* directLayout(const GUID& format) {
  for (const Layout& layout : directLayouts)
    if (IsEqualGUID(*layout.guid, format)) return &layout;
  return nullptr;
}

// The formats offered: each tested in reading, writing and refusing damaged
// files. The system may have codecs for more; those are refused.
struct Offered {
  const char* format;  // the name outputDepthFor and FileInfo use
  const GUID* container;
  const char* label;  // for messages
  std::array<std::string_view, 2> extensions;
  bool alpha;  // written with alpha
};

const std::array<Offered, 4> offered = {{
    {"png", &GUID_ContainerFormatPng, "PNG", {".png", ""}, true},
    {"jpeg", &GUID_ContainerFormatJpeg, "JPEG", {".jpg", ".jpeg"}, false},
    {"tiff", &GUID_ContainerFormatTiff, "TIFF", {".tif", ".tiff"}, true},
    // Without alpha: not every system's encoder writes it (Wine's does not).
    {"bmp", &GUID_ContainerFormatBmp, "BMP", {".bmp", ""}, false},
}};

const Offered* offeredFor(std::string_view extension) {
  for (const Offered& f : offered)
    if (!extension.empty() && std::find(f.extensions.begin(), f.extensions.end(), extension) != f.extensions.end())
      return &f;
  return nullptr;
}

const Offered* offeredFor(const GUID& container) {
  for (const Offered& f : offered)
    if (IsEqualGUID(*f.container, container)) return &f;
  return nullptr;
}

// Extensions of formats the system may have a codec for but that are not
// offered: refused before any decoder sees the file.
constexpr std::array<std::string_view, 10> knownNotOffered = {".gif", ".ico", ".cur", ".jxr", ".wdp",
                                                               ".hdp", ".dds", ".heic", ".heif", ".webp"};

[[noreturn]] void refuseExtension(const std::string& path, bool write) {
  const std::string ext = lowerExtension(path);
  std::string reason;
  if (ext.empty()) reason = "no file name extension to tell the format by";
  else if (std::find(knownNotOffered.begin(), knownNotOffered.end(), ext) != knownNotOffered.end())
    reason = "the " + ext + " format is not supported";
  else reason = "unknown file name extension '" + ext + "'";
  reason += "; supported: " + imageFormatList();
  if (write) failWrite(path, reason);
  failRead(path, reason);
}

struct Container {
  const GUID* guid;
  const char* format;  // the name outputDepthFor and FileInfo use
};

const std::array<Container, 8> containers = {{
    {&GUID_ContainerFormatPng, "png"},
    {&GUID_ContainerFormatJpeg, "jpeg"},
    {&GUID_ContainerFormatTiff, "tiff"},
    {&GUID_ContainerFormatBmp, "bmp"},
    {&GUID_ContainerFormatGif, "gif"},
    {&GUID_ContainerFormatIco, "ico"},
    {&GUID_ContainerFormatWmp, "jpegxr"},
    {&GUID_ContainerFormatDds, "dds"},
}};

std::string containerName(const GUID& guid) {
  for (const Container& c : containers)
    if (IsEqualGUID(*c.guid, guid)) return c.format;
  return "wic";
}

std::uintmax_t fileSizeOf(const std::string& path, const fs::path& file) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) failRead(path, "cannot find its size: " + ec.message());
  if (size == 0) failRead(path, "the file is empty");
  return size;
}

std::vector<std::uint8_t> fileStart(const fs::path& file, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::ifstream in(file, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// No codec compresses much better than about a thousand to one; an image
// claiming more pixels than that is refused before anything is allocated
// for it (some decoders allocate the whole image as they open the file).
void checkClaimedSize(const std::string& path, double width, double height, double bitsPerPixel,
                      std::uintmax_t fileSize) {
  constexpr double ratio = 2048.0;
  constexpr double floor = 64.0 * 1024 * 1024;
  const double bytes = width * height * bitsPerPixel / 8.0;
  if (bytes > std::max(floor, ratio * static_cast<double>(fileSize))) {
    failRead(path, "the image claims " + std::to_string(static_cast<std::uint64_t>(width)) + "x" +
                       std::to_string(static_cast<std::uint64_t>(height)) + " pixels, far more than a file of " +
                       std::to_string(fileSize) + " bytes can hold");
  }
}

void checkPixelLimit(const std::string& path, std::uint64_t width, std::uint64_t height, const ReadLimits& limits) {
  if (width * height > static_cast<std::uint64_t>(limits.maxPixels))
    failRead(path, std::to_string(width) + "x" + std::to_string(height) + " pixels, more than the limit of " +
                       std::to_string(limits.maxPixels));
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// What a PNG file's header says, read before a decoder sees the file.
struct PngHeader {
  bool greyAlpha = false;  // decoders hand grey + alpha over as RGBA
};

PngHeader checkPngHeader(const std::string& path, const fs::path& file, std::uintmax_t fileSize,
                         const ReadLimits& limits) {
  static constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  const std::vector<std::uint8_t> head = fileStart(file, 26);
  PngHeader header;
  if (head.size() < 8 || !std::equal(signature, signature + 8, head.begin())) return header;
  if (head.size() < 26 || std::memcmp(&head[12], "IHDR", 4) != 0) failRead(path, "the PNG header is missing");
  const int bitDepth = head[24];
  const int colourType = head[25];
  int channels = 0;
  switch (colourType) {
    case 0: channels = 1; break;
    case 2: channels = 3; break;
    case 3: channels = 1; break;
    case 4: channels = 2; break;
    case 6: channels = 4; break;
    default: failRead(path, "the PNG header names an unknown colour type");
  }
  header.greyAlpha = colourType == 4;
  checkPixelLimit(path, bigEndian32(&head[16]), bigEndian32(&head[20]), limits);
  checkClaimedSize(path, bigEndian32(&head[16]), bigEndian32(&head[20]), double(bitDepth) * channels, fileSize);
  return header;
}

// Whether a TIFF file's first image is grey with alpha (two samples, one
// of the grey photometric interpretations), which decoders hand over as
// RGBA. Read from the first directory; false when it cannot be found.
bool tiffIsGreyAlpha(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::uint8_t head[8] = {};
  if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return false;
  const bool little = head[0] == 'I' && head[1] == 'I';
  if (!little && !(head[0] == 'M' && head[1] == 'M')) return false;
  const auto u16 = [little](const std::uint8_t* p) {
    return static_cast<std::uint16_t>(little ? p[0] | (p[1] << 8) : (p[0] << 8) | p[1]);
  };
  const auto u32 = [little](const std::uint8_t* p) {
    return little ? std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                        (std::uint32_t{p[3]} << 24)
                  : bigEndian32(p);
  };
  if (u16(head + 2) != 42) return false;  // BigTIFF and others: not looked into
  in.seekg(u32(head + 4));
  std::uint8_t count[2];
  if (!in.read(reinterpret_cast<char*>(count), 2)) return false;
  int samples = 1, photometric = -1;
  for (std::uint16_t i = 0, n = u16(count); i < n; ++i) {
    std::uint8_t entry[12];
    if (!in.read(reinterpret_cast<char*>(entry), sizeof entry)) return false;
    const std::uint16_t tag = u16(entry), type = u16(entry + 2);
    const int value = type == 3 ? u16(entry + 8) : type == 4 ? static_cast<int>(u32(entry + 8)) : -1;
    if (tag == 277) samples = value;
    if (tag == 262) photometric = value;
  }
  return samples == 2 && (photometric == 0 || photometric == 1);
}

// True when a JPEG stream runs to its end-of-image marker. Some decoders
// fill the missing part of a cut-short file with grey and report success.
bool jpegRunsToItsEnd(const std::vector<std::uint8_t>& b) {
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return false;
  std::size_t i = 2;
  while (i + 1 < b.size()) {
    if (b[i] != 0xFF) {
      ++i;  // entropy-coded data, or stray bytes a decoder skips
      continue;
    }
    const std::uint8_t m = b[i + 1];
    if (m == 0xFF) {
      ++i;  // fill byte
    } else if (m == 0xD9) {
      return true;
    } else if (m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
      i += 2;  // stuffed byte, or a marker without a segment
    } else {
      if (i + 3 >= b.size()) return false;
      const std::size_t length = (std::size_t{b[i + 2]} << 8) | b[i + 3];
      if (length < 2) return false;
      i += 2 + length;  // a segment, skipped whole (thumbnails inside it too)
    }
  }
  return false;
}

// The size a JPEG stream's frame header claims is checked before a decoder
// sees the file: some decode the whole image as they open it. False when no
// frame header comes before the scan data (the decoder then refuses it).
struct JpegFrame {
  std::uint32_t width = 0, height = 0, bitsPerPixel = 0;
};

bool jpegFrame(const std::vector<std::uint8_t>& b, JpegFrame& frame) {
  std::size_t i = 2;
  while (i + 3 < b.size() && b[i] == 0xFF) {
    const std::uint8_t m = b[i + 1];
    if (m == 0xFF) {
      ++i;  // fill byte
      continue;
    }
    const bool sof = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
    if (sof) {
      if (i + 9 >= b.size()) return false;
      frame.height = (std::uint32_t{b[i + 5]} << 8) | b[i + 6];
      frame.width = (std::uint32_t{b[i + 7]} << 8) | b[i + 8];
      frame.bitsPerPixel = std::uint32_t{b[i + 4]} * b[i + 9];
      return true;
    }
    if (m == 0xDA || m == 0xD9) return false;  // scan data or the end before any frame
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD8)) {
      i += 2;
      continue;
    }
    i += 2 + ((std::size_t{b[i + 2]} << 8) | b[i + 3]);
  }
  return false;
}

void checkJpeg(const std::string& path, const fs::path& file, std::uintmax_t fileSize, const ReadLimits& limits) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.eof() && in.fail()) failRead(path, "the file cannot be read");
  if (JpegFrame frame; jpegFrame(bytes, frame)) {
    checkPixelLimit(path, frame.width, frame.height, limits);
    checkClaimedSize(path, frame.width, frame.height, frame.bitsPerPixel, fileSize);
  }
  if (!jpegRunsToItsEnd(bytes)) failRead(path, "the JPEG data ends too early");
}

// Bits per pixel and transparency of a pixel format, from the system's
// description of it.
struct FormatFacts {
  UINT bitsPerPixel = 0;
  UINT channels = 0;
  bool transparency = false;
  bool floating = false;
  bool indexed = false;
};

FormatFacts formatFacts(IWICImagingFactory* factory, const GUID& format, Fail fail, const std::string& path) {
  ComRef<IWICComponentInfo> component;
  check(factory->CreateComponentInfo(format, component.out()), fail, path, "unknown pixel format");
  ComRef<IWICPixelFormatInfo2> info;
  check(component->QueryInterface(IID_IWICPixelFormatInfo2, reinterpret_cast<void**>(info.out())), fail, path,
        "unknown pixel format");
  FormatFacts facts;
  check(info->GetBitsPerPixel(&facts.bitsPerPixel), fail, path, "unknown pixel format");
  check(info->GetChannelCount(&facts.channels), fail, path, "unknown pixel format");
  BOOL transparency = FALSE;
  check(info->SupportsTransparency(&transparency), fail, path, "unknown pixel format");
  facts.transparency = transparency != FALSE;
  WICPixelFormatNumericRepresentation numeric = WICPixelFormatNumericRepresentationUnspecified;
  check(info->GetNumericRepresentation(&numeric), fail, path, "unknown pixel format");
  facts.floating = numeric == WICPixelFormatNumericRepresentationFloat ||
                   numeric == WICPixelFormatNumericRepresentationFixed;
  facts.indexed = numeric == WICPixelFormatNumericRepresentationIndexed;
  return facts;
}

// Rows handed over per call: whole rows, up to about 16 MiB.
UINT rowsPerStrip(std::size_t rowBytes, UINT height) {
  const std::size_t rows = std::max<std::size_t>(1, (std::size_t{16} << 20) / rowBytes);
  return static_cast<UINT>(std::min<std::size_t>(rows, height));
}

// Stride of one row of `layout`, refused when it does not fit the
// interface's 32-bit sizes.
std::size_t strideOf(const Layout& layout, std::int32_t width, Fail fail, const std::string& path) {
  const std::int64_t bytes = std::int64_t{width} * layout.stored * bytesPerSample(layout.depth);
  if (bytes > std::int64_t{std::numeric_limits<UINT>::max() / 2}) fail(path, "the image is too wide");
  return static_cast<std::size_t>(bytes);
}

void unpackStrip(const std::uint8_t* src, const Layout& layout, bool keepAlpha, std::size_t pixels,
                 std::uint8_t*& colour, std::uint8_t*& alpha, int colours) {
  const std::size_t sample = static_cast<std::size_t>(bytesPerSample(layout.depth));
  const std::size_t stride = sample * static_cast<std::size_t>(layout.stored);
  for (std::size_t i = 0; i < pixels; ++i, src += stride) {
    for (int c = 0; c < colours; ++c, colour += sample) {
      const std::uint8_t* s = src + static_cast<std::size_t>(layout.colourAt[static_cast<std::size_t>(c)]) * sample;
      if (layout.depth == SampleDepth::u16) {
        store(colour, fileToHost16(load<std::uint16_t>(s)));
      } else {
        std::memcpy(colour, s, sample);
      }
    }
    if (keepAlpha) {
      std::memcpy(alpha, src + static_cast<std::size_t>(layout.alpha) * sample, sample);
      alpha += sample;
    }
  }
}

// The layout a format the reader does not take directly is converted to: as
// deep as the source, with alpha (dropped again when the format has none).
// Grey sources come out with three equal colour channels, of which the
// reader keeps one: not every system converts to the grey layouts.
const Layout& conversionFor(const FormatFacts& facts) {
  const std::uint32_t bitsPerChannel = facts.channels ? facts.bitsPerPixel / facts.channels : facts.bitsPerPixel;
  if (facts.floating) return *directLayout(GUID_WICPixelFormat128bppRGBAFloat);
  if (bitsPerChannel > 8 && !facts.indexed) return *directLayout(GUID_WICPixelFormat64bppRGBA);
  return *directLayout(GUID_WICPixelFormat32bppBGRA);
}

// Palette formats have alpha when their palette does.
bool hasAlpha(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, const FormatFacts& facts,
              const std::string& path) {
  if (!facts.indexed) return facts.transparency;
  ComRef<IWICPalette> palette;
  check(factory->CreatePalette(palette.out()), failRead, path, "cannot read the palette");
  check(frame->CopyPalette(palette.get()), failRead, path, "cannot read the palette");
  BOOL alpha = FALSE;
  check(palette->HasAlpha(&alpha), failRead, path, "cannot read the palette");
  return alpha != FALSE;
}

}  // namespace

HostImage readWithLibrary(const std::string& path, FileInfo* info, const ReadLimits& limits) {
  const std::string ext = lowerExtension(path);
  if (!offeredFor(ext) && std::find(knownNotOffered.begin(), knownNotOffered.end(), ext) != knownNotOffered.end())
    refuseExtension(path, false);
  const fs::path file = os::pathFromUtf8(path);
  const std::uintmax_t fileSize = fileSizeOf(path, file);
  const PngHeader png = checkPngHeader(path, file, fileSize, limits);
  const std::vector<std::uint8_t> head = fileStart(file, 3);
  if (head.size() == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
    checkJpeg(path, file, fileSize, limits);

  const ComThread com(failRead, path);
  ComRef<IWICImagingFactory> factory;
  createFactory(factory, failRead, path);
  ComRef<IWICBitmapDecoder> decoder;
  check(factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                           decoder.out()),
        failRead, path, "cannot open it as an image");
  GUID container{};
  check(decoder->GetContainerFormat(&container), failRead, path, "unknown file format");
  const std::string format = containerName(container);
  // A file of an offered format is read whatever its name; any other is not.
  if (!offeredFor(container)) {
    failRead(path, (format == "wic" ? std::string("its format") : "the " + format + " format") +
                       " is not supported; supported: " + imageFormatList());
  }

  ComRef<IWICBitmapFrameDecode> frame;
  check(decoder->GetFrame(0, frame.out()), failRead, path, "cannot open the first image");
  UINT width = 0, height = 0;
  check(frame->GetSize(&width, &height), failRead, path, "cannot read the image size");
  if (width == 0 || height == 0) failRead(path, "the image has no pixels");
  if (width > INT32_MAX || height > INT32_MAX) failRead(path, "the image is too large");
  checkPixelLimit(path, width, height, limits);
  WICPixelFormatGUID native{};
  check(frame->GetPixelFormat(&native), failRead, path, "cannot read the pixel format");
  const FormatFacts facts = formatFacts(factory.get(), native, failRead, path);
  checkClaimedSize(path, width, height, facts.bitsPerPixel, fileSize);

  // Formats held in a layout of our own are read as they are; the rest are
  // converted by the system (palettes, fewer than 8 bits, CMYK, halves).
  IWICBitmapSource* source = frame.get();
  const Layout* layout = directLayout(native);
  bool keepAlpha = layout && layout->alpha >= 0;
  ComRef<IWICFormatConverter> converter;
  // Grey with alpha comes as RGBA with three equal colour channels.
  bool greyFromColour = png.greyAlpha || (format == "tiff" && tiffIsGreyAlpha(file));
  if (!layout) {
    keepAlpha = hasAlpha(factory.get(), frame.get(), facts, path);
    greyFromColour = greyFromColour || (facts.channels == (keepAlpha ? 2u : 1u) && !facts.indexed);
    layout = &conversionFor(facts);
    check(factory->CreateFormatConverter(converter.out()), failRead, path, "cannot convert the pixels");
    WICPixelFormatGUID target = *layout->guid;
    check(converter->Initialize(frame.get(), target, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          failRead, path, "cannot convert the pixels to " + std::string(layout->name));
    source = converter.get();
  }
  const int colours = greyFromColour && layout->colours == 3 ? 1 : layout->colours;

  HostImage image;
  image.width = static_cast<std::int32_t>(width);
  image.height = static_cast<std::int32_t>(height);
  image.channels = colours;
  image.depth = layout->depth;
  const std::int64_t alphaBytes = keepAlpha ? image.alphaBytes() : 0;
  if (static_cast<std::uint64_t>(image.pixelBytes() + alphaBytes) > std::numeric_limits<std::size_t>::max() / 2) {
    throw std::bad_alloc();
  }
  image.pixels.resize(static_cast<std::size_t>(image.pixelBytes()));
  image.alpha.resize(static_cast<std::size_t>(alphaBytes));

  const std::size_t stride = strideOf(*layout, image.width, failRead, path);
  const UINT strip = rowsPerStrip(stride, height);
  std::vector<std::uint8_t> buffer(stride * strip);
  std::uint8_t* colour = image.pixels.data();
  std::uint8_t* alpha = image.alpha.data();
  for (UINT y = 0; y < height; y += strip) {
    const UINT rows = std::min(strip, height - y);
    const WICRect rect{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
    check(source->CopyPixels(&rect, static_cast<UINT>(stride), static_cast<UINT>(stride * rows), buffer.data()),
          failRead, path, "cannot decode the pixels");
    unpackStrip(buffer.data(), *layout, keepAlpha, std::size_t{width} * rows, colour, alpha, colours);
  }

  if (info) {
    FileInfo out;
    out.format = format;
    out.depth = image.depth;
    out.bitsPerSample = static_cast<std::int32_t>(bytesPerSample(image.depth) * 8);
    out.width = image.width;
    out.height = image.height;
    out.fileChannels = colours + (keepAlpha ? 1 : 0);
    out.hasAlpha = keepAlpha;
    out.alphaAssociated = keepAlpha && layout->premultiplied;
    auto kept = std::make_shared<KeptFileData>();
    kept->format = format;
    if (FAILED(frame->GetResolution(&kept->dpiX, &kept->dpiY))) kept->dpiX = kept->dpiY = 0.0;
    out.kept = std::move(kept);
    *info = std::move(out);
  }
  return image;
}

namespace {

// The layouts an image can be written in, best first: its own, then the
// same values in a wider one (grey as three equal channels) for encoders
// without it. Premultiplied colour goes to a premultiplied layout where the
// encoder has one.
std::vector<const Layout*> candidatesFor(int channels, bool withAlpha, SampleDepth depth, bool associated) {
  std::vector<GUID> guids;
  const bool isGrey = channels == 1;
  switch (depth) {
    case SampleDepth::u8:
      if (withAlpha) {
        if (associated) guids = {GUID_WICPixelFormat32bppPBGRA, GUID_WICPixelFormat32bppPRGBA};
        guids.insert(guids.end(), {GUID_WICPixelFormat32bppBGRA, GUID_WICPixelFormat32bppRGBA});
      } else if (isGrey) {
        guids = {GUID_WICPixelFormat8bppGray, GUID_WICPixelFormat24bppBGR, GUID_WICPixelFormat24bppRGB};
      } else {
        guids = {GUID_WICPixelFormat24bppBGR, GUID_WICPixelFormat24bppRGB};
      }
      break;
    case SampleDepth::u16:
      if (withAlpha) {
        if (associated) guids = {GUID_WICPixelFormat64bppPRGBA, GUID_WICPixelFormat64bppPBGRA};
        guids.insert(guids.end(), {GUID_WICPixelFormat64bppRGBA, GUID_WICPixelFormat64bppBGRA});
      } else if (isGrey) {
        guids = {GUID_WICPixelFormat16bppGray, GUID_WICPixelFormat48bppRGB, GUID_WICPixelFormat48bppBGR};
      } else {
        guids = {GUID_WICPixelFormat48bppRGB, GUID_WICPixelFormat48bppBGR};
      }
      break;
    case SampleDepth::f32:
      if (withAlpha) {
        if (associated) guids = {GUID_WICPixelFormat128bppPRGBAFloat};
        guids.push_back(GUID_WICPixelFormat128bppRGBAFloat);
      } else if (isGrey) {
        guids = {GUID_WICPixelFormat32bppGrayFloat, GUID_WICPixelFormat96bppRGBFloat,
                 GUID_WICPixelFormat128bppRGBFloat};
      } else {
        guids = {GUID_WICPixelFormat96bppRGBFloat, GUID_WICPixelFormat128bppRGBFloat};
      }
      break;
  }
  std::vector<const Layout*> out;
  for (const GUID& g : guids) out.push_back(directLayout(g));
  return out;
}

std::string describeImage(int channels, bool withAlpha, SampleDepth depth) {
  std::string text = std::to_string(static_cast<int>(depth)) + (depth == SampleDepth::f32 ? "-bit float " : "-bit ");
  text += channels == 1 ? "grey" : "RGB";
  return withAlpha ? text + " with alpha" : text;
}

// Straight colour out of premultiplied, for a layout that stores it straight.
void divideByAlpha(std::uint8_t* colour, const std::uint8_t* alpha, int channels, SampleDepth depth) {
  switch (depth) {
    case SampleDepth::u8:
    case SampleDepth::u16: {
      const bool wide = depth == SampleDepth::u16;
      const std::uint32_t max = wide ? 65535u : 255u;
      const std::uint32_t a = wide ? load<std::uint16_t>(alpha) : *alpha;
      for (int c = 0; c < channels; ++c) {
        std::uint8_t* p = colour + c * (wide ? 2 : 1);
        const std::uint32_t v = wide ? load<std::uint16_t>(p) : *p;
        const std::uint32_t out = a == 0 ? 0 : std::min(max, (v * max + a / 2) / a);
        if (wide) store(p, static_cast<std::uint16_t>(out));
        else *p = static_cast<std::uint8_t>(out);
      }
      return;
    }
    case SampleDepth::f32: {
      const float a = load<float>(alpha);
      for (int c = 0; c < channels; ++c) store(colour + c * 4, a == 0.0f ? 0.0f : load<float>(colour + c * 4) / a);
      return;
    }
  }
}

// Interleaved file samples (colour then alpha) into one strip of `layout`.
void packStrip(const std::uint8_t* src, int channels, bool withAlpha, bool unpremultiply, const Layout& layout,
               std::size_t pixels, std::uint8_t* dst) {
  const std::size_t sample = static_cast<std::size_t>(bytesPerSample(layout.depth));
  const std::size_t inStride = sample * static_cast<std::size_t>(channels + (withAlpha ? 1 : 0));
  const std::size_t outStride = sample * static_cast<std::size_t>(layout.stored);
  std::array<std::uint8_t, 16> pixel{};
  for (std::size_t i = 0; i < pixels; ++i, src += inStride, dst += outStride) {
    std::memcpy(pixel.data(), src, inStride);
    const std::uint8_t* alpha = pixel.data() + static_cast<std::size_t>(channels) * sample;
    if (unpremultiply) divideByAlpha(pixel.data(), alpha, channels, layout.depth);
    if (layout.stored == 4 && layout.alpha < 0) {  // a padding sample: opaque
      static constexpr std::uint8_t one8 = 0xFF;
      static constexpr std::uint16_t one16 = 0xFFFF;
      static constexpr float one32 = 1.0f;
      const void* one = layout.depth == SampleDepth::u8 ? static_cast<const void*>(&one8)
                        : layout.depth == SampleDepth::u16 ? static_cast<const void*>(&one16)
                                                           : static_cast<const void*>(&one32);
      std::memcpy(dst + 3 * sample, one, sample);
    }
    for (std::size_t c = 0; c < 3 && (layout.stored >= 3 || c == 0); ++c) {
      const std::size_t from = channels == 1 ? 0 : c;
      std::memcpy(dst + static_cast<std::size_t>(layout.colourAt[c]) * sample, pixel.data() + from * sample, sample);
    }
    if (layout.alpha >= 0) {
      std::memcpy(dst + static_cast<std::size_t>(layout.alpha) * sample, alpha, sample);
    }
  }
}

void setJpegQuality(IPropertyBag2* options, const std::string& path) {
  PROPBAG2 option{};
  wchar_t name[] = L"ImageQuality";
  option.pstrName = name;
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_R4;
  value.fltVal = 0.95f;
  check(options->Write(1, &option, &value), failWrite, path, "cannot set the JPEG quality");
}

void swapBytes16(std::uint8_t* data, std::size_t bytes) {
  for (std::size_t i = 0; i + 1 < bytes; i += 2) std::swap(data[i], data[i + 1]);
}

// Whether the encoder of `container` takes the 16-bit samples of `layout`
// in the opposite byte order from the one its decoder hands them back in
// (Wine's PNG encoder does): learnt from a two-pixel image encoded in memory.
bool encoderSwapsBytes(IWICImagingFactory* factory, const GUID& container, const Layout& layout,
                       const std::string& path) {
  if (layout.depth != SampleDepth::u16) return false;
  constexpr UINT width = 2;
  const UINT stride = width * static_cast<UINT>(layout.stored) * 2;
  std::vector<std::uint8_t> pixels(stride);
  for (std::size_t i = 0; i < pixels.size(); i += 2) {
    store(&pixels[i], static_cast<std::uint16_t>(0x1203 + 0x0101 * i));  // no value reads the same swapped
  }
  const std::string step = "cannot check the encoder's byte order";
  ComRef<IStream> memory;
  check(::CreateStreamOnHGlobal(nullptr, TRUE, memory.out()), failWrite, path, step);
  {
    ComRef<IWICBitmapEncoder> encoder;
    check(factory->CreateEncoder(container, nullptr, encoder.out()), failWrite, path, step);
    check(encoder->Initialize(memory.get(), WICBitmapEncoderNoCache), failWrite, path, step);
    ComRef<IWICBitmapFrameEncode> frame;
    ComRef<IPropertyBag2> options;
    check(encoder->CreateNewFrame(frame.out(), options.out()), failWrite, path, step);
    check(frame->Initialize(options.get()), failWrite, path, step);
    check(frame->SetSize(width, 1), failWrite, path, step);
    WICPixelFormatGUID format = *layout.guid;
    check(frame->SetPixelFormat(&format), failWrite, path, step);
    if (!IsEqualGUID(format, *layout.guid)) failWrite(path, step);
    check(frame->WritePixels(1, stride, stride, pixels.data()), failWrite, path, step);
    check(frame->Commit(), failWrite, path, step);
    check(encoder->Commit(), failWrite, path, step);
  }
  check(memory->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), failWrite, path, step);
  ComRef<IWICBitmapDecoder> decoder;
  check(factory->CreateDecoderFromStream(memory.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out()),
        failWrite, path, step);
  ComRef<IWICBitmapFrameDecode> frame;
  check(decoder->GetFrame(0, frame.out()), failWrite, path, step);
  WICPixelFormatGUID decoded{};
  check(frame->GetPixelFormat(&decoded), failWrite, path, step);
  IWICBitmapSource* source = frame.get();
  ComRef<IWICFormatConverter> converter;
  if (!IsEqualGUID(decoded, *layout.guid)) {
    check(factory->CreateFormatConverter(converter.out()), failWrite, path, step);
    check(converter->Initialize(frame.get(), *layout.guid, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          failWrite, path, step);
    source = converter.get();
  }
  std::vector<std::uint8_t> back(stride);
  const WICRect all{0, 0, static_cast<INT>(width), 1};
  check(source->CopyPixels(&all, stride, stride, back.data()), failWrite, path, step);
  if (back == pixels) return false;
  swapBytes16(back.data(), back.size());
  if (back == pixels) return true;
  failWrite(path, "this system's encoder does not keep 16-bit samples");
}

// Before the old file is replaced, the new one, encoded in `memory`, must
// open again as an image of the right size whose last row decodes.
void verifyWritten(IWICImagingFactory* factory, const std::string& path, IStream* memory, UINT width, UINT height) {
  const std::string step = "the written file does not read back";
  check(memory->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), failWrite, path, step);
  ComRef<IWICBitmapDecoder> decoder;
  check(factory->CreateDecoderFromStream(memory, nullptr, WICDecodeMetadataCacheOnDemand, decoder.out()), failWrite,
        path, step);
  ComRef<IWICBitmapFrameDecode> frame;
  check(decoder->GetFrame(0, frame.out()), failWrite, path, step);
  UINT w = 0, h = 0;
  check(frame->GetSize(&w, &h), failWrite, path, step);
  if (w != width || h != height) failWrite(path, "the written file does not read back with the image's size");
  WICPixelFormatGUID format{};
  check(frame->GetPixelFormat(&format), failWrite, path, step);
  const FormatFacts facts = formatFacts(factory, format, failWrite, path);
  const std::uint64_t rowBytes = (std::uint64_t{width} * facts.bitsPerPixel + 7) / 8;
  if (rowBytes > std::numeric_limits<UINT>::max() / 2) failWrite(path, "the image is too wide");
  std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes));
  const WICRect last{0, static_cast<INT>(height - 1), static_cast<INT>(width), 1};
  check(frame->CopyPixels(&last, static_cast<UINT>(rowBytes), static_cast<UINT>(rowBytes), row.data()), failWrite,
        path, step);
}

// The bytes of a stream on global memory.
std::vector<std::uint8_t> streamBytes(IStream* memory, const std::string& path) {
  STATSTG stat{};
  check(memory->Stat(&stat, STATFLAG_NONAME), failWrite, path, "cannot take the encoded file");
  HGLOBAL global = nullptr;
  check(::GetHGlobalFromStream(memory, &global), failWrite, path, "cannot take the encoded file");
  if (stat.cbSize.QuadPart > ::GlobalSize(global)) failWrite(path, "cannot take the encoded file");
  const auto size = static_cast<std::size_t>(stat.cbSize.QuadPart);
  const void* data = ::GlobalLock(global);
  if (!data) failWrite(path, "cannot take the encoded file");
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::vector<std::uint8_t> out;
  try {
    out.assign(bytes, bytes + size);
  } catch (...) {
    ::GlobalUnlock(global);
    throw;
  }
  ::GlobalUnlock(global);
  return out;
}

}  // namespace

void writeWithLibrary(const std::string& path, const HostImage& image, const FileInfo& like) {
  const fs::path target = writeTarget(path);
  checkLibraryOutput(path, image.channels);
  const Offered* encoder = offeredFor(lowerExtension(path));
  const SampleDepth depth = outputDepthFor(encoder->format, image.depth);
  const bool withAlpha = image.hasAlpha() && encoder->alpha;
  const bool associated = withAlpha && like.alphaAssociated;
  const std::vector<std::uint8_t> samples = fileSamples(image, depth, withAlpha);
  const UINT width = static_cast<UINT>(image.width);
  const UINT height = static_cast<UINT>(image.height);

  const ComThread com(failWrite, path);
  ComRef<IWICImagingFactory> factory;
  createFactory(factory, failWrite, path);
  // Encoded in memory, where no write can fail, checked there, and only then
  // written to the disk with every write checked.
  ComRef<IStream> memory;
  check(::CreateStreamOnHGlobal(nullptr, TRUE, memory.out()), failWrite, path, "cannot create a stream in memory");
  {
    ComRef<IWICBitmapEncoder> out;
    check(factory->CreateEncoder(*encoder->container, nullptr, out.out()), failWrite, path,
          std::string("no ") + encoder->label + " encoder on this system");
    check(out->Initialize(memory.get(), WICBitmapEncoderNoCache), failWrite, path, "cannot start the encoder");
    ComRef<IWICBitmapFrameEncode> frame;
    ComRef<IPropertyBag2> options;
    check(out->CreateNewFrame(frame.out(), options.out()), failWrite, path, "cannot start the image");
    if (std::string_view(encoder->format) == "jpeg") setJpegQuality(options.get(), path);
    check(frame->Initialize(options.get()), failWrite, path, "cannot start the image");
    check(frame->SetSize(width, height), failWrite, path, "cannot set the image size");
    if (const KeptFileData* kept = like.kept.get(); kept && kept->dpiX > 0.0 && kept->dpiY > 0.0) {
      check(frame->SetResolution(kept->dpiX, kept->dpiY), failWrite, path, "cannot set the resolution");
    }

    // The encoder answers with the layout it takes instead when it lacks one.
    const Layout* layout = nullptr;
    for (const Layout* candidate : candidatesFor(image.channels, withAlpha, depth, associated)) {
      WICPixelFormatGUID offered = *candidate->guid;
      check(frame->SetPixelFormat(&offered), failWrite, path, "cannot set the pixel format");
      if (IsEqualGUID(offered, *candidate->guid)) {
        layout = candidate;
        break;
      }
    }
    if (!layout) {
      failWrite(path, std::string("this system's ") + encoder->label + " encoder cannot write " +
                          describeImage(image.channels, withAlpha, depth) + " pixels");
    }
    const bool unpremultiply = associated && !layout->premultiplied;
    const bool swap = encoderSwapsBytes(factory.get(), *encoder->container, *layout, path);

    const std::size_t stride = strideOf(*layout, image.width, failWrite, path);
    const UINT strip = rowsPerStrip(stride, height);
    std::vector<std::uint8_t> buffer(stride * strip);
    const std::size_t inRow =
        std::size_t{width} * static_cast<std::size_t>((image.channels + (withAlpha ? 1 : 0)) * bytesPerSample(depth));
    for (UINT y = 0; y < height; y += strip) {
      const UINT rows = std::min(strip, height - y);
      packStrip(samples.data() + inRow * y, image.channels, withAlpha, unpremultiply, *layout,
                std::size_t{width} * rows, buffer.data());
      if (swap) swapBytes16(buffer.data(), stride * rows);
      check(frame->WritePixels(rows, static_cast<UINT>(stride), static_cast<UINT>(stride * rows), buffer.data()),
            failWrite, path, "cannot write the pixels");
    }
    check(frame->Commit(), failWrite, path, "cannot complete the image");
    check(out->Commit(), failWrite, path, "cannot complete the file");
  }
  verifyWritten(factory.get(), path, memory.get(), width, height);
  const std::vector<std::uint8_t> bytes = streamBytes(memory.get(), path);
  os::writeFileAtomically(target, bytes.data(), bytes.size());
}

std::vector<ImageFormat> libraryFormats() {
  std::vector<ImageFormat> formats;
  for (const Offered& f : offered) {
    ImageFormat format{f.format, {}};
    for (const std::string_view e : f.extensions)
      if (!e.empty()) format.extensions.emplace_back(e);
    formats.push_back(std::move(format));
  }
  return formats;
}

// Every offered format holds grey (BMP as RGB) and colour images.
void checkLibraryOutput(const std::string& path, std::int32_t /*channels*/) {
  if (!offeredFor(lowerExtension(path))) refuseExtension(path, true);
}

}  // namespace detail
}  // namespace veltrane::host
