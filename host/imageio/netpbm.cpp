#include "host/imageio/netpbm.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace veltrane::host::netpbm {
namespace {

using Traits = std::char_traits<char>;

constexpr std::int64_t maxHeaderBytes = 64 * 1024;
constexpr std::int64_t maxDimension = std::numeric_limits<std::int32_t>::max();
constexpr std::size_t maxWordLength = 256;

[[noreturn]] void fail(const std::string& reason) { throw Error(reason); }

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

// Reads header bytes one at a time, never more than maxHeaderBytes of them.
class HeaderReader {
 public:
  explicit HeaderReader(std::istream& in) : in_(in) {}

  int get() {
    if (++count_ > maxHeaderBytes) fail("the header is longer than " + std::to_string(maxHeaderBytes) + " bytes");
    return in_.get();
  }
  int peek() { return in_.peek(); }

  // Whitespace and '#' comments, which run to the end of their line.
  void skipSpace() {
    for (;;) {
      const int c = peek();
      if (c == '#') {
        for (int d = get(); d != '\n' && d != '\r' && d != Traits::eof(); d = get()) {
        }
      } else if (isSpace(c)) {
        get();
      } else {
        return;
      }
    }
  }

  // A decimal number between 1 (0 when allowZero) and max.
  std::int64_t number(const char* what, std::int64_t max, bool allowZero = false) {
    skipSpace();
    if (!isDigit(peek())) fail(std::string("the header has no ") + what);
    std::int64_t value = 0;
    while (isDigit(peek())) {
      value = value * 10 + (get() - '0');
      if (value > max) fail(std::string("the ") + what + " is larger than " + std::to_string(max));
    }
    if (value == 0 && !allowZero) fail(std::string("the ") + what + " is 0");
    return value;
  }

  // A run of non-space characters.
  std::string word(const char* what) {
    skipSpace();
    std::string text;
    while (peek() != Traits::eof() && !isSpace(peek())) {
      if (text.size() == maxWordLength) fail(std::string("the ") + what + " is too long");
      text.push_back(static_cast<char>(get()));
    }
    if (text.empty()) fail(std::string("the header has no ") + what);
    return text;
  }

  // The single whitespace character that ends the header.
  void endOfHeader() {
    if (!isSpace(get())) fail("the header does not end in a whitespace character");
  }

  // One PAM header line without its end of line.
  std::string line() {
    std::string text;
    for (int c = get(); c != '\n'; c = get()) {
      if (c == Traits::eof()) fail("the header ends without ENDHDR");
      if (text.size() == maxWordLength * 4) fail("a header line is too long");
      text.push_back(static_cast<char>(c));
    }
    while (!text.empty() && isSpace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
  }

 private:
  std::istream& in_;
  std::int64_t count_ = 0;
};

struct Header {
  Kind kind = Kind::pam;
  bool plain = false;      // P2/P3: samples as decimal text
  bool bigEndian = true;   // 16-bit and float samples
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::int64_t channels = 0;
  std::int64_t maxval = 255;
};

std::int64_t parsePositive(std::string_view text, const char* what, std::int64_t max) {
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec == std::errc::result_out_of_range || (ec == std::errc() && value > max))
    fail(std::string("the ") + what + " is out of range");
  if (ec != std::errc() || end != text.data() + text.size() || value <= 0)
    fail(std::string("the ") + what + " '" + std::string(text) + "' is not a positive number");
  return value;
}

void readPamHeader(HeaderReader& r, Header& h) {
  if (r.get() != '\n') fail("the PAM signature is not followed by a new line");
  std::string tupleType;
  bool haveWidth = false, haveHeight = false, haveDepth = false, haveMaxval = false;
  for (;;) {
    const std::string text = r.line();
    std::size_t start = 0;
    while (start < text.size() && isSpace(static_cast<unsigned char>(text[start]))) ++start;
    if (start == text.size() || text[start] == '#') continue;
    std::size_t split = start;
    while (split < text.size() && !isSpace(static_cast<unsigned char>(text[split]))) ++split;
    const std::string_view keyword(text.data() + start, split - start);
    std::size_t valueStart = split;
    while (valueStart < text.size() && isSpace(static_cast<unsigned char>(text[valueStart]))) ++valueStart;
    const std::string_view value(text.data() + valueStart, text.size() - valueStart);
    if (keyword == "ENDHDR") break;
    if (keyword == "WIDTH") {
      h.width = parsePositive(value, "width", maxDimension);
      haveWidth = true;
    } else if (keyword == "HEIGHT") {
      h.height = parsePositive(value, "height", maxDimension);
      haveHeight = true;
    } else if (keyword == "DEPTH") {
      h.channels = parsePositive(value, "depth", 1000);
      haveDepth = true;
    } else if (keyword == "MAXVAL") {
      h.maxval = parsePositive(value, "maxval", 65535);
      haveMaxval = true;
    } else if (keyword == "TUPLTYPE") {
      if (!tupleType.empty()) tupleType += ' ';
      tupleType += value;
    } else {
      fail("unknown header line '" + std::string(keyword.substr(0, 32)) + "'");
    }
  }
  if (!haveWidth || !haveHeight || !haveDepth || !haveMaxval)
    fail("the header lacks one of WIDTH, HEIGHT, DEPTH and MAXVAL");

  struct Tuple {
    std::string_view name;
    std::int64_t depth;
  };
  static constexpr Tuple known[] = {{"GRAYSCALE", 1},     {"GRAYSCALE_ALPHA", 2}, {"RGB", 3},
                                    {"RGB_ALPHA", 4},     {"BLACKANDWHITE", 1},   {"BLACKANDWHITE_ALPHA", 2}};
  if (tupleType.empty()) {
    if (h.channels > 4) fail(std::to_string(h.channels) + " channels; only grey and RGB, with or without alpha, are supported");
    return;
  }
  for (const Tuple& t : known) {
    if (tupleType != t.name) continue;
    if (t.depth != h.channels)
      fail("the tuple type " + tupleType + " needs a depth of " + std::to_string(t.depth) + ", not " +
           std::to_string(h.channels));
    return;
  }
  fail("the tuple type '" + tupleType.substr(0, 32) + "' is not supported (GRAYSCALE and RGB, with or without _ALPHA, are)");
}

void readPfmHeader(HeaderReader& r, Header& h) {
  h.width = r.number("width", maxDimension);
  h.height = r.number("height", maxDimension);
  const std::string scaleText = r.word("scale");
  double scale = 0.0;
  const auto [end, ec] = std::from_chars(scaleText.data(), scaleText.data() + scaleText.size(), scale);
  if (ec != std::errc() || end != scaleText.data() + scaleText.size() || !std::isfinite(scale) || scale == 0.0)
    fail("the scale '" + scaleText.substr(0, 32) + "' is not a non-zero number");
  // The sign gives the byte order; the size is a nominal brightness that
  // readers leave alone.
  h.bigEndian = scale > 0.0;
  r.endOfHeader();
}

Header readHeader(std::istream& in) {
  HeaderReader r(in);
  Header h;
  const int p = r.get();
  const int n = r.get();
  if (p != 'P') fail("not a PGM, PPM, PAM or PFM file");
  switch (n) {
    case '2':
    case '5':
    case '3':
    case '6':
      h.kind = Kind::pnm;
      h.plain = n == '2' || n == '3';
      h.channels = n == '2' || n == '5' ? 1 : 3;
      h.width = r.number("width", maxDimension);
      h.height = r.number("height", maxDimension);
      h.maxval = r.number("maxval", 65535);
      r.endOfHeader();
      return h;
    case '7':
      h.kind = Kind::pam;
      readPamHeader(r, h);
      return h;
    case 'f':
    case 'F':
      h.kind = Kind::pfm;
      h.channels = n == 'f' ? 1 : 3;
      readPfmHeader(r, h);
      return h;
    default: break;
  }
  fail("not a PGM, PPM, PAM or PFM file (P1 and P4 bitmaps are not supported)");
}

int bitsFor(std::int64_t maxval) { return static_cast<int>(std::bit_width(static_cast<std::uint64_t>(maxval))); }

template <typename T>
T loadSwapped(const std::uint8_t* p, bool swap) {
  std::uint8_t b[sizeof(T)];
  std::memcpy(b, p, sizeof b);
  if (swap)
    for (std::size_t i = 0; i < sizeof b / 2; ++i) std::swap(b[i], b[sizeof b - 1 - i]);
  T v;
  std::memcpy(&v, b, sizeof v);
  return v;
}

template <typename T>
void storeSwapped(std::uint8_t* p, T v, bool swap) {
  std::memcpy(p, &v, sizeof v);
  if (swap)
    for (std::size_t i = 0; i < sizeof v / 2; ++i) std::swap(p[i], p[sizeof v - 1 - i]);
}

constexpr bool littleEndianHost = std::endian::native == std::endian::little;

// A sample of a file with `maxval` on the full range of its size.
std::uint32_t scaled(std::uint32_t v, std::uint32_t maxval, std::uint32_t full) {
  if (v > maxval) fail("a sample value of " + std::to_string(v) + " exceeds the maxval " + std::to_string(maxval));
  if (maxval == full) return v;
  return (v * full + maxval / 2) / maxval;
}

// The bytes still to come in a seekable stream; -1 when it cannot tell.
std::int64_t remainingBytes(std::istream& in) {
  const std::istream::pos_type here = in.tellg();
  if (here == std::istream::pos_type(-1)) {
    in.clear();
    return -1;
  }
  in.seekg(0, std::ios::end);
  const std::istream::pos_type end = in.tellg();
  in.seekg(here);
  if (end == std::istream::pos_type(-1) || !in) {
    in.clear();
    in.seekg(here);
    return -1;
  }
  return static_cast<std::int64_t>(end - here);
}

void readBinaryRaster(std::istream& in, const Header& h, Image& image, std::int64_t totalBytes) {
  const std::int64_t rowBytes = image.rowBytes();
  const std::int64_t remaining = remainingBytes(in);
  if (remaining >= 0 && remaining < totalBytes)
    fail("the file is cut short: " + std::to_string(remaining) + " bytes of pixel data where the header promises " +
         std::to_string(totalBytes));
  if (remaining >= 0) image.samples.reserve(static_cast<std::size_t>(totalBytes));

  const auto maxval = static_cast<std::uint32_t>(h.maxval);
  const bool swap = h.bigEndian == littleEndianHost;
  for (std::int64_t y = 0; y < h.height; ++y) {
    const std::size_t at = image.samples.size();
    image.samples.resize(at + static_cast<std::size_t>(rowBytes));
    std::uint8_t* row = image.samples.data() + at;
    in.read(reinterpret_cast<char*>(row), static_cast<std::streamsize>(rowBytes));
    if (in.gcount() != static_cast<std::streamsize>(rowBytes))
      fail("the file is cut short in pixel row " + std::to_string(y + 1) + " of " + std::to_string(h.height));
    const std::int64_t samples = rowBytes / image.bytesPerSample;
    switch (image.bytesPerSample) {
      case 1:
        if (maxval != 255)
          for (std::int64_t i = 0; i < samples; ++i) row[i] = static_cast<std::uint8_t>(scaled(row[i], maxval, 255));
        break;
      case 2:
        for (std::int64_t i = 0; i < samples; ++i) {
          std::uint8_t* p = row + i * 2;
          const auto v = static_cast<std::uint16_t>(scaled(loadSwapped<std::uint16_t>(p, swap), maxval, 65535));
          storeSwapped(p, v, false);
        }
        break;
      default:
        // Byte by byte: a float passed by value may lose the bits of a NaN.
        if (swap)
          for (std::int64_t i = 0; i < samples; ++i) std::reverse(row + i * 4, row + i * 4 + 4);
        break;
    }
  }
}

void readPlainRaster(std::istream& in, const Header& h, Image& image) {
  const std::int64_t samples = image.rowBytes() / image.bytesPerSample;
  const auto maxval = static_cast<std::uint32_t>(h.maxval);
  for (std::int64_t y = 0; y < h.height; ++y) {
    const std::size_t at = image.samples.size();
    image.samples.resize(at + static_cast<std::size_t>(image.rowBytes()));
    std::uint8_t* row = image.samples.data() + at;
    for (std::int64_t i = 0; i < samples; ++i) {
      HeaderReader sample(in);  // header tokens, each within the header's byte limit
      sample.skipSpace();
      if (sample.peek() == Traits::eof())
        fail("the file is cut short in pixel row " + std::to_string(y + 1) + " of " + std::to_string(h.height));
      const auto v = static_cast<std::uint32_t>(sample.number("sample", 65535, true));
      if (image.bytesPerSample == 1) {
        row[i] = static_cast<std::uint8_t>(scaled(v, maxval, 255));
      } else {
        storeSwapped(row + i * 2, static_cast<std::uint16_t>(scaled(v, maxval, 65535)), false);
      }
    }
  }
}

void flipRows(Image& image) {
  const auto rowBytes = static_cast<std::size_t>(image.rowBytes());
  std::uint8_t* data = image.samples.data();
  for (std::int64_t top = 0, bottom = image.height - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(data + static_cast<std::size_t>(top) * rowBytes, data + static_cast<std::size_t>(top + 1) * rowBytes,
                     data + static_cast<std::size_t>(bottom) * rowBytes);
}

const char* tupleTypeFor(std::int32_t channels) {
  switch (channels) {
    case 1: return "GRAYSCALE";
    case 2: return "GRAYSCALE_ALPHA";
    case 3: return "RGB";
    default: return "RGB_ALPHA";
  }
}

void writeBytes(std::ostream& out, const void* data, std::int64_t size) {
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

Image read(std::istream& in) {
  const Header h = readHeader(in);
  Image image;
  image.kind = h.kind;
  image.width = static_cast<std::int32_t>(h.width);
  image.height = static_cast<std::int32_t>(h.height);
  image.channels = static_cast<std::int32_t>(h.channels);
  image.bytesPerSample = h.kind == Kind::pfm ? 4 : h.maxval > 255 ? 2 : 1;
  image.bitsPerSample = h.kind == Kind::pfm ? 32 : bitsFor(h.maxval);

  // width, height < 2^31 and channels * bytes <= 16: the row fits easily;
  // the whole image must fit both 64 bits and this build's address space.
  const std::int64_t rowBytes = image.rowBytes();
  if (h.height > std::numeric_limits<std::int64_t>::max() / rowBytes) fail("the image is too large");
  const std::int64_t totalBytes = rowBytes * h.height;
  if (static_cast<std::uint64_t>(totalBytes) > std::numeric_limits<std::ptrdiff_t>::max() / 2)
    fail("the image is too large for this build");

  if (h.plain) {
    // Every sample takes at least one digit of the file.
    const std::int64_t remaining = remainingBytes(in);
    if (remaining >= 0 && remaining < totalBytes / image.bytesPerSample)
      fail("the file is cut short: " + std::to_string(remaining) + " bytes for " +
           std::to_string(totalBytes / image.bytesPerSample) + " samples");
    readPlainRaster(in, h, image);
  } else {
    readBinaryRaster(in, h, image, totalBytes);
  }
  if (h.kind == Kind::pfm) flipRows(image);
  return image;
}

void write(std::ostream& out, const Image& image) {
  if (image.width <= 0 || image.height <= 0) fail("the image has no pixels");
  if (image.channels < 1 || image.channels > 4) fail("the image must have 1 to 4 channels");
  const bool floats = image.bytesPerSample == 4;
  switch (image.kind) {
    case Kind::pnm:
    case Kind::pfm:
      if (image.channels != 1 && image.channels != 3) fail("the format holds grey or RGB images only");
      if (floats != (image.kind == Kind::pfm))
        fail(floats ? "the format holds integer samples only" : "the format holds float samples only");
      break;
    case Kind::pam:
      if (floats) fail("the format holds integer samples only");
      break;
  }
  if (image.bytesPerSample != 1 && image.bytesPerSample != 2 && !floats) fail("unknown sample size");
  const std::int64_t rowBytes = image.rowBytes();
  if (static_cast<std::int64_t>(image.samples.size()) != rowBytes * image.height)
    fail("the sample buffer does not match the image size");

  const std::string size = std::to_string(image.width) + " " + std::to_string(image.height);
  const int maxval = image.bytesPerSample == 1 ? 255 : 65535;
  std::string header;
  switch (image.kind) {
    case Kind::pnm:
      header = std::string(image.channels == 1 ? "P5" : "P6") + "\n" + size + "\n" + std::to_string(maxval) + "\n";
      break;
    case Kind::pam:
      header = "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " + std::to_string(image.height) + "\nDEPTH " +
               std::to_string(image.channels) + "\nMAXVAL " + std::to_string(maxval) + "\nTUPLTYPE " +
               tupleTypeFor(image.channels) + "\nENDHDR\n";
      break;
    case Kind::pfm: header = std::string(image.channels == 1 ? "Pf" : "PF") + "\n" + size + "\n-1.0\n"; break;
  }
  out.write(header.data(), static_cast<std::streamsize>(header.size()));

  const std::uint8_t* data = image.samples.data();
  const auto rowSize = static_cast<std::size_t>(rowBytes);
  const bool swap = image.kind == Kind::pfm ? !littleEndianHost : littleEndianHost;
  std::vector<std::uint8_t> row(image.bytesPerSample == 1 ? 0 : rowSize);
  for (std::int64_t y = 0; y < image.height && out; ++y) {
    const std::int64_t fileRow = image.kind == Kind::pfm ? image.height - 1 - y : y;
    const std::uint8_t* src = data + static_cast<std::size_t>(fileRow) * rowSize;
    if (row.empty() || !swap) {
      writeBytes(out, src, rowBytes);
      continue;
    }
    for (std::size_t i = 0; i < rowSize; i += static_cast<std::size_t>(image.bytesPerSample)) {
      for (std::size_t b = 0; b < static_cast<std::size_t>(image.bytesPerSample); ++b)
        row[i + b] = src[i + static_cast<std::size_t>(image.bytesPerSample) - 1 - b];
    }
    writeBytes(out, row.data(), rowBytes);
  }
  out.flush();
  if (!out) fail("the data could not be written");
}

}  // namespace veltrane::host::netpbm
