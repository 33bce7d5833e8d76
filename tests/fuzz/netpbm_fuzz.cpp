// libFuzzer target for the netpbm reader: any byte sequence must either be
// refused with netpbm::Error or give an image whose buffer matches its
// header, without touching memory it does not own; what was read must write
// and read back to the same samples.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "host/imageio/netpbm.h"

namespace {

using namespace veltrane::host;

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  netpbm::Image image;
  try {
    image = netpbm::read(in);
  } catch (const netpbm::Error&) {
    return 0;
  }
  require(image.width > 0 && image.height > 0);
  require(image.channels >= 1 && image.channels <= 4);
  require(static_cast<std::int64_t>(image.samples.size()) == image.rowBytes() * image.height);

  // P2/P3 files are written back in their binary form; PFM keeps NaN bits.
  std::ostringstream out;
  netpbm::write(out, image);
  std::istringstream again(out.str());
  const netpbm::Image back = netpbm::read(again);
  require(back.width == image.width && back.height == image.height && back.channels == image.channels);
  require(back.samples == image.samples);
  return 0;
}
