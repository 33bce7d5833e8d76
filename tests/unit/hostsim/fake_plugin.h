#pragma once
// A plug-in entry point for driving the in-memory host from tests: the test
// installs the behaviour, the host calls `fakeEntry` as it would a module's
// PluginMain.
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "host/sim/sim_host.h"
#include "hostapi/constants.h"

namespace veltrane::host::testing {

using hostapi::FilterRecord;
using hostapi::VRect;

using Behaviour = std::function<std::int16_t(std::int16_t selector, void* record, std::intptr_t& data)>;

inline Behaviour& behaviour() {
  static Behaviour b;
  return b;
}

inline void VELTRANE_HOSTAPI_CDECL fakeEntry(std::int16_t selector, void* record, std::intptr_t* data,
                                             std::int16_t* result) {
  *result = behaviour() ? behaviour()(selector, record, *data) : std::int16_t{0};
}

// The record is packed: pointer fields are copied out before a matcher binds
// a reference to them.
template <typename T>
T field(T value) {
  return value;
}

inline FilterRecord& filterRecord(void* record) { return *static_cast<FilterRecord*>(record); }

inline hostapi::Rect16 rect16(const VRect& r) {
  return {static_cast<std::int16_t>(r.top), static_cast<std::int16_t>(r.left), static_cast<std::int16_t>(r.bottom),
          static_cast<std::int16_t>(r.right)};
}

// Requests regions the way a plug-in does, in 32-bit or 16-bit coordinates.
inline void requestRegions(FilterRecord& r, const VRect& in, const VRect& out, const VRect& mask, bool use32) {
  if (use32) {
    r.bigDocumentData->PluginUsing32BitCoordinates = 1;
    r.bigDocumentData->inRect32 = in;
    r.bigDocumentData->outRect32 = out;
    r.bigDocumentData->maskRect32 = mask;
  } else {
    r.inRect = rect16(in);
    r.outRect = rect16(out);
    r.maskRect = rect16(mask);
  }
  r.inLoPlane = r.outLoPlane = 0;
  r.inHiPlane = r.outHiPlane = static_cast<std::int16_t>(r.planes - 1);
}

inline VRect filterRectOf(const FilterRecord& r, bool use32) {
  if (use32) return r.bigDocumentData->filterRect32;
  return {r.filterRect.top, r.filterRect.left, r.filterRect.bottom, r.filterRect.right};
}

// Sample i of a test image: a pattern that differs from its inverse everywhere.
inline SimImage makeImage(std::int32_t width, std::int32_t height, std::int32_t planes, std::int32_t depth) {
  SimImage image;
  image.width = width;
  image.height = height;
  image.planes = planes;
  image.depth = depth;
  image.imageMode = depth == 8 ? (planes == 3 ? 3 : 1) : depth == 16 ? (planes == 3 ? 11 : 10) : (planes == 3 ? 16 : 17);
  image.pixels.resize(static_cast<std::size_t>(image.rowBytes() * height));
  const std::int64_t samples = std::int64_t{width} * height * planes;
  for (std::int64_t i = 0; i < samples; ++i) {
    const auto v8 = static_cast<std::uint8_t>((i * 37 + 11) % 255);
    if (depth == 8) {
      image.pixels[static_cast<std::size_t>(i)] = v8;
    } else if (depth == 16) {
      const auto v = static_cast<std::uint16_t>((i * 1237 + 5) % 32768);
      std::memcpy(&image.pixels[static_cast<std::size_t>(i * 2)], &v, 2);
    } else {
      const float v = static_cast<float>(v8) / 255.0f;
      std::memcpy(&image.pixels[static_cast<std::size_t>(i * 4)], &v, 4);
    }
  }
  return image;
}

// Inverts one sample in place: 255 - v, 32768 - v or 1 - v.
inline void invertSample(std::uint8_t* s, std::int32_t depth) {
  if (depth == 8) {
    *s = static_cast<std::uint8_t>(255 - *s);
  } else if (depth == 16) {
    std::uint16_t v;
    std::memcpy(&v, s, 2);
    v = static_cast<std::uint16_t>(32768 - v);
    std::memcpy(s, &v, 2);
  } else {
    float v;
    std::memcpy(&v, s, 4);
    v = 1.0f - v;
    std::memcpy(s, &v, 4);
  }
}

// What inverting `rect` of `image` gives.
inline std::vector<std::uint8_t> invertedInside(const SimImage& image, const VRect& rect) {
  std::vector<std::uint8_t> px = image.pixels;
  const std::int64_t bps = image.bytesPerSample();
  for (std::int64_t y = rect.top; y < rect.bottom; ++y)
    for (std::int64_t x = rect.left; x < rect.right; ++x)
      for (std::int64_t p = 0; p < image.planes; ++p)
        invertSample(&px[static_cast<std::size_t>(y * image.rowBytes() + (x * image.planes + p) * bps)], image.depth);
  return px;
}

}  // namespace veltrane::host::testing
