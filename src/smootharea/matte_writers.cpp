#include "matte_writers.h"

#include "framework/region_writer.h"

namespace veltrane {
namespace {

// The pixel rule of the writer shell: the matte as it stands.
struct MatteRule {
  static constexpr bool readsSource = false;
  void operator()(const float F[3], const float*, float, float out[3]) const {
    out[0] = F[0];
    out[1] = F[1];
    out[2] = F[2];
  }
};

}  // namespace

void writeMatte8(const WriteRegion& r) { writeRegion<std::uint8_t>(r, MatteRule{}); }

void writeMatte16(const WriteRegion& r) { writeRegion<std::uint16_t>(r, MatteRule{}); }

void writeMatte32(const WriteRegion& r) { writeRegion<float>(r, MatteRule{}); }

}  // namespace veltrane
