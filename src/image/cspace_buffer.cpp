#include "cspace_buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "framework/row_bands.h"
#include "sample_conversion.h"
#include "shell/messages.h"

namespace veltrane {
namespace {

constexpr std::int64_t bytesPerPixel = 3 * static_cast<std::int64_t>(sizeof(float));
constexpr std::int64_t maxSideOf32 = std::numeric_limits<std::int32_t>::max();

// Allocates and locks size bytes; on any failure nothing is held.
void acquireMemory(std::int64_t size, HostBufferId& id, float*& data, std::uint8_t& locked) {
  id = nullptr;
  data = nullptr;
  locked = 0;
  const HostServices& s = callContext().services;
  if (size <= 0 || !s.hasBufferSuite()) return;
  HostBufferId newId = nullptr;
  if (s.allocateBuffer(s.host, size, &newId) != noErr || !newId) return;
  void* memory = s.lockBuffer(s.host, newId, true);
  if (!memory) {
    s.freeBuffer(s.host, newId);
    return;
  }
  id = newId;
  data = static_cast<float*>(memory);
  locked = 1;
}

// Reads w x h pixels from a host tile of samples of type Sample, the region
// starting at column x0, row y0, rowBytes bytes per row and spp samples per
// pixel, converting each sample with convert.
template <typename Sample, typename Convert>
void fillFromHost(cspaceBuffer& b, const Sample* src, std::ptrdiff_t rowBytes, std::int32_t x0,
                  std::int32_t y0, std::int32_t w, std::int32_t h, std::int32_t spp,
                  Convert convert) {
  if (!b.data || !src || spp < 1) return;
  w = std::min(w, b.width);
  h = std::min(h, b.height);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(src);
  const std::ptrdiff_t step = spp;
  runRowBands(h, [&](std::int32_t firstRow, std::int32_t endRow, int) {
    for (std::int32_t y = firstRow; y < endRow; ++y) {
      const auto* s =
          reinterpret_cast<const Sample*>(bytes + (static_cast<std::ptrdiff_t>(y0) + y) * rowBytes) +
          static_cast<std::ptrdiff_t>(x0) * step;
      float* d = b.at(0, y);
      if (spp < 3) {
        // One sample per pixel (a second one, if any, is not colour): grey.
        for (std::int32_t x = 0; x < w; ++x, s += step, d += 3) {
          const float v = convert(s[0]);
          d[0] = v;
          d[1] = v;
          d[2] = v;
        }
      } else {
        for (std::int32_t x = 0; x < w; ++x, s += step, d += 3) {
          d[0] = convert(s[0]);
          d[1] = convert(s[1]);
          d[2] = convert(s[2]);
        }
      }
    }
  });
}

// Source index of a full-buffer index n for an inner run [m, m + size):
// reflection about the edge entries, limited to the inner run when the margin
// is wider than the reflection reaches.
std::int32_t mirrorIndex(std::int32_t n, std::int32_t m, std::int32_t size) {
  const std::int64_t first = m;
  const std::int64_t last = std::int64_t{m} + size - 1;
  std::int64_t s = n;
  if (s < first)
    s = 2 * first - s;
  else if (s > last)
    s = 2 * last - s;
  return static_cast<std::int32_t>(std::clamp(s, first, last));
}

}  // namespace

void cspaceBuffer::create(std::int32_t mX, std::int32_t mY, std::int32_t w, std::int32_t h) {
  const std::int64_t fw = std::int64_t{w} + 2 * std::int64_t{mX};
  const std::int64_t fh = std::int64_t{h} + 2 * std::int64_t{mY};
  constexpr std::int64_t maxSide = std::numeric_limits<std::int32_t>::max();
  kind = 2;
  marginsValid = 0;
  if (mX < 0 || mY < 0 || w < 0 || h < 0 || fw > maxSide || fh > maxSide) {
    // Geometry that cannot describe an image: an empty buffer, no memory.
    marginX = marginY = width = height = fullWidth = fullHeight = 0;
    sizeBytes = rowBytes = 0;
    bufferID = nullptr;
    data = nullptr;
    locked = 0;
    return;
  }
  marginX = mX;
  marginY = mY;
  width = w;
  height = h;
  fullWidth = static_cast<std::int32_t>(fw);
  fullHeight = static_cast<std::int32_t>(fh);
  rowBytes = fw * bytesPerPixel;
  sizeBytes = fh * rowBytes;
  acquireMemory(sizeBytes, bufferID, data, locked);
  capacityBytes = data ? sizeBytes : 0;
}

bool cspaceBuffer::reshape(std::int32_t mX, std::int32_t mY, std::int32_t w, std::int32_t h) {
  if (!bufferID || !data || mX < 0 || mY < 0 || w < 0 || h < 0) return false;
  const std::int64_t fw = std::int64_t{w} + 2 * std::int64_t{mX};
  const std::int64_t fh = std::int64_t{h} + 2 * std::int64_t{mY};
  const std::int64_t pixels = capacityBytes / bytesPerPixel;
  if (fw > maxSideOf32 || fh > maxSideOf32 || (fw > 0 && fh > pixels / fw)) return false;
  marginX = mX;
  marginY = mY;
  width = w;
  height = h;
  fullWidth = static_cast<std::int32_t>(fw);
  fullHeight = static_cast<std::int32_t>(fh);
  rowBytes = fw * bytesPerPixel;
  sizeBytes = fh * rowBytes;
  marginsValid = 0;
  return true;
}

bool cspaceBuffer::allocatedOrReported() {
  if (bufferID && data) return true;
  reportMessage(notEnoughMemoryMessage);
  setResult(userCancelled);
  return false;
}

void cspaceBuffer::release() {
  const HostServices& s = callContext().services;
  if (bufferID && s.hasBufferSuite()) {
    s.unlockBuffer(s.host, bufferID);
    s.freeBuffer(s.host, bufferID);
  }
  bufferID = nullptr;
  data = nullptr;
  locked = 0;
  capacityBytes = 0;
}

void cspaceBuffer::releaseIfLocked() {
  const HostServices& s = callContext().services;
  if (bufferID && s.hasBufferSuite()) {
    if (locked) s.unlockBuffer(s.host, bufferID);
    s.freeBuffer(s.host, bufferID);
  }
  bufferID = nullptr;
  data = nullptr;
  locked = 0;
  capacityBytes = 0;
}

void cspaceBuffer::reacquire() {
  if (bufferID) return;
  acquireMemory(sizeBytes, bufferID, data, locked);
  capacityBytes = data ? sizeBytes : 0;
}

void cspaceBuffer::fillFromInterleaved8(const std::uint8_t* src, std::ptrdiff_t rowStep,
                                        std::int32_t w, std::int32_t h) {
  if (!data || !src) return;
  w = std::min(w, width);
  h = std::min(h, height);
  const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(w) * 3;
  runRowBands(h, [&](std::int32_t first, std::int32_t end, int) {
    for (std::int32_t y = first; y < end; ++y) {
      const std::uint8_t* s = src + static_cast<std::ptrdiff_t>(y) * rowStep;
      float* d = at(0, y);
      for (std::ptrdiff_t i = 0; i < n; ++i) d[i] = workingFrom8(s[i]);
    }
  });
}

// The conversions go in as lambdas so that they are inlined into the row loop.
void cspaceBuffer::fillFromHost8(const std::uint8_t* src, std::ptrdiff_t rowBytesIn,
                                 std::int32_t x0, std::int32_t y0, std::int32_t w, std::int32_t h,
                                 std::int32_t samplesPerPixel) {
  fillFromHost(*this, src, rowBytesIn, x0, y0, w, h, samplesPerPixel,
               [](std::uint8_t v) { return workingFrom8(v); });
}

void cspaceBuffer::fillFromHost16(const std::uint16_t* src, std::ptrdiff_t rowBytesIn,
                                  std::int32_t x0, std::int32_t y0, std::int32_t w, std::int32_t h,
                                  std::int32_t samplesPerPixel) {
  fillFromHost(*this, src, rowBytesIn, x0, y0, w, h, samplesPerPixel,
               [](std::uint16_t v) { return workingFrom16(v); });
}

void cspaceBuffer::fillFromHost32(const float* src, std::ptrdiff_t rowBytesIn, std::int32_t x0,
                                  std::int32_t y0, std::int32_t w, std::int32_t h,
                                  std::int32_t samplesPerPixel) {
  fillFromHost(*this, src, rowBytesIn, x0, y0, w, h, samplesPerPixel,
               [](float v) { return workingFrom32(v); });
}

// Left and right margins of every inner row first, pixel by pixel; then the
// top and bottom margin rows as copies of whole mirrored rows, which carries
// the corners reflected in both directions. Every value comes from the inner
// image, so this gives the same margin as filling corner by corner and edge
// by edge. A margin wider than the inner size minus one is filled as far as
// the reflection reaches and with the edge pixel beyond it; an empty inner
// image leaves the buffer untouched.
void cspaceBuffer::mirrorMargins() {
  if (!data || width < 1 || height < 1) return;
  const std::ptrdiff_t rowFloats = stride();
  const auto rowSize = static_cast<std::size_t>(rowFloats) * sizeof(float);

  for (std::int32_t r = marginY; r < marginY + height; ++r) {
    float* row = data + static_cast<std::ptrdiff_t>(r) * rowFloats;
    for (std::int32_t c = 0; c < marginX; ++c) {
      const float* s = row + static_cast<std::ptrdiff_t>(mirrorIndex(c, marginX, width)) * 3;
      float* d = row + static_cast<std::ptrdiff_t>(c) * 3;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
    for (std::int32_t c = marginX + width; c < fullWidth; ++c) {
      const float* s = row + static_cast<std::ptrdiff_t>(mirrorIndex(c, marginX, width)) * 3;
      float* d = row + static_cast<std::ptrdiff_t>(c) * 3;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  }
  auto copyRow = [&](std::int32_t r) {
    const std::int32_t from = mirrorIndex(r, marginY, height);
    std::memcpy(data + static_cast<std::ptrdiff_t>(r) * rowFloats,
                data + static_cast<std::ptrdiff_t>(from) * rowFloats, rowSize);
  };
  for (std::int32_t r = 0; r < marginY; ++r) copyRow(r);
  for (std::int32_t r = marginY + height; r < fullHeight; ++r) copyRow(r);
  marginsValid = 1;
}

void cspaceBuffer::copyFrom(const cspaceBuffer& other) {
  if (!data || !other.data || &other == this) return;
  const std::int32_t rows = std::min(fullHeight, other.fullHeight);
  const std::int32_t cols = std::min(fullWidth, other.fullWidth);
  if (rows <= 0 || cols <= 0) return;
  const auto runBytes = static_cast<std::size_t>(cols) * 3 * sizeof(float);
  const std::ptrdiff_t dstStride = stride();
  const std::ptrdiff_t srcStride = other.stride();
  runRowBands(rows, [&](std::int32_t first, std::int32_t end, int) {
    for (std::int32_t y = first; y < end; ++y)
      std::memcpy(data + static_cast<std::ptrdiff_t>(y) * dstStride,
                  other.data + static_cast<std::ptrdiff_t>(y) * srcStride, runBytes);
  });
}

bool cspaceBuffer::swapMemoryWith(cspaceBuffer& other) noexcept {
  if (fullWidth != other.fullWidth || fullHeight != other.fullHeight || marginX != other.marginX ||
      marginY != other.marginY || width != other.width || height != other.height)
    return false;
  std::swap(bufferID, other.bufferID);
  std::swap(data, other.data);
  std::swap(locked, other.locked);
  std::swap(marginsValid, other.marginsValid);
  std::swap(capacityBytes, other.capacityBytes);
  return true;
}

}  // namespace veltrane
