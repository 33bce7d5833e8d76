#pragma once
// The netpbm family of lossless formats, read and written without any
// library: PGM and PPM (P5, P6, and their plain-text forms P2, P3), PAM (P7)
// and PFM (Pf grey, PF colour). Every build of the host reads and writes
// these, so files made on one platform can be compared byte for byte with
// files made on another.
#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <vector>

namespace veltrane::host::netpbm {

enum class Kind {
  pnm,  // P5/P6 (P2/P3 when read): grey or RGB, no alpha
  pam,  // P7: grey or RGB, each with or without alpha
  pfm,  // Pf/PF: 32-bit float grey or RGB, rows stored bottom to top
};

struct Image {
  Kind kind = Kind::pam;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t channels = 0;        // 1 grey, 2 grey + alpha, 3 RGB, 4 RGB + alpha
  std::int32_t bytesPerSample = 1;  // 1 (0..255), 2 (0..65535) or 4 (float)
  std::int32_t bitsPerSample = 8;   // as stored: 12 for a maxval of 4095
  // Interleaved samples, top row first, native byte order. Integer samples
  // use the full range of their size whatever the file's maxval was.
  std::vector<std::uint8_t> samples;

  std::int64_t rowBytes() const { return std::int64_t{width} * channels * bytesPerSample; }
};

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads one image from the start of `in`. The header is parsed within fixed
// bounds; sizes are checked for overflow, and memory grows only with the
// data actually present, so a header that claims a huge image costs nothing
// when the pixels are not there. Throws Error with the reason (a truncated
// file, a bad header, a sample above the maxval, ...).
Image read(std::istream& in);

// Writes `image` as its kind says: pnm as P5/P6, pam as P7, pfm as a
// little-endian Pf/PF. Throws Error when the image does not fit the kind (alpha
// in pnm or pfm, floats in pnm or pam, integers in pfm) and when the stream
// fails.
void write(std::ostream& out, const Image& image);

}  // namespace veltrane::host::netpbm
